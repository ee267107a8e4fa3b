#include "reports/PrintTest.h"

#include "reports/Pdf.h"
#include "toolkit/Form.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <algorithm>

namespace bank {

namespace {

const QString kLetters[kChoicesPerQuestion] = {QStringLiteral("а"), QStringLiteral("б"),
                                               QStringLiteral("в"), QStringLiteral("г")};
// A box to tick beside each option and explanation.
const QString kBox = QStringLiteral("\u25A1");

constexpr int kResolution = 300; // dots per inch of the PDF's layout
constexpr qreal kTextPoints = 11;
constexpr qreal kHeaderPoints = 9;

// One line of a bank's text in a printed paragraph: its line breaks stay breaks inside it.
QString printable(const QVariant& value) {
    QString text = textOf(value);
    text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text.replace(u'\r', QChar::LineSeparator);
    text.replace(u'\n', QChar::LineSeparator);
    return text;
}

int correctIndex(const std::vector<StoredRow>& rows) {
    for (int k = 0; k < kChoicesPerQuestion; ++k)
        if (rows[size_t(k)].flag.toBool())
            return k;
    return 0;
}

class TestDocument {
public:
    TestDocument(QPaintDevice* device, const QFont& font) : cursor_(&doc_) {
        doc_.documentLayout()->setPaintDevice(device);
        doc_.setDefaultFont(font);
        doc_.setDocumentMargin(0);
        plain_.setFont(font);
        // Tahoma's own bold face is hardly heavier than the regular one; the regular face
        // emboldened is what makes headings stand out, as in the program's windows.
        QFont bold = font;
        bold.setStyleName(QStringLiteral("Regular"));
        bold.setBold(true);
        bold_.setFont(bold);
        italic_ = plain_;
        italic_.setFontItalic(true);
    }

    QTextDocument& document() { return doc_; }

    void title(const PrintOptions& options) {
        QTextCharFormat big = bold_;
        big.setFontPointSize(kTextPoints * 1.4);
        paragraph(QStringLiteral("Тест по информатике"), big, 0, 0);
        paragraph(QStringLiteral("Фамилия, имя: ________________________________   "
                                 "Класс: ________"),
                  plain_, 0, 12);
        paragraph(QStringLiteral("В каждом вопросе отметьте один ответ и одно пояснение к нему. "
                                 "За верный ответ и за верное пояснение — по баллу, всего %1.")
                      .arg(options.questions * 2),
                  italic_, 0, 12);
    }

    void question(int number, const StoredQuestion& q) {
        const int first = doc_.blockCount();
        QTextBlockFormat heading;
        heading.setTopMargin(points(14));
        heading.setBottomMargin(points(3));
        cursor_.insertBlock(heading, bold_);
        cursor_.insertText(QStringLiteral("%1. ").arg(number));
        cursor_.insertText(printable(q.text), plain_);
        choices(QStringLiteral("Ответ:"), q.options);
        choices(QStringLiteral("Пояснение к ответу:"), q.explanations);
        spans_.emplace_back(first, doc_.blockCount() - 1);
    }

    void key(const std::vector<const StoredQuestion*>& questions) {
        QTextBlockFormat newPage;
        newPage.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        QTextCharFormat big = bold_;
        big.setFontPointSize(kTextPoints * 1.4);
        cursor_.insertBlock(newPage, big);
        cursor_.insertText(QStringLiteral("Ключ ответов"));

        QTextTableFormat format;
        format.setCellPadding(points(3));
        format.setCellSpacing(0);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorder(1);
        format.setTopMargin(points(8));
        format.setHeaderRowCount(1);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        format.setColumnWidthConstraints({QTextLength(QTextLength::FixedLength, points(24)),
                                          QTextLength(QTextLength::PercentageLength, 46),
                                          QTextLength(QTextLength::PercentageLength, 46)});
        // Every change inside a table lays the whole table out again: filled in one edit
        // block, the table is laid out once, not once per cell.
        cursor_.beginEditBlock();
        QTextTable* table = cursor_.insertTable(int(questions.size()) + 1, 3, format);
        cell(table, 0, 0, QStringLiteral("№"), bold_);
        cell(table, 0, 1, QStringLiteral("Верный ответ"), bold_);
        cell(table, 0, 2, QStringLiteral("Верное пояснение"), bold_);
        for (size_t i = 0; i < questions.size(); ++i) {
            const StoredQuestion& q = *questions[i];
            const int row = int(i) + 1;
            const int option = correctIndex(q.options);
            const int explanation = correctIndex(q.explanations);
            cell(table, row, 0, QString::number(row), plain_);
            cell(table, row, 1,
                 kLetters[option] + QStringLiteral(") ") +
                     printable(q.options[size_t(option)].text),
                 plain_);
            cell(table, row, 2,
                 kLetters[explanation] + QStringLiteral(") ") +
                     printable(q.explanations[size_t(explanation)].text),
                 plain_);
        }
        cursor_.endEditBlock();
        cursor_.movePosition(QTextCursor::End);
        grades(int(questions.size()));
    }

    // Moves every question that would straddle a page break onto the next page whole (unless
    // it is taller than a page).
    void keepQuestionsTogether(qreal pageHeight) {
        QAbstractTextDocumentLayout* layout = doc_.documentLayout();
        for (const auto& [first, last] : spans_) {
            const QTextBlock top = doc_.findBlockByNumber(first);
            const qreal start = layout->blockBoundingRect(top).top();
            const qreal end = layout->blockBoundingRect(doc_.findBlockByNumber(last)).bottom();
            if (int(start / pageHeight) == int((end - 1) / pageHeight) || end - start >= pageHeight)
                continue;
            QTextBlockFormat breakBefore;
            breakBefore.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            QTextCursor(top).mergeBlockFormat(breakBefore);
        }
    }

private:
    // The layout scales the lengths of formats from 96 dots per inch to the PDF's resolution.
    static qreal points(qreal pt) { return pt * 96 / 72.0; }

    void paragraph(const QString& text, const QTextCharFormat& format, qreal top, qreal bottom) {
        QTextBlockFormat block;
        block.setTopMargin(points(top));
        block.setBottomMargin(points(bottom));
        if (first_) {
            cursor_.setBlockFormat(block);
            cursor_.setBlockCharFormat(format);
            first_ = false;
        } else {
            cursor_.insertBlock(block, format);
        }
        cursor_.insertText(text, format);
    }

    void choices(const QString& label, const std::vector<StoredRow>& rows) {
        QTextBlockFormat caption;
        caption.setLeftMargin(points(14));
        caption.setTopMargin(points(3));
        cursor_.insertBlock(caption, italic_);
        cursor_.insertText(label, italic_);
        QTextBlockFormat line;
        line.setLeftMargin(points(28));
        line.setTextIndent(-points(14));
        for (int k = 0; k < kChoicesPerQuestion; ++k) {
            cursor_.insertBlock(line, plain_);
            cursor_.insertText(kBox + QStringLiteral("  ") + kLetters[k] + QStringLiteral(") ") +
                                   printable(rows[size_t(k)].text),
                               plain_);
        }
    }

    void cell(QTextTable* table, int row, int column, const QString& text,
              const QTextCharFormat& format) {
        QTextCursor at = table->cellAt(row, column).firstCursorPosition();
        at.insertText(text, format);
    }

    // The grade table of the help window, for the points of a ten-question test.
    void grades(int questions) {
        QTextBlockFormat gap;
        gap.setTopMargin(points(14));
        cursor_.insertBlock(gap, bold_);
        cursor_.insertText(QStringLiteral("Оценка (как в программе: тест из %1 вопросов, до %2 "
                                          "баллов)")
                               .arg(kQuestionsPerTest)
                               .arg(kQuestionsPerTest * 2));
        if (questions != kQuestionsPerTest) {
            QTextBlockFormat note;
            cursor_.insertBlock(note, italic_);
            cursor_.insertText(QStringLiteral("В этом тесте %1, до %2 баллов: границы оценок "
                                              "пересчитайте.")
                                   .arg(plural(questions, "вопрос", "вопроса", "вопросов"))
                                   .arg(questions * 2));
        }
        QTextTableFormat format;
        format.setCellPadding(points(3));
        format.setCellSpacing(0);
        format.setBorder(1);
        format.setTopMargin(points(6));
        const QStringList rows[] = {{QStringLiteral("Баллы"), QStringLiteral("Оценка")},
                                    {QStringLiteral("больше 16"), QStringLiteral("5")},
                                    {QStringLiteral("от 14 до 16"), QStringLiteral("4")},
                                    {QStringLiteral("от 10 до 13"), QStringLiteral("3")},
                                    {QStringLiteral("меньше 10"), QStringLiteral("2")}};
        QTextTable* table = cursor_.insertTable(5, 2, format);
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 2; ++c)
                cell(table, r, c, rows[r][c], r == 0 ? bold_ : plain_);
        cursor_.movePosition(QTextCursor::End);
    }

    QTextDocument doc_;
    QTextCursor cursor_;
    QTextCharFormat plain_, bold_, italic_;
    bool first_ = true;
    std::vector<std::pair<int, int>> spans_; // first and last block of each question
};

} // namespace

std::vector<const StoredQuestion*> printableQuestions(const StoredBank& bank) {
    std::vector<const StoredQuestion*> out;
    for (const StoredQuestion& q : bank.questions)
        if (questionProblems(q).isEmpty())
            out.push_back(&q);
    return out;
}

std::vector<const StoredQuestion*> drawForPrint(std::vector<const StoredQuestion*> candidates,
                                                const PrintOptions& options) {
    // A partial Fisher–Yates shuffle of our own: the standard library's shuffle may differ
    // between platforms, and a seed must draw the same test everywhere.
    QRandomGenerator random(options.seed);
    const size_t count = std::min(candidates.size(), size_t(std::max(0, options.questions)));
    for (size_t i = 0; i < count; ++i) {
        const size_t j = i + random.bounded(quint32(candidates.size() - i));
        std::swap(candidates[i], candidates[j]);
    }
    candidates.resize(count);
    return candidates;
}

void printTest(const std::vector<const StoredQuestion*>& questions, const QString& path,
               const PrintOptions& options) {
    PdfFile pdf(path, QStringLiteral("Тест по информатике: %1").arg(options.bankName), kResolution,
                20);
    QPdfWriter& writer = pdf.writer();

    QFont font = toolkit::windowFont();
    font.setPointSizeF(kTextPoints);
    QFont headerFont = font;
    headerFont.setPointSizeF(kHeaderPoints);

    TestDocument test(&writer, font);
    test.title(options);
    for (size_t i = 0; i < questions.size(); ++i)
        test.question(int(i) + 1, *questions[i]);
    if (options.key)
        test.key(questions);

    const QFontMetricsF headerMetrics(headerFont, &writer);
    const qreal band = headerMetrics.height() * 2.5; // header or footer with the space under it
    const QRectF page(0, 0, writer.width(), writer.height());
    const qreal bodyHeight = page.height() - 2 * band;
    QTextDocument& doc = test.document();
    doc.setPageSize(QSizeF(page.width(), bodyHeight));
    test.keepQuestionsTogether(bodyHeight);
    // The layout redone after those page breaks leaves some blocks after them without lines;
    // laying out the whole document anew draws every one.
    doc.markContentsDirty(0, doc.characterCount());
    const int pages = doc.pageCount();

    QPainter painter;
    pdf.begin(painter);
    const QString heading =
        QStringLiteral("Банк «%1» · вариант %2").arg(options.bankName).arg(options.seed);
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            writer.newPage();
        painter.setFont(headerFont);
        painter.setPen(Qt::black);
        const QRectF header(0, 0, page.width(), headerMetrics.height());
        painter.drawText(header, Qt::AlignLeft | Qt::AlignTop, heading);
        painter.drawText(header, Qt::AlignRight | Qt::AlignTop,
                         options.date.toString(QStringLiteral("dd.MM.yyyy")));
        const qreal rule = headerMetrics.height() * 1.3;
        painter.drawLine(QPointF(0, rule), QPointF(page.width(), rule));
        painter.drawText(
            QRectF(0, page.height() - headerMetrics.height(), page.width(), headerMetrics.height()),
            Qt::AlignHCenter | Qt::AlignBottom,
            QStringLiteral("Страница %1 из %2").arg(p + 1).arg(pages));

        painter.save();
        painter.translate(0, band - p * bodyHeight);
        // A block that starts right at the next page's top must not be drawn on this one: the
        // clip stops one dot short (the layout never splits a line across pages).
        doc.drawContents(&painter, QRectF(0, p * bodyHeight, page.width(), bodyHeight - 1));
        painter.restore();
    }
    pdf.commit(painter);
}

} // namespace bank

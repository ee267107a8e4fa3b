#include "help/Instructions.h"
#include "toolkit/Form.h"
#include "toolkit/Pictures.h"

#include <QFile>
#include <QFontMetrics>
#include <QtTest>
#include <optional>

using help::LineKind;

// The instruction picture as the help window shows it: its text, line by line, its colours,
// its numbering and its button pictures.
class TestInstructions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void textIsExactLineByLine_data();
    void textIsExactLineByLine();
    void pictureIs626By416In24BitColour();
    void bottomRowsAreWhite();
    void headingsArePlumAndBodyTextDark();
    void numbersAndTextStandAtTheirColumns();
    void linesAreAbout15PixelsApart();
    void buttonPicturesStandInTheirLines();

private:
    QImage picture_;
    help::InstructionLayout layout_;
};

namespace {

struct Expected {
    LineKind kind;
    QString number;
    QString text;
};

// The lines as the reader must see them, typos included ("уведете", "не правильные").
const QList<Expected>& expectedLines() {
    using enum LineKind;
    static const QList<Expected> lines = {
        {Heading, "", "Работа с тестом."},
        {Item, "1)",
         "Для того чтобы начать работу с тестом нажмите на кнопку «Начать тест». После этого"},
        {Continuation, "",
         "программа случайным образом выберет 10 вопросов из базы. В заголовке окна вы уведете"},
        {Continuation, "", "номер текущего вопроса."},
        {Item, "2)",
         "Выберите ответ и пояснение ответа которые кажутся вам правильными. Нажмите кнопку"},
        {Continuation, "", "«Далее» для перехода к следующему вопросу."},
        {Item, "3)",
         "После того, как вы ответите на все вопросы, появится с количеством набранных баллов и"},
        {Continuation, "", "вашей оценкой."},
        {Heading, "", "Правила выставления оценок."},
        {Item, "1.", "За каждый правильный ответ начисляется по одному баллу."},
        {Item, "2.", "За каждое правильное пояснение начисляется по одному баллу."},
        {Item, "3.", "За не правильные ответы и пояснения баллы не снимаются."},
        {Item, "4.", "Выставление оценок:"},
        {Item, "4.1.", "Оценка «5» ставится, если вы набрали больше 16 баллов;"},
        {Item, "4.2.", "Оценка «4» ставится, если вы набрали от 14 до 16 баллов;"},
        {Item, "4.3.", "Оценка «3» ставится, если вы набрали от 10 до 13 баллов;"},
        {Item, "4.4.", "Оценка «2» ставится, если вы набрали меньше 10 баллов."},
        {Heading, "", "Редактирование теста."},
        {Item, "1)", "Для редактирования теста нажмите на кнопку «Редактирование теста»."},
        {Item, "2)", "Чтобы добавить новый вопрос нажмите {add} и напишите текст вопроса."},
        {Item, "3)",
         "Чтобы добавить варианты ответов (пояснений) к вопросу, нажмите {add}, введите 4 "
         "варианта"},
        {Continuation, "", "ответа (пояснений) и напротив правильного поставьте галочку."},
        {Item, "4)", "Чтобы удалить вопрос, ответ или пояснения нажмите {delete}"},
    };
    return lines;
}

// Where the numbers and the text start, per line.
struct Columns {
    int number;
    int text;
};
Columns expectedColumns(int line) {
    if (line <= 7)
        return {28, 52};
    if (line <= 12)
        return {4, 28};
    if (line <= 16)
        return {27, 57};
    return {8, 32};
}

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kPlum = qRgb(153, 51, 102);

bool isWhite(const QImage& image, int x, int y) {
    return (image.pixel(x, y) & 0xffffff) == 0xffffff;
}

// The rows of a line's letters: from the tallest letters' top to the lowest descender.
QRect lineBand(const help::InstructionLayout& layout, int line, const QFont& font) {
    const QFontMetrics metrics(font);
    const int baseline = layout.baselines[line];
    return QRect(0, baseline - metrics.ascent(), help::kPictureSize.width(),
                 metrics.ascent() + metrics.descent());
}

QFont fontOf(LineKind kind) {
    return kind == LineKind::Heading ? toolkit::headingFont() : toolkit::windowFont();
}

bool inButton(const help::InstructionLayout& layout, QPoint p) {
    for (const auto& button : layout.buttons)
        if (QRect(button.topLeft, QSize(16, 16)).contains(p))
            return true;
    return false;
}

// Leftmost column with ink in the given rows and columns, if any.
std::optional<int> leftmostInk(const QImage& image, QRect area) {
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (!isWhite(image, x, y))
                return x;
    return std::nullopt;
}

// Every place where the picture's non-white pixels appear exactly.
QList<QPoint> occurrences(const QImage& image, const QImage& pattern) {
    QList<QPoint> found;
    for (int top = 0; top + 16 <= image.height(); ++top)
        for (int left = 0; left + 16 <= image.width(); ++left) {
            bool match = true;
            for (int y = 0; y < 16 && match; ++y)
                for (int x = 0; x < 16 && match; ++x) {
                    const QRgb p = pattern.pixel(x, y) & 0xffffff;
                    if (p != (kWhite & 0xffffff))
                        match = (image.pixel(left + x, top + y) & 0xffffff) == p;
                }
            if (match)
                found.append(QPoint(left, top));
        }
    return found;
}

} // namespace

void TestInstructions::initTestCase() {
    toolkit::registerFonts();
    picture_ = help::instructionPicture().convertToFormat(QImage::Format_RGB32);
    layout_ = help::instructionLayout();
    QCOMPARE(layout_.baselines.size(), std::size_t(expectedLines().size()));
}

void TestInstructions::textIsExactLineByLine_data() {
    QTest::addColumn<int>("line");
    for (int i = 0; i < expectedLines().size(); ++i)
        QTest::addRow("%d %s", i + 1, qPrintable(expectedLines()[i].text.left(30))) << i;
}

void TestInstructions::textIsExactLineByLine() {
    QFETCH(int, line);
    const auto lines = help::instructionLines();
    QCOMPARE(lines.size(), std::size_t(expectedLines().size()));
    const Expected& expected = expectedLines()[line];
    QCOMPARE(int(lines[line].kind), int(expected.kind));
    QCOMPARE(QString::fromUtf8(lines[line].number), expected.number);
    QCOMPARE(help::lineText(lines[line]), expected.text);
}

void TestInstructions::pictureIs626By416In24BitColour() {
    QCOMPARE(picture_.size(), QSize(626, 416));
    QFile file(QStringLiteral(":/help/instructions.bmp"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bmp = file.readAll();
    QVERIFY(bmp.startsWith("BM"));
    QCOMPARE(quint8(bmp.at(28)) | quint8(bmp.at(29)) << 8, 24);
}

void TestInstructions::bottomRowsAreWhite() {
    // The window shows 411 rows; the five it cuts off must hold nothing.
    for (int y = 411; y < 416; ++y)
        for (int x = 0; x < 626; ++x)
            QVERIFY2(isWhite(picture_, x, y), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    // And nothing of the text reaches the cut-off rows.
    QVERIFY(layout_.baselines.back() + QFontMetrics(toolkit::windowFont()).descent() <= 411);
}

void TestInstructions::headingsArePlumAndBodyTextDark() {
    for (int i = 0; i < expectedLines().size(); ++i) {
        const LineKind kind = expectedLines()[i].kind;
        const QRect band = lineBand(layout_, i, fontOf(kind));
        int ink = 0;
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x <= band.right(); ++x) {
                if (isWhite(picture_, x, y) || inButton(layout_, QPoint(x, y)))
                    continue;
                ++ink;
                const QColor c = picture_.pixelColor(x, y);
                const QString where =
                    QStringLiteral("line %1 at %2,%3: %4").arg(i + 1).arg(x).arg(y).arg(c.name());
                if (kind == LineKind::Heading)
                    QVERIFY2((c.rgb() & 0xffffff) == (kPlum & 0xffffff), qPrintable(where));
                else
                    QVERIFY2(c.red() < 80 && c.green() < 80 && c.blue() < 80, qPrintable(where));
            }
        QVERIFY2(ink > 40, qPrintable(QStringLiteral("line %1 is empty").arg(i + 1)));
    }
}

void TestInstructions::numbersAndTextStandAtTheirColumns() {
    for (int i = 0; i < expectedLines().size(); ++i) {
        const Expected& expected = expectedLines()[i];
        const QRect band = lineBand(layout_, i, fontOf(expected.kind));
        const Columns columns = expectedColumns(i);
        const auto left = leftmostInk(picture_, band);
        QVERIFY(left);
        const int start = expected.kind == LineKind::Heading ? 4
                          : expected.kind == LineKind::Item  ? columns.number
                                                             : columns.text;
        QVERIFY2(*left >= start && *left <= start + 3,
                 qPrintable(QStringLiteral("line %1 starts at %2").arg(i + 1).arg(*left)));
        if (expected.kind != LineKind::Item)
            continue;
        // The gap between the number and the text, then the text at its column.
        const QRect gap(columns.text - 3, band.top(), 3, band.height());
        QVERIFY2(!leftmostInk(picture_, gap), qPrintable(QString::number(i + 1)));
        const auto text = leftmostInk(picture_, band.adjusted(columns.text, 0, 0, 0));
        QVERIFY(text && *text <= columns.text + 3);
    }
}

void TestInstructions::linesAreAbout15PixelsApart() {
    const auto& lines = expectedLines();
    for (int i = 1; i < lines.size(); ++i) {
        const int step = layout_.baselines[i] - layout_.baselines[i - 1];
        const bool button = lines[i].text.contains('{') || lines[i - 1].text.contains('{');
        const QString what = QStringLiteral("line %1: %2").arg(i + 1).arg(step);
        if (lines[i].kind == LineKind::Heading)
            QVERIFY2(step >= 15 && step <= 30, qPrintable(what));
        else if (button)
            QVERIFY2(step >= 20 && step <= 24, qPrintable(what));
        else
            QVERIFY2(step >= 14 && step <= 17, qPrintable(what));
    }
}

void TestInstructions::buttonPicturesStandInTheirLines() {
    const QList<QPoint> adds = occurrences(picture_, toolkit::addBitmap());
    const QList<QPoint> deletes = occurrences(picture_, toolkit::deleteBitmap());
    QCOMPARE(adds.size(), 2);
    QCOMPARE(deletes.size(), 1);

    const QFontMetrics metrics(toolkit::windowFont());
    const auto check = [&](QPoint at, int line, const QString& before) {
        const int baseline = layout_.baselines[line];
        // Standing in the line, its bottom slightly above the baseline.
        const int bottom = at.y() + 15;
        QVERIFY2(bottom < baseline && bottom >= baseline - 4,
                 qPrintable(QStringLiteral("line %1: bottom %2, baseline %3")
                                .arg(line + 1)
                                .arg(bottom)
                                .arg(baseline)));
        // Right after the words that name it and their space.
        const int x = expectedColumns(line).text + metrics.horizontalAdvance(before);
        QVERIFY2(
            qAbs(at.x() - x) <= 2,
            qPrintable(
                QStringLiteral("line %1: x %2, expected %3").arg(line + 1).arg(at.x()).arg(x)));
    };
    check(adds[0], 19, QStringLiteral("Чтобы добавить новый вопрос нажмите "));
    check(adds[1], 20,
          QStringLiteral("Чтобы добавить варианты ответов (пояснений) к вопросу, нажмите "));
    check(deletes[0], 22, QStringLiteral("Чтобы удалить вопрос, ответ или пояснения нажмите "));

    // The comma follows the second add picture directly; elsewhere a space comes first.
    const QRect afterComma(adds[1].x() + 16, lineBand(layout_, 20, toolkit::windowFont()).top(), 2,
                           metrics.ascent() + metrics.descent());
    QVERIFY(leftmostInk(picture_, afterComma));
    const QRect afterAdd(adds[0].x() + 16, lineBand(layout_, 19, toolkit::windowFont()).top(), 2,
                         afterComma.height());
    QVERIFY(!leftmostInk(picture_, afterAdd));
}

QTEST_MAIN(TestInstructions)
#include "tst_instructions.moc"

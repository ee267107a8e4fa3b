#include "reports/JournalReport.h"

#include "formats/Csv.h"
#include "reports/JournalExport.h"
#include "reports/Pdf.h"
#include "toolkit/Form.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>

namespace bank::journal {

using data::journal::QuestionStats;
using data::journal::Run;

namespace {

// Points: the page is laid out in typographic points, 72 to the inch.
constexpr int kResolution = 72;
constexpr qreal kLine = 13;
const QColor kBar(70, 110, 170);
const QColor kFlagged(200, 50, 40);

// Draws on the PDF top to bottom, starting a new page when the next block does not fit.
class Pages {
public:
    Pages(QPdfWriter& writer, QPainter& painter, QString heading)
        : writer_(writer), painter_(painter), heading_(std::move(heading)) {
        font_ = toolkit::windowFont();
        font_.setPointSizeF(9);
        startPage();
    }

    qreal width() const { return writer_.width(); }
    qreal y = 0;

    // Makes room for height points, on a new page if need be.
    void need(qreal height) {
        if (y + height > writer_.height() - kLine * 2) {
            writer_.newPage();
            startPage();
        }
    }
    void text(const QRectF& box, const QString& text, int flags = Qt::AlignLeft | Qt::AlignVCenter,
              qreal points = 9, bool bold = false, const QColor& color = Qt::black) {
        QFont font = font_;
        font.setPointSizeF(points);
        font.setBold(bold);
        painter_.setFont(font);
        painter_.setPen(color);
        const QString shown =
            QFontMetricsF(font, &writer_).elidedText(text, Qt::ElideRight, box.width());
        painter_.drawText(box, flags, shown);
    }
    void heading(const QString& title) {
        need(kLine * 6);
        y += kLine / 2;
        text(QRectF(0, y, width(), kLine * 1.6), title, Qt::AlignLeft | Qt::AlignVCenter, 13, true);
        y += kLine * 2;
    }
    QPainter& painter() { return painter_; }

private:
    void startPage() {
        ++page_;
        y = 0;
        text(QRectF(0, 0, width(), kLine), heading_, Qt::AlignLeft | Qt::AlignVCenter, 8);
        text(QRectF(0, 0, width(), kLine), QStringLiteral("стр. %1").arg(page_),
             Qt::AlignRight | Qt::AlignVCenter, 8);
        painter_.setPen(QPen(Qt::gray, 0.5));
        painter_.drawLine(QPointF(0, kLine + 2), QPointF(width(), kLine + 2));
        y = kLine * 2;
    }

    QPdfWriter& writer_;
    QPainter& painter_;
    QString heading_;
    QFont font_;
    int page_ = 0;
};

// A column chart: one bar a label, its count above it.
void columnChart(Pages& pages, const QString& title, const QStringList& labels,
                 const std::vector<qint64>& counts) {
    const qreal height = 150;
    pages.need(height + kLine * 3);
    pages.text(QRectF(0, pages.y, pages.width(), kLine), title, Qt::AlignLeft | Qt::AlignVCenter,
               10, true);
    pages.y += kLine * 1.5;
    const qint64 most = std::max<qint64>(1, *std::max_element(counts.begin(), counts.end()));
    const qreal slot = pages.width() / qreal(labels.size());
    const qreal base = pages.y + height - kLine;
    QPainter& p = pages.painter();
    for (qsizetype i = 0; i < labels.size(); ++i) {
        const qreal barHeight = (height - kLine * 2.5) * qreal(counts[size_t(i)]) / qreal(most);
        const QRectF bar(slot * qreal(i) + slot * 0.15, base - barHeight, slot * 0.7, barHeight);
        p.fillRect(bar, kBar);
        pages.text(QRectF(slot * qreal(i), base - barHeight - kLine, slot, kLine),
                   QString::number(counts[size_t(i)]), Qt::AlignCenter, 8);
        pages.text(QRectF(slot * qreal(i), base + 1, slot, kLine), labels[i], Qt::AlignCenter, 8);
    }
    p.setPen(QPen(Qt::black, 0.5));
    p.drawLine(QPointF(0, base), QPointF(pages.width(), base));
    pages.y += height + kLine;
}

void runsTable(Pages& pages, const std::vector<Run>& runs) {
    pages.heading(QStringLiteral("Прохождения"));
    // Start, computer, name, minutes, points, grade, finished: the name takes what is left.
    const std::vector<qreal> share = {0.2, 0.16, 0.34, 0.08, 0.07, 0.07, 0.08};
    const QStringList titles = {QStringLiteral("Начало"),  QStringLiteral("Компьютер"),
                                QStringLiteral("Имя"),     QStringLiteral("Мин."),
                                QStringLiteral("Баллы"),   QStringLiteral("Оценка"),
                                QStringLiteral("Завершён")};
    const auto row = [&](const QStringList& cells, bool bold) {
        pages.need(kLine);
        qreal x = 0;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const qreal w = pages.width() * share[size_t(i)];
            pages.text(QRectF(x, pages.y, w - 4, kLine), cells[i],
                       (i >= 3 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, 8, bold);
            x += w;
        }
        pages.y += kLine;
    };
    row(titles, true);
    // The latest runs, when there are more than a table can sensibly hold.
    const size_t first = runs.size() > kReportTableRuns ? runs.size() - kReportTableRuns : 0;
    if (first > 0)
        row({QStringLiteral("…и ещё %1 более ранних (выберите период короче: --from, --to)")
                 .arg(first)},
            false);
    for (size_t i = first; i < runs.size(); ++i) {
        const auto& r = runs[i].record;
        // The flags a teacher should notice, beside the name: the table has no room for columns.
        QStringList flags;
        if (runs[i].loginReported)
            flags << QStringLiteral("логин сообщён");
        if (runs[i].late())
            flags << QStringLiteral("запоздал");
        const QString name = flags.isEmpty()
                                 ? pupilName(r)
                                 : QStringLiteral("%1 (%2)").arg(pupilName(r), flags.join(u", "));
        row({cellText(r.started), r.host, name,
             QString::number(double(runs[i].seconds()) / 60.0, 'f', 1), QString::number(r.points),
             r.grade ? QString::number(*r.grade) : QStringLiteral("—"), yesNo(r.finished)},
            false);
    }
}

void questionsChart(Pages& pages, const std::vector<QuestionStats>& stats) {
    pages.heading(QStringLiteral("Доля верных ответов по вопросам"));
    pages.text(QRectF(0, pages.y, pages.width(), kLine),
               QStringLiteral("По завершённым прохождениям. Красным — вопросы, которые стоит "
                              "проверить (не меньше %1 показов).")
                   .arg(data::journal::kFlagMinimumDraws),
               Qt::AlignLeft | Qt::AlignVCenter, 8);
    pages.y += kLine * 1.5;
    const qreal labelWidth = pages.width() * 0.45;
    const qreal barSpace = pages.width() - labelWidth - 60;
    for (const QuestionStats& s : stats) {
        const std::vector<data::journal::Flag> flags = data::journal::flagsOf(s);
        pages.need(kLine * (flags.empty() ? 1.3 : 2.3));
        const QColor color = flags.empty() ? kBar : kFlagged;
        pages.text(QRectF(0, pages.y, labelWidth - 6, kLine),
                   QStringLiteral("%1. %2").arg(s.questionId).arg(s.question.simplified()),
                   Qt::AlignLeft | Qt::AlignVCenter, 8);
        pages.painter().fillRect(
            QRectF(labelWidth, pages.y + 2, barSpace * s.facility(), kLine - 4), color);
        pages.painter().setPen(QPen(Qt::lightGray, 0.5));
        pages.painter().drawRect(QRectF(labelWidth, pages.y + 2, barSpace, kLine - 4));
        pages.text(QRectF(labelWidth + barSpace + 4, pages.y, 56, kLine),
                   QStringLiteral("%1 % из %2").arg(qRound(s.facility() * 100)).arg(s.drawn),
                   Qt::AlignLeft | Qt::AlignVCenter, 8);
        pages.y += kLine * 1.3;
        if (!flags.empty()) {
            QStringList reasons;
            for (data::journal::Flag flag : flags)
                reasons << data::journal::flagText(flag);
            pages.text(QRectF(12, pages.y - 2, pages.width() - 12, kLine), reasons.join(u"; "),
                       Qt::AlignLeft | Qt::AlignVCenter, 8, false, kFlagged);
            pages.y += kLine;
        }
    }
}

} // namespace

void writeReport(const std::vector<Run>& runs, const std::vector<QuestionStats>& stats,
                 const QString& path, const ReportOptions& options) {
    const QString title = QStringLiteral("Журнал результатов: %1").arg(options.bankName);
    PdfFile pdf(path, title, kResolution, 18);
    QPainter painter;
    pdf.begin(painter);
    Pages pages(pdf.writer(), painter,
                options.period.isEmpty() ? title : title + u' ' + options.period);

    std::vector<qint64> grades(4, 0);
    std::vector<qint64> points(21, 0);
    qint64 finished = 0;
    qint64 pointSum = 0;
    for (const Run& run : runs) {
        if (!run.record.finished)
            continue;
        ++finished;
        pointSum += run.record.points;
        if (run.record.grade && *run.record.grade >= 2 && *run.record.grade <= 5)
            ++grades[size_t(*run.record.grade - 2)];
        ++points[size_t(std::clamp(run.record.points, 0, 20))];
    }
    pages.text(QRectF(0, pages.y, pages.width(), kLine * 2), title,
               Qt::AlignLeft | Qt::AlignVCenter, 16, true);
    pages.y += kLine * 2.5;
    pages.text(
        QRectF(0, pages.y, pages.width(), kLine),
        QStringLiteral("%1Прохождений: %2, завершено: %3, средний балл завершённых: %4.")
            .arg(options.period.isEmpty() ? QString() : options.period + QStringLiteral(". "))
            .arg(runs.size())
            .arg(finished)
            .arg(finished ? QString::number(double(pointSum) / double(finished), 'f', 1)
                          : QStringLiteral("—")));
    pages.y += kLine * 2;
    columnChart(pages, QStringLiteral("Оценки"),
                {QStringLiteral("«2»"), QStringLiteral("«3»"), QStringLiteral("«4»"),
                 QStringLiteral("«5»")},
                grades);
    QStringList pointLabels;
    for (int p = 0; p <= 20; ++p)
        pointLabels << QString::number(p);
    columnChart(pages, QStringLiteral("Баллы"), pointLabels, points);
    questionsChart(pages, stats);
    runsTable(pages, runs);
    pdf.commit(painter);
}

} // namespace bank::journal

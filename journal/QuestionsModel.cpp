#include "journal/QuestionsModel.h"

#include <QStringList>

namespace journal {

using data::journal::Flag;
using data::journal::QuestionStats;

namespace {

QString percent(double share) {
    return QStringLiteral("%1 %").arg(qRound(share * 100));
}

QString choiceCounts(const std::array<qint64, data::kChoicesPerQuestion>& counts,
                     const data::journal::ShownChoices& choices) {
    QStringList parts;
    for (size_t i = 0; i < counts.size(); ++i)
        parts
            << (choices[i].correct ? QStringLiteral("[%1]") : QStringLiteral("%1")).arg(counts[i]);
    return parts.join(QStringLiteral(" · "));
}

} // namespace

QuestionsModel::QuestionsModel(QObject* parent) : RowListModel(parent) {}

void QuestionsModel::setStats(std::vector<QuestionStats> stats) {
    std::vector<Row> fresh;
    fresh.reserve(stats.size());
    for (QuestionStats& s : stats) {
        std::vector<Flag> flags = data::journal::flagsOf(s);
        fresh.push_back({std::move(s), std::move(flags)});
    }
    // The most serious remark first; the bank's order within the same remark and among the rest.
    std::stable_sort(fresh.begin(), fresh.end(), [](const Row& a, const Row& b) {
        const int ra = a.flags.empty() ? 3 : int(a.flags.front());
        const int rb = b.flags.empty() ? 3 : int(b.flags.front());
        return ra < rb;
    });
    mergeRows(
        rows_, std::move(fresh), [](const Row& row) { return row.stats.shownId; },
        [](const Row& a, const Row& b) {
            return a.stats.drawn == b.stats.drawn && a.stats.rightOptions == b.stats.rightOptions &&
                   a.stats.rightExplanations == b.stats.rightExplanations &&
                   a.stats.optionChosen == b.stats.optionChosen &&
                   a.stats.explanationChosen == b.stats.explanationChosen &&
                   a.stats.discrimination == b.stats.discrimination && a.flags == b.flags &&
                   a.stats.question == b.stats.question;
        });
}

const QuestionStats* QuestionsModel::statsAt(int row) const {
    return row >= 0 && size_t(row) < rows_.size() ? &rows_[size_t(row)].stats : nullptr;
}

int QuestionsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int QuestionsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant QuestionsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= rows_.size())
        return {};
    const Row& row = rows_[size_t(index.row())];
    const QuestionStats& s = row.stats;
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Remark: {
            QStringList texts;
            for (Flag flag : row.flags)
                texts << data::journal::flagText(flag);
            return texts.join(QStringLiteral("; "));
        }
        case Number:
            return s.questionId;
        case Question:
            // One line in the table; the whole text on a double click.
            return s.question.simplified();
        case Drawn:
            return s.drawn;
        case RightOptions:
            return percent(s.facility());
        case RightExplanations:
            return percent(s.explanationFacility());
        case Discrimination:
            return s.discrimination ? QString::number(*s.discrimination, 'f', 2)
                                    : QStringLiteral("—");
        case OptionChoices:
            return choiceCounts(s.optionChosen, s.options);
        case ExplanationChoices:
            return choiceCounts(s.explanationChosen, s.explanations);
        }
    }
    if (role == Qt::ToolTipRole && index.column() == Question)
        return s.question;
    if (role == Qt::ToolTipRole && index.column() == Remark && !row.flags.empty())
        return data(index, Qt::DisplayRole);
    if (role == Qt::TextAlignmentRole && index.column() >= Number && index.column() != Question &&
        index.column() <= Discrimination)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant QuestionsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    // Short headings, so that the question's text keeps its room; the tooltips say the rest.
    static const char* const titles[ColumnCount] = {"Замечание", "№",           "Вопрос",
                                                    "Выпадал",   "Ответ верен", "Объясн. верно",
                                                    "Дискр.",    "Ответы 1–4",  "Объяснения 1–4"};
    if (section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(titles[section]);
    if (role == Qt::ToolTipRole && section == Discrimination)
        return QStringLiteral("Дискриминация: исправленная точечно-бисериальная корреляция "
                              "верного ответа на вопрос с баллами за остальные вопросы");
    if (role == Qt::ToolTipRole && section == RightOptions)
        return QStringLiteral("Доля случаев, когда выбран верный ответ");
    if (role == Qt::ToolTipRole && section == RightExplanations)
        return QStringLiteral("Доля случаев, когда выбрано верное объяснение");
    if (role == Qt::ToolTipRole && (section == OptionChoices || section == ExplanationChoices))
        return QStringLiteral("Сколько раз выбран каждый вариант; верные в квадратных скобках");
    return {};
}

QString questionHtml(const QuestionStats& s) {
    QString html =
        QStringLiteral("<p><b>Вопрос %1</b> (выпадал %2 раз)</p><p>%3</p>")
            .arg(s.questionId)
            .arg(s.drawn)
            .arg(s.question.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")));
    for (const auto& [title, choices, counts] :
         {std::tuple{QStringLiteral("Варианты ответа"), &s.options, &s.optionChosen},
          std::tuple{QStringLiteral("Объяснения"), &s.explanations, &s.explanationChosen}}) {
        html += QStringLiteral("<p><b>%1</b></p><table cellpadding=\"3\">").arg(title);
        for (size_t i = 0; i < choices->size(); ++i) {
            const bool right = (*choices)[i].correct;
            html += QStringLiteral("<tr><td>%1.</td><td>%2</td><td align=\"right\">%3</td>"
                                   "<td>%4</td></tr>")
                        .arg(i + 1)
                        .arg((*choices)[i].text.toHtmlEscaped())
                        .arg((*counts)[i])
                        .arg(right ? QStringLiteral("<b>верный</b>") : QString());
        }
        html += QStringLiteral("</table>");
    }
    return html;
}

} // namespace journal

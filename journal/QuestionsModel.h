#pragma once

#include "data/journal/JournalStore.h"
#include "journal/RowListModel.h"

namespace journal {

// The questions' statistics over the finished runs of the filter: the questions a teacher should
// look at first, with the reason, then the rest in the bank's order.
class QuestionsModel : public RowListModel {
    Q_OBJECT
public:
    enum Column {
        Remark,
        Number,
        Question,
        Drawn,
        RightOptions,
        RightExplanations,
        Discrimination,
        OptionChoices,
        ExplanationChoices,
        ColumnCount
    };

    explicit QuestionsModel(QObject* parent = nullptr);

    void setStats(std::vector<data::journal::QuestionStats> stats);
    const data::journal::QuestionStats* statsAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Row {
        data::journal::QuestionStats stats;
        std::vector<data::journal::Flag> flags;
    };
    std::vector<Row> rows_;
};

// The question's texts as the pupils saw them, with the keys and how often each was chosen.
QString questionHtml(const data::journal::QuestionStats& stats);

} // namespace journal

#pragma once

#include "data/journal/JournalReader.h"
#include "journal/RowListModel.h"

namespace journal {

// The runs of a filter, a page at a time as the view scrolls: a journal of a whole school year
// opens as fast as one lesson's. Sorting is done by the query, over every run of the filter.
class RunsModel : public RowListModel {
    Q_OBJECT
public:
    // Rows read at a time: a few screens.
    static constexpr int kPage = 200;

    explicit RunsModel(QObject* parent = nullptr);

    // The journal to read, or none. Reads the first page; throws when the journal fails.
    void setReader(data::journal::JournalReader* reader);
    // The journal went away: the rows read stay shown, nothing more is read.
    void detach() { reader_ = nullptr; }
    // The same journal is back: the rows shown are read again in place.
    void reconnect(data::journal::JournalReader* reader);
    void setFilter(const data::journal::RunFilter& filter);
    const data::journal::RunFilter& filter() const { return filter_; }
    const data::journal::RunOrder& order() const { return order_; }
    const data::journal::RunSummary& summary() const { return summary_; }
    // Reads again the rows read so far, and the runs recorded among them since.
    void refresh();

    // Whether a run shown in progress has passed the answering limit since it was read: the
    // server notifies no such change, so the window reads the rows again.
    bool runTurnedAbandoned() const;

    const data::journal::Run* runAt(int row) const;
    int rowOf(qint64 runId) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    void sort(int column, Qt::SortOrder order) override;

signals:
    void summaryChanged();
    // A read the view asked for (more rows, another order) failed.
    void readFailed(const QString& message);

private:
    void reload();
    void noteAbandoning();

    data::journal::JournalReader* reader_ = nullptr;
    data::journal::RunFilter filter_;
    data::journal::RunOrder order_;
    data::journal::RunSummary summary_;
    std::vector<data::journal::Run> rows_;
    QDateTime abandoningAt_;
};

// How the window names a run the server started and has not recorded: in progress, or past the
// answering limit and never finished.
QString stateText(data::journal::RunState state);

// How the window shows a run's duration: minutes and seconds.
QString durationText(qint64 seconds);

} // namespace journal

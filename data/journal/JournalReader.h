#pragma once

#include "data/journal/JournalStore.h"
#include "data/sqlite/Sqlite.h"

#include <array>
#include <memory>
#include <vector>

// The teacher's window reads the journal a screen at a time: the runs of a filter in the order
// the teacher chose, a page from any offset, and the figures of the whole filter. Filtering and
// sorting happen in the query, so that they cover every run and not only the rows read so far.
namespace data::journal {

// The columns a list of runs can be sorted by, in the order the window shows them.
enum class RunColumn { Started, Host, Login, Name, Duration, Points, Grade, Finished };
inline constexpr int kRunColumns = 8;

struct RunOrder {
    RunColumn column = RunColumn::Started;
    bool descending = true; // the newest run first
};

// What the filter's runs add up to.
struct RunSummary {
    qint64 runs = 0;
    double meanPoints = 0;
    std::array<qint64, 4> grades{}; // how many fives, fours, threes and twos
};

class JournalReader {
public:
    // How long a read waits for a pupil's program committing a run: a commit takes
    // milliseconds, and a read that gives up would show the journal as unreachable.
    static constexpr int kBusyTimeoutMs = 500;

    // Opens the journal read-only, refused as JournalStore refuses it. The window never
    // writes: the connection is opened read-only and also refuses writes of its own.
    explicit JournalReader(const QString& path);
    ~JournalReader();

    const QString& path() const { return store_.path(); }
    // The run's answers and the questions' statistics, as the bank tool reads them.
    const JournalStore& store() const { return store_; }

    std::vector<Run> runs(const RunFilter& filter, const RunOrder& order, qint64 offset,
                          qint64 limit) const;
    RunSummary summary(const RunFilter& filter) const;
    // Whether another program committed to the journal since the last call: one look at the
    // file's header, so that an idle lesson costs next to nothing.
    bool changed();

private:
    JournalStore store_;
    sqlite::Database db_;
    qint64 dataVersion_ = -1;
};

} // namespace data::journal

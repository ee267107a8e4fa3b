#pragma once

#include "data/Errors.h"
#include "data/journal/JournalStore.h"

#include <array>
#include <memory>
#include <vector>

namespace data::pg {
class Connection;
}

// The teacher's window reads the journal a screen at a time: the runs of a filter in the order
// the teacher chose, a page from any offset, and the figures of the whole filter. Filtering and
// sorting happen in the query, so that they cover every run and not only the rows read so far;
// a journal file and a server's journal give the same rows in the same order.
namespace data::journal {

// A server's journal this role may not read: final, unlike a server that is away, so that the
// window says it once and does not keep asking.
class EJournalRefused : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// The columns a list of runs can be sorted by, in the order the window shows them.
enum class RunColumn {
    Started,
    Host,
    Login,
    Name,
    Duration,
    Points,
    Grade,
    Finished,
    LoginReported
};
inline constexpr int kRunColumns = 9;

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

    // Opens the journal file, or a server's journal (a URL), read-only, refused as
    // JournalStore refuses it; on a server also refused to a role that may not read the runs.
    // The window never writes: a file is opened read-only and refuses writes of its own. A role
    // without the right to read the runs gets EJournalRefused. Connects and reads synchronously,
    // on whichever thread makes it; the reader is then used from one thread at a time.
    explicit JournalReader(const QString& location);
    ~JournalReader();

    const QString& path() const { return store_.path(); }
    // What a report names the journal by: the bank's folder, or the database on a server.
    QString title() const;
    // The run's answers and the questions' statistics, as the bank tool reads them.
    const JournalStore& store() const { return store_; }

    // On a server, the runs started and not yet recorded come with the recorded ones.
    std::vector<Run> runs(const RunFilter& filter, const RunOrder& order, qint64 offset,
                          qint64 limit) const;
    RunSummary summary(const RunFilter& filter) const;
    // Whether another program changed the journal since the last call, without reading a
    // table: a file's header, or the notifications a server sent. Throws when a server's
    // connection is lost.
    bool changed();
    // A socket that becomes readable when the journal may have changed; -1 for a file, which is
    // looked at by a timer.
    int changeSocket() const;
    // How many queries runs() and summary() made, for the tests of an idle window.
    qint64 reads() const { return reads_; }

private:
    QString runsSource() const;
    QString filterSql(const RunFilter& filter, std::vector<QVariant>& values) const;

    JournalStore store_;
    bool server_ = false;
    bool startedRuns_ = false; // the server starts the runs, and this role may see them
    bool reportedLoginStored_ = true;
    qint64 dataVersion_ = -1;
    std::unique_ptr<pg::Connection> listener_;
    mutable qint64 reads_ = 0;
};

} // namespace data::journal

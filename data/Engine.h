#pragma once

#include "data/Row.h"

#include <QDeadlineTimer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace data {

class Field;

// What a table tells its engine about itself when it opens.
struct TableShape {
    QString objectName; // for messages: "Vopros: ..."
    QString tableName;
    const std::vector<std::unique_ptr<Field>>* fields = nullptr;
    // A detail table's rows come ordered by this field, then by row id; others by row id.
    const Field* orderField = nullptr;
};

// One update of TableWriter::updateAll: the row's new cells (afterwards what was stored) and its
// cells as read.
struct RowUpdate {
    qint64 id;
    RowData* row;
    const RowData* asRead;
};

// The statements of one table on one engine: the reading, the conflict-checked writes, the
// check of the columns and the mapping of the cells to the engine's types. Rows are told apart
// by an id the engine gives (SQLite's rowid, the key column on a server).
//
// Each write changes one row or nothing: it throws with the engine's message, or the conflict
// message when the row is no longer as it was read, and then nothing was written and the row
// passed in is left as it was.
class TableWriter {
public:
    virtual ~TableWriter() = default;

    // Every row in the order of the shape.
    virtual void readAll(const std::function<void(qint64 id, RowData&& row)>& take) = 0;
    // The row as stored now; nothing when it is gone.
    virtual std::optional<RowData> readOne(qint64 id) = 0;
    // Writes a new row (the engine fills the key and the defaults of null cells) and puts
    // what was stored into it; returns its id.
    virtual qint64 insert(RowData& row) = 0;
    // Writes the cells that differ from asRead if the stored row still equals asRead in every
    // column; row then holds what was stored.
    virtual void update(qint64 id, RowData& row, const RowData& asRead) = 0;
    // Deletes the row if it still equals asRead in every column.
    virtual void remove(qint64 id, const RowData& asRead) = 0;
    // Many updates, each as update() makes it, sent together (on a server without waiting for
    // each answer). Either every one is written, and true; or none is, and false: a row was
    // changed or deleted by another program, or the engine refused an update. The bank is then as
    // before the call and the rows' cells are undefined. Throws when the engine ended the write
    // scope's transaction itself (a lost connection, a full disk).
    virtual bool updateAll(const std::vector<RowUpdate>& updates) = 0;
};

// One connection to a bank on one engine: it checks and opens tables and owns the transaction
// of the outermost write scope. Made once at start-up (Connection::open).
class Engine {
public:
    virtual ~Engine() = default;

    // Checks the shape's fields against the table's columns ("Field '%1' not found",
    // "Type mismatch for field ...") and gives the table's statements.
    virtual std::unique_ptr<TableWriter> openTable(const TableShape& shape) = 0;

    // Whether posts gathered into one batch (Table::PostBatch) cost fewer round trips than
    // posting them one by one: a server's, where each answer travels the network.
    virtual bool gathersPosts() const = 0;

    // Runs one statement of the program's own SQL, which every engine reads alike, with values
    // bound to $1, $2, ... (null, integers, Booleans, floating point, texts, blobs), and gives
    // each row of its result, in the storage classes a table's rows have. Inside a write scope a
    // failed statement leaves the scope's transaction as it was.
    virtual void query(const QString& sql, const std::vector<QVariant>& values,
                       const std::function<void(const RowData& row)>& take = {}) = 0;

    // Until reset to QDeadlineTimer::Forever, every statement must be answered by the deadline:
    // past it a server's engine gives the statement up and closes its connection (the server
    // then rolls its transaction back; the next statement connects again) and throws. A file
    // answers or fails by itself.
    virtual void setDeadline(QDeadlineTimer deadline) { (void)deadline; }

    // How long a row or table that another program holds is waited for before a write fails.
    virtual void setLockTimeout(int milliseconds) = 0;

    // The outermost write scope: every post until commit() is one transaction.
    virtual void begin() = 0;
    // Whether the transaction begun is still open (an engine may have ended it by itself).
    virtual bool inTransaction() const = 0;
    virtual void commit() = 0;
    // Never throws: it runs while another error is on its way.
    virtual void rollback() noexcept = 0;

    // Whether this connection may read the marks and change the bank: a file says so only when
    // a write fails, a server's roles tell beforehand.
    virtual bool mayEditBank() { return true; }

    // Whether the bank numbers the questions by its own means (a server's function, which takes
    // no row lock a pupil could hold) rather than by the rows' own posts.
    virtual bool numbersQuestions() { return false; }
    // Where it does: numbers the questions 1..N in the order of ids and gives the number of each.
    virtual std::vector<std::pair<qint64, int>> numberQuestions(const std::vector<qint64>& ids) {
        (void)ids;
        return {};
    }
    // Whether the bank's own server starts and scores the runs (journal::startOnServer): the
    // program then need not, and on a pupil's role cannot, read the marks.
    virtual bool scoresRuns() { return false; }
};

extern const char* const kUpdateConflictMessage;
extern const char* const kDeleteConflictMessage;

} // namespace data

#pragma once

#include "data/Engine.h"
#include "data/Location.h"
#include "data/sqlite/Sqlite.h"

#include <QString>
#include <memory>
#include <utility>
#include <vector>

namespace data {

class Table;

// The program's one connection to the question bank. The data source is a path relative to
// the working directory at the moment the connection opens, where an existing file is
// required, or a server's URL (postgresql://...).
class Connection {
public:
    Connection() = default;

    QString connectionString;
    QString dataSource = QStringLiteral("db.mdb");
    bool loginPrompt = false;
    // Another program holding the file briefly is waited for this long, not reported.
    int busyTimeoutMs = 5000;

    void open();
    bool connected() const { return engine_ != nullptr; }
    Engine& engine() const;
    // The file of a bank kept in SQLite; throws for a bank on a server.
    sqlite::Database& database() const;

    // Where the data source says the bank is.
    Location location() const { return Location(dataSource); }

    // For the tables' writes inside a write scope. The engine may end the scope's transaction
    // by itself on a failed statement (a full disk, an I/O error, no memory, a lost connection
    // to a server): every row posted in it is then gone from the bank, and the cursors must
    // not go on believing them.
    // Refuses a write once the scope's transaction is gone, instead of writing in autocommit.
    void beforeWrite();
    // Remembers a row a table has written.
    void written(Table& table, qint64 rowid);
    // After a failed write: when the transaction is gone, the tables take the rows posted in it
    // from the bank again.
    void afterFailedWrite();
    // Whether the engine has ended the open scope's transaction itself.
    bool scopeRolledBack() const;

private:
    friend class CommitOnUnwindScope;
    void takePostedFromFile();
    std::unique_ptr<Engine> engine_;
    int scopes_ = 0; // write scopes alive; the outermost owns the transaction
    std::vector<std::pair<Table*, qint64>> posted_; // in the open scope
    bool rolledBack_ = false; // the open scope's rows were taken from the file again
};

// Commits on unwind: unlike sqlite::Transaction, which rolls back unless committed, this scope
// commits what was posted also when it ends by an exception.
// Gathers the posts made while it lives into one transaction, so that many rows cost one write
// of the journal instead of one each. The rows posted before an error keep their new values:
// the transaction is committed also when the scope ends by an exception. Nested scopes join
// the outermost one. Outside any scope every post is its own write.
// Where the engine itself ends the transaction (it may on a full disk), nothing of it stays in
// the file: the tables take the scope's rows from the file again, and no further write of the
// scope is made.
class CommitOnUnwindScope {
public:
    explicit CommitOnUnwindScope(Connection& connection);
    // Commits unless commit() did; a failing commit while an error is already on its way is
    // rolled back, and that first error is the one reported.
    ~CommitOnUnwindScope();
    CommitOnUnwindScope(const CommitOnUnwindScope&) = delete;
    CommitOnUnwindScope& operator=(const CommitOnUnwindScope&) = delete;

    // Commits now, reporting a failure (the outermost scope only; an inner one does nothing).
    void commit();
    // Whether the engine has ended the transaction by itself after a failure: nothing posted in
    // the scope was kept, and whoever loops over rows must stop.
    bool rolledBack() const { return connection_.scopeRolledBack(); }

private:
    Connection& connection_;
    bool done_ = false;
};

} // namespace data

#pragma once

#include "data/Engine.h"
#include "data/Sqlite.h"

#include <QString>
#include <memory>

namespace data {

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

    // Whether the data source names a server rather than a file.
    static bool isServerUrl(const QString& dataSource);

private:
    friend class CommitOnUnwindScope;
    std::unique_ptr<Engine> engine_;
    int scopes_ = 0; // write scopes alive; the outermost owns the transaction
};

// Commits on unwind: unlike sqlite::Transaction, which rolls back unless committed, this scope
// commits what was posted also when it ends by an exception.
// Gathers the posts made while it lives into one transaction, so that many rows cost one write
// of the journal instead of one each. The rows posted before an error keep their new values:
// the transaction is committed also when the scope ends by an exception. Nested scopes join
// the outermost one. Outside any scope every post is its own write.
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

private:
    Connection& connection_;
    bool done_ = false;
};

} // namespace data

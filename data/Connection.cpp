#include "data/Connection.h"

#include "data/Errors.h"

namespace data {

void Connection::open() {
    if (db_)
        return;
    auto db = std::make_unique<sqlite::Database>(dataSource, sqlite::Database::Mode::ReadWrite);
    db->setBusyTimeout(busyTimeoutMs);
    // A name the engine does not know must be an error, not a text that reads as the name.
    db->disableDoubleQuotedStrings();
    // A file that is not a database opens without complaint; reading its schema tells.
    sqlite::Statement probe(*db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    probe.step();
    db_ = std::move(db);
}

sqlite::Database& Connection::database() const {
    if (!db_)
        throw EDatabaseError(QStringLiteral("Connection is not open"));
    return *db_;
}

CommitOnUnwindScope::CommitOnUnwindScope(Connection& connection) : connection_(connection) {
    sqlite::Database& db = connection_.database();
    // Deferred: the file is locked by the first write, so a scope that writes nothing (a bank
    // numbered already) never waits for another program.
    if (connection_.scopes_ == 0)
        db.exec("BEGIN");
    ++connection_.scopes_;
}

CommitOnUnwindScope::~CommitOnUnwindScope() {
    if (done_)
        return;
    --connection_.scopes_;
    if (connection_.scopes_ > 0)
        return;
    sqlite::Database& db = connection_.database();
    try {
        if (db.inTransaction())
            db.exec("COMMIT");
    } catch (const EEngineError&) {
        // Only reached when the scope ends by an error that is already being reported.
        try {
            db.exec("ROLLBACK");
        } catch (const EEngineError&) {
        }
    }
}

void CommitOnUnwindScope::commit() {
    if (done_)
        return;
    sqlite::Database& db = connection_.database();
    if (connection_.scopes_ == 1 && db.inTransaction())
        db.exec("COMMIT"); // a failure leaves the scope open: the destructor tries again
    done_ = true;
    --connection_.scopes_;
}

} // namespace data

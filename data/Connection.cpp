#include "data/Connection.h"

#include "data/Errors.h"
#include "data/Table.h"

#include <algorithm>

namespace data {

namespace {

[[noreturn]] void raiseRolledBack() {
    throw EEngineError(QStringLiteral("Запись прервана: база данных отменила все изменения этой "
                                      "операции, и программа снова прочитала их строки из файла. "
                                      "Повторите действие."),
                       0);
}

} // namespace

void Connection::open() {
    if (db_)
        return;
    auto db = std::make_unique<sqlite::Database>(dataSource, sqlite::Database::Mode::ReadWrite);
    // A bank may come from a colleague or the internet: nothing in it is trusted to run.
    db->distrustContents();
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

bool Connection::scopeRolledBack() const {
    return scopes_ > 0 && (rolledBack_ || !db_->inTransaction());
}

void Connection::beforeWrite() {
    if (!scopeRolledBack())
        return;
    if (!rolledBack_)
        takePostedFromFile();
    raiseRolledBack();
}

void Connection::written(Table& table, qint64 rowid) {
    if (scopes_ > 0)
        posted_.emplace_back(&table, rowid);
}

void Connection::afterFailedWrite() {
    if (scopeRolledBack() && !rolledBack_)
        takePostedFromFile();
}

void Connection::takePostedFromFile() {
    rolledBack_ = true;
    std::vector<std::pair<Table*, qint64>> posted;
    posted.swap(posted_);
    std::stable_sort(posted.begin(), posted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto from = posted.begin(); from != posted.end();) {
        const auto to = std::find_if(from, posted.end(),
                                     [&](const auto& entry) { return entry.first != from->first; });
        std::vector<qint64> rowids;
        for (auto it = from; it != to; ++it)
            rowids.push_back(it->second);
        from->first->takeRowsFromFile(rowids);
        from = to;
    }
}

CommitOnUnwindScope::CommitOnUnwindScope(Connection& connection) : connection_(connection) {
    sqlite::Database& db = connection_.database();
    // Deferred: the file is locked by the first write, so a scope that writes nothing (a bank
    // numbered already) never waits for another program.
    if (connection_.scopes_ == 0) {
        db.exec("BEGIN");
        connection_.posted_.clear();
        connection_.rolledBack_ = false;
    }
    ++connection_.scopes_;
}

CommitOnUnwindScope::~CommitOnUnwindScope() {
    if (done_)
        return;
    --connection_.scopes_;
    if (connection_.scopes_ > 0)
        return;
    sqlite::Database& db = connection_.database();
    bool kept = false;
    try {
        if (db.inTransaction()) {
            db.exec("COMMIT");
            kept = true;
        }
    } catch (const EEngineError&) {
        // Only reached when the scope ends by an error that is already being reported.
        try {
            db.exec("ROLLBACK");
        } catch (const EEngineError&) {
        }
    }
    if (!kept && !connection_.rolledBack_) {
        // The error already on its way is the one reported; a failure to read the rows again
        // leaves them as believed, and the next write of them is refused as changed.
        try {
            connection_.takePostedFromFile();
        } catch (const Exception&) {
        }
    }
    connection_.posted_.clear();
    connection_.rolledBack_ = false;
}

void CommitOnUnwindScope::commit() {
    if (done_)
        return;
    sqlite::Database& db = connection_.database();
    if (connection_.scopes_ == 1) {
        if (connection_.scopeRolledBack()) {
            if (!connection_.rolledBack_)
                connection_.takePostedFromFile();
            raiseRolledBack();
        }
        try {
            db.exec("COMMIT"); // a failure leaves the scope open: the destructor tries again
        } catch (const EEngineError&) {
            if (!db.inTransaction())
                connection_.takePostedFromFile();
            throw;
        }
        connection_.posted_.clear();
    }
    done_ = true;
    --connection_.scopes_;
}

} // namespace data

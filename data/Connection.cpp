#include "data/Connection.h"

#include "data/Errors.h"
#include "data/Table.h"
#include "data/pg/PgEngine.h"
#include "data/sqlite/SqliteEngine.h"

#include <algorithm>

namespace data {

namespace {

// How long a server or pooler that refuses the connection (full at the start of a lesson,
// restarting) is tried again before the program gives up.
constexpr int kServerPatienceMs = 5000;

[[noreturn]] void raiseRolledBack() {
    throw EEngineError(QStringLiteral("Запись прервана: база данных отменила все изменения этой "
                                      "операции, и программа снова прочитала их строки из банка. "
                                      "Повторите действие."),
                       0);
}

} // namespace

void Connection::open() {
    if (engine_)
        return;
    if (location().isServer())
        engine_ = std::make_unique<PgEngine>(dataSource, busyTimeoutMs, kServerPatienceMs);
    else
        engine_ = std::make_unique<SqliteEngine>(dataSource, busyTimeoutMs);
}

Engine& Connection::engine() const {
    if (!engine_)
        throw EDatabaseError(QStringLiteral("Connection is not open"));
    return *engine_;
}

sqlite::Database& Connection::database() const {
    auto* file = dynamic_cast<SqliteEngine*>(&engine());
    if (!file)
        throw EDatabaseError(QStringLiteral("The bank is not a file"));
    return file->database();
}

bool Connection::scopeRolledBack() const {
    return scopes_ > 0 && (rolledBack_ || !engine_->inTransaction());
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
    Engine& engine = connection_.engine();
    if (connection_.scopes_ == 0) {
        engine.begin();
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
    Engine& engine = connection_.engine();
    bool kept = false;
    try {
        if (engine.inTransaction()) {
            engine.commit();
            kept = true;
        }
    } catch (const Exception&) {
        // Only reached when the scope ends by an error that is already being reported.
        engine.rollback();
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
    Engine& engine = connection_.engine();
    if (connection_.scopes_ == 1) {
        if (connection_.scopeRolledBack()) {
            if (!connection_.rolledBack_)
                connection_.takePostedFromFile();
            raiseRolledBack();
        }
        try {
            engine.commit(); // a failure leaves the scope open: the destructor tries again
        } catch (const EEngineError&) {
            if (!engine.inTransaction())
                connection_.takePostedFromFile();
            throw;
        }
        connection_.posted_.clear();
    }
    done_ = true;
    --connection_.scopes_;
}

} // namespace data

#include "data/Connection.h"

#include "data/Errors.h"
#include "data/PgEngine.h"
#include "data/SqliteEngine.h"

namespace data {

void Connection::open() {
    if (engine_)
        return;
    if (isServerUrl(dataSource))
        engine_ = std::make_unique<PgEngine>(dataSource, busyTimeoutMs);
    else
        engine_ = std::make_unique<SqliteEngine>(dataSource, busyTimeoutMs);
}

bool Connection::isServerUrl(const QString& dataSource) {
    return dataSource.startsWith(QLatin1String("postgresql://")) ||
           dataSource.startsWith(QLatin1String("postgres://"));
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

CommitOnUnwindScope::CommitOnUnwindScope(Connection& connection) : connection_(connection) {
    Engine& engine = connection_.engine();
    if (connection_.scopes_ == 0)
        engine.begin();
    ++connection_.scopes_;
}

CommitOnUnwindScope::~CommitOnUnwindScope() {
    if (done_)
        return;
    --connection_.scopes_;
    if (connection_.scopes_ > 0)
        return;
    Engine& engine = connection_.engine();
    try {
        if (engine.inTransaction())
            engine.commit();
    } catch (const Exception&) {
        // Only reached when the scope ends by an error that is already being reported.
        engine.rollback();
    }
}

void CommitOnUnwindScope::commit() {
    if (done_)
        return;
    Engine& engine = connection_.engine();
    if (connection_.scopes_ == 1 && engine.inTransaction())
        engine.commit(); // a failure leaves the scope open: the destructor tries again
    done_ = true;
    --connection_.scopes_;
}

} // namespace data

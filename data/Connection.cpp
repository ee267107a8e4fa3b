#include "data/Connection.h"

#include "data/Errors.h"

namespace data {

void Connection::open() {
    if (db_)
        return;
    auto db = std::make_unique<sqlite::Database>(dataSource, sqlite::Database::Mode::ReadWrite);
    db->setBusyTimeout(busyTimeoutMs);
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

} // namespace data

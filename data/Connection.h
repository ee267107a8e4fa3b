#pragma once

#include "data/Sqlite.h"

#include <QString>
#include <memory>

namespace data {

// The program's one connection to the question bank. The data source is a path relative to
// the working directory at the moment the connection opens; an existing file is required.
class Connection {
public:
    Connection() = default;

    QString connectionString;
    QString dataSource = QStringLiteral("db.mdb");
    bool loginPrompt = false;
    // Another program holding the file briefly is waited for this long, not reported.
    int busyTimeoutMs = 5000;

    void open();
    bool connected() const { return db_ != nullptr; }
    sqlite::Database& database() const;

private:
    std::unique_ptr<sqlite::Database> db_;
};

} // namespace data

#pragma once

#include "data/Engine.h"
#include "data/sqlite/Sqlite.h"

#include <QString>
#include <memory>

namespace data {

// A bank in a SQLite file.
class SqliteEngine : public Engine {
public:
    // Opens an existing file; another program holding it is waited for busyTimeoutMs.
    SqliteEngine(const QString& path, int busyTimeoutMs);
    // A file its owner opened and made safe to read as it needs (the results journal).
    explicit SqliteEngine(sqlite::Database db) : db_(std::move(db)) {}

    std::unique_ptr<TableWriter> openTable(const TableShape& shape) override;
    bool gathersPosts() const override { return false; }
    void query(const QString& sql, const std::vector<QVariant>& values,
               const std::function<void(const RowData& row)>& take = {}) override;
    void setLockTimeout(int milliseconds) override { db_.setBusyTimeout(milliseconds); }
    void begin() override;
    bool inTransaction() const override;
    void commit() override;
    void rollback() noexcept override;

    sqlite::Database& database() { return db_; }

private:
    sqlite::Database db_;
};

} // namespace data

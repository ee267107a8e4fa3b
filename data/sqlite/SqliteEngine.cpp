#include "data/sqlite/SqliteEngine.h"

#include "data/Errors.h"
#include "data/Field.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <sqlite3.h>
#include <unordered_map>

namespace data {

using sqlite::quoted;
using sqlite::Statement;

const char* const kUpdateConflictMessage =
    "Row cannot be located for updating. Some values may have been changed since it was last "
    "read";
const char* const kDeleteConflictMessage =
    "Row cannot be located for deletion. Some values may have been changed since it was last "
    "read";

namespace {

// ---- the mapping of cells to the engine's storage classes ----------------------------------

constexpr int kMaxFields = 64; // the cells written are kept as a 64-bit set

// The columns firstColumn .. firstColumn + count - 1 of the statement's current row; cells is
// the caller's buffer of count cells, kept from row to row.
RowData rowOf(const Statement& statement, int firstColumn, std::vector<CellView>& cells) {
    const int count = int(cells.size());
    for (int i = 0; i < count; ++i) {
        const int column = firstColumn + i;
        CellView& cell = cells[std::size_t(i)];
        switch (statement.columnType(column)) {
        case SQLITE_INTEGER:
            cell.type = CellType::Integer;
            cell.integer = statement.columnInt(column);
            break;
        case SQLITE_FLOAT:
            cell.type = CellType::Float;
            cell.real = statement.columnDouble(column);
            break;
        case SQLITE_TEXT:
            cell.type = CellType::Text;
            cell.bytes = statement.columnBytes(column);
            break;
        case SQLITE_BLOB:
            cell.type = CellType::Blob;
            cell.bytes = statement.columnBytes(column);
            break;
        default:
            cell.type = CellType::Null;
            break;
        }
    }
    return RowData::fromCells(cells.data(), count);
}

// Binds cell i of the row in its own storage class.
void bindCell(Statement& statement, int parameter, const RowData& row, int i) {
    const CellView cell = row.cellView(i);
    switch (cell.type) {
    case CellType::Null:
        statement.bindNull(parameter);
        break;
    case CellType::Integer:
        statement.bindInt(parameter, cell.integer);
        break;
    case CellType::Float:
        statement.bindDouble(parameter, cell.real);
        break;
    case CellType::Text:
        statement.bindTextBytes(parameter, cell.bytes);
        break;
    case CellType::Blob:
        statement.bindBlob(parameter, cell.bytes);
        break;
    }
}

// The kind of a column from its declared type, as the bank's creators write them.
FieldType columnType(const QString& declared, bool autoIncrementKey) {
    QString type = declared.trimmed().toUpper();
    const qsizetype paren = type.indexOf(QLatin1Char('('));
    if (paren >= 0)
        type = type.left(paren).trimmed();
    if (type == "INTEGER" || type == "INT" || type == "LONG")
        return autoIncrementKey ? FieldType::AutoInc : FieldType::Integer;
    if (type == "SMALLINT")
        return FieldType::SmallInt;
    if (type == "NVARCHAR" || type == "NCHAR" || type == "NTEXT")
        return FieldType::WideString;
    if (type == "VARCHAR" || type == "CHAR" || type == "TEXT")
        return FieldType::String;
    if (type == "BOOLEAN" || type == "BIT")
        return FieldType::Boolean;
    if (type == "REAL" || type == "FLOAT" || type == "DOUBLE")
        return FieldType::Float;
    if (type == "BLOB")
        return FieldType::Blob;
    return FieldType::Other;
}

constexpr std::uint8_t bitOf(CellType type) {
    return std::uint8_t(1u << unsigned(type));
}

// The engine converts a value to the column's affinity as it stores it (an integer written to
// a REAL column becomes a float, a text that looks like a number written to a NUMERIC column
// becomes a number). The affinity follows from the declared type by the engine's documented
// rules, in this order. Texts are left out altogether: a file kept in UTF-16 would change
// bytes that are not valid UTF-8.
std::uint8_t storageClassesKeptAsBound(const QString& declaredType) {
    const QString type = declaredType.toUpper();
    const std::uint8_t always = bitOf(CellType::Null) | bitOf(CellType::Blob);
    if (type.contains(QLatin1String("INT")))
        return always | bitOf(CellType::Integer);
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("CLOB")) ||
        type.contains(QLatin1String("TEXT")))
        return always;
    if (type.contains(QLatin1String("BLOB")) || type.isEmpty())
        return always | bitOf(CellType::Integer) | bitOf(CellType::Float);
    if (type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("FLOA")) ||
        type.contains(QLatin1String("DOUB")))
        return always | bitOf(CellType::Float);
    return always | bitOf(CellType::Integer); // NUMERIC: a float may become an integer
}

// Names compare as the engine compares them: ASCII letters without regard to case, every other
// character exactly ("номер" is not the column "Номер").
bool sameNameAsEngine(const QString& a, const QString& b) {
    const QByteArray x = a.toUtf8(), y = b.toUtf8();
    if (x.size() != y.size())
        return false;
    for (qsizetype i = 0; i < x.size(); ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (fold(x[i]) != fold(y[i]))
            return false;
    }
    return true;
}

// Readies a kept statement for its next use however this use ends, so that it holds no lock.
struct ResetAfterUse {
    Statement& statement;
    ~ResetAfterUse() { statement.reset(); }
};

// Keys of the kept statements: the kind in the top bits, the set of written cells below.
constexpr std::uint64_t kReadKey = 0;
constexpr std::uint64_t kInsertKey = 1ull << 62;
constexpr std::uint64_t kUpdateKey = 2ull << 62;
constexpr std::uint64_t kDeleteKey = 3ull << 62;
// An update that reads the written row back.
constexpr std::uint64_t kReadBackKey = 1ull << 61;

class SqliteWriter : public TableWriter {
public:
    SqliteWriter(sqlite::Database& db, const TableShape& shape)
        : db_(db), shape_(shape), fields_(*shape.fields), count_(int(fields_.size())) {
        if (count_ > kMaxFields)
            raise(QStringLiteral("Too many fields"));
        cells_.resize(std::size_t(count_));
        checkColumns();
    }

    void readAll(const std::function<void(qint64, RowData&&)>& take) override;
    std::optional<RowData> readOne(qint64 id) override;
    qint64 insert(RowData& row) override;
    void update(qint64 id, RowData& row, const RowData& asRead) override;
    void remove(qint64 id, const RowData& asRead) override;
    bool updateAll(const std::vector<RowUpdate>& updates) override;

private:
    [[noreturn]] void raise(const QString& message) const {
        throw EDatabaseError(shape_.objectName + QStringLiteral(": ") + message);
    }
    void checkColumns();
    QString table() const { return quoted(shape_.tableName); }
    QString columnList() const;
    QString rowUnchangedCondition() const;
    // The writing statements are prepared once and kept, by kind and the cells they write.
    template <typename MakeSql> Statement& prepared(std::uint64_t key, MakeSql&& sql) {
        std::unique_ptr<Statement>& slot = statements_[key];
        if (!slot)
            slot = std::make_unique<Statement>(db_, sql());
        return *slot;
    }

    sqlite::Database& db_;
    TableShape shape_;
    const std::vector<std::unique_ptr<Field>>& fields_;
    int count_;
    std::unordered_map<std::uint64_t, std::unique_ptr<Statement>> statements_;
    // Per field: the storage classes (a bit per CellType) its column stores exactly as bound,
    // by the column's affinity. An update of only such cells need not read the row back.
    std::vector<std::uint8_t> keptAsBound_;
    std::vector<CellView> cells_;
};

// The program and the bank tool's check both come here (the tool by opening the bank as the
// program does), so they can never disagree about a bank.
void SqliteWriter::checkColumns() {
    {
        if (const QString why =
                sqlite::tableKindRefusal(db_, QStringLiteral("main"), shape_.tableName);
            !why.isEmpty())
            raise(why);
        Statement list(db_, QStringLiteral("PRAGMA main.table_list(%1)").arg(table()));
        if (list.step()) {
            // Rows are told apart by their rowid, which such a table lacks.
            if (list.columnInt(4) != 0)
                raise(QStringLiteral("Table '%1' is a WITHOUT ROWID table, which this program "
                                     "cannot open")
                          .arg(shape_.tableName));
        }
    }
    // The engine's own message for a missing table or a file that is not a database.
    Statement probe(db_, QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(table()));

    bool autoIncrement = false;
    {
        Statement sql(db_, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                          "name = ?"));
        sql.bindText(1, shape_.tableName);
        if (sql.step())
            autoIncrement =
                sql.columnText(0).contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    }
    struct Column {
        QString name;
        QString type;
        bool key;
        bool generated;
    };
    std::vector<Column> columns;
    // table_xinfo, unlike table_info, lists generated columns, with 2 or 3 in "hidden".
    Statement info(db_, QStringLiteral("PRAGMA main.table_xinfo(%1)").arg(table()));
    while (info.step())
        columns.push_back({info.columnText(1), info.columnText(2), info.columnInt(5) == 1,
                           info.columnInt(6) >= 2});

    keptAsBound_.assign(fields_.size(), 0);
    for (const auto& field : fields_) {
        auto column = std::find_if(columns.begin(), columns.end(), [&](const Column& c) {
            return sameNameAsEngine(c.name, field->fieldName());
        });
        if (column == columns.end())
            raise(QStringLiteral("Field '%1' not found").arg(field->fieldName()));
        // Its value is computed by the file's expression: a write to it fails, and the value
        // shown is not what was written.
        if (column->generated)
            raise(sqlite::computedColumnRefusal(field->fieldName()));
        keptAsBound_[std::size_t(field->index())] = storageClassesKeptAsBound(column->type);
        const FieldType actual = columnType(column->type, column->key && autoIncrement);
        if (!sameKind(field->dataType(), actual)) {
            QString actualName = fieldTypeName(actual);
            if (actual == FieldType::Other)
                actualName = column->type.isEmpty() ? QStringLiteral("Unknown") : column->type;
            raise(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                      .arg(field->fieldName(), fieldTypeName(field->dataType()), actualName));
        }
    }
}

QString SqliteWriter::columnList() const {
    QStringList names;
    for (const auto& field : fields_)
        names << quoted(field->fieldName());
    return names.join(", ");
}

void SqliteWriter::readAll(const std::function<void(qint64, RowData&&)>& take) {
    QString sql = QStringLiteral("SELECT rowid, %1 FROM %2").arg(columnList(), table());
    sql += shape_.orderField
               ? QStringLiteral(" ORDER BY %1, rowid").arg(quoted(shape_.orderField->fieldName()))
               : QStringLiteral(" ORDER BY rowid");
    Statement select(db_, sql);
    while (select.step())
        take(select.columnInt(0), rowOf(select, 1, cells_));
}

std::optional<RowData> SqliteWriter::readOne(qint64 id) {
    // Kept: after a rolled-back draw every row it numbered is read again.
    Statement& select = prepared(kReadKey, [&] {
        return QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(columnList(), table());
    });
    ResetAfterUse reset{select};
    select.bindInt(1, id);
    if (!select.step())
        return std::nullopt;
    return rowOf(select, 0, cells_);
}

// One statement writes the row and gives back what the store holds, its id first: the row is
// written once, or not at all, and the cursor takes the result only when the statement is done.
qint64 SqliteWriter::insert(RowData& row) {
    std::uint64_t cells = 0;
    for (const auto& field : fields_) {
        const int i = field->index();
        // The store fills the key, and its defaults where nothing was set.
        if (!field->readOnly() && row.type(i) != CellType::Null)
            cells |= 1ull << i;
    }
    Statement& insert = prepared(kInsertKey | cells, [&] {
        QStringList names, marks;
        for (const auto& field : fields_)
            if (cells & (1ull << field->index())) {
                names << quoted(field->fieldName());
                marks << QStringLiteral("?");
            }
        const QString returning = QStringLiteral(" RETURNING rowid, ") + columnList();
        return (names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table())
                                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(table(), names.join(", "), marks.join(", "))) +
               returning;
    });
    ResetAfterUse reset{insert};
    int parameter = 1;
    for (int i = 0; i < count_; ++i)
        if (cells & (1ull << i))
            bindCell(insert, parameter++, row, i);
    if (!insert.step())
        raise(QStringLiteral("The new row was not written"));
    const qint64 rowid = insert.columnInt(0);
    RowData stored = rowOf(insert, 1, cells_);
    insert.run();
    row = std::move(stored);
    return rowid;
}

// The optimistic check: the row must still hold every value it had when it was read, compared
// byte for byte whatever the column's collation.
QString SqliteWriter::rowUnchangedCondition() const {
    QString where = QStringLiteral(" WHERE rowid = ?");
    for (const auto& field : fields_)
        where += QStringLiteral(" AND %1 IS ? COLLATE BINARY").arg(quoted(field->fieldName()));
    return where;
}

// The statement changes one row, or none when another program has changed or deleted it since
// it was read. Where the store may convert a written value, the statement gives the row back as
// stored; otherwise the row already holds exactly what is stored, and reading it back (which
// costs the engine more than the update itself) is skipped.
void SqliteWriter::update(qint64 id, RowData& row, const RowData& asRead) {
    std::uint64_t cells = 0;
    bool readBack = false;
    for (int i = 0; i < count_; ++i)
        if (!row.sameCell(i, asRead, i)) {
            cells |= 1ull << i;
            if (!(keptAsBound_[std::size_t(i)] & bitOf(row.type(i))))
                readBack = true;
        }
    if (!cells)
        return; // nothing changed: nothing is written
    Statement& update = prepared(kUpdateKey | (readBack ? kReadBackKey : 0) | cells, [&] {
        QStringList sets;
        for (const auto& field : fields_)
            if (cells & (1ull << field->index()))
                sets << QStringLiteral("%1 = ?").arg(quoted(field->fieldName()));
        return QStringLiteral("UPDATE %1 SET %2").arg(table(), sets.join(", ")) +
               rowUnchangedCondition() +
               (readBack ? QStringLiteral(" RETURNING ") + columnList() : QString());
    });
    ResetAfterUse reset{update};
    int parameter = 1;
    for (int i = 0; i < count_; ++i)
        if (cells & (1ull << i))
            bindCell(update, parameter++, row, i);
    update.bindInt(parameter++, id);
    for (int i = 0; i < count_; ++i)
        bindCell(update, parameter++, asRead, i);
    if (!readBack) {
        update.run();
        if (db_.changes() != 1)
            throw EEngineError(QString::fromLatin1(kUpdateConflictMessage), 0);
        return;
    }
    if (!update.step())
        throw EEngineError(QString::fromLatin1(kUpdateConflictMessage), 0);
    RowData stored = rowOf(update, 0, cells_);
    update.run();
    row = std::move(stored);
}

// A file answers each statement at once: the updates are made one by one under a savepoint.
bool SqliteWriter::updateAll(const std::vector<RowUpdate>& updates) {
    db_.exec("SAVEPOINT infotest_batch");
    try {
        for (const RowUpdate& u : updates)
            update(u.id, *u.row, *u.asRead);
    } catch (const Exception&) {
        if (!db_.inTransaction())
            throw; // the engine rolled back the whole transaction (a full disk)
        db_.exec("ROLLBACK TO infotest_batch");
        db_.exec("RELEASE infotest_batch");
        return false;
    }
    db_.exec("RELEASE infotest_batch");
    return true;
}

void SqliteWriter::remove(qint64 id, const RowData& asRead) {
    Statement& remove = prepared(kDeleteKey, [&] {
        return QStringLiteral("DELETE FROM %1").arg(table()) + rowUnchangedCondition() +
               QStringLiteral(" RETURNING rowid");
    });
    ResetAfterUse reset{remove};
    int parameter = 1;
    remove.bindInt(parameter++, id);
    for (int i = 0; i < count_; ++i)
        bindCell(remove, parameter++, asRead, i);
    if (!remove.step())
        throw EEngineError(QString::fromLatin1(kDeleteConflictMessage), 0);
    remove.run();
}

} // namespace

SqliteEngine::SqliteEngine(const QString& path, int busyTimeoutMs)
    : db_(path, sqlite::Database::Mode::ReadWrite) {
    // A bank may come from a colleague or the internet: nothing in it is trusted to run.
    db_.distrustContents();
    db_.setBusyTimeout(busyTimeoutMs);
    // A name the engine does not know must be an error, not a text that reads as the name.
    db_.disableDoubleQuotedStrings();
    // A file that is not a database opens without complaint; reading its schema tells.
    Statement probe(db_, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    probe.step();
}

void SqliteEngine::query(const QString& sql, const std::vector<QVariant>& values,
                         const std::function<void(const RowData&)>& take) {
    // $1 is a name to SQLite, numbered by where it first appears; ?1 is the first value.
    static const QRegularExpression numbered(QStringLiteral(R"(\$(\d+))"));
    Statement statement(db_, QString(sql).replace(numbered, QStringLiteral("?\\1")));
    for (std::size_t i = 0; i < values.size(); ++i) {
        // Each value as a cell of a row, bound as a table's cells are.
        RowData cell(1);
        cell.setValue(0, values[i]);
        bindCell(statement, int(i) + 1, cell, 0);
    }
    std::vector<CellView> cells(std::size_t(statement.columnCount()));
    while (statement.step())
        if (take)
            take(rowOf(statement, 0, cells));
}

std::unique_ptr<TableWriter> SqliteEngine::openTable(const TableShape& shape) {
    return std::make_unique<SqliteWriter>(db_, shape);
}

// Deferred: the file is locked by the first write, so a scope that writes nothing (a bank
// numbered already) never waits for another program.
void SqliteEngine::begin() {
    db_.exec("BEGIN");
}

bool SqliteEngine::inTransaction() const {
    return db_.inTransaction();
}

void SqliteEngine::commit() {
    db_.exec("COMMIT");
}

void SqliteEngine::rollback() noexcept {
    try {
        db_.exec("ROLLBACK");
    } catch (const EEngineError&) {
        // The engine has rolled back by itself when the transaction failed inside it.
    }
}

} // namespace data

#include "data/pg/PgEngine.h"

#include "data/Errors.h"
#include "data/Field.h"
#include "data/Schema.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <exception>
#include <libpq-fe.h>
#include <optional>

namespace data {

namespace {

// The server's type ids (pg_type.oid) of the types a bank's columns use.
enum : Oid {
    kBool = 16,
    kBytea = 17,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kText = 25,
    kFloat4 = 700,
    kFloat8 = 701,
    kBpchar = 1042,
    kVarchar = 1043,
};

// SQLSTATEs the program answers in its own words.
constexpr const char* kLockNotAvailable = "55P03";
constexpr const char* kInsufficientPrivilege = "42501";
// What the server's own functions raise for values they will never take.
constexpr const char* kInvalidParameterValue = "22023";

using pg::quoted;

// The kind of a column from its type id: int2 and int4 are the integer kinds (int4 with an
// identity or a sequence default is the key), int8 does not fit the program's 32-bit fields.
FieldType columnType(Oid type, bool generated) {
    switch (type) {
    case kInt4:
        return generated ? FieldType::AutoInc : FieldType::Integer;
    case kInt2:
        return FieldType::SmallInt;
    case kVarchar:
    case kText:
    case kBpchar:
        return FieldType::WideString;
    case kBool:
        return FieldType::Boolean;
    case kFloat4:
    case kFloat8:
        return FieldType::Float;
    case kBytea:
        return FieldType::Blob;
    default:
        return FieldType::Other;
    }
}

bool lostConnection(pg_conn* conn, const char* sqlstate) {
    // An error without a SQLSTATE is libpq's own: the connection broke under it.
    if (!conn || PQstatus(conn) == CONNECTION_BAD || !sqlstate)
        return true;
    // Connection exceptions, and the server shutting down or the backend being terminated.
    return sqlstate && (qstrncmp(sqlstate, "08", 2) == 0 || qstrncmp(sqlstate, "57P", 3) == 0);
}

// ---- the mapping of cells to the server's types --------------------------------------------

// One row of a result, columns firstColumn .. firstColumn + cells.size() - 1, in the text
// format; cells and scratch are the caller's buffers, kept from row to row.
RowData rowOf(const PGresult* result, int row, int firstColumn, std::vector<CellView>& cells,
              std::vector<QByteArray>& scratch) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const int column = firstColumn + int(i);
        CellView& cell = cells[i];
        if (PQgetisnull(result, row, column)) {
            cell.type = CellType::Null;
            continue;
        }
        const char* text = PQgetvalue(result, row, column);
        const int length = PQgetlength(result, row, column);
        switch (PQftype(result, column)) {
        case kInt2:
        case kInt4:
        case kInt8:
            cell.type = CellType::Integer;
            cell.integer = std::strtoll(text, nullptr, 10);
            break;
        case kBool:
            // Stored as SQLite keeps a flag: 1 or 0.
            cell.type = CellType::Integer;
            cell.integer = text[0] == 't' ? 1 : 0;
            break;
        case kFloat4:
        case kFloat8:
            cell.type = CellType::Float;
            cell.real = std::strtod(text, nullptr);
            break;
        case kBytea: {
            std::size_t size = 0;
            unsigned char* bytes =
                PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &size);
            scratch[i] = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(size));
            PQfreemem(bytes);
            cell.type = CellType::Blob;
            cell.bytes = scratch[i];
            break;
        }
        default:
            cell.type = CellType::Text;
            cell.bytes = QByteArrayView(text, length);
            break;
        }
    }
    return RowData::fromCells(cells.data(), int(cells.size()));
}

// Adds cell i of the row as a parameter: numbers in their exact text, a text as its bytes, a
// blob in binary. The server converts each to its column's type, and refuses what the column
// cannot hold (a number outside int4, bytes that are not UTF-8) with its own message.
void addCell(PgEngine::Parameters& parameters, const RowData& row, int i) {
    const CellView cell = row.cellView(i);
    switch (cell.type) {
    case CellType::Null:
        parameters.add(QByteArray(), true);
        break;
    case CellType::Integer:
        parameters.add(QByteArray::number(cell.integer));
        break;
    case CellType::Float:
        parameters.add(QByteArray::number(cell.real, 'g', 17));
        break;
    case CellType::Text:
        // Texts go as C strings: a NUL would cut the text short without a word.
        if (cell.bytes.contains('\0'))
            throw EDatabaseError(
                QStringLiteral("Текст содержит нулевой символ, который сервер не может сохранить"));
        parameters.add(cell.bytes.toByteArray());
        break;
    case CellType::Blob:
        parameters.add(cell.bytes.toByteArray(), false, true);
        break;
    }
}

class PgWriter : public TableWriter {
public:
    PgWriter(PgEngine& engine, const TableShape& shape)
        : engine_(engine), shape_(shape), fields_(*shape.fields), count_(int(fields_.size())) {
        if (count_ > 64) // the cells written are kept as a 64-bit set
            raise(QStringLiteral("Too many fields"));
        cells_.resize(std::size_t(count_));
        scratch_.resize(std::size_t(count_));
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
    bool opened(int field) const { return !(unread_ & (1ull << field)); }
    // The optimistic check from parameter first on: the key, then every column opened, as read.
    QString rowUnchangedCondition(int first) const;
    int checkedCount() const { return count_ - std::popcount(unread_); }
    void addRowUnchanged(PgEngine::Parameters& parameters, qint64 id, const RowData& asRead);
    // The cells of row that differ from asRead, a bit per field.
    std::uint64_t changedCells(const RowData& row, const RowData& asRead) const;
    // The update of these cells and its parameters: the new cells, the key, the row as read.
    QByteArray updateSql(std::uint64_t cells, bool returning = true) const;
    // Whether the server stores these cells of the row exactly as sent, so that the row need
    // not come back: nulls, and integers in integer and flag columns (a value the column cannot
    // hold is refused, not converted).
    bool keptAsSent(const RowData& row, std::uint64_t cells) const;
    void addUpdate(PgEngine::Parameters& parameters, qint64 id, const RowData& row,
                   const RowData& asRead, std::uint64_t cells);

    PgEngine& engine_;
    TableShape shape_;
    const std::vector<std::unique_ptr<Field>>& fields_;
    int count_;
    QString key_; // the primary key column, which tells rows apart
    // A bit per field whose column this role may not read (a pupil's, the marks): it is not
    // selected, reads as null and takes no part in the optimistic check.
    std::uint64_t unread_ = 0;
    std::vector<CellView> cells_;
    std::vector<QByteArray> scratch_;
    PgEngine::Parameters parameters_;
};

void PgWriter::checkColumns() {
    // The server's own message for a missing table or one of which this role may read nothing;
    // no column is named, so a column the role may not read does not refuse the table.
    engine_.exec(QStringLiteral("SELECT FROM %1 LIMIT 0").arg(table()).toUtf8());
    PgEngine::Parameters parameters;
    parameters.add(table().toUtf8());
    const PgEngine::Result columns = engine_.execParams(
        "SELECT a.attname, a.atttypid, format_type(a.atttypid, a.atttypmod), "
        "a.attidentity <> '' OR coalesce(pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', "
        "false), EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = a.attrelid AND "
        "i.indisprimary AND i.indnatts = 1 AND i.indkey[0] = a.attnum), "
        "has_column_privilege(a.attrelid, a.attnum, 'SELECT') "
        "FROM pg_attribute a LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND "
        "d.adnum = a.attnum WHERE a.attrelid = $1::regclass AND a.attnum > 0 AND NOT "
        "a.attisdropped ORDER BY a.attnum",
        parameters);
    const int rows = PQntuples(columns.get());
    bool keyReadable = false;
    for (int r = 0; r < rows; ++r)
        if (PQgetvalue(columns.get(), r, 4)[0] == 't') {
            key_ = QString::fromUtf8(PQgetvalue(columns.get(), r, 0));
            keyReadable = PQgetvalue(columns.get(), r, 5)[0] == 't';
        }
    for (const auto& field : fields_) {
        int found = -1;
        for (int r = 0; r < rows && found < 0; ++r)
            if (QString::fromUtf8(PQgetvalue(columns.get(), r, 0)) == field->fieldName())
                found = r;
        if (found < 0)
            raise(QStringLiteral("Field '%1' not found").arg(field->fieldName()));
        const Oid type = Oid(std::strtoul(PQgetvalue(columns.get(), found, 1), nullptr, 10));
        const bool generated = PQgetvalue(columns.get(), found, 3)[0] == 't';
        const FieldType actual = columnType(type, generated);
        if (!sameKind(field->dataType(), actual)) {
            const QString actualName = actual == FieldType::Other
                                           ? QString::fromUtf8(PQgetvalue(columns.get(), found, 2))
                                           : fieldTypeName(actual);
            raise(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                      .arg(field->fieldName(), fieldTypeName(field->dataType()), actualName));
        }
        if (PQgetvalue(columns.get(), found, 5)[0] != 't')
            unread_ |= 1ull << field->index();
    }
    if (key_.isEmpty())
        raise(QStringLiteral("Table '%1' has no primary key of one column, which this program "
                             "needs to tell its rows apart")
                  .arg(shape_.tableName));
    if (!keyReadable)
        raise(QStringLiteral("Нет права читать столбец «%1», по которому различаются строки")
                  .arg(key_));
}

QString PgWriter::columnList() const {
    QStringList names;
    for (const auto& field : fields_)
        names << (opened(field->index()) ? quoted(field->fieldName())
                                         : QStringLiteral("NULL AS ") + quoted(field->fieldName()));
    return names.join(", ");
}

void PgWriter::readAll(const std::function<void(qint64, RowData&&)>& take) {
    QString sql = QStringLiteral("SELECT %1, %2 FROM %3").arg(quoted(key_), columnList(), table());
    sql += shape_.orderField ? QStringLiteral(" ORDER BY %1 NULLS FIRST, %2")
                                   .arg(quoted(shape_.orderField->fieldName()), quoted(key_))
                             : QStringLiteral(" ORDER BY %1").arg(quoted(key_));
    parameters_.clear();
    const PgEngine::Result rows = engine_.execParams(sql.toUtf8(), parameters_);
    const int count = PQntuples(rows.get());
    for (int r = 0; r < count; ++r)
        take(std::strtoll(PQgetvalue(rows.get(), r, 0), nullptr, 10),
             rowOf(rows.get(), r, 1, cells_, scratch_));
}

std::optional<RowData> PgWriter::readOne(qint64 id) {
    parameters_.clear();
    parameters_.add(QByteArray::number(id));
    const PgEngine::Result row =
        engine_.execParams(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = $1")
                               .arg(columnList(), table(), quoted(key_))
                               .toUtf8(),
                           parameters_);
    if (PQntuples(row.get()) == 0)
        return std::nullopt;
    return rowOf(row.get(), 0, 0, cells_, scratch_);
}

qint64 PgWriter::insert(RowData& row) {
    QStringList names, marks;
    parameters_.clear();
    for (const auto& field : fields_) {
        const int i = field->index();
        // The server fills the key, and its defaults where nothing was set.
        if (!field->readOnly() && row.type(i) != CellType::Null) {
            names << quoted(field->fieldName());
            addCell(parameters_, row, i);
            marks << QStringLiteral("$%1").arg(parameters_.values.size());
        }
    }
    const QString sql =
        (names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table())
                         : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                               .arg(table(), names.join(", "), marks.join(", "))) +
        QStringLiteral(" RETURNING %1, %2").arg(quoted(key_), columnList());
    const PgEngine::Result stored =
        engine_.write([&] { return engine_.execParams(sql.toUtf8(), parameters_); });
    if (PQntuples(stored.get()) != 1)
        raise(QStringLiteral("The new row was not written"));
    const qint64 id = std::strtoll(PQgetvalue(stored.get(), 0, 0), nullptr, 10);
    row = rowOf(stored.get(), 0, 1, cells_, scratch_);
    return id;
}

// Every column compared with IS NOT DISTINCT FROM, so that a null read must still be null.
QString PgWriter::rowUnchangedCondition(int first) const {
    QString where = QStringLiteral(" WHERE %1 = $%2").arg(quoted(key_)).arg(first);
    int parameter = first;
    for (const auto& field : fields_)
        if (opened(field->index()))
            where += QStringLiteral(" AND %1 IS NOT DISTINCT FROM $%2")
                         .arg(quoted(field->fieldName()))
                         .arg(++parameter);
    return where;
}

void PgWriter::addRowUnchanged(PgEngine::Parameters& parameters, qint64 id, const RowData& asRead) {
    parameters.add(QByteArray::number(id));
    for (int i = 0; i < count_; ++i)
        if (opened(i))
            addCell(parameters, asRead, i);
}

std::uint64_t PgWriter::changedCells(const RowData& row, const RowData& asRead) const {
    std::uint64_t cells = 0;
    for (int i = 0; i < count_; ++i)
        if (!row.sameCell(i, asRead, i))
            cells |= 1ull << i;
    return cells;
}

bool PgWriter::keptAsSent(const RowData& row, std::uint64_t cells) const {
    for (const auto& field : fields_) {
        const int i = field->index();
        if (!(cells & (1ull << i)) || row.type(i) == CellType::Null)
            continue;
        const FieldType type = field->dataType();
        if (row.type(i) != CellType::Integer ||
            (type != FieldType::Integer && type != FieldType::SmallInt &&
             type != FieldType::AutoInc && type != FieldType::Boolean))
            return false;
    }
    return true;
}

QByteArray PgWriter::updateSql(std::uint64_t cells, bool returning) const {
    QStringList sets;
    for (const auto& field : fields_)
        if (cells & (1ull << field->index()))
            sets << QStringLiteral("%1 = $%2").arg(quoted(field->fieldName())).arg(sets.size() + 1);
    return (QStringLiteral("UPDATE %1 SET %2").arg(table(), sets.join(", ")) +
            rowUnchangedCondition(int(sets.size()) + 1) +
            (returning ? QStringLiteral(" RETURNING ") + columnList() : QString()))
        .toUtf8();
}

void PgWriter::addUpdate(PgEngine::Parameters& parameters, qint64 id, const RowData& row,
                         const RowData& asRead, std::uint64_t cells) {
    for (int i = 0; i < count_; ++i)
        if (cells & (1ull << i))
            addCell(parameters, row, i);
    addRowUnchanged(parameters, id, asRead);
}

// The server may convert what it stores (a number into a text column), so the row always
// comes back as stored: it costs nothing more than the round trip the update makes anyway.
void PgWriter::update(qint64 id, RowData& row, const RowData& asRead) {
    const std::uint64_t cells = changedCells(row, asRead);
    if (!cells)
        return; // nothing changed: nothing is written
    parameters_.clear();
    addUpdate(parameters_, id, row, asRead, cells);
    const PgEngine::Result stored =
        engine_.write([&] { return engine_.execParams(updateSql(cells), parameters_); });
    if (PQntuples(stored.get()) != 1)
        throw EEngineError(QString::fromLatin1(kUpdateConflictMessage), 0);
    row = rowOf(stored.get(), 0, 0, cells_, scratch_);
}

// One savepoint for the whole batch instead of one per row, and the updates sent without
// waiting for each answer: a round trip for them all instead of three each. Whatever refuses
// one of them (no row matched, any error of the server) rolls the batch back to its savepoint.
bool PgWriter::updateAll(const std::vector<RowUpdate>& updates) {
    // A statement is known by its cells, with the top bit set where the row need not come back;
    // its text is made once for all the rows that change those cells.
    constexpr std::uint64_t kNotReturning = 1ull << 63;
    std::vector<std::size_t> changed;
    std::vector<std::uint64_t> keyOf(updates.size());
    std::unordered_map<std::uint64_t, QByteArray> statements;
    for (std::size_t i = 0; i < updates.size(); ++i) {
        const std::uint64_t cells = changedCells(*updates[i].row, *updates[i].asRead);
        if (!cells)
            continue;
        changed.push_back(i);
        const bool returning = !keptAsSent(*updates[i].row, cells);
        keyOf[i] = cells | (returning ? 0 : kNotReturning);
        if (!statements.count(keyOf[i]))
            statements[keyOf[i]] = updateSql(cells, returning);
    }
    if (changed.empty())
        return true;
    engine_.exec("SAVEPOINT infotest_batch");
    bool refused = false;
    try {
        engine_.pipeline(
            changed.size(),
            [&](std::size_t k, PgEngine::Parameters& parameters) {
                const std::size_t i = changed[k];
                addUpdate(parameters, updates[i].id, *updates[i].row, *updates[i].asRead,
                          keyOf[i] & ~kNotReturning);
                return statements[keyOf[i]];
            },
            [&](std::size_t k, pg_result* result) {
                const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
                if (status == PGRES_COMMAND_OK && qstrcmp(PQcmdTuples(result), "1") == 0)
                    return;
                if (status != PGRES_TUPLES_OK || PQntuples(result) != 1)
                    refused = true;
                else if (!refused)
                    *updates[changed[k]].row = rowOf(result, 0, 0, cells_, scratch_);
            });
    } catch (const Exception&) {
        if (!engine_.inTransaction())
            throw; // the connection is lost, and the transaction with it
        refused = true;
    }
    if (refused)
        engine_.exec("ROLLBACK TO SAVEPOINT infotest_batch");
    engine_.exec("RELEASE SAVEPOINT infotest_batch");
    return !refused;
}

void PgWriter::remove(qint64 id, const RowData& asRead) {
    parameters_.clear();
    addRowUnchanged(parameters_, id, asRead);
    const QString sql = QStringLiteral("DELETE FROM %1").arg(table()) + rowUnchangedCondition(1) +
                        QStringLiteral(" RETURNING ") + quoted(key_);
    const PgEngine::Result gone =
        engine_.write([&] { return engine_.execParams(sql.toUtf8(), parameters_); });
    if (PQntuples(gone.get()) != 1)
        throw EEngineError(QString::fromLatin1(kDeleteConflictMessage), 0);
}

} // namespace

PgEngine::PgEngine(const QString& url, int lockTimeoutMs, int patienceMs)
    : url_(url.toUtf8()), lockTimeoutMs_(lockTimeoutMs) {
    // libpq gives no SQLSTATE for a refused connection: full, restarting and unreachable look
    // alike, and each may pass within seconds, so each is tried again until the patience ends.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        try {
            connect();
            return;
        } catch (const EEngineError& e) {
            if (waited.elapsed() >= patienceMs)
                throw EEngineError(
                    QStringLiteral("Сервер банка вопросов не принял соединение. Что проверить на "
                                   "сервере, сказано в разделе «Школьный сервер» файла README.\n") +
                        e.message(),
                    0);
        }
        QThread::msleep(250);
    }
}

PgEngine::~PgEngine() = default;

void PgEngine::connect() {
    conn_.close();
    inTransaction_ = false;
    // A server may have been set up anew meanwhile.
    numbersQuestions_.reset();
    scoresRuns_.reset();
    pg::Connection made(QString::fromUtf8(url_), "infotest");
    if (!made.ok())
        throw EEngineError(made.lastError(), 0);
    conn_ = std::move(made);
}

bool PgEngine::connected() const {
    return conn_.ok();
}

void PgEngine::ensureConnected() {
    if (conn_.ok())
        return;
    if (inTransaction_)
        return; // the caller's statement fails, and its scope learns of the loss
    try {
        connect();
    } catch (const EEngineError& e) {
        throw EEngineError(QStringLiteral("Связь с сервером банка вопросов потеряна; "
                                          "несохранённое изменение не записано.\n") +
                               e.message(),
                           0);
    }
}

PgEngine::Result PgEngine::check(Result result) {
    if (result.succeeded())
        return result;
    raise(result.get());
}

void PgEngine::raise(pg_result* result) {
    const char* sqlstate = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    QString server = QString::fromUtf8(result ? PQresultErrorMessage(result) : "").trimmed();
    if (server.isEmpty())
        server = conn_ ? conn_.lastError() : QString();
    // Only a caller's write scope holds a change; a statement outside one, or a query in the
    // transaction the engine gave it alone, may be a read (the journal window, the bank tool's
    // reports), and its message must not speak of a change.
    const bool writing = inTransaction_ && !queryOwnsTransaction_;
    if (lostConnection(conn_.get(), sqlstate)) {
        // The server has rolled back whatever the connection had not committed.
        inTransaction_ = false;
        if (conn_ && PQstatus(conn_.get()) != CONNECTION_BAD)
            conn_.close();
        throw EEngineError((writing ? QStringLiteral("Связь с сервером банка вопросов потеряна; "
                                                     "несохранённое изменение не записано.\n")
                                    : QStringLiteral("Связь с сервером банка вопросов "
                                                     "потеряна.\n")) +
                               server,
                           0);
    }
    if (sqlstate && qstrcmp(sqlstate, kInsufficientPrivilege) == 0)
        throw EEngineError((writing ? QStringLiteral("Изменять банк вопросов может только "
                                                     "учитель: у этой учётной записи сервера нет "
                                                     "на это прав.\n")
                                    : QStringLiteral("У этой учётной записи сервера нет на "
                                                     "это прав.\n")) +
                               server,
                           0);
    if (sqlstate && qstrcmp(sqlstate, kLockNotAvailable) == 0)
        throw EEngineError(QStringLiteral("Эти данные дольше %1 с заняты другой программой; "
                                          "изменение не записано.\n")
                                   .arg(lockTimeoutMs_ / 1000.0) +
                               server,
                           0);
    if (sqlstate && qstrcmp(sqlstate, kInvalidParameterValue) == 0)
        throw EEngineError(server, EEngineError::kRefusedForGood);
    throw EEngineError(server, 0);
}

bool PgEngine::mayEditBank() {
    const QByteArray sql =
        QStringLiteral("SELECT has_column_privilege('\"%1\"', '%2', 'SELECT') "
                       "AND has_table_privilege('\"%3\"', 'UPDATE')")
            .arg(QString::fromUtf8(kOptionTable), QString::fromUtf8(kCorrectColumn),
                 QString::fromUtf8(kQuestionTable))
            .toUtf8();
    const Result result = exec(sql);
    return PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 0)[0] == 't';
}

namespace {
constexpr char kNumberFunction[] = "Пронумеровать_вопросы";
}

bool PgEngine::numbersQuestions() {
    // A server set up before has no such function: there the pupils' role writes the numbers.
    if (!numbersQuestions_)
        numbersQuestions_ =
            mayCall(quoted(QString::fromUtf8(kNumberFunction)).toUtf8() + "(integer[])");
    return *numbersQuestions_;
}

std::vector<std::pair<qint64, int>> PgEngine::numberQuestions(const std::vector<qint64>& ids) {
    const QByteArray function = quoted(QString::fromUtf8(kNumberFunction)).toUtf8();
    QByteArray list = "{";
    for (const qint64 id : ids)
        list += (list.size() > 1 ? "," : "") + QByteArray::number(id);
    Parameters parameters;
    parameters.add(list + '}');
    const Result rows = write([&] {
        return execParams("SELECT \"id\", \"Номер\" FROM " + function + "($1::integer[])",
                          parameters);
    });
    std::vector<std::pair<qint64, int>> numbers;
    for (int r = 0; r < rows.rows(); ++r)
        numbers.emplace_back(rows.integer(r, 0), int(rows.integer(r, 1)));
    return numbers;
}

bool PgEngine::scoresRuns() {
    if (!scoresRuns_)
        scoresRuns_ = mayCall(quoted(QStringLiteral("Начать_тест")).toUtf8() +
                              "(integer[], integer[], integer[], text, text, text, text)") &&
                      mayCall(quoted(QStringLiteral("Завершить_тест")).toUtf8() +
                              "(uuid, integer[], integer[])");
    return *scoresRuns_;
}

bool PgEngine::mayCall(const QByteArray& signature) {
    Parameters parameters;
    parameters.add(signature);
    const Result found = execParams("SELECT to_regprocedure($1) IS NOT NULL AND "
                                    "has_function_privilege(to_regprocedure($1), 'EXECUTE')",
                                    parameters);
    return PQgetvalue(found.get(), 0, 0)[0] == 't';
}

PgEngine::Result PgEngine::run(const QByteArray& sql, const Parameters* parameters) {
    ensureConnected();
    if (deadline_.isForever())
        return check(parameters ? conn_.run(sql, *parameters) : conn_.run(sql));
    std::optional<Result> answered = conn_.runBy(sql, parameters, deadline_);
    if (answered)
        return check(std::move(*answered));
    // The connection is closed: its transaction is gone on the server with it.
    inTransaction_ = false;
    throw EEngineError(QStringLiteral("Сервер банка вопросов не ответил вовремя; связь с ним "
                                      "закрыта и будет открыта снова."),
                       0);
}

PgEngine::Result PgEngine::exec(const QByteArray& sql) {
    return run(sql, nullptr);
}

PgEngine::Result PgEngine::execParams(const QByteArray& sql, const Parameters& parameters) {
    return run(sql, &parameters);
}

void PgEngine::pipeline(std::size_t count,
                        const std::function<QByteArray(std::size_t, Parameters&)>& statement,
                        const std::function<void(std::size_t, pg_result*)>& take) {
    ensureConnected();
    if (!conn_)
        raise(nullptr);
    std::optional<pg::Pipeline> mode;
    try {
        mode.emplace(conn_);
    } catch (const pg::EServerError&) {
        raise(nullptr);
    }
    pg_conn* conn = conn_.get();
    // libpq reads the answers that arrive while it still sends, so the server never waits for
    // this side to read.
    std::exception_ptr refused;
    Parameters parameters;
    std::size_t sent = 0;
    for (; sent < count; ++sent) {
        parameters.clear();
        QByteArray sql;
        try {
            sql = statement(sent, parameters);
        } catch (const Exception&) {
            refused = std::current_exception();
            break;
        }
        if (!conn_.send(sql, parameters))
            break;
    }
    PQpipelineSync(conn);
    // Each statement's result ends with a null; two nulls in a row, or a broken connection,
    // mean that no more answers come, and waiting on would never end.
    Result lost;
    bool synced = false, lastWasNull = false;
    for (std::size_t i = 0;;) {
        pg_result* result = PQgetResult(conn);
        if (!result) {
            if (lastWasNull || PQstatus(conn) == CONNECTION_BAD)
                break;
            lastWasNull = true;
            continue;
        }
        lastWasNull = false;
        Result owned(result);
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_PIPELINE_SYNC) {
            synced = true;
            break;
        }
        if (status == PGRES_FATAL_ERROR &&
            lostConnection(conn, PQresultErrorField(result, PG_DIAG_SQLSTATE)) && !lost) {
            lost = std::move(owned);
            continue;
        }
        if (i < sent)
            take(i, status == PGRES_PIPELINE_ABORTED ? nullptr : result);
        ++i;
    }
    mode.reset();
    if (lost || !synced || (sent < count && !refused))
        raise(lost.get());
    if (refused)
        std::rethrow_exception(refused);
}

void PgEngine::query(const QString& sql, const std::vector<QVariant>& values,
                     const std::function<void(const RowData&)>& take) {
    Parameters parameters;
    for (const QVariant& value : values) {
        // Each value as a cell of a row, mapped as a table's cells are.
        RowData cell(1);
        cell.setValue(0, value);
        addCell(parameters, cell, 0);
    }
    queryOwnsTransaction_ = !inTransaction_;
    const Result rows = [&] {
        try {
            return write([&] { return execParams(sql.toUtf8(), parameters); });
        } catch (...) {
            queryOwnsTransaction_ = false;
            throw;
        }
    }();
    queryOwnsTransaction_ = false;
    std::vector<CellView> cells(std::size_t(PQnfields(rows.get())));
    std::vector<QByteArray> scratch(cells.size());
    for (int r = 0; take && r < rows.rows(); ++r)
        take(rowOf(rows.get(), r, 0, cells, scratch));
}

std::unique_ptr<TableWriter> PgEngine::openTable(const TableShape& shape) {
    return std::make_unique<PgWriter>(*this, shape);
}

// A session's SET would stay on the server's connection, which a pooler hands to other programs
// between transactions: the setting is made local to each transaction instead.
void PgEngine::setLockTimeout(int milliseconds) {
    lockTimeoutMs_ = milliseconds;
    if (inTransaction_)
        applyLockTimeout();
}

void PgEngine::applyLockTimeout() {
    exec(QByteArrayLiteral("SET LOCAL lock_timeout = ") + QByteArray::number(lockTimeoutMs_));
}

void PgEngine::begin() {
    // One round trip: the transaction and its setting.
    try {
        exec(QByteArrayLiteral("BEGIN; SET LOCAL lock_timeout = ") +
             QByteArray::number(lockTimeoutMs_));
    } catch (...) {
        if (conn_.ok())
            conn_.run("ROLLBACK");
        throw;
    }
    inTransaction_ = true;
}

void PgEngine::commit() {
    const Result result = exec("COMMIT");
    inTransaction_ = false;
    // A transaction the server had aborted ends in a rollback, which COMMIT reports as done.
    if (qstrcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0)
        throw EEngineError(QStringLiteral("Сервер отменил транзакцию: изменения не записаны."), 0);
}

void PgEngine::rollback() noexcept {
    if (!inTransaction_)
        return;
    inTransaction_ = false;
    if (conn_.ok())
        conn_.run("ROLLBACK");
}

void PgEngine::rollbackToSavepoint() noexcept {
    if (inTransaction_ && conn_.ok())
        conn_.run("ROLLBACK TO SAVEPOINT infotest_post");
}

} // namespace data

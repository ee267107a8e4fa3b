#include "data/sqlite/Sqlite.h"

#include "data/Errors.h"
#include "data/Row.h"

#include <QElapsedTimer>
#include <sqlite3.h>

namespace data::sqlite {

struct Database::StepClock {
    QElapsedTimer sinceStep;
    qint64 limitMs = 10000;
    bool stepping = false; // a step through our wrappers is running
    bool ended = false;    // the last step was ended by the limit
};

namespace {

// The engine calls this every few thousand instructions of a running statement. The clock
// starts at the first call of a step, not with the step: most steps (a row of a query) end
// before it, and reading the clock for each of a million rows costs more than the engine's
// own work on some of them. The limit so starts a few thousand instructions late.
int stopLongStep(void* context) {
    auto* clock = static_cast<Database::StepClock*>(context);
    if (!clock->stepping)
        return 0;
    if (!clock->sinceStep.isValid()) {
        clock->sinceStep.start();
        return 0;
    }
    if (clock->sinceStep.elapsed() < clock->limitMs)
        return 0;
    clock->ended = true;
    return 1;
}

constexpr int kInstructionsBetweenChecks = 10000;

// The code is the extended one (SQLITE_READONLY_ROLLBACK tells a hot journal from a file
// without write access); code & 0xFF is the primary code.
[[noreturn]] void raiseFor(sqlite3* db, int code, const Database::StepClock* clock = nullptr) {
    if (db && clock && clock->ended && sqlite3_errcode(db) == SQLITE_INTERRUPT)
        throw EEngineError(
            QStringLiteral("Запрос к банку шёл дольше %1 с и прерван: такого не бывает с обычным "
                           "банком, в этом файле что-то работает без конца. Возьмите банк из "
                           "надёжного источника или проверьте его: infotest-bank check")
                .arg(clock->limitMs / 1000.0),
            SQLITE_INTERRUPT);
    const char* text = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw EEngineError(QString::fromUtf8(text), db ? sqlite3_extended_errcode(db) : code);
}

} // namespace

QString engineTooOld(int versionNumber, const char* versionText) {
    if (versionNumber >= kOldestEngine)
        return {};
    return QStringLiteral("Библиотека SQLite %1 слишком стара: программе нужна версия 3.35 или "
                          "новее. Обновите пакет libsqlite3.")
        .arg(QString::fromLatin1(versionText));
}

void Database::Closer::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

Database::~Database() = default;
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&&) noexcept = default;

Database::Database(const QString& path, Mode mode) : clock_(std::make_unique<StepClock>()) {
    if (const QString old = engineTooOld(sqlite3_libversion_number(), sqlite3_libversion());
        !old.isEmpty())
        throw EEngineError(old, SQLITE_ERROR);
    int flags = 0;
    switch (mode) {
    case Mode::ReadWrite:
        flags = SQLITE_OPEN_READWRITE;
        break;
    case Mode::ReadWriteCreate:
        flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    case Mode::ReadOnly:
        flags = SQLITE_OPEN_READONLY;
        break;
    }
    // Each connection is used by one thread at a time: the engine need not lock every call.
    flags |= SQLITE_OPEN_NOMUTEX;
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, flags, nullptr);
    db_.reset(raw); // closed even when the open failed
    if (rc != SQLITE_OK)
        raiseFor(raw, rc);
    sqlite3_extended_result_codes(raw, 0);
}

void Database::distrustContents() {
    const auto set = [this](int option, int value) {
        if (sqlite3_db_config(db_.get(), option, value, nullptr) != SQLITE_OK)
            raise();
    };
    set(SQLITE_DBCONFIG_DEFENSIVE, 1);
    set(SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0);
    set(SQLITE_DBCONFIG_ENABLE_TRIGGER, 0);
    set(SQLITE_DBCONFIG_ENABLE_VIEW, 0);
    sqlite3_progress_handler(db_.get(), kInstructionsBetweenChecks, stopLongStep, clock_.get());
}

void Database::setStatementTimeLimit(int milliseconds) {
    clock_->limitMs = milliseconds;
}

void Database::startStep() const {
    clock_->sinceStep.invalidate();
    clock_->stepping = true;
    clock_->ended = false;
}

void Database::endStep() const {
    // A statement run on the handle directly, past our wrappers, is never timed.
    clock_->stepping = false;
}

void Database::exec(const char* sql) {
    startStep();
    char* error = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &error);
    endStep();
    if (rc != SQLITE_OK) {
        sqlite3_free(error);
        raise();
    }
}

void Database::disableDoubleQuotedStrings() {
    for (int option : {SQLITE_DBCONFIG_DQS_DML, SQLITE_DBCONFIG_DQS_DDL})
        if (sqlite3_db_config(db_.get(), option, 0, nullptr) != SQLITE_OK)
            raise();
}

bool Database::inTransaction() const {
    return sqlite3_get_autocommit(db_.get()) == 0;
}

void Database::setBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(db_.get(), milliseconds);
}

qint64 Database::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(db_.get());
}

int Database::changes() const {
    return sqlite3_changes(db_.get());
}

bool Database::isReadOnly() const {
    return sqlite3_db_readonly(db_.get(), "main") == 1;
}

void Database::raise() const {
    raiseFor(db_.get(), sqlite3_errcode(db_.get()), clock_.get());
}

void Statement::Finalizer::operator()(sqlite3_stmt* stmt) const {
    sqlite3_finalize(stmt);
}

Statement::Statement(const Database& db, const QString& sql) : db_(db) {
    sqlite3_stmt* raw = nullptr;
    const QByteArray text = sql.toUtf8();
    const int rc =
        sqlite3_prepare_v2(db.handle(), text.constData(), int(text.size()), &raw, nullptr);
    stmt_.reset(raw);
    if (rc != SQLITE_OK)
        db.raise();
}

void Statement::bind(int index, const QVariant& value) {
    switch (cellTypeOf(value)) {
    case CellType::Null:
        bindNull(index);
        return;
    case CellType::Integer:
        bindInt(index, value.toLongLong());
        return;
    case CellType::Float:
        bindDouble(index, value.toDouble());
        return;
    case CellType::Blob:
        // columnValue gives a text whose bytes are not UTF-8 as a QByteArray: it goes back as
        // that same text.
        bindTextBytes(index, value.toByteArray());
        return;
    case CellType::Text:
        bindText(index, value.toString());
        return;
    }
}

void Statement::bindText(int index, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (sqlite3_bind_text(stmt_.get(), index, bytes.constData(), int(bytes.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        db_.raise();
}

void Statement::bindInt(int index, qint64 value) {
    if (sqlite3_bind_int64(stmt_.get(), index, value) != SQLITE_OK)
        db_.raise();
}

void Statement::bindNull(int index) {
    if (sqlite3_bind_null(stmt_.get(), index) != SQLITE_OK)
        db_.raise();
}

void Statement::bindDouble(int index, double value) {
    if (sqlite3_bind_double(stmt_.get(), index, value) != SQLITE_OK)
        db_.raise();
}

void Statement::bindTextBytes(int index, QByteArrayView utf8) {
    if (sqlite3_bind_text(stmt_.get(), index, utf8.data(), int(utf8.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        db_.raise();
}

void Statement::bindBlob(int index, QByteArrayView bytes) {
    // A zero-length blob needs a non-null pointer, or it binds as null.
    static const char nothing = 0;
    const char* data = bytes.isEmpty() ? &nothing : bytes.data();
    if (sqlite3_bind_blob(stmt_.get(), index, data, int(bytes.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        db_.raise();
}

bool Statement::step() {
    db_.startStep();
    const int rc = sqlite3_step(stmt_.get());
    db_.endStep();
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    db_.raise();
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(stmt_.get());
    sqlite3_clear_bindings(stmt_.get());
}

int Statement::columnCount() const {
    return sqlite3_column_count(stmt_.get());
}

QString Statement::columnName(int column) const {
    return QString::fromUtf8(sqlite3_column_name(stmt_.get(), column));
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

qint64 Statement::columnInt(int column) const {
    return sqlite3_column_int64(stmt_.get(), column);
}

QString Statement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_.get(), column));
    return QString::fromUtf8(text, sqlite3_column_bytes(stmt_.get(), column));
}

int Statement::columnType(int column) const {
    return sqlite3_column_type(stmt_.get(), column);
}

double Statement::columnDouble(int column) const {
    return sqlite3_column_double(stmt_.get(), column);
}

QByteArrayView Statement::columnBytes(int column) const {
    // The pointer first, then the size, as the engine asks.
    const void* data = sqlite3_column_type(stmt_.get(), column) == SQLITE_BLOB
                           ? sqlite3_column_blob(stmt_.get(), column)
                           : static_cast<const void*>(sqlite3_column_text(stmt_.get(), column));
    return QByteArrayView(static_cast<const char*>(data),
                          sqlite3_column_bytes(stmt_.get(), column));
}

QVariant Statement::columnValue(int column) const {
    switch (sqlite3_column_type(stmt_.get(), column)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt_.get(), column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt_.get(), column));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_.get(), column));
        const int size = sqlite3_column_bytes(stmt_.get(), column);
        const QByteArray bytes(text, size);
        if (QUtf8StringView(bytes).isValidUtf8())
            return QVariant(QString::fromUtf8(bytes));
        return QVariant(bytes);
    }
    default: {
        const auto* blob = static_cast<const char*>(sqlite3_column_blob(stmt_.get(), column));
        return QVariant(QByteArray(blob, sqlite3_column_bytes(stmt_.get(), column)));
    }
    }
}

Transaction::Transaction(Database& db, Kind kind) : db_(db) {
    db_.exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.exec("ROLLBACK");
        } catch (const EEngineError&) {
            // The engine rolls back by itself when the transaction failed inside it.
        }
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}

QString quoted(const QString& identifier) {
    QString text = identifier;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString tableKindRefusal(const Database& db, const QString& schema, const QString& table) {
    Statement list(db,
                   QStringLiteral("PRAGMA %1.table_list(%2)").arg(quoted(schema), quoted(table)));
    if (!list.step())
        return {};
    const QString kind = list.columnText(2);
    if (kind == QLatin1String("view"))
        return QStringLiteral("«%1» в этом файле — представление (VIEW), а не таблица; "
                              "программа открывает только таблицы банка")
            .arg(table);
    if (kind != QLatin1String("table"))
        return QStringLiteral("«%1» в этом файле — виртуальная таблица (%2), а не "
                              "обычная таблица банка; программа такую не открывает")
            .arg(table, kind);
    return {};
}

QString computedColumnRefusal(const QString& column) {
    return QStringLiteral("поле «%1» в этом файле вычисляемое (GENERATED ALWAYS), а не "
                          "хранимое; программа открывает только хранимые поля")
        .arg(column);
}

} // namespace data::sqlite

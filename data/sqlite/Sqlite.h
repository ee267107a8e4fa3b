#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace data::sqlite {

// One open database file. Every failure becomes an EEngineError with the engine's message.
class Database {
public:
    enum class Mode { ReadWrite, ReadWriteCreate, ReadOnly };

    // Opens an existing file (ReadWrite never creates one). A write-protected file opens
    // read-only; the first write then fails with the engine's message.
    Database(const QString& path, Mode mode);
    ~Database();
    Database(Database&&) noexcept;
    Database& operator=(Database&&) noexcept;

    // Sets what a file from elsewhere needs: it may carry triggers and views, code that would
    // run on our statements, and schema tricks that a careless write could follow. Triggers and
    // views stay off (the bank's schema has none), the schema's own SQL may call only harmless
    // functions, the defensive mode refuses writes that could damage the file's structure, and a
    // statement that runs far longer than any of ours can is ended.
    void distrustContents();
    // How long one step of a statement may run before distrustContents() ends it.
    void setStatementTimeLimit(int milliseconds);

    void exec(const char* sql);
    void setBusyTimeout(int milliseconds);
    // Makes a double-quoted name that matches no column an error instead of a text literal.
    void disableDoubleQuotedStrings();
    // Whether a transaction is open (BEGIN without its COMMIT or ROLLBACK yet).
    bool inTransaction() const;
    qint64 lastInsertRowId() const;
    int changes() const;
    bool isReadOnly() const;
    sqlite3* handle() const { return db_.get(); }

    [[noreturn]] void raise() const;
    // The clock of the statement time limit runs from the start of each step to its end.
    void startStep() const;
    void endStep() const;

    // Kept apart from the object so that its address stays when a Database is moved.
    struct StepClock;

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    // Declared first so that it outlives the handle whose progress handler reads it.
    std::unique_ptr<StepClock> clock_;
    std::unique_ptr<sqlite3, Closer> db_;
};

// The oldest engine the program works with (RETURNING came in 3.35), and the refusal for an
// older one; empty when the library is new enough.
inline constexpr int kOldestEngine = 3035000;
QString engineTooOld(int versionNumber, const char* versionText);

// A prepared statement. Values are always bound, never spliced into the text.
class Statement {
public:
    Statement(const Database& db, const QString& sql);

    // Binds by 1-based position. A QByteArray binds as text with those exact bytes (the
    // stored bytes of a text that is not valid UTF-8), so that comparisons with it match.
    void bind(int index, const QVariant& value);
    void bindText(int index, const QString& text);
    void bindInt(int index, qint64 value);
    void bindNull(int index);
    void bindDouble(int index, double value);
    // Exact storage classes: the bytes as text, or as a blob.
    void bindTextBytes(int index, QByteArrayView utf8);
    void bindBlob(int index, QByteArrayView bytes);

    // One step: true while a row is there, false when done.
    bool step();
    // Runs to completion, for statements that return no rows.
    void run();
    void reset();

    int columnCount() const;
    QString columnName(int column) const;
    bool isNull(int column) const;
    qint64 columnInt(int column) const;
    QString columnText(int column) const;
    // The engine's storage class of the column in this row (SQLITE_INTEGER, ...).
    int columnType(int column) const;
    double columnDouble(int column) const;
    // The stored bytes of a text (UTF-8 as stored) or blob column, valid until the next step.
    QByteArrayView columnBytes(int column) const;
    // The column as the program keeps a cell: null, integer, float, text (as QString when the
    // bytes are valid UTF-8, else as the raw QByteArray) or blob (QByteArray).
    QVariant columnValue(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* stmt) const;
    };
    const Database& db_;
    std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
};

// Runs a block in one transaction: committed by commit(), rolled back otherwise (the opposite
// default of data::CommitOnUnwindScope).
class Transaction {
public:
    // A writer takes the write lock at once; a reader reads one snapshot and locks nothing.
    enum class Kind { Write, Read };
    explicit Transaction(Database& db, Kind kind = Kind::Write);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void commit();

private:
    Database& db_;
    bool done_ = false;
};

// Quotes an identifier of the program's own (table and column names).
QString quoted(const QString& identifier);

// What a file may carry in place of a table the program reads: a view or a virtual table runs
// the file's code on every read or write, a computed column shows what was never written.
// Why the table (in schema, "main" or an attached one) is not a plain table; empty when it is,
// or when there is none of that name.
QString tableKindRefusal(const Database& db, const QString& schema, const QString& table);
QString computedColumnRefusal(const QString& column);

} // namespace data::sqlite

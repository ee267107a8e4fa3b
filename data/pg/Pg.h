#pragma once

#include "data/Errors.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

// The program's one client of libpq: the connection and its settings, the results, the
// transactions and pipeline mode, each owned by an object that frees it on every path. Every
// value travels as a parameter, never inside the SQL text.
namespace data::pg {

// A failure the server or libpq reports, with its message on one line and its SQLSTATE
// ("42501"; empty when the connection itself failed).
class EServerError : public Exception {
public:
    EServerError(const QString& message, const QString& sqlState);
    const QString& sqlState() const { return sqlState_; }

private:
    QString sqlState_;
};

// An identifier (a table, a column, a role) quoted for the server's SQL.
QString quoted(const QString& identifier);

// Whether a connection URI names a password; throws when libpq cannot read the URI.
bool carriesPassword(const QString& url);

// A password the user typed for this run of the program: every connection made afterwards
// passes it to libpq as its password parameter, unless its URI names one. Kept in memory only,
// never written anywhere; empty forgets it.
void usePassword(const QString& password);
// Whether the server at url asks for a password that neither the URI, ~/.pgpass nor the one
// given to usePassword() supplies: the caller may ask the user for it.
bool passwordWanted(const QString& url);

// Parameters in libpq's form: text, or binary where binary is set; a null value is null.
struct Parameters {
    std::vector<QByteArray> values;
    std::vector<bool> isNull;
    std::vector<bool> binary;
    void add(const QByteArray& value, bool null = false, bool inBinary = false) {
        values.push_back(value);
        isNull.push_back(null);
        binary.push_back(inBinary);
    }
    void clear() {
        values.clear();
        isNull.clear();
        binary.clear();
    }
    // From values: null, qint64/int, bool, QString (text), QByteArray (bytea, binary).
    static Parameters of(const std::vector<QVariant>& values);
};

// The rows of one statement, every value in text form; cleared when it goes.
class Result {
public:
    Result() = default;
    explicit Result(pg_result* result) : result_(result) {}

    pg_result* get() const { return result_.get(); }
    explicit operator bool() const { return result_ != nullptr; }
    int rows() const;
    bool isNull(int row, int column) const;
    QByteArray bytes(int row, int column) const;
    QString text(int row, int column) const;
    qint64 integer(int row, int column) const;
    bool flag(int row, int column) const;
    QByteArray binary(int row, int column) const; // a bytea column
    int affected() const;
    // Whether the statement succeeded (with rows or without).
    bool succeeded() const;
    // The server's SQLSTATE; null when there is none (libpq's own failure).
    const char* sqlState() const;

private:
    struct Clear {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Clear> result_;
};

// One connection, closed when it goes; it can be moved, never copied. Every statement is sent
// from here, unnamed, with its values: nothing is left on the server's connection between
// transactions, so that a pooler in transaction pooling may hand it to another program next.
class Connection {
public:
    Connection() = default;
    // Connects with the program's settings and the URI's own on top of them; check ok().
    Connection(const QString& url, const char* applicationName = "infotest");

    bool ok() const;
    explicit operator bool() const { return conn_ != nullptr; }
    pg_conn* get() const { return conn_.get(); }
    // libpq's message on the connection's last failure.
    QString lastError() const;
    // Closes the connection (a lost one, so that the next statement connects again).
    void close();

    // Runs a statement, or a script of several without values; the result may have failed.
    Result run(const QByteArray& sql) const;
    // Runs one statement with its values, of the types given (the server infers those not
    // given); the result may have failed.
    Result run(const QByteArray& sql, const Parameters& parameters,
               const std::vector<unsigned>& types = {}) const;
    // run() that waits for the answer only until the deadline (parameters null: a script without
    // values). Past it, the server is asked to cancel the statement and the connection is
    // closed, so that nothing of its transaction can still commit: nothing is returned then.
    std::optional<Result> runBy(const QByteArray& sql, const Parameters* parameters,
                                QDeadlineTimer deadline);
    // Sends one statement with its values in pipeline mode without waiting for its answer.
    bool send(const QByteArray& sql, const Parameters& parameters) const;

    // For LISTEN: the socket to watch for the server's messages (-1 without a connection), and
    // the channels notified since the last call, read without waiting. Throws EServerError
    // when the connection is lost.
    int socket() const;
    std::vector<QString> takeNotifications() const;

    // For the bank tool's commands, which answer a failure with EServerError: run() that
    // throws it.
    Result exec(const QString& sql, const std::vector<QVariant>& params = {}) const;
    void execScript(const char* sql) const;

private:
    struct Finish {
        void operator()(pg_conn* conn) const;
    };
    std::unique_ptr<pg_conn, Finish> conn_;
};

// Throws EServerError for a failed result.
Result checked(Result result, const Connection& connection);

// One transaction: committed by commit(), rolled back otherwise.
class Transaction {
public:
    explicit Transaction(const Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    const Connection& connection_;
    bool done_ = false;
};

// Pipeline mode while it lives: left when it goes, on every path, with every answer still due
// read and dropped first, so that the connection takes plain statements again.
class Pipeline {
public:
    // Throws EServerError when the connection cannot enter pipeline mode.
    explicit Pipeline(Connection& connection);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

private:
    Connection& connection_;
};

} // namespace data::pg

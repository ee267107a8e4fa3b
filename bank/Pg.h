#pragma once

#include "bank/Csv.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

struct pg_conn;
struct pg_result;

// The bank tool's connection to a school's server (libpq). Every value travels as a parameter,
// never inside the SQL text; identifiers that come from the user go through quotedName.
namespace bank::pg {

// Whether a bank argument names a server rather than a file: a libpq connection URI.
bool isServerUrl(const QString& bank);

// A failure the server or libpq reports, with its message and SQLSTATE ("42501"; empty when
// the connection itself failed).
class EServerError : public EToolError {
public:
    EServerError(const QString& message, const QString& sqlState);
    const QString& sqlState() const { return sqlState_; }

private:
    QString sqlState_;
};

// The rows of one statement, every value in text form.
class Result {
public:
    int rows() const;
    bool isNull(int row, int column) const;
    QByteArray bytes(int row, int column) const;
    QString text(int row, int column) const;
    qint64 integer(int row, int column) const;
    bool flag(int row, int column) const;
    QByteArray binary(int row, int column) const; // a bytea column
    int affected() const;

private:
    friend class Connection;
    void check(pg_conn* conn) const;
    struct Clear {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Clear> result_;
};

class Connection {
public:
    // Connects with the URI's own settings; a dead network is reported within seconds. A URI
    // that carries a password is refused: a command line is visible to every user.
    explicit Connection(const QString& url);

    // Runs one statement. Parameters: null, qint64/int, bool, QString (text), QByteArray (bytea).
    Result exec(const QString& sql, const std::vector<QVariant>& params = {}) const;
    // Runs a script of several statements that take no values (the schema).
    void execScript(const char* sql) const;
    // A name the user chose (a role), quoted for SQL.
    QString quotedName(const QString& name) const;

private:
    struct Finish {
        void operator()(pg_conn* conn) const;
    };
    std::unique_ptr<pg_conn, Finish> conn_;
};

// One transaction: committed by commit(), rolled back otherwise.
class Transaction {
public:
    explicit Transaction(const Connection& connection);
    ~Transaction();
    void commit();

private:
    const Connection& connection_;
    bool done_ = false;
};

// A server failure as the user should read it: what it means for the bank and what to do.
QString explainServerError(const EServerError& e, const QString& bank);

} // namespace bank::pg

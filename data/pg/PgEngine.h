#pragma once

#include "data/Engine.h"
#include "data/pg/Pg.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace data {

// A bank on a PostgreSQL server, reached through libpq with a connection URI.
//
// Every value is sent as a parameter of an unnamed statement, and the lock timeout is set in
// each transaction: nothing is left on the server's connection between transactions, so that a
// pooler in transaction pooling can serve a school's PCs with few. The server's errors are told
// apart by their SQLSTATE: a lock held past lock_timeout, a refused permission and a lost
// connection each get their own message. A connection that was lost is made again by the next
// operation; the transaction it carried is gone on the server, so nothing of it was written.
class PgEngine : public Engine {
public:
    // lockTimeoutMs: how long a row or table locked by another program is waited for.
    // A server or pooler that does not accept the connection (full, restarting) is tried again
    // for patienceMs before the failure is reported.
    PgEngine(const QString& url, int lockTimeoutMs, int patienceMs = 0);
    ~PgEngine() override;

    std::unique_ptr<TableWriter> openTable(const TableShape& shape) override;
    bool gathersPosts() const override { return true; }
    void query(const QString& sql, const std::vector<QVariant>& values,
               const std::function<void(const RowData& row)>& take = {}) override;
    void setLockTimeout(int milliseconds) override;
    void setDeadline(QDeadlineTimer deadline) override { deadline_ = deadline; }
    void begin() override;
    bool inTransaction() const override { return inTransaction_; }
    // False once the connection was lost; the next statement connects again.
    bool connected() const;
    void commit() override;
    void rollback() noexcept override;
    // By the role's privileges, whatever its name: the pupils' role reads no mark.
    bool mayEditBank() override;
    // Through the server's numbering function wherever server-init made it: every role's draw.
    bool numbersQuestions() override;
    std::vector<std::pair<qint64, int>> numberQuestions(const std::vector<qint64>& ids) override;
    // Wherever server-init made the functions that start and finish a run.
    bool scoresRuns() override;

    PgEngine(const PgEngine&) = delete;
    PgEngine& operator=(const PgEngine&) = delete;

    using Result = pg::Result;
    using Parameters = pg::Parameters;

    // Runs a statement without parameters; throws the server's error.
    Result exec(const QByteArray& sql);
    // Runs sql with its values, sent as an unnamed statement (nothing stays prepared on the
    // connection, so that a pooler in transaction pooling may hand it to another client).
    Result execParams(const QByteArray& sql, const Parameters& parameters);
    // Sends count statements without waiting for each answer (pipeline mode):
    // statement(i, parameters) gives the i-th one's text and fills its values, take(i, result) sees
    // its result, null for one the server skipped after an earlier error. Throws as exec()
    // does when the connection is lost, and what statement() throws once the rest is answered.
    void pipeline(std::size_t count,
                  const std::function<QByteArray(std::size_t, Parameters&)>& statement,
                  const std::function<void(std::size_t, pg_result*)>& take);
    // Runs one write: inside a transaction under a savepoint, so that a refused write leaves
    // the transaction and the rows posted before it as they were; outside one, in a transaction
    // of its own, which carries the lock timeout.
    template <typename Write> auto write(Write&& run) -> decltype(run()) {
        if (!inTransaction_) {
            begin();
            try {
                auto result = run();
                commit();
                return result;
            } catch (...) {
                rollback();
                throw;
            }
        }
        exec("SAVEPOINT infotest_post");
        try {
            auto result = run();
            exec("RELEASE SAVEPOINT infotest_post");
            return result;
        } catch (...) {
            rollbackToSavepoint();
            throw;
        }
    }

private:
    void connect();
    // The lock timeout for the transaction in progress.
    void applyLockTimeout();
    // Connects again when the connection was lost (outside a transaction only: a transaction
    // in progress is gone with its connection, and its scope must learn of that).
    void ensureConnected();
    [[noreturn]] void raise(pg_result* result);
    Result check(Result result);
    // Runs a statement (parameters null: a script without values) by the deadline, if one is set.
    Result run(const QByteArray& sql, const Parameters* parameters);
    void rollbackToSavepoint() noexcept;
    // Whether the function of this signature exists and this role may call it.
    bool mayCall(const QByteArray& signature);

    QByteArray url_;
    int lockTimeoutMs_;
    pg::Connection conn_;
    bool inTransaction_ = false;
    // Whether the transaction in progress is one query() opened for itself alone.
    bool queryOwnsTransaction_ = false;
    QDeadlineTimer deadline_{QDeadlineTimer::Forever};
    // What the server's functions allow this role, asked once per connection.
    std::optional<bool> numbersQuestions_;
    std::optional<bool> scoresRuns_;
};

} // namespace data

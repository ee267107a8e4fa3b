#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

class PgServer;

// A connection pooler of the tests' own in front of a PgServer, as a school's admin sets one
// up: PgBouncer in transaction pooling, listening only on a Unix socket in a temporary folder,
// stopped and its folder removed when the object goes (or when the test program dies).
// Every transaction may get another server connection, and with a pool of one, two clients
// share the same one: whatever a client leaves on its server connection reaches the other.
class PgBouncer {
public:
    // Empty when the pooler can be started; else why not, for QSKIP.
    static QString unavailableReason();

    // The roles that may connect through it (the pooler lets in only those it lists).
    PgBouncer(const PgServer& server, const QStringList& users, int poolSize = 1);
    ~PgBouncer();
    PgBouncer(const PgBouncer&) = delete;
    PgBouncer& operator=(const PgBouncer&) = delete;

    // A libpq URI of the database "infotest" (or another) through the pooler, as the role given.
    QString url(const QString& user = QStringLiteral("postgres"),
                const QString& database = QStringLiteral("infotest")) const;
    // What the pooler wrote: its refusals and the reasons it closed a client's connection.
    QString log() const;

    // Stops, its socket gone, and starts again on the same one.
    void stop();
    void start();

    // One pooler per test program in front of PgServer::shared(), with a pool of one, started
    // on first use; it lets in the superuser and the roles the suites make.
    static PgBouncer& shared();

private:
    void stopWhenTestsEnd();

    QTemporaryDir dir_;
    qint64 pid_ = 0;
};

} // namespace testsupport

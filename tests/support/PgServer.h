#pragma once

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A test program that aborts or is killed by ctest's timeout runs no destructor: a shell outside
// it waits until the program has gone, then runs the clean-up given (stopping a server, removing
// its folder).
void cleanUpWhenTestsEnd(const QString& cleanUp);

// A PostgreSQL server of the tests' own: a cluster made in a temporary folder, listening only
// on a Unix socket in that folder, stopped and removed when the object goes. Run as the
// unprivileged account "postgres" when the tests run as root (the server refuses root).
// Nothing here touches a cluster of the system's.
class PgServer {
public:
    // The server's programs; they are not on PATH.
    static QString binDir();
    // Empty when the server can be started; else why not, for QSKIP.
    static QString unavailableReason();

    PgServer();
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // A libpq URI of the database "infotest" (or another) as the superuser, or as another role.
    QString url(const QString& user = QStringLiteral("postgres"),
                const QString& database = QStringLiteral("infotest")) const;
    QString socketDir() const { return dir_.path(); }

    // Stops at once, as a crash or a pulled cable would (the clients see their connections
    // drop), and starts again on the same socket.
    void stopImmediately();
    // Stops as an admin's restart does: every session is ended with the server's error first.
    void stopFast();
    void start();
    bool running() const { return running_; }

    // Runs SQL as the superuser through psql; throws with psql's message on a failure.
    void psql(const QString& sql) const;

    // One server per test program, started on first use.
    static PgServer& shared();

private:
    void stopWhenTestsEnd();
    void stop(const QString& mode);
    void run(const QString& program, const QStringList& arguments) const;

    QTemporaryDir dir_;
    bool running_ = false;
};

} // namespace testsupport

#include "tests/support/PgServer.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr int kPort = 5432; // on the folder's own socket: no clash with any other server
const char* kAccount = "postgres";

bool asRoot() {
    return geteuid() == 0;
}

} // namespace

QString PgServer::binDir() {
    return QStringLiteral("/usr/lib/postgresql/15/bin");
}

QString PgServer::unavailableReason() {
    for (const char* program : {"initdb", "pg_ctl", "postgres"})
        if (!QFileInfo(binDir() + QLatin1Char('/') + QLatin1String(program)).isExecutable())
            return QStringLiteral("PostgreSQL 15 is not installed (no %1/%2): the server's "
                                  "tests are skipped")
                .arg(binDir(), QLatin1String(program));
    if (asRoot() && !getpwnam(kAccount))
        return QStringLiteral("the account \"postgres\" to run the test server as is missing: "
                              "the server's tests are skipped");
    if (!QFileInfo(QStringLiteral("/usr/bin/psql")).isExecutable())
        return QStringLiteral("psql is not installed: the server's tests are skipped");
    return QString();
}

PgServer::PgServer() {
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder for the test server");
    if (asRoot()) {
        const passwd* account = getpwnam(kAccount);
        if (!account || chown(QFile::encodeName(dir_.path()).constData(), account->pw_uid,
                              account->pw_gid) != 0)
            throw std::runtime_error("cannot give the test server's folder to postgres");
    }
    const QString data = dir_.filePath(QStringLiteral("data"));
    run(binDir() + QStringLiteral("/initdb"),
        {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("postgres"),
         QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
         QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")});
    start();
    stopWhenTestsEnd();
    psql(QStringLiteral("CREATE DATABASE infotest"));
}

void cleanUpWhenTestsEnd(const QString& cleanUp) {
    const QString script = QStringLiteral("while [ -d /proc/%1 ]; do sleep 1; done; %2")
                               .arg(QString::number(getpid()), cleanUp);
    QProcess watcher;
    watcher.setProgram(QStringLiteral("/bin/sh"));
    watcher.setArguments({QStringLiteral("-c"), script});
    // Its output must not hold ctest's pipes open after the program has ended.
    watcher.setStandardInputFile(QProcess::nullDevice());
    watcher.setStandardOutputFile(QProcess::nullDevice());
    watcher.setStandardErrorFile(QProcess::nullDevice());
    if (!watcher.startDetached())
        throw std::runtime_error("cannot start the test server's watcher");
}

void PgServer::stopWhenTestsEnd() {
    const QString data = dir_.filePath(QStringLiteral("data"));
    const QString stop =
        QStringLiteral("%1%2/pg_ctl -D '%3' -m immediate -w stop")
            .arg(asRoot() ? QStringLiteral("runuser -u postgres -- ") : QString(), binDir(), data);
    cleanUpWhenTestsEnd(QStringLiteral("[ -f '%1/postmaster.pid' ] && %2; rm -rf '%3'")
                            .arg(data, stop, dir_.path()));
}

PgServer::~PgServer() {
    if (running_) {
        try {
            run(binDir() + QStringLiteral("/pg_ctl"),
                {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                 QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
        } catch (const std::exception&) {
            // The folder goes anyway; a server left over would have lost its files.
        }
    }
}

void PgServer::start() {
    // fsync off is safe for a stop that kills the server (the system keeps what was written);
    // synchronous_commit off is not: a commit acknowledged but still in the server's memory
    // would be gone after stopImmediately().
    const QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses='' -c fsync=off -c "
                                           "full_page_writes=off")
                                .arg(dir_.path())
                                .arg(kPort);
    run(binDir() + QStringLiteral("/pg_ctl"),
        {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")), QStringLiteral("-o"), options,
         QStringLiteral("-l"), dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
         QStringLiteral("start")});
    running_ = true;
}

void PgServer::stopImmediately() {
    stop(QStringLiteral("immediate"));
}

void PgServer::stopFast() {
    stop(QStringLiteral("fast"));
}

void PgServer::stop(const QString& mode) {
    run(binDir() + QStringLiteral("/pg_ctl"),
        {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")), QStringLiteral("-m"), mode,
         QStringLiteral("-w"), QStringLiteral("stop")});
    running_ = false;
}

QString PgServer::url(const QString& user, const QString& database) const {
    // One arg() call: the encoded path holds % signs of its own.
    return QStringLiteral("postgresql:///%1?host=%2&port=%3&user=%4")
        .arg(database, QString::fromUtf8(QUrl::toPercentEncoding(dir_.path())),
             QString::number(kPort), user);
}

void PgServer::psql(const QString& sql) const {
    run(QStringLiteral("/usr/bin/psql"),
        {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
         QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), dir_.path(), QStringLiteral("-p"),
         QString::number(kPort), QStringLiteral("-U"), QStringLiteral("postgres"),
         QStringLiteral("-d"),
         sql.startsWith(QLatin1String("CREATE DATABASE")) ? QStringLiteral("postgres")
                                                          : QStringLiteral("infotest"),
         QStringLiteral("-c"), sql});
}

// As root the server's programs run as postgres (runuser keeps the environment lean).
void PgServer::run(const QString& program, const QStringList& arguments) const {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(dir_.path());
    if (asRoot())
        process.start(QStringLiteral("/usr/sbin/runuser"),
                      QStringList{QStringLiteral("-u"), QString::fromLatin1(kAccount),
                                  QStringLiteral("--"), program} +
                          arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        throw std::runtime_error((QFileInfo(program).fileName() + QStringLiteral(" failed: ") +
                                  QString::fromLocal8Bit(process.readAll()))
                                     .toStdString());
}

PgServer& PgServer::shared() {
    static PgServer server;
    return server;
}

} // namespace testsupport

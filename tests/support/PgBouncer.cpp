#include "tests/support/PgBouncer.h"

#include "tests/support/PgServer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <csignal>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

namespace {

const char* kProgram = "/usr/sbin/pgbouncer";
const char* kAccount = "postgres"; // PgBouncer refuses to run as root
constexpr int kPort = 6432;

bool asRoot() {
    return geteuid() == 0;
}

// A name in PgBouncer's files: double quotes, doubled inside.
QString quoted(QString name) {
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

void write(const QString& path, const QString& text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace

QString PgBouncer::unavailableReason() {
    if (!QFileInfo(QString::fromLatin1(kProgram)).isExecutable())
        return QStringLiteral("PgBouncer is not installed (no %1): the pooler's tests are skipped")
            .arg(QString::fromLatin1(kProgram));
    return PgServer::unavailableReason();
}

PgBouncer::PgBouncer(const PgServer& server, const QStringList& users, int poolSize) {
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder for the test pooler");
    QString userList;
    for (const QString& user : users)
        userList += quoted(user) + QStringLiteral(" \"\"\n");
    write(dir_.filePath(QStringLiteral("users.txt")), userList);
    // Transaction pooling as Debian's package runs it, with only the settings a school's admin
    // would change; no TCP port, and every database of the server reached on its own socket.
    write(dir_.filePath(QStringLiteral("pgbouncer.ini")),
          QStringLiteral("[databases]\n"
                         "* = host=%1 port=5432\n"
                         "[pgbouncer]\n"
                         "listen_addr =\n"
                         "listen_port = %2\n"
                         "unix_socket_dir = %3\n"
                         "auth_type = trust\n"
                         "auth_file = %3/users.txt\n"
                         "pool_mode = transaction\n"
                         "default_pool_size = %4\n"
                         "max_client_conn = 400\n"
                         "server_login_retry = 1\n"
                         "logfile = %3/pgbouncer.log\n"
                         "pidfile = %3/pgbouncer.pid\n")
              .arg(server.socketDir(), QString::number(kPort), dir_.path(),
                   QString::number(poolSize)));
    if (asRoot()) {
        const passwd* account = getpwnam(kAccount);
        if (!account || chown(QFile::encodeName(dir_.path()).constData(), account->pw_uid,
                              account->pw_gid) != 0)
            throw std::runtime_error("cannot give the test pooler's folder to postgres");
    }
    start();
    stopWhenTestsEnd();
}

void PgBouncer::start() {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList arguments{QStringLiteral("-d"),
                                dir_.filePath(QStringLiteral("pgbouncer.ini"))};
    if (asRoot())
        process.start(QStringLiteral("/usr/sbin/runuser"),
                      QStringList{QStringLiteral("-u"), QString::fromLatin1(kAccount),
                                  QStringLiteral("--"), QString::fromLatin1(kProgram)} +
                          arguments);
    else
        process.start(QString::fromLatin1(kProgram), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error(
            "pgbouncer failed: " + QString::fromLocal8Bit(process.readAll()).toStdString() +
            log().toStdString());
    // The daemon writes its pid file once it listens.
    QFile pidFile(dir_.filePath(QStringLiteral("pgbouncer.pid")));
    for (int i = 0; i < 100 && pid_ == 0; ++i) {
        if (pidFile.open(QIODevice::ReadOnly)) {
            pid_ = pidFile.readAll().trimmed().toLongLong();
            pidFile.close();
        }
        if (pid_ == 0)
            QThread::msleep(50);
    }
    if (pid_ == 0)
        throw std::runtime_error("pgbouncer did not start: " + log().toStdString());
}

// As the server's: a watcher stops the pooler if the test program dies without its destructor,
// by the pid file, which names the pooler started last.
void PgBouncer::stopWhenTestsEnd() {
    cleanUpWhenTestsEnd(QStringLiteral("kill -TERM $(cat '%1/pgbouncer.pid') 2>/dev/null; sleep 1; "
                                       "rm -rf '%1'")
                            .arg(dir_.path()));
}

PgBouncer::~PgBouncer() {
    stop();
}

void PgBouncer::stop() {
    if (pid_ > 0) {
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
        for (int i = 0; i < 100 && ::kill(static_cast<pid_t>(pid_), 0) == 0; ++i)
            QThread::msleep(20);
    }
    pid_ = 0;
    QFile::remove(dir_.filePath(QStringLiteral("pgbouncer.pid")));
}

PgBouncer& PgBouncer::shared() {
    static PgBouncer pooler(PgServer::shared(),
                            {QStringLiteral("postgres"), QStringLiteral("pupil"),
                             QStringLiteral("учителя"), QStringLiteral("ученики")});
    return pooler;
}

QString PgBouncer::url(const QString& user, const QString& database) const {
    return QStringLiteral("postgresql:///%4?host=%1&port=%2&user=%3")
        .arg(QString::fromUtf8(QUrl::toPercentEncoding(dir_.path())), QString::number(kPort),
             QString::fromUtf8(QUrl::toPercentEncoding(user)),
             QString::fromUtf8(QUrl::toPercentEncoding(database)));
}

QString PgBouncer::log() const {
    QFile file(dir_.filePath(QStringLiteral("pgbouncer.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace testsupport

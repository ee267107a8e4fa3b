#include "data/journal/JournalQueue.h"

#include "data/Connection.h"
#include "data/Errors.h"
#include "data/pg/PgEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace data::journal {

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Opens a file of the queue's own without following a link, creating it with flags & O_CREAT.
// Whatever else stands under its name (a link put in its place, a folder, a device, another
// user's file) is never written through: it is moved aside under the name + ".refused", and a
// fresh file takes its place. Returns -1 with errno set when that cannot be done, and when the
// file is missing and not to be created (errno ENOENT).
int openOwnFile(const QString& path, int flags) {
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Non-blocking: a FIFO put in the file's place must not hang the program.
        const int fd = ::open(name.constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        struct stat info {};
        if (fd >= 0) {
            if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                return fd;
            }
            ::close(fd);
        } else if (errno == ENOENT || ::lstat(name.constData(), &info) != 0 ||
                   (S_ISREG(info.st_mode) && info.st_uid == ::geteuid())) {
            return -1; // missing, or the file's own failure (permissions, a full disk)
        }
        if (::rename(name.constData(), (name + ".refused").constData()) != 0)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Several programs of one user (a classroom on one shared account) share the queue; this lock
// beside it keeps an append and a flush from crossing. The kernel drops it with the process.
class QueueLock {
public:
    explicit QueueLock(const QString& queuePath) {
        const QString lockPath = queuePath + QStringLiteral(".lock");
        QDir().mkpath(QFileInfo(queuePath).absolutePath());
        fd_ = openOwnFile(lockPath, O_RDWR | O_CREAT);
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0)
            throw Exception(
                QStringLiteral("не удаётся открыть «%1»: %2").arg(lockPath, systemError()));
    }
    ~QueueLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;

private:
    int fd_ = -1;
};

QJsonArray choicesToJson(const ShownChoices& choices) {
    QJsonArray array;
    for (const ShownChoice& choice : choices)
        array.append(QJsonObject{{QStringLiteral("text"), choice.text},
                                 {QStringLiteral("correct"), choice.correct}});
    return array;
}

bool choicesFromJson(const QJsonValue& value, ShownChoices& choices) {
    const QJsonArray array = value.toArray();
    if (size_t(array.size()) != choices.size())
        return false;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject choice = array[i].toObject();
        choices[size_t(i)] = {choice[QStringLiteral("text")].toString(),
                              choice[QStringLiteral("correct")].toBool()};
    }
    return true;
}

// The open bank's own connection when it is the server of the journal: a run goes through it
// rather than through a second connection.
PgEngine* bankServer(Connection* bank, const QString& url) {
    if (bank && bank->connected() && bank->dataSource == url)
        return dynamic_cast<PgEngine*>(&bank->engine());
    return nullptr;
}

// A connection of its own to the server of a journal. It waits for locks as the bank's
// connection does (0 would mean for ever).
std::unique_ptr<PgEngine> connectServer(const QString& url) {
    return std::make_unique<PgEngine>(url, Connection().busyTimeoutMs);
}

} // namespace

QString journalOf(const Connection& bank) {
    // A bank on a server keeps its journal in the same database.
    if (bank.location().isServer())
        return bank.dataSource;
    // The bank as it was opened, whatever the working directory is now.
    const char* file = sqlite3_db_filename(bank.database().handle(), "main");
    return journalPathForBank(QString::fromUtf8(file ? file : kBankFileName));
}

void storeNow(const QString& journalPath, const RunRecord& run, int busyTimeoutMs,
              Connection* bank) {
    if (!Location(journalPath).isServer()) {
        JournalStore(journalPath, JournalStore::Mode::Record, busyTimeoutMs).store(run);
        return;
    }
    if (PgEngine* own = bankServer(bank, journalPath)) {
        storeOnServer(*own, run);
        return;
    }
    storeOnServer(*connectServer(journalPath), run);
}

QByteArray recordToJson(const QString& journalPath, const RunRecord& run) {
    QJsonArray answers;
    for (const Answer& a : run.answers)
        answers.append(QJsonObject{{QStringLiteral("questionId"), a.questionId},
                                   {QStringLiteral("question"), a.question},
                                   {QStringLiteral("options"), choicesToJson(a.options)},
                                   {QStringLiteral("explanations"), choicesToJson(a.explanations)},
                                   {QStringLiteral("option"), a.chosenOption},
                                   {QStringLiteral("explanation"), a.chosenExplanation},
                                   {QStringLiteral("optionId"), a.chosenOptionId},
                                   {QStringLiteral("explanationId"), a.chosenExplanationId}});
    QJsonObject object{{QStringLiteral("journal"), journalPath},
                       {QStringLiteral("uuid"), run.uuid},
                       {QStringLiteral("started"), run.started.toUTC().toString(Qt::ISODate)},
                       {QStringLiteral("ended"), run.ended.toUTC().toString(Qt::ISODate)},
                       {QStringLiteral("host"), run.host},
                       {QStringLiteral("login"), run.login},
                       {QStringLiteral("fullName"), run.fullName},
                       {QStringLiteral("pupil"), run.pupil},
                       {QStringLiteral("points"), run.points},
                       {QStringLiteral("finished"), run.finished},
                       {QStringLiteral("answers"), answers}};
    if (run.grade)
        object.insert(QStringLiteral("grade"), *run.grade);
    if (!run.serverToken.isEmpty())
        object.insert(QStringLiteral("token"), run.serverToken);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool recordFromJson(const QByteArray& line, QString& journalPath, RunRecord& run) {
    QJsonParseError error{};
    const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
    if (error.error != QJsonParseError::NoError || !o.contains(QStringLiteral("uuid")) ||
        !o.contains(QStringLiteral("answers")))
        return false;
    journalPath = o[QStringLiteral("journal")].toString();
    run.uuid = o[QStringLiteral("uuid")].toString();
    run.started = QDateTime::fromString(o[QStringLiteral("started")].toString(), Qt::ISODate);
    run.ended = QDateTime::fromString(o[QStringLiteral("ended")].toString(), Qt::ISODate);
    run.host = o[QStringLiteral("host")].toString();
    run.login = o[QStringLiteral("login")].toString();
    run.fullName = o[QStringLiteral("fullName")].toString();
    run.pupil = o[QStringLiteral("pupil")].toString();
    run.points = o[QStringLiteral("points")].toInt();
    if (o.contains(QStringLiteral("grade")))
        run.grade = o[QStringLiteral("grade")].toInt();
    run.finished = o[QStringLiteral("finished")].toBool();
    run.serverToken = o[QStringLiteral("token")].toString();
    for (const QJsonValue& value : o[QStringLiteral("answers")].toArray()) {
        const QJsonObject a = value.toObject();
        Answer answer;
        answer.questionId = a[QStringLiteral("questionId")].toInteger();
        answer.question = a[QStringLiteral("question")].toString();
        answer.chosenOption = a[QStringLiteral("option")].toInt();
        answer.chosenExplanation = a[QStringLiteral("explanation")].toInt();
        answer.chosenOptionId = a[QStringLiteral("optionId")].toInteger();
        answer.chosenExplanationId = a[QStringLiteral("explanationId")].toInteger();
        if (!choicesFromJson(a[QStringLiteral("options")], answer.options) ||
            !choicesFromJson(a[QStringLiteral("explanations")], answer.explanations))
            return false;
        run.answers.push_back(std::move(answer));
    }
    return !journalPath.isEmpty() && !run.uuid.isEmpty() && run.started.isValid();
}

JournalQueue::JournalQueue(QString path) : path_(std::move(path)) {}

QString JournalQueue::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/infotest/journal-queue.jsonl");
}

namespace {

// Appends a record as a line of its own to a file of the queue's own and flushes it to disk, or
// throws. The caller holds the queue's lock.
void appendLine(const QString& path, const QByteArray& record) {
    const auto fail = [&path] {
        return Exception(QStringLiteral("не удаётся записать «%1»: %2").arg(path, systemError()));
    };
    const int fd = openOwnFile(path, O_RDWR | O_CREAT | O_APPEND);
    if (fd < 0)
        throw fail();
    // A line cut off by a crash must not swallow the next record: start on a line of its own.
    QByteArray line;
    struct stat info {};
    char last = '\n';
    if (::fstat(fd, &info) == 0 && info.st_size > 0 &&
        ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
        line += '\n';
    line += record + '\n';
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + written, size_t(line.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const Exception error = fail();
            ::close(fd);
            throw error;
        }
        written += n;
    }
    if (::fsync(fd) != 0) {
        const Exception error = fail();
        ::close(fd);
        throw error;
    }
    ::close(fd);
}

} // namespace

void JournalQueue::append(const QString& journalPath, const RunRecord& run) {
    QueueLock lock(path_);
    appendLine(path_, recordToJson(journalPath, run));
}

// Written beside the queue and renamed over it, so that a crash leaves the old queue whole;
// the rename replaces whatever stands under the queue's name, never a link's target.
void JournalQueue::replace(const QByteArray& bytes) const {
    const QString temporary = path_ + QStringLiteral(".new");
    const auto fail = [&temporary] {
        return Exception(
            QStringLiteral("не удаётся записать «%1»: %2").arg(temporary, systemError()));
    };
    // One left by a crash, or put there: the lock is held, no other program writes it now.
    if (::unlink(QFile::encodeName(temporary).constData()) != 0 && errno != ENOENT)
        throw fail();
    const int fd = openOwnFile(temporary, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0)
        throw fail();
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    if (written != bytes.size() || ::fsync(fd) != 0) {
        const Exception error = fail();
        ::close(fd);
        ::unlink(QFile::encodeName(temporary).constData());
        throw error;
    }
    ::close(fd);
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path_).constData()) !=
        0) {
        const Exception error = fail();
        ::unlink(QFile::encodeName(temporary).constData());
        throw error;
    }
}

JournalQueue::Outcome JournalQueue::flush(int busyTimeoutMs, Connection* bank) {
    Outcome outcome;
    if (!QFileInfo::exists(path_))
        return outcome;
    QueueLock lock(path_);
    const int fd = openOwnFile(path_, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT)
            return outcome;
        throw Exception(QStringLiteral("не удаётся прочитать «%1»: %2").arg(path_, systemError()));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw Exception(
            QStringLiteral("не удаётся прочитать «%1»: %2").arg(path_, file.errorString()));
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();

    std::map<QString, std::unique_ptr<JournalStore>> journals;
    std::map<QString, std::unique_ptr<PgEngine>> servers;
    std::map<QString, QString> unreachable; // journal → why it cannot be reached
    const auto serverFor = [&](const QString& url) -> PgEngine& {
        if (PgEngine* own = bankServer(bank, url))
            return *own;
        auto& server = servers[url];
        if (!server)
            server = connectServer(url);
        return *server;
    };
    const auto store = [&](const QString& journalPath, const RunRecord& run) {
        if (Location(journalPath).isServer()) {
            PgEngine* server = nullptr;
            try {
                server = &serverFor(journalPath);
                storeOnServer(*server, run);
            } catch (const Exception& e) {
                // A server that cannot be reached is not asked again for each record.
                if (!server || !server->connected()) {
                    servers.erase(journalPath);
                    unreachable[journalPath] = e.message();
                }
                throw;
            }
            return;
        }
        auto& journal = journals[journalPath];
        if (!journal) {
            try {
                journal = std::make_unique<JournalStore>(journalPath, JournalStore::Mode::Record,
                                                         busyTimeoutMs);
            } catch (const Exception& e) {
                journals.erase(journalPath);
                unreachable[journalPath] = e.message();
                throw;
            }
        }
        journal->store(run);
    };
    QByteArray kept;
    for (const QByteArray& line : lines) {
        QString journalPath;
        RunRecord run;
        // A half line is what a crash in the middle of an append left: that record never was.
        if (line.trimmed().isEmpty() || !recordFromJson(line, journalPath, run))
            continue;
        try {
            if (const auto why = unreachable.find(journalPath); why != unreachable.end())
                throw Exception(why->second);
            store(journalPath, run);
            ++outcome.stored;
        } catch (const Exception& e) {
            // Retried, a run the server refuses for good would be refused at every chance and
            // named at every close: set aside once, for an admin to look at, and told once.
            if (refusedForGood(e)) {
                try {
                    appendLine(refusedPath(), line);
                    ++outcome.refused;
                    outcome.refusal = e.message();
                    continue;
                } catch (const Exception& setAside) {
                    outcome.error = setAside.message(); // kept in the queue below
                }
            } else {
                outcome.error = e.message();
            }
            kept += line + '\n';
            ++outcome.remaining;
        }
    }
    if (kept.isEmpty()) {
        // Losing this removal in a crash only retries records the journal already holds.
        QFile::remove(path_);
        return outcome;
    }
    replace(kept);
    return outcome;
}

} // namespace data::journal

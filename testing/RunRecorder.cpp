#include "testing/RunRecorder.h"

#include "data/DM.h"
#include "data/Errors.h"

#include <QSysInfo>
#include <QUuid>
#include <pwd.h>
#include <unistd.h>
#include <utility>

using namespace data::journal;

namespace {

// At the program's end a busy journal is waited for this long: the pupil is leaving anyway, and
// a box for a lock that lasted a moment would only worry them.
constexpr int kEndBusyTimeoutMs = 3000;

struct Account {
    QString login;
    QString fullName;
};

Account currentAccount() {
    Account account{qEnvironmentVariable("USER"), QString()};
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        account.login = QString::fromLocal8Bit(found->pw_name);
        // The comment field holds the full name first, then office and phones after commas.
        account.fullName = QString::fromLocal8Bit(found->pw_gecos).section(u',', 0, 0).trimmed();
    }
    return account;
}

QDateTime now() {
    return QDateTime::currentDateTimeUtc();
}

} // namespace

RunRecorder::RunRecorder(QString queuePath) : queue_(std::move(queuePath)) {}

void RunRecorder::started() {
    abandoned();
    const Account account = currentAccount();
    ShownRun run;
    run.record.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.record.started = now();
    run.record.host = QSysInfo::machineHostName();
    run.record.login = account.login;
    run.record.fullName = account.fullName;
    run.record.pupil = qEnvironmentVariable("INFOTEST_PUPIL").trimmed();
    run_ = std::move(run);
    flush(0);
}

void RunRecorder::startOnServer(const std::vector<DrawnQuestion>& drawn) {
    if (!run_ || !DataModule2)
        return;
    try {
        run_->record.serverToken =
            data::journal::startOnServer(DataModule2->ADOConnection1.engine(), run_->record, drawn);
    } catch (...) {
        // A run the server did not start cannot be scored or recorded: there is none.
        run_.reset();
        throw;
    }
}

void RunRecorder::shown(int k, ShownQuestion question) {
    if (run_)
        run_->questions[k] = std::move(question);
}

RunRecorder::Outcome RunRecorder::scored(int k, int chosenOption, int chosenExplanation,
                                         int points) {
    if (!run_)
        return {};
    const auto shown = run_->questions.find(k);
    if (shown == run_->questions.end())
        return {};
    // A press whose next question failed to load is scored again on the retry: the last counts.
    shown->second.chosenOption = chosenOption;
    shown->second.chosenExplanation = chosenExplanation;
    if (k < kQuestionsPerRun)
        return {};
    RunRecord run = run_->recorded();
    run_.reset();
    run.finished = true;
    run.points = points;
    run.grade = gradeFor(run.points);
    run.ended = now();
    if (run.serverToken.isEmpty()) {
        record(std::move(run));
        return {};
    }
    // On disk before the server hears of it, so that a program killed meanwhile loses nothing;
    // the token keeps the run stored once however often it is sent.
    Outcome outcome{true, std::nullopt, QString()};
    unsaved_.push_back(run);
    QString journal;
    try {
        journal = journalOf(DataModule2->ADOConnection1);
    } catch (const Exception&) {
        // Kept in memory, as flush() keeps what it cannot queue, and tried again later.
    }
    save(journal, 0);
    try {
        outcome.server = finishOnServer(DataModule2->ADOConnection1.engine(), run);
    } catch (const Exception& e) {
        if (!refusedForGood(e))
            return outcome; // the server is away or slow: the queue sends the run later
        outcome.refusal = e.message();
        // Set aside now; the box tells of it, so the program's end need not again.
        const int before = refused_;
        flush(0);
        refused_ = std::max(before, refused_ - 1);
        return outcome;
    }
    flush(0);
    return outcome;
}

void RunRecorder::abandoned() {
    if (!run_)
        return;
    RunRecord run = run_->recorded();
    run_.reset();
    run.ended = now();
    for (const Answer& a : run.answers)
        run.points += (a.optionRight() ? 1 : 0) + (a.explanationRight() ? 1 : 0);
    record(std::move(run));
}

void RunRecorder::record(RunRecord run) {
    unsaved_.push_back(std::move(run));
    flush(0);
}

QString RunRecorder::save(const QString& journal, int busyTimeoutMs) {
    QString error;
    std::vector<RunRecord> left;
    // On disk first; a record the queue file cannot take is stored at once or kept here.
    for (RunRecord& run : unsaved_) {
        if (journal.isEmpty()) {
            left.push_back(std::move(run));
            continue;
        }
        try {
            queue_.append(journal, run);
        } catch (const Exception& queueError) {
            try {
                storeNow(journal, run, busyTimeoutMs, &DataModule2->ADOConnection1);
            } catch (const Exception&) {
                error = queueError.message();
                left.push_back(std::move(run));
            }
        }
    }
    unsaved_ = std::move(left);
    return error;
}

JournalQueue::Outcome RunRecorder::flush(int busyTimeoutMs) {
    JournalQueue::Outcome outcome;
    QString journal;
    try {
        if (!DataModule2)
            throw Exception(QStringLiteral("банк вопросов не открыт"));
        journal = journalOf(DataModule2->ADOConnection1);
    } catch (const Exception& e) {
        outcome.error = e.message();
    }
    if (const QString error = save(journal, busyTimeoutMs); !error.isEmpty())
        outcome.error = error;
    try {
        const JournalQueue::Outcome queued =
            queue_.flush(busyTimeoutMs, DataModule2 ? &DataModule2->ADOConnection1 : nullptr);
        outcome.stored = queued.stored;
        outcome.remaining = queued.remaining;
        if (!queued.error.isEmpty())
            outcome.error = queued.error;
        refused_ += queued.refused;
        if (queued.refused > 0)
            refusal_ = queued.refusal;
    } catch (const Exception& e) {
        outcome.error = e.message();
        outcome.remaining = -1; // unknown: the queue file cannot be read
    }
    return outcome;
}

void RunRecorder::retryQueued() {
    flush(0);
}

void RunRecorder::programEnds() {
    abandoned();
    const JournalQueue::Outcome outcome = flush(kEndBusyTimeoutMs);
    // Told once: the records are set aside and no later start tries them again.
    if (refused_ > 0) {
        const int refused = std::exchange(refused_, 0);
        throw Exception(QStringLiteral("Сервер отказался записать результаты тестов (%1): %2. "
                                       "Они отложены в файл «%3»; покажите его учителю.")
                            .arg(refused)
                            .arg(refusal_, queue_.refusedPath()));
    }
    if (!unsaved_.empty())
        throw Exception(QStringLiteral("Результаты тестов (%1) не записаны ни в журнал, ни в "
                                       "файл очереди «%2»: %3")
                            .arg(unsaved_.size())
                            .arg(queue_.path(), outcome.error));
    if (outcome.remaining != 0)
        throw Exception(QStringLiteral("Результаты тестов не удалось записать в журнал: %1. Они "
                                       "сохранены в файле «%2» и будут записаны при следующем "
                                       "запуске программы")
                            .arg(outcome.error, queue_.path()));
}

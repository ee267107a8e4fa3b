#include "testing/RunRecorder.h"

#include "data/DM.h"
#include "data/Errors.h"
#include "data/PgEngine.h"
#include "data/Schema.h"
#include "testing/testirovanie.h"
#include "toolkit/WrapRadioButton.h"

#include <QLabel>
#include <QSysInfo>
#include <QUuid>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

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

int checkedIndex(std::initializer_list<const toolkit::WrapRadioButton*> buttons) {
    int index = 1;
    for (const toolkit::WrapRadioButton* button : buttons) {
        if (button->isChecked())
            return index;
        ++index;
    }
    return 0;
}

} // namespace

RunRecorder::RunRecorder(QString queuePath) : queue_(std::move(queuePath)) {}

QString RunRecorder::journalPath() const {
    if (!DataModule2)
        throw Exception(QStringLiteral("банк вопросов не открыт"));
    const data::Connection& connection = DataModule2->ADOConnection1;
    // A bank on a server keeps its journal in the same database.
    if (connection.location().isServer())
        return connection.dataSource;
    // The bank as it was opened, whatever the working directory is now.
    const char* bank = sqlite3_db_filename(DataModule2->ADOConnection1.database().handle(), "main");
    return journalPathForBank(QString::fromUtf8(bank ? bank : data::kBankFileName));
}

void RunRecorder::started() {
    abandoned();
    const Account account = currentAccount();
    RunRecord run;
    run.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.started = now();
    run.host = QSysInfo::machineHostName();
    run.login = account.login;
    run.fullName = account.fullName;
    run.pupil = qEnvironmentVariable("INFOTEST_PUPIL").trimmed();
    run_ = std::move(run);
    shown_.clear();
    answers_.clear();
    flush(0);
}

void RunRecorder::shown(const Ttesti& w, int k) {
    if (!run_)
        return;
    const data::Table& questions = DataModule2->Vopros;
    Answer answer;
    answer.questionId = questions.fieldValue(data::kIdColumn).toLongLong();
    answer.question = questions.fieldValue(data::kQuestionColumn).toString();
    const toolkit::WrapRadioButton* options[data::kChoicesPerQuestion] = {
        w.RadioButton1, w.RadioButton2, w.RadioButton3, w.RadioButton4};
    const toolkit::WrapRadioButton* explanations[data::kChoicesPerQuestion] = {
        w.RadioButton5, w.RadioButton6, w.RadioButton7, w.RadioButton8};
    for (size_t i = 0; i < answer.options.size(); ++i) {
        answer.options[i] = {options[i]->text(), options[i]->Tag == 1};
        answer.explanations[i] = {explanations[i]->text(), explanations[i]->Tag == 1};
    }
    shown_[k] = std::move(answer);
}

void RunRecorder::scored(const Ttesti& w) {
    // While question k is on screen the counter reads k + 1.
    const int k = w.Label2->text().toInt() - 1;
    const auto shown = shown_.find(k);
    if (!run_ || shown == shown_.end())
        return;
    Answer answer = shown->second;
    answer.chosenOption =
        checkedIndex({w.RadioButton1, w.RadioButton2, w.RadioButton3, w.RadioButton4});
    answer.chosenExplanation =
        checkedIndex({w.RadioButton5, w.RadioButton6, w.RadioButton7, w.RadioButton8});
    // A press whose next question failed to load is scored again on the retry: the last counts.
    answers_[k] = std::move(answer);
    if (k < kQuestionsPerRun)
        return;
    RunRecord run = std::move(*run_);
    run_.reset();
    run.finished = true;
    run.points = w.Label1->text().toInt();
    run.grade = gradeFor(run.points);
    run.ended = now();
    for (auto& [position, a] : answers_)
        run.answers.push_back(std::move(a));
    record(std::move(run));
}

void RunRecorder::abandoned() {
    if (!run_)
        return;
    RunRecord run = std::move(*run_);
    run_.reset();
    run.ended = now();
    for (auto& [position, a] : answers_) {
        run.points += (a.optionRight() ? 1 : 0) + (a.explanationRight() ? 1 : 0);
        run.answers.push_back(std::move(a));
    }
    record(std::move(run));
}

void RunRecorder::record(RunRecord run) {
    unsaved_.push_back(std::move(run));
    flush(0);
}

JournalQueue::Outcome RunRecorder::flush(int busyTimeoutMs) {
    JournalQueue::Outcome outcome;
    std::vector<RunRecord> left;
    QString journal;
    try {
        journal = journalPath();
    } catch (const Exception& e) {
        outcome.error = e.message();
    }
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
                if (data::Location(journal).isServer())
                    storeOnServer(
                        dynamic_cast<data::PgEngine&>(DataModule2->ADOConnection1.engine()), run);
                else
                    JournalStore(journal, JournalStore::Mode::Record, busyTimeoutMs).store(run);
            } catch (const Exception&) {
                outcome.error = queueError.message();
                left.push_back(std::move(run));
            }
        }
    }
    unsaved_ = std::move(left);
    try {
        const JournalQueue::Outcome queued =
            queue_.flush(busyTimeoutMs, DataModule2 ? &DataModule2->ADOConnection1 : nullptr);
        outcome.stored = queued.stored;
        outcome.remaining = queued.remaining;
        if (!queued.error.isEmpty())
            outcome.error = queued.error;
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

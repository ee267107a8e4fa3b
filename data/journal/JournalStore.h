#pragma once

#include "data/Schema.h"
#include "data/journal/JournalSchema.h"
#include "data/sqlite/Sqlite.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace data {
class Engine;
class PgEngine;
class RowData;
} // namespace data

// The results journal: every test run a pupil finished or abandoned, with a copy of each question
// as it was shown. It lives in its own file beside the bank (a bank handed to a colleague carries
// no pupils' results), and all of its SQL is in JournalStore.
namespace data::journal {

inline constexpr const char* kJournalFileName = "journal.db";
// Marks a journal file, as kBankApplicationId marks a bank.
inline constexpr int kJournalApplicationId = 0x49544a31; // "ITJ1"
// Version 2 adds kReportedLoginColumn to the runs; a journal of version 1 gets it, false, when it
// is next written, and reads as before until then.
inline constexpr int kJournalUserVersion = 2;
// Whether a run's login is the one the program reported (a school's server, whose shared pupils'
// role cannot tell the pupils apart) rather than one the journal's writer knew itself.
inline constexpr char kReportedLoginColumn[] = "ЛогинСообщён";
// A finished run has an answer for each question of the test.
inline constexpr int kQuestionsPerRun = kQuestionsPerTest;
// On a school's server a run is answered within this time of its start. The server cannot tell
// when a queued run was answered, only when it arrived: one that arrives later (its program
// queued it through an outage) is still recorded, with the server's clock at its arrival as its
// end, and the journal shows it as late so that the teacher can tell.
inline constexpr int kAnsweringLimitSeconds = 4 * 60 * 60;

// One option or explanation as the testing window showed it.
struct ShownChoice {
    QString text;
    bool correct = false;
};
// A question's options, or its explanations, in the order shown.
using ShownChoices = std::array<ShownChoice, kChoicesPerQuestion>;

// One question of a run: what the pupil saw and what they chose (counted from 1).
struct Answer {
    qint64 questionId = 0; // the question's id in the bank
    QString question;
    ShownChoices options;
    ShownChoices explanations;
    int chosenOption = 0;
    int chosenExplanation = 0;
    // The bank's rows chosen, for a server that scores the run itself.
    qint64 chosenOptionId = 0;
    qint64 chosenExplanationId = 0;

    bool optionRight() const { return options[size_t(chosenOption - 1)].correct; }
    bool explanationRight() const { return explanations[size_t(chosenExplanation - 1)].correct; }
};

// A run as it is recorded. Times are UTC.
struct RunRecord {
    QString uuid; // keeps a record written twice (a retried commit) stored once
    QDateTime started;
    QDateTime ended;
    QString host;
    QString login;
    QString fullName; // the account's full name
    QString pupil;    // the name the launcher asked for, if any
    int points = 0;
    std::optional<int> grade; // none for an unfinished run
    bool finished = false;
    std::vector<Answer> answers; // in the order they were asked
    // A run the bank's server started and scores itself: it is recorded by finishing it there
    // with the rows chosen, and the points, the marks and the times above are not sent.
    QString serverToken;
};

// Where a run is: recorded in the journal, or on a school's server started and not yet
// recorded, within the answering limit or past it.
enum class RunState { Recorded, InProgress, Abandoned };

// A stored run, as the queries give it back.
struct Run {
    qint64 id = 0;
    RunRecord record; // without answers
    int answered = 0;
    RunState state = RunState::Recorded;
    bool loginReported = false; // see kReportedLoginColumn
    qint64 seconds() const { return record.started.secsTo(record.ended); }
    // Recorded later than the answering limit after its start. On a server both times are the
    // server's, the end its arrival; in a file the end is the pupil's tenth answer.
    bool late() const { return seconds() > kAnsweringLimitSeconds; }
};

// Which runs a query covers. Dates are local calendar days, both ends included.
struct RunFilter {
    std::optional<QDate> from;
    std::optional<QDate> to;
    QString who; // a part of the name, login, account name or computer, in any case
    std::optional<bool> finished;
};

// The statistics of one question as the pupils saw it: one question of the bank whose texts or
// keys were changed counts as a new one, so that a mended key starts afresh.
struct QuestionStats {
    qint64 shownId = 0; // the copy in the journal
    qint64 questionId = 0;
    QString question;
    ShownChoices options;
    ShownChoices explanations;
    qint64 drawn = 0;
    qint64 rightOptions = 0;
    qint64 rightExplanations = 0;
    std::array<qint64, kChoicesPerQuestion> optionChosen{};
    std::array<qint64, kChoicesPerQuestion> explanationChosen{};
    // Options chosen by the strongest pupils (the top 27 % of the runs by points).
    std::array<qint64, kChoicesPerQuestion> optionChosenByStrong{};
    // The corrected point-biserial correlation of a right option with the points of the other
    // questions of the run; none when it is undefined (everyone alike on either side).
    std::optional<double> discrimination;

    double facility() const { return drawn ? double(rightOptions) / double(drawn) : 0.0; }
    double explanationFacility() const {
        return drawn ? double(rightExplanations) / double(drawn) : 0.0;
    }
};

enum class Flag { LikelyWrongKey, TooEasy, TooHard };
// Below this many draws no question is flagged: a few pupils tell nothing yet.
inline constexpr qint64 kFlagMinimumDraws = 20;
inline constexpr double kTooEasyFacility = 0.95;
inline constexpr double kTooHardFacility = 0.20;
// What a teacher should look at in a question, most serious first.
std::vector<Flag> flagsOf(const QuestionStats& stats);
QString flagText(Flag flag);

// The journal file beside a bank file.
QString journalPathForBank(const QString& bankPath);

// The columns of a stored run, in the order runOfRow() reads them, for every query that lists
// runs.
inline constexpr char kStoredRunColumns[] =
    R"sql("id", "Код", "Начало", "Конец", "Компьютер", "Логин", "ФИО", "Ученик", "Баллы", "Оценка", "Завершён", "Отвечено")sql";
inline constexpr int kStoredRunColumnCount = 12;
// A stored run from a row that starts with kStoredRunColumns.
Run runOfRow(const sqlite::Statement& read);
Run runOfRow(const RowData& row);

// A bank on a server keeps its journal in its own database, written only through a recording
// function there (the pupils' role may not touch the journal's tables). The run as that
// function takes it: the journal's column names as keys, the copies' fingerprints in hex.
QByteArray runToServerJson(const RunRecord& run);
// Records a run on the bank's server in one statement, outside any write scope of the bank.
// False when a run with its uuid is stored already.
bool storeOnServer(PgEngine& server, const RunRecord& run);

class JournalStore {
public:
    enum class Mode {
        Record,   // the pupil's program: creates the file with its tables when it is missing
        ReadOnly, // the teacher's queries
        Edit      // the teacher's clearing of old runs: an existing journal, written
    };
    // Opens the journal as an untrusted file: no code the file carries ever runs. A file that
    // is not a journal, or one of a newer version, is refused with a clear message. A server's
    // URL opens the journal in the bank's database there, read and cleared in place; runs are
    // recorded there only through its recording function (storeOnServer).
    JournalStore(const QString& path, Mode mode, int busyTimeoutMs = 0);
    ~JournalStore();

    const QString& path() const { return path_; }
    // For the teacher's reader, which adds its own queries: the engine, and the journal file's
    // connection (none on a server).
    Engine& engine() const { return *engine_; }
    sqlite::Database* file() const { return db_; }

    // Stores a run in one transaction. False when a run with its uuid is stored already.
    bool store(const RunRecord& run);

    // The queries below read either engine through the engine layer, with the same SQL.

    std::vector<Run> runs(const RunFilter& filter) const;
    std::vector<Answer> answers(qint64 runId) const;
    // Over the finished runs of the filter (answers from unfinished runs would skew the rest
    // of the score); the texts the pupils saw, grouped as QuestionStats says.
    std::vector<QuestionStats> questionStats(const RunFilter& filter) const;
    // Removes the runs that started before the day, their answers and the copies of questions
    // no run refers to any longer. Returns how many runs; dryRun only counts them.
    qint64 removeBefore(const QDate& day, bool dryRun);
    // Whether the runs' table has kReportedLoginColumn (a file of version 1 read as it is, or a
    // server set up before it, has not).
    bool hasReportedLogin() const;

private:
    void openFile(Mode mode, int busyTimeoutMs);
    void openServer(int busyTimeoutMs);
    void createTables();
    void upgrade();
    qint64 shownQuestionId(const Answer& answer);
    // What a copy of a question showed.
    struct ShownCopy {
        qint64 questionId = 0;
        QString question;
        ShownChoices options;
        ShownChoices explanations;
    };
    std::unordered_map<qint64, ShownCopy> readShown(const std::vector<qint64>& shownIds) const;
    // The question and the choices each one's copy showed.
    void addShownTexts(std::vector<QuestionStats>& stats) const;

    QString path_;
    std::unique_ptr<Engine> engine_;
    sqlite::Database* db_ = nullptr; // the journal file's own connection: none on a server
    PgEngine* server_ = nullptr;     // the server's, for its recording function and its locks
};

} // namespace data::journal

// The results journal as the pupil's program writes it: every run once, finished or not, and
// nothing lost or shown to the pupil when the journal cannot be written.
#include "app/Startup.h"
#include "app/Unit1.h"
#include "cli/Copy.h"
#include "data/journal/JournalStore.h"
#include "data/journal/ShownRun.h"
#include "data/pg/Pg.h"
#include "server/Server.h"
#include "testing/testirovanie.h"
#include "tests/support/BankFixture.h"
#include "tests/support/ProgramFixture.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"
#include "toolkit/WrapRadioButton.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QtTest>
#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <thread>

using namespace data::journal;
using testsupport::BankEngine;
using testsupport::BankFixture;
using testsupport::PgServer;
using testsupport::ProgramFixture;
using toolkit::ModalResult;

namespace {

void startRun() {
    Form1->show();
    toolkit::runHandler([] { Form1->RadioButton1Click(Form1->RadioButton1); });
}

// The right option and the second explanation (wrong): one point a question.
void answer(int questions) {
    for (int i = 0; i < questions; ++i) {
        testi->RadioButton1->setChecked(true);
        testi->RadioButton6->setChecked(true);
        QTest::mouseClick(testi->Button1, Qt::LeftButton);
    }
}

// The journal as the teacher reads it: the file beside the bank, or a copy of the server's.
struct StoredJournal {
    explicit StoredJournal(const BankFixture& bank) {
        if (bank.onServer())
            snapshot.emplace(PgServer::shared().url());
        store.emplace(journalPathForBank(snapshot ? snapshot->bankPath() : bank.bankPath()),
                      JournalStore::Mode::ReadOnly);
    }
    std::optional<bank::ServerSnapshot> snapshot;
    std::optional<JournalStore> store;
};

std::vector<Run> storedRuns(const BankFixture& bank) {
    return StoredJournal(bank).store->runs({});
}

// A server's bank as a school sets it up, the program logged in as a pupil, who reads no mark:
// the server starts and scores the runs.
void serveAsPupil(const BankFixture& bank) {
    if (!bank.onServer())
        return;
    bank::server::initServer(PgServer::shared().url(), QStringLiteral("учителя"),
                             QStringLiteral("ученики"));
    qputenv("INFOTEST_BANK_URL", PgServer::shared().url(QStringLiteral("ученики")).toUtf8());
}

int queuedLines() {
    QFile queue(testi ? testi->Recorder.queue().path() : JournalQueue::defaultPath());
    if (!queue.open(QIODevice::ReadOnly))
        return 0;
    return int(queue.readAll().count('\n'));
}

enum class Ending { Finish, CloseWindow, NewDraw, ProgramEnds };
enum class Fault {
    ServerDown,
    ServerDownThenKilled,
    ServerSilent,
    ServerRestarted,
    Refused,
    Locked,
    DirectoryInTheWay,
    NotAJournal,
    FullDisk,
    Killed,
    EndsLocked
};

// Holds the journal's write lock from a second connection, as another pupil's program would.
struct JournalLock {
    explicit JournalLock(const QString& path) {
        JournalStore(path, JournalStore::Mode::Record); // the tables exist
        db.emplace(path, data::sqlite::Database::Mode::ReadWrite);
        db->exec("BEGIN EXCLUSIVE");
    }
    std::optional<data::sqlite::Database> db;
};

} // namespace

#define REQUIRE_ENGINE(engine)                                                                     \
    do {                                                                                           \
        if (const QString why = PgServer::unavailableReason();                                     \
            (engine) == BankEngine::Server && !why.isEmpty())                                      \
            QSKIP(qPrintable(why));                                                                \
    } while (false)

class TestRecording : public QObject {
    Q_OBJECT
private slots:
    void init() { toolkit::seam::arm(); }
    void cleanup() { testsupport::verifyAllBoxesAnswered(); }

    void recordsEveryRunOnce_data();
    void recordsEveryRunOnce();
    void failedWriteQueuesThenStoresOnce_data();
    void failedWriteQueuesThenStoresOnce();
    void scoresAsTheServerDoes_data();
    void scoresAsTheServerDoes();
};

void TestRecording::recordsEveryRunOnce_data() {
    QTest::addColumn<int>("answered");
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<BankEngine>("engine");
    QTest::newRow("finished") << 10 << Ending::Finish << BankEngine::File;
    QTest::newRow("window closed at question 5") << 4 << Ending::CloseWindow << BankEngine::File;
    QTest::newRow("replaced by a new draw") << 3 << Ending::NewDraw << BankEngine::File;
    QTest::newRow("open when the main menu closes") << 2 << Ending::ProgramEnds << BankEngine::File;
    QTest::newRow("closed before any answer") << 0 << Ending::CloseWindow << BankEngine::File;
    QTest::newRow("finished, server") << 10 << Ending::Finish << BankEngine::Server;
    QTest::newRow("open at the end, server") << 2 << Ending::ProgramEnds << BankEngine::Server;
    QTest::newRow("closed before any answer, server")
        << 0 << Ending::CloseWindow << BankEngine::Server;
}

void TestRecording::recordsEveryRunOnce() {
    QFETCH(int, answered);
    QFETCH(Ending, ending);
    QFETCH(BankEngine, engine);
    REQUIRE_ENGINE(engine);
    BankFixture bank(true, engine);
    serveAsPupil(bank);
    const std::vector<qint64> ids = bank.addStandardQuestions(12);
    ProgramFixture program;
    qputenv("INFOTEST_PUPIL", " Иванова Маша ");
    startRun();
    qunsetenv("INFOTEST_PUPIL");
    if (ending == Ending::Finish)
        toolkit::seam::pushAnswer(ModalResult::Yes);
    answer(answered);
    // The open run goes by the bank's ids: the row chosen is the one whose text was shown.
    if (const auto& open = testi->Recorder.run())
        for (const auto& [k, shown] : open->questions)
            QCOMPARE(bank.scalar(QStringLiteral("SELECT \"Объяснение\" FROM \"Т_Объяснение\" "
                                                "WHERE \"id\" = ? AND \"Вопрос\" = ?"),
                                 {shown.chosenExplanationId(), shown.questionId})
                         .toString(),
                     shown.answered() ? shown.explanations[1].text : QString());
    // The pupil's screen is the one the window always had.
    QCOMPARE(toolkit::seam::shown().size(), size_t(ending == Ending::Finish ? 1 : 0));
    if (ending == Ending::CloseWindow)
        testi->close();
    else if (ending == Ending::NewDraw)
        startRun();
    else if (ending == Ending::ProgramEnds)
        destroyProgram();

    const std::vector<Run> runs = storedRuns(bank);
    QCOMPARE(runs.size(), size_t(1));
    const RunRecord& run = runs[0].record;
    QCOMPARE(run.finished, ending == Ending::Finish);
    QCOMPARE(run.points, answered);
    QCOMPARE(run.grade, ending == Ending::Finish ? std::optional<int>(3) : std::nullopt);
    QCOMPARE(run.pupil, QStringLiteral("Иванова Маша"));
    QVERIFY(run.started <= run.ended && run.started.timeSpec() == Qt::UTC);
    const std::vector<Answer> answers = StoredJournal(bank).store->answers(runs[0].id);
    QCOMPARE(int(answers.size()), answered);
    for (const Answer& a : answers) {
        const int k = a.question.section(u' ', 1).toInt();
        QCOMPARE(a.questionId, ids[size_t(k - 1)]);
        QCOMPARE(a.options[1].text, QStringLiteral("Ответ %1.2").arg(k));
        QVERIFY(a.optionRight() && !a.explanationRight() && a.chosenExplanation == 2);
    }
    // The journal keeps what the pupil saw: the teacher mending or deleting a question later
    // changes nothing in it.
    bank.exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Вопрос\" = 'другой'; UPDATE "
                             "\"Т_Вариант\" SET \"Правильный\" = NOT \"Правильный\"; DELETE FROM "
                             "\"Т_Объяснение\"; DELETE FROM \"Т_Вопросы\" WHERE \"id\" = 1"));
    const std::vector<Answer> after = StoredJournal(bank).store->answers(runs[0].id);
    for (size_t i = 0; i < answers.size(); ++i) {
        QCOMPARE(after[i].question, answers[i].question);
        QCOMPARE(after[i].options[0].correct, true);
        QCOMPARE(after[i].explanations[3].text, answers[i].explanations[3].text);
    }
}

void TestRecording::failedWriteQueuesThenStoresOnce_data() {
    QTest::addColumn<Fault>("fault");
    QTest::newRow("server down at the tenth answer") << Fault::ServerDown;
    QTest::newRow("server down, killed before its reply") << Fault::ServerDownThenKilled;
    QTest::newRow("server silent past the deadline") << Fault::ServerSilent;
    QTest::newRow("server restarted while the call waits") << Fault::ServerRestarted;
    QTest::newRow("run refused by the server for good") << Fault::Refused;
    QTest::newRow("journal locked by another program") << Fault::Locked;
    QTest::newRow("a folder where the journal belongs") << Fault::DirectoryInTheWay;
    QTest::newRow("not a journal") << Fault::NotAJournal;
    QTest::newRow("disk full") << Fault::FullDisk;
    QTest::newRow("killed after the tenth answer") << Fault::Killed;
    QTest::newRow("still locked when the main menu closes") << Fault::EndsLocked;
}

void TestRecording::failedWriteQueuesThenStoresOnce() {
    QFETCH(Fault, fault);
    const bool serverDown = fault <= Fault::Refused; // the server's faults come first
    const BankEngine engine = serverDown ? BankEngine::Server : BankEngine::File;
    REQUIRE_ENGINE(engine);
    BankFixture bank(true, engine);
    serveAsPupil(bank);
    bank.addStandardQuestions(12);
    const QString path = journalPathForBank(bank.bankPath());
    auto program = std::make_optional<ProgramFixture>();
    startRun();
    answer(9);

    std::optional<JournalLock> lock;
    std::optional<data::pg::Connection> admin;
    std::optional<data::pg::Transaction> held;
    std::thread restarter;
    QStringList stopped; // the pupil's sessions on the server
    rlimit fileSize{};
    getrlimit(RLIMIT_FSIZE, &fileSize);
    switch (fault) {
    case Fault::ServerDown:
    case Fault::ServerDownThenKilled:
        PgServer::shared().stopImmediately();
        break;
    case Fault::ServerSilent: // the connection stays open, and nothing answers on it
        admin.emplace(PgServer::shared().url());
        stopped = admin
                      ->exec(QStringLiteral("SELECT string_agg(pid::text, ' ') FROM "
                                            "pg_stat_activity WHERE usename = 'ученики'"))
                      .text(0, 0)
                      .split(u' ');
        for (const QString& pid : stopped)
            QCOMPARE(::kill(pid.toInt(), SIGSTOP), 0);
        break;
    case Fault::ServerRestarted: // once the call waits for the row another session holds
        admin.emplace(PgServer::shared().url());
        held.emplace(*admin);
        admin->exec(QStringLiteral("SELECT * FROM \"Т_НачатыйТест\" FOR UPDATE"));
        restarter = std::thread([] {
            const data::pg::Connection watcher(PgServer::shared().url());
            while (watcher
                       .exec(QStringLiteral("SELECT 1 FROM pg_stat_activity WHERE usename = "
                                            "'ученики' AND wait_event_type = 'Lock'"))
                       .rows() == 0)
                QThread::msleep(10);
            PgServer::shared().stopFast();
            PgServer::shared().start();
        });
        break;
    case Fault::Refused:
        PgServer::shared().psql(QStringLiteral("DELETE FROM \"Т_НачатыйТест\""));
        break;
    case Fault::Locked:
    case Fault::Killed:
    case Fault::EndsLocked:
        lock.emplace(path);
        break;
    case Fault::DirectoryInTheWay:
        QVERIFY(QDir().mkdir(path));
        break;
    case Fault::NotAJournal: {
        QFile text(path);
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("Журнал 5А\n") > 0);
        break;
    }
    case Fault::FullDisk: {
        // Room for the queued record, not for a new journal.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = fileSize;
        small.rlim_cur = 12 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        break;
    }
    }
    toolkit::seam::pushAnswer(ModalResult::Yes);
    QElapsedTimer clock;
    clock.start();
    answer(1);
    setrlimit(RLIMIT_FSIZE, &fileSize);
    const qint64 waited = clock.elapsed();
    if (restarter.joinable())
        restarter.join();
    for (const QString& pid : stopped)
        QCOMPARE(::kill(pid.toInt(), SIGCONT), 0);
    // The grade box as always, and nothing else; a run the server scores says it is counted
    // later, within the server's deadline.
    QVERIFY(waited < data::journal::kServerScoreDeadlineMs + 1000);
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    const QString box = toolkit::seam::shown()[0].text;
    if (fault == Fault::Refused) { // set aside at once, told in the box, and never again
        QVERIFY2(box.contains(QStringLiteral("не начинался")), qPrintable(box));
        QCOMPARE(queuedLines(), 0);
        QVERIFY(QFile(testi->Recorder.queue().refusedPath()).size() > 0);
        destroyProgram();
        QCOMPARE(toolkit::seam::shown().size(), size_t(1));
        QCOMPARE(
            JournalStore(PgServer::shared().url(), JournalStore::Mode::ReadOnly).runs({}).size(),
            size_t(0));
        return;
    }
    QVERIFY2(bank.onServer() ? box.startsWith(QStringLiteral("Ответы сохранены"))
                             : box == QStringLiteral("Набрано баллов 10.\rВаша оценка: 3!"),
             qPrintable(box));
    QCOMPARE(queuedLines(), 1);

    if (fault == Fault::Killed || fault == Fault::ServerDownThenKilled) {
        program.reset(); // no end handling: the record was on disk before the journal write
    } else if (fault == Fault::EndsLocked) {
        toolkit::seam::pushAnswer(ModalResult::OK);
        destroyProgram();
        QCOMPARE(toolkit::seam::shown().size(), size_t(2));
        QVERIFY(toolkit::seam::shown()[1].text.contains(JournalQueue::defaultPath()));
        program.reset();
    }
    if (fault == Fault::ServerDown || fault == Fault::ServerDownThenKilled)
        PgServer::shared().start();

    const bool wasLocked = lock.has_value();
    lock.reset();
    if (wasLocked)
        QCOMPARE(storedRuns(bank).size(), size_t(0));
    if (fault == Fault::DirectoryInTheWay)
        QVERIFY(QDir().rmdir(path));
    if (fault == Fault::NotAJournal)
        QVERIFY(QFile::remove(path));

    // The next chance: the next start, or the next draw.
    if (!program) {
        program.emplace();
        testi->Recorder.retryQueued();
    } else {
        startRun();
    }
    QCOMPARE(queuedLines(), 0);
    testi->Recorder.retryQueued();
    const std::vector<Run> runs = storedRuns(bank);
    QCOMPARE(runs.size(), size_t(1));
    QVERIFY(runs[0].record.finished);
    QCOMPARE(runs[0].answered, 10);
}

// The same choices scored by the program on a file and by the server on a pupil's role, whose
// program reads no mark: the same points in the grade box.
void TestRecording::scoresAsTheServerDoes_data() {
    QTest::addColumn<QString>("tamper"); // run on every question of the bank
    QTest::addColumn<int>("option");     // the buttons pressed on each question
    QTest::addColumn<int>("explanation");
    QTest::addColumn<QString>("box");
    QTest::addColumn<BankEngine>("engine");
    const struct {
        const char* name;
        const char* tamper;
        int option, explanation, points, grade;
    } cases[] = {
        {"the keys", "", 1, 5, 20, 5},
        {"a second key", R"(UPDATE "Т_Вариант" SET "Правильный" = true WHERE "Ответ" LIKE '%.3')",
         3, 6, 10, 3},
        {"a null mark", R"(UPDATE "Т_Объяснение" SET "Правильный" = NULL)", 1, 5, 10, 3},
        {"two rows, the last repeated with its mark",
         R"(DELETE FROM "Т_Вариант" WHERE "Ответ" LIKE '%.3' OR "Ответ" LIKE '%.4';
            UPDATE "Т_Вариант" SET "Правильный" = true WHERE "Ответ" LIKE '%.2')",
         4, 8, 10, 3},
    };
    for (const auto& c : cases)
        for (const BankEngine engine : {BankEngine::File, BankEngine::Server})
            QTest::addRow("%s, %s", c.name, engine == BankEngine::File ? "file" : "server")
                << QString::fromUtf8(c.tamper) << c.option << c.explanation
                << QStringLiteral("Набрано баллов %1.\rВаша оценка: %2!").arg(c.points).arg(c.grade)
                << engine;
}

void TestRecording::scoresAsTheServerDoes() {
    QFETCH(QString, tamper);
    QFETCH(int, option);
    QFETCH(int, explanation);
    QFETCH(QString, box);
    QFETCH(BankEngine, engine);
    REQUIRE_ENGINE(engine);
    BankFixture bank(true, engine);
    serveAsPupil(bank);
    bank.addStandardQuestions(10);
    for (const QString& statement : tamper.split(u';', Qt::SkipEmptyParts))
        bank.exec(statement);
    ProgramFixture program;
    startRun();
    toolkit::seam::pushAnswer(ModalResult::Yes);
    toolkit::WrapRadioButton* const buttons[] = {
        testi->RadioButton1, testi->RadioButton2, testi->RadioButton3, testi->RadioButton4,
        testi->RadioButton5, testi->RadioButton6, testi->RadioButton7, testi->RadioButton8};
    for (int q = 1; q <= 10; ++q) {
        buttons[option - 1]->setChecked(true);
        buttons[explanation - 1]->setChecked(true);
        QTest::mouseClick(testi->Button1, Qt::LeftButton);
    }
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    QCOMPARE(toolkit::seam::shown()[0].text, box);
    QCOMPARE(storedRuns(bank).size(), size_t(1));
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"

// The program under the faults of a classroom: killed while it writes, other copies of it
// changing or locking the same file, thirty copies at once, and a long run of random use.
//
// Other copies of the program are this executable started again with "--role NAME": it opens the
// bank in its working directory through the program's own windows on the offscreen platform,
// runs their handlers and reports each step on a line of its standard output.
#include "app/Startup.h"
#include "app/Unit1.h"
#include "data/DM.h"
#include "data/Errors.h"
#include "data/journal/JournalQueue.h"
#include "editor/Unit2.h"
#include "help/Unit3.h"
#include "server/Server.h"
#include "testing/testirovanie.h"
#include "tests/support/BankFixture.h"
#include "tests/support/PgBouncer.h"
#include "tests/support/PgServer.h"
#include "tests/support/ProgramFixture.h"
#include "toolkit/DBGrid.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"
#include "toolkit/WrapRadioButton.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QToolButton>
#include <QtTest>
#include <cstdio>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

using data::journal::journalPathForBank;
using data::journal::JournalQueue;
using data::journal::JournalStore;
using data::journal::Run;
using data::sqlite::Database;
using testsupport::BankEngine;
using testsupport::BankFixture;
using testsupport::PgBouncer;
using testsupport::PgServer;
using testsupport::ProgramFixture;
using toolkit::ModalResult;
using toolkit::ShownBox;

namespace {

const QString kQuestions = QStringLiteral("Т_Вопросы");
const QString kOptions = QStringLiteral("Т_Вариант");
const QString kConflict =
    QStringLiteral("Row cannot be located for updating. Some values may have been changed since "
                   "it was last read");

// ---- The other copies of the program ----

void say(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// Blocks until the test writes a line (or closes the pipe).
void waitForGo() {
    std::string line;
    std::getline(std::cin, line);
}

// Every box the handlers opened, then forgets them.
void sayBoxes() {
    for (const ShownBox& box : toolkit::seam::shown())
        say((box.kind == ShownBox::Kind::Error ? QStringLiteral("error ")
                                               : QStringLiteral("box ")) +
            QString(box.text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
    toolkit::seam::clearShown();
}

// Draws again and again, each time on a freshly opened bank whose numbers are cleared first.
int roleDraw() {
    for (;;) {
        {
            ProgramFixture program;
            say(QStringLiteral("open"));
            testi->Button2Click(nullptr);
            say(QStringLiteral("drawn"));
        }
        Database file(QStringLiteral("db.mdb"), Database::Mode::ReadWrite);
        file.setBusyTimeout(5000);
        file.exec("UPDATE \"Т_Вопросы\" SET \"Номер\" = NULL");
        say(QStringLiteral("cleared"));
    }
}

// Posts as the editor does: a new question, an answer option under it, and an edit of the first
// question (unless another copy may change it); "posted k" once all of round k is in the file.
void postRound(int k, bool editFirst = true) {
    data::Table& questions = DataModule2->Vopros;
    data::Table& options = DataModule2->Variant;
    questions.append();
    questions.setFieldValue(QStringLiteral("Вопрос"), QStringLiteral("Пост %1").arg(k));
    questions.post();
    options.append();
    options.setFieldValue(QStringLiteral("Ответ"), QStringLiteral("Ответ %1").arg(k));
    options.setFieldValue(QStringLiteral("Правильный"), true);
    options.post();
    if (!editFirst)
        return;
    questions.first();
    questions.edit();
    questions.setFieldValue(QStringLiteral("Вопрос"), QStringLiteral("Правка %1").arg(k));
    questions.post();
    questions.last();
}

int rolePosts() {
    ProgramFixture program;
    say(QStringLiteral("open"));
    for (int k = 1;; ++k) {
        postRound(k);
        say(QStringLiteral("posted %1").arg(k));
    }
}

// A pupil: waits for the start, takes a whole test choosing the first options, answers the grade
// box.
int rolePupil() {
    ProgramFixture program;
    toolkit::seam::arm();
    say(QStringLiteral("open"));
    waitForGo();
    Form1->show();
    toolkit::runHandler([] { Form1->RadioButton1Click(Form1->RadioButton1); });
    sayBoxes();
    if (!testi->isVisible())
        return 3;
    for (int question = 1; question <= 10; ++question) {
        testi->RadioButton1->setChecked(true);
        testi->RadioButton5->setChecked(true);
        if (question == 10)
            toolkit::seam::pushAnswer(ModalResult::Yes);
        testi->Button1->click();
        sayBoxes();
    }
    // As the program ends: a run the journal did not take yet is stored now, or shows a box.
    toolkit::runHandler([] { testi->Recorder.programEnds(); });
    sayBoxes();
    return toolkit::seam::unexpectedBoxes() == 0 ? 0 : 4;
}

// The teacher: waits for the start, then adds questions in the editor's data module.
int roleTeacher() {
    ProgramFixture program;
    toolkit::seam::arm();
    say(QStringLiteral("open"));
    waitForGo();
    for (int k = 1; k <= 20; ++k) {
        toolkit::runHandler([k] { postRound(k, false); });
        sayBoxes();
        say(QStringLiteral("posted %1").arg(k));
    }
    return 0;
}

// A pupil who opened the program and does nothing until the class ends.
int roleIdle() {
    ProgramFixture program;
    say(QStringLiteral("open"));
    waitForGo();
    waitForGo();
    return 0;
}

int runRole(const QString& role) {
    try {
        if (role == QLatin1String("draw"))
            return roleDraw();
        if (role == QLatin1String("posts"))
            return rolePosts();
        if (role == QLatin1String("pupil"))
            return rolePupil();
        if (role == QLatin1String("teacher"))
            return roleTeacher();
        if (role == QLatin1String("idle"))
            return roleIdle();
    } catch (const std::exception& error) {
        say(QStringLiteral("error ") + QString::fromUtf8(error.what()));
        return 2;
    }
    return 5;
}

// ---- The test's side ----

// Another copy of the program in the bank's folder.
struct Copy {
    QProcess process;
    QByteArray output;

    Copy(const QString& role, const QString& folder) {
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--role"), role});
    }
    ~Copy() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
    QByteArray read() {
        output += process.readAllStandardOutput();
        return output;
    }
    bool has(const char* line) { return read().contains(QByteArray(line) + '\n'); }
    // Waits for a line of output.
    bool waitFor(const char* line, int ms = 120000) {
        QDeadlineTimer deadline(ms);
        while (!has(line) && !deadline.hasExpired())
            if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning)
                return has(line);
        return has(line);
    }
    QList<QByteArray> lines() { return read().split('\n'); }
};

QString integrity(BankFixture& bank) {
    return bank.scalar(QStringLiteral("PRAGMA integrity_check")).toString();
}

// Rows of the detail table whose link is neither empty nor a question's id.
qint64 strayOptions(BankFixture& bank) {
    return bank
        .scalar(QStringLiteral("SELECT count(*) FROM \"Т_Вариант\" WHERE \"Вопрос\" IS NOT NULL "
                               "AND \"Вопрос\" NOT IN (SELECT id FROM \"Т_Вопросы\")"))
        .toLongLong();
}

// Questions with a number; their numbers must be 1..n, each once.
void verifyNumbering(BankFixture& bank, bool mayBeEmpty) {
    const qint64 n = bank.count(kQuestions);
    const qint64 numbered =
        bank.scalar(QStringLiteral("SELECT count(DISTINCT \"Номер\") FROM \"Т_Вопросы\" WHERE "
                                   "\"Номер\" BETWEEN 1 AND (SELECT count(*) FROM \"Т_Вопросы\")"))
            .toLongLong();
    const qint64 anyNumber =
        bank.scalar(QStringLiteral("SELECT count(\"Номер\") FROM \"Т_Вопросы\"")).toLongLong();
    if (mayBeEmpty && anyNumber == 0)
        return;
    QCOMPARE(anyNumber, n);
    QCOMPARE(numbered, n);
}

// Adds count questions without number, details and the same text, in one transaction.
void addBareQuestions(BankFixture& bank, int count) {
    bank.exec(QStringLiteral("WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k "
                             "WHERE i < %1) INSERT INTO \"Т_Вопросы\" (\"Вопрос\") SELECT "
                             "'Без вариантов ' || i FROM k")
                  .arg(count));
}

// Holds the file's write lock from another connection for a while.
class LockHolder {
public:
    LockHolder(const QString& path, int ms) {
        std::promise<void> locked;
        std::future<void> held = locked.get_future();
        thread_ = std::thread([path, ms, &locked] {
            Database other(path, Database::Mode::ReadWrite);
            other.exec("BEGIN IMMEDIATE");
            locked.set_value();
            QThread::msleep(ulong(ms));
            other.exec("COMMIT");
        });
        held.wait();
    }
    ~LockHolder() { thread_.join(); }

private:
    std::thread thread_;
};

QStringList boxTexts() {
    QStringList texts;
    for (const ShownBox& box : toolkit::seam::shown())
        texts << box.text;
    return texts;
}

} // namespace

class tst_Faults : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { testsupport::verifyAllBoxesAnswered(); }

    void killedMidWrite_data();
    void killedMidWrite();
    void otherCopy_data();
    void otherCopy();
    void classroom_data();
    void classroom();
    void monkey_data();
    void monkey();
    void badData_data();
    void badData();
};

void tst_Faults::killedMidWrite_data() {
    QTest::addColumn<QString>("role");
    QTest::addColumn<int>("seed");
    for (int seed = 1; seed <= 10; ++seed) {
        QTest::addRow("draw %d", seed) << QStringLiteral("draw") << seed;
        QTest::addRow("posts %d", seed) << QStringLiteral("posts") << seed;
    }
}

// SIGKILL at a seeded random moment while a copy draws on 20,000 unnumbered questions or posts
// from the editor: the file stays sound, everything reported written is there whole, the numbers
// are all there or none, and the program works on the file again.
void tst_Faults::killedMidWrite() {
    QFETCH(QString, role);
    QFETCH(int, seed);
    const bool draw = role == QLatin1String("draw");
    BankFixture bank;
    bank.addStandardQuestions(12);
    if (draw)
        addBareQuestions(bank, 20000 - 12);
    const qint64 questionsBefore = bank.count(kQuestions);

    {
        Copy copy(role, bank.dir());
        QVERIFY2(copy.waitFor("open"), copy.output.constData());
        QRandomGenerator moment{quint32(seed)};
        QThread::msleep(ulong(draw ? moment.bounded(0, 4000) : moment.bounded(20, 1500)));
        copy.process.kill();
        QVERIFY(copy.process.waitForFinished(30000));
        QVERIFY2(!copy.read().contains("error"), copy.output.constData());
        // A journal left behind means the kill fell inside a write transaction.
        qInfo("killed %s, after %d whole draws",
              QFile::exists(bank.bankPath() + QStringLiteral("-journal")) ? "inside a transaction"
                                                                          : "between writes",
              int(copy.read().count("drawn\n")));

        QCOMPARE(integrity(bank), QStringLiteral("ok"));
        if (draw) {
            QCOMPARE(bank.count(kQuestions), questionsBefore);
            verifyNumbering(bank, true);
        } else {
            int posted = 0;
            for (const QByteArray& line : copy.lines())
                if (line.startsWith("posted "))
                    posted = line.mid(7).toInt();
            qInfo("killed after %d rounds", posted);
            QVERIFY(bank.count(kQuestions) - questionsBefore >= posted);
            QVERIFY(bank.count(kQuestions) - questionsBefore <= posted + 1);
            for (int k = 1; k <= posted; ++k) {
                const QVariant id =
                    bank.scalar(QStringLiteral("SELECT id FROM \"Т_Вопросы\" WHERE \"Вопрос\" = ?"),
                                {QStringLiteral("Пост %1").arg(k)});
                QVERIFY2(id.isValid(), qPrintable(QString::number(k)));
                QCOMPARE(bank.scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вариант\" WHERE "
                                                    "\"Ответ\" = ?"),
                                     {QStringLiteral("Ответ %1").arg(k)}),
                         id);
            }
            const QString firstText =
                bank.scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\" ORDER BY id"))
                    .toString();
            if (posted > 0)
                QVERIFY2(firstText == QStringLiteral("Правка %1").arg(posted) ||
                             firstText == QStringLiteral("Правка %1").arg(posted + 1),
                         qPrintable(firstText));
            QCOMPARE(strayOptions(bank), 0);
        }
    }

    // The program opens the file again and a test can start on it.
    ProgramFixture program;
    testi->Button2Click(nullptr);
    verifyNumbering(bank, false);
    QCOMPARE(integrity(bank), QStringLiteral("ok"));
}

void tst_Faults::otherCopy_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("table"); // 0 the questions, 1 the answer options
    QTest::addColumn<QString>("expectedError");
    const QString locked = QStringLiteral("database is locked");
    QTest::newRow("question changed") << "changed" << 0 << kConflict;
    QTest::newRow("question deleted") << "deleted" << 0 << kConflict;
    QTest::newRow("option changed") << "changed" << 1 << kConflict;
    QTest::newRow("option deleted") << "deleted" << 1 << kConflict;
    QTest::newRow("locked shorter than the timeout") << "short lock" << 0 << QString();
    QTest::newRow("locked longer than the timeout") << "long lock" << 1 << locked;
    QTest::newRow("locked at exit") << "lock at exit" << 0 << locked;
}

// Another copy of the program changed, deleted or locked the row this copy is posting: the post
// is waited out or refused with the error box, writes nothing, and the row stays pending; Esc
// gives it up, a later post writes it, and the end of the program reports it.
void tst_Faults::otherCopy() {
    QFETCH(QString, fault);
    QFETCH(int, table);
    QFETCH(QString, expectedError);
    BankFixture bank;
    bank.addStandardQuestions(10);
    ProgramFixture program;
    toolkit::seam::arm();
    Edittest->show();

    data::Table& rows = table == 0 ? DataModule2->Vopros : DataModule2->Variant;
    toolkit::TDBGrid* grid = table == 0 ? Edittest->DBGrid1 : Edittest->DBGrid2;
    const QString fileTable = table == 0 ? kQuestions : kOptions;
    const QString textField = table == 0 ? QStringLiteral("Вопрос") : QStringLiteral("Ответ");
    const qint64 id = rows.fieldValue(QStringLiteral("id")).toLongLong();
    const QString asRead = rows.fieldValue(textField).toString();
    const QString textSql =
        QStringLiteral("SELECT \"%1\" FROM \"%2\" WHERE id = ?").arg(textField, fileTable);

    rows.edit();
    rows.setFieldValue(textField, QStringLiteral("Моя правка"));
    QString theirs = asRead;
    std::unique_ptr<LockHolder> lock;
    if (fault == QLatin1String("changed")) {
        theirs = QStringLiteral("Чужая правка");
        bank.db().exec(QStringLiteral("UPDATE \"%1\" SET \"%2\" = 'Чужая правка' WHERE id = %3")
                           .arg(fileTable, textField)
                           .arg(id)
                           .toUtf8()
                           .constData());
    } else if (fault == QLatin1String("deleted")) {
        bank.exec(QStringLiteral("DELETE FROM \"%1\" WHERE id = %2").arg(fileTable).arg(id));
    } else {
        const int busyTimeout = DataModule2->ADOConnection1.busyTimeoutMs;
        lock = std::make_unique<LockHolder>(bank.bankPath(), fault == QLatin1String("short lock")
                                                                 ? busyTimeout / 5
                                                                 : busyTimeout + 1500);
    }

    if (!expectedError.isEmpty())
        toolkit::seam::pushAnswer(ModalResult::OK);
    if (fault == QLatin1String("lock at exit")) {
        destroyProgram();
        QCOMPARE(boxTexts(), QStringList{toolkit::errorBoxText(expectedError)});
        lock.reset();
        QCOMPARE(bank.scalar(textSql, {id}).toString(), asRead);
        return;
    }
    toolkit::runHandler([&rows] { rows.post(); });
    lock.reset();

    if (expectedError.isEmpty()) {
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(bank.scalar(textSql, {id}).toString(), QStringLiteral("Моя правка"));
        return;
    }
    QCOMPARE(boxTexts(), QStringList{toolkit::errorBoxText(expectedError)});
    QCOMPARE(rows.state(), data::DataSetState::Edit);
    QCOMPARE(rows.fieldValue(textField).toString(), QStringLiteral("Моя правка"));
    QCOMPARE(bank.scalar(textSql, {id}).toString(),
             fault == QLatin1String("deleted") ? QString() : theirs);

    if (fault == QLatin1String("long lock")) {
        // The lock is gone: the same post now writes the row.
        toolkit::runHandler([&rows] { rows.post(); });
        QCOMPARE(rows.state(), data::DataSetState::Browse);
        QCOMPARE(bank.scalar(textSql, {id}).toString(), QStringLiteral("Моя правка"));
        return;
    }
    // Esc in the grid gives the edit up; nothing more is written.
    QTest::keyClick(grid, Qt::Key_Escape);
    QCOMPARE(rows.state(), data::DataSetState::Browse);
    QCOMPARE(rows.fieldValue(textField).toString(), asRead);
    QCOMPARE(bank.scalar(textSql, {id}).toString(),
             fault == QLatin1String("deleted") ? QString() : theirs);
}

void tst_Faults::classroom_data() {
    QTest::addColumn<BankEngine>("engine");
    QTest::newRow("one bank file") << BankEngine::File;
    QTest::newRow("a school's server") << BankEngine::Server;
    // Every copy's transactions take turns on one server connection.
    QTest::newRow("a school's server through a pooler of one") << BankEngine::Pooled;
}

// Thirty copies on one bank whose questions have no numbers yet: ten take a whole test at once
// (their draws overlap), one teacher adds questions, the rest only have the bank open.
void tst_Faults::classroom() {
    QFETCH(BankEngine, engine);
    const bool onServer = engine != BankEngine::File;
    if (const QString why = engine == BankEngine::Pooled ? PgBouncer::unavailableReason()
                                                         : PgServer::unavailableReason();
        onServer && !why.isEmpty())
        QSKIP(qPrintable(why));
    constexpr int kCopies = 30;
    constexpr int kPupils = 10;
    BankFixture bank(true, engine);
    bank.addStandardQuestions(15);
    if (onServer) // the journal's tables and its recording function, as a school sets them up
        bank::server::initServer(PgServer::shared().url(), QStringLiteral("учителя"),
                                 QStringLiteral("ученики"));
    std::vector<std::unique_ptr<Copy>> copies;
    for (int i = 0; i < kCopies; ++i)
        copies.push_back(std::make_unique<Copy>(i < kPupils    ? QStringLiteral("pupil")
                                                : i == kPupils ? QStringLiteral("teacher")
                                                               : QStringLiteral("idle"),
                                                bank.dir()));
    for (auto& copy : copies)
        QVERIFY2(copy->waitFor("open", 300000), copy->output.constData());
    for (auto& copy : copies)
        copy->process.write("go\n");

    for (int i = 0; i <= kPupils; ++i) {
        Copy& copy = *copies[size_t(i)];
        QVERIFY2(copy.process.waitForFinished(300000), copy.read().constData());
        const QByteArray output = copy.read();
        QVERIFY2(copy.process.exitCode() == 0, output.constData());
        QVERIFY2(!output.contains("error"), output.constData());
        if (i < kPupils)
            QVERIFY2(output.contains("box Набрано баллов"), output.constData());
    }
    for (auto& copy : copies)
        copy->process.closeWriteChannel();
    for (auto& copy : copies) {
        QVERIFY(copy->process.state() == QProcess::NotRunning ||
                copy->process.waitForFinished(60000));
        QCOMPARE(copy->process.exitCode(), 0);
    }

    if (!onServer)
        QCOMPARE(integrity(bank), QStringLiteral("ok"));
    QCOMPARE(bank.count(kQuestions), 15 + 20);
    QCOMPARE(bank.count(kOptions), 15 * 4 + 20);
    QCOMPARE(bank.scalar(QStringLiteral("SELECT count(DISTINCT \"Вопрос\") FROM \"Т_Вопросы\"")),
             QVariant(qint64(15 + 20)));
    QCOMPARE(strayOptions(bank), 0);
    // Every finished run recorded, once.
    if (onServer) {
        QCOMPARE(bank.count(QStringLiteral("Т_Прохождение")), qint64(kPupils));
        QCOMPARE(bank.scalar(QStringLiteral("SELECT count(*) FROM \"Т_Прохождение\" WHERE "
                                            "\"Завершён\" AND \"Отвечено\" = 10 AND "
                                            "\"Баллы\" = 20")),
                 QVariant(qint64(kPupils)));
    } else {
        const std::vector<Run> runs =
            JournalStore(journalPathForBank(bank.bankPath()), JournalStore::Mode::ReadOnly)
                .runs({});
        QCOMPARE(runs.size(), size_t(kPupils));
        for (const Run& run : runs)
            QVERIFY(run.record.finished && run.answered == 10 && run.record.points == 20);
    }
    QVERIFY(!QFile::exists(JournalQueue::defaultPath()));
}

void tst_Faults::monkey_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("events");
    for (quint32 seed = 1; seed <= 5; ++seed)
        QTest::addRow("seed %u", seed) << seed << 1000;
}

// Random clicks, keys, window closes and box answers on the main menu, the testing window and the
// editor, the same every run of a seed. After each step: only the boxes a user may meet, a sound
// file, every detail row linked to a question that exists or existed (deleting a question leaves
// its rows) or to none, and every table on a row it shows.
void tst_Faults::monkey() {
    QFETCH(quint32, seed);
    QFETCH(int, events);
    BankFixture bank;
    bank.addStandardQuestions(12);
    ProgramFixture program;
    Form1->show();
    QRandomGenerator random(seed);
    const auto pick = [&random](const auto& list) {
        return list[size_t(random.bounded(int(std::size(list))))];
    };

    const std::vector<QRegularExpression> expectedBoxes = {
        QRegularExpression(QStringLiteral("^Вы не выбрали вариант ответа!$")),
        QRegularExpression(QStringLiteral("^Набрано баллов")),
        QRegularExpression(QStringLiteral("^Для теста нужно")),
        QRegularExpression(QStringLiteral("^Вы действительно хотите удалить")),
        // Deleting in an empty answer table, after the confirmation.
        QRegularExpression(QStringLiteral(": Cannot perform this operation on an empty dataset")),
        // A row added in the editor and left without its text, drawn later: the draw is seeded
        // by the clock, so whether it is drawn differs from run to run.
        QRegularExpression(QStringLiteral("^Could not convert variant of type \\(Null\\) into type "
                                          "\\(String\\)$")),
    };
    QSet<qint64> questionIds;
    const auto strayLinks = [&](const QString& table) {
        data::sqlite::Statement links(bank.db(),
                                      QStringLiteral("SELECT DISTINCT \"Вопрос\" FROM "
                                                     "\"%1\" WHERE \"Вопрос\" IS NOT NULL")
                                          .arg(table));
        int stray = 0;
        while (links.step())
            stray += questionIds.contains(links.columnInt(0)) ? 0 : 1;
        return stray;
    };

    const std::vector<ModalResult> answers = {ModalResult::Yes, ModalResult::No, ModalResult::OK,
                                              ModalResult::Cancel};
    const std::vector<int> keys = {Qt::Key_Up,     Qt::Key_Down,  Qt::Key_Insert, Qt::Key_Escape,
                                   Qt::Key_Return, Qt::Key_F2,    Qt::Key_Tab,    Qt::Key_A,
                                   Qt::Key_1,      Qt::Key_Space, Qt::Key_Delete, Qt::Key_PageDown};
    int sent = 0;
    for (int step = 0; step < events; ++step) {
        data::sqlite::Statement ids(bank.db(), QStringLiteral("SELECT id FROM \"Т_Вопросы\""));
        while (ids.step())
            questionIds.insert(ids.columnInt(0));

        toolkit::seam::arm();
        toolkit::seam::pushAnswer(pick(answers));
        toolkit::seam::pushAnswer(pick(answers));
        const int what = random.bounded(10);
        QString action;
        if (what == 0 || !(Form1->isVisible() || testi->isVisible() || Edittest->isVisible())) {
            Form1->show();
            const int item = random.bounded(3);
            action = QStringLiteral("menu %1").arg(item);
            toolkit::runHandler([item] {
                if (item == 0)
                    Form1->RadioButton1Click(nullptr);
                else if (item == 1)
                    Form1->RadioButton2Click(nullptr);
                else
                    Form1->RadioButton3Click(nullptr);
            });
        } else if (what <= 4 && testi->isVisible()) {
            const int button = random.bounded(9);
            action = QStringLiteral("testing %1").arg(button);
            const std::vector<QAbstractButton*> buttons = {
                testi->RadioButton1, testi->RadioButton2, testi->RadioButton3,
                testi->RadioButton4, testi->RadioButton5, testi->RadioButton6,
                testi->RadioButton7, testi->RadioButton8, testi->Button1};
            buttons[size_t(button)]->click();
        } else if (what <= 8 && Edittest->isVisible()) {
            if (random.bounded(3) == 0) {
                const std::vector<QToolButton*> buttons = {
                    Edittest->SpeedButton1, Edittest->SpeedButton2, Edittest->SpeedButton3,
                    Edittest->SpeedButton4, Edittest->SpeedButton5, Edittest->SpeedButton6};
                const int button = random.bounded(6);
                action = QStringLiteral("speed button %1").arg(button + 1);
                buttons[size_t(button)]->click();
            } else {
                const std::vector<toolkit::TDBGrid*> grids = {Edittest->DBGrid1, Edittest->DBGrid2,
                                                              Edittest->DBGrid3};
                toolkit::TDBGrid* grid = pick(grids);
                const int key = pick(keys);
                action = QStringLiteral("key %1 in %2").arg(key).arg(grid->objectName());
                QWidget* target = QApplication::focusWidget();
                if (!target || !grid->isAncestorOf(target))
                    target = grid;
                QTest::keyClick(target, Qt::Key(key));
            }
        } else {
            const std::vector<QWidget*> windows = {testi, Edittest, about};
            QWidget* window = pick(windows);
            action = QStringLiteral("close %1").arg(window->objectName());
            window->close();
        }
        ++sent;

        for (const ShownBox& box : toolkit::seam::shown()) {
            bool expected = false;
            for (const QRegularExpression& pattern : expectedBoxes)
                expected = expected || pattern.match(box.text).hasMatch();
            QVERIFY2(expected,
                     qPrintable(QStringLiteral("step %1, %2: %3").arg(step).arg(action, box.text)));
        }
        QCOMPARE(toolkit::seam::unexpectedBoxes(), 0);
        toolkit::seam::disarm();
        QCOMPARE(integrity(bank), QStringLiteral("ok"));
        QVERIFY2(strayLinks(kOptions) == 0, qPrintable(action));
        QVERIFY2(strayLinks(QStringLiteral("Т_Объяснение")) == 0, qPrintable(action));
        for (data::Table* table :
             {&DataModule2->Vopros, &DataModule2->Variant, &DataModule2->Obyasnenie}) {
            const int at = table->currentPosition();
            QVERIFY2(at < table->shownCount() && (at >= 0) == (table->shownCount() > 0),
                     qPrintable(action));
        }
    }
    toolkit::seam::arm();
    qInfo("%d events sent", sent);
}

void tst_Faults::badData_data() {
    QTest::addColumn<int>("questions");
    QTest::addColumn<QString>("spoil");    // SQL run on the bank before the program opens it
    QTest::addColumn<QString>("expected"); // the box the draw and the run end with, a pattern
    const QString allCorrect = QStringLiteral("^Набрано баллов 20\\.\\rВаша оценка: 5!$");
    const QString noneCorrect = QStringLiteral("^Набрано баллов 0\\.\\rВаша оценка: 2!$");
    const QString few = QStringLiteral("^Для теста нужно 10 вопросов, в базе: %1\\.$");
    const QString fewShowable = QStringLiteral(
        "^Для теста нужно 10 вопросов с ответами и пояснениями, в базе таких: %1 из %2\\.$");
    QTest::newRow("null question texts")
        << 10 << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = NULL" << allCorrect;
    QTest::newRow("empty texts")
        << 10
        << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = ''; UPDATE \"Т_Вариант\" SET \"Ответ\" = ''; "
           "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = ''"
        << allCorrect;
    QTest::newRow("texts of 10,000 characters")
        << 10
        << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = printf('%.10000c', 'В'); "
           "UPDATE \"Т_Вариант\" SET \"Ответ\" = printf('%.10000c', 'x'); "
           "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = printf('%.10000c', 'y')"
        << allCorrect;
    QTest::newRow("invalid UTF-8")
        << 10
        << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = CAST(X'C328FFD0' AS TEXT); "
           "UPDATE \"Т_Вариант\" SET \"Ответ\" = CAST(X'80BFC0AF' AS TEXT); "
           "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = CAST(X'EDA080F8' AS TEXT)"
        << allCorrect;
    QTest::newRow("numbers and bytes for texts")
        << 10
        << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = 42; "
           "UPDATE \"Т_Вариант\" SET \"Ответ\" = X'00FF41'; "
           "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = 3.5"
        << allCorrect;
    QTest::newRow("null flags") << 10
                                << "UPDATE \"Т_Вариант\" SET \"Правильный\" = NULL; "
                                   "UPDATE \"Т_Объяснение\" SET \"Правильный\" = NULL"
                                << noneCorrect;
    QTest::newRow("flags of 2 and -1")
        << 10
        << "UPDATE \"Т_Вариант\" SET \"Правильный\" = 2 WHERE \"Правильный\" = 1; "
           "UPDATE \"Т_Объяснение\" SET \"Правильный\" = -1 WHERE \"Правильный\" = 1"
        << allCorrect;
    QTest::newRow("some numbers null, some taken")
        << 12 << "UPDATE \"Т_Вопросы\" SET \"Номер\" = 13 - id WHERE id % 2 = 0" << allCorrect;
    QTest::newRow("duplicate numbers")
        << 12 << "UPDATE \"Т_Вопросы\" SET \"Номер\" = 1" << allCorrect;
    QTest::newRow("rows of deleted questions")
        << 10
        << "INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\", \"Правильный\") "
           "SELECT 1000 + id, 'Осталось ' || id, 1 FROM \"Т_Вариант\"; "
           "DELETE FROM \"Т_Вопросы\" WHERE id = 1; "
           "INSERT INTO \"Т_Вопросы\" (\"Вопрос\") VALUES ('Без строк')"
        << fewShowable.arg(9).arg(10);
    QTest::newRow("no questions") << 0 << "" << few.arg(0);
    QTest::newRow("one question") << 1 << "" << few.arg(1);
    QTest::newRow("9 questions") << 9 << "" << few.arg(9);
}

// A valid file holding data the program never writes itself: a draw and a whole run, answering
// every question with the first option and explanation, end in the box the row expects; the
// editor then walks every question with its grids painted, and no box appears there.
void tst_Faults::badData() {
    QFETCH(int, questions);
    QFETCH(QString, spoil);
    QFETCH(QString, expected);
    BankFixture bank;
    bank.addStandardQuestions(questions);
    if (!spoil.isEmpty())
        bank.exec(spoil);
    ProgramFixture program;
    toolkit::seam::arm();

    toolkit::seam::pushAnswer(ModalResult::Yes); // the grade box, or the refusal
    Form1->show();
    toolkit::runHandler([] { Form1->RadioButton1Click(nullptr); });
    if (testi->isVisible()) {
        for (int q = 1; q <= 10 && testi->isVisible(); ++q) {
            testi->grab();
            testi->RadioButton1->click();
            testi->RadioButton5->click();
            testi->Button1->click();
        }
    }
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    const QString text = toolkit::seam::shown().front().text;
    QVERIFY2(QRegularExpression(expected).match(text).hasMatch(), qPrintable(text));
    QVERIFY(!testi->isVisible());
    QCOMPARE(integrity(bank), QStringLiteral("ok"));
    verifyNumbering(bank, true); // a refused draw numbers nothing

    toolkit::seam::clearShown();
    toolkit::runHandler([] { Form1->RadioButton2Click(nullptr); });
    QVERIFY(Edittest->isVisible());
    const auto paint = [] {
        for (toolkit::TDBGrid* grid : {Edittest->DBGrid1, Edittest->DBGrid2, Edittest->DBGrid3})
            grid->viewport()->grab();
    };
    DataModule2->Vopros.first(); // the run left it on its last question
    paint();
    for (int row = 1; row < DataModule2->Vopros.recordCount(); ++row) {
        QTest::keyClick(Edittest->DBGrid1, Qt::Key_Down);
        QCOMPARE(DataModule2->Vopros.currentPosition(), row);
        paint();
    }
    QVERIFY(toolkit::seam::shown().empty());

    // A click in the flag column posts the row; the text beside the flag stays in the file
    // byte for byte, whatever it holds.
    data::Table& options = DataModule2->Variant;
    if (options.isEmpty())
        return;
    const QVariant id = options.fieldValue(QStringLiteral("id"));
    const QString bytes = QStringLiteral(
        "SELECT hex(\"Ответ\") || typeof(\"Ответ\") FROM \"Т_Вариант\" WHERE id = ?");
    const QVariant before = bank.scalar(bytes, {id});
    toolkit::runHandler([&options] {
        options.edit();
        options.setFieldValue(QStringLiteral("Правильный"), true);
        options.post();
    });
    QVERIFY(toolkit::seam::shown().empty());
    QCOMPARE(bank.scalar(bytes, {id}), before);
    QCOMPARE(
        bank.scalar(QStringLiteral("SELECT \"Правильный\" FROM \"Т_Вариант\" WHERE id = ?"), {id}),
        QVariant(qint64(1)));
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--role") == 0)
        return runRole(QString::fromUtf8(argv[2]));
    tst_Faults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"

// The results journal's store, queue and statistics, on runs made with known choices, in a
// journal file and on a server.
#include "data/journal/JournalQueue.h"
#include "data/journal/JournalReader.h"
#include "data/journal/JournalStore.h"
#include "server/Server.h"
#include "tests/support/BankFixture.h"
#include "tests/support/JournalRuns.h"
#include "tests/support/PgBouncer.h"
#include "tests/support/PgServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace data::journal;
using testsupport::BankEngine;
using testsupport::knownRun;

namespace {

// Pupils alike: `strength` right answers (and explanations) of the nine other questions, and
// `choice` for the question under test, whose key is option `key`.
struct Pupils {
    int count;
    int strength;
    int choice;
};

// Pearson's r written out over the pupils, to check the store's sums against.
double itemRest(const QList<Pupils>& pupils, int key) {
    std::vector<std::pair<double, double>> xy;
    for (const Pupils& p : pupils)
        for (int i = 0; i < p.count; ++i)
            xy.push_back({p.choice == key ? 1.0 : 0.0, 2.0 * p.strength});
    double mx = 0, my = 0;
    for (auto [x, y] : xy)
        mx += x / double(xy.size()), my += y / double(xy.size());
    double sxy = 0, sxx = 0, syy = 0;
    for (auto [x, y] : xy)
        sxy += (x - mx) * (y - my), sxx += (x - mx) * (x - mx), syy += (y - my) * (y - my);
    return sxx < 1e-9 || syy < 1e-9 ? NAN : sxy / std::sqrt(sxx * syy);
}

} // namespace

// The suite runs once per engine (main below): the store reads a server's journal in place.
class TestJournal : public QObject {
    Q_OBJECT
public:
    explicit TestJournal(BankEngine engine) : engine_(engine) {}

private:
    // An empty journal on the suite's engine: a file in the folder, or on the server a database
    // of its own, made as server-init makes it, reached directly or through the pooler.
    QString freshJournal(const QTemporaryDir& dir) {
        if (engine_ == BankEngine::File)
            return dir.filePath(QStringLiteral("journal.db"));
        static int made = 0;
        const QString name = QStringLiteral("journal_%1").arg(++made);
        testsupport::PgServer::shared().psql(QStringLiteral("CREATE DATABASE %1").arg(name));
        const QString url = testsupport::PgServer::shared().url(QStringLiteral("postgres"), name);
        bank::server::initServer(url, QStringLiteral("учителя"), QStringLiteral("ученики"));
        if (engine_ == BankEngine::Pooled)
            return testsupport::PgBouncer::shared().url(QStringLiteral("postgres"), name);
        return url;
    }
    BankEngine engine_;

private slots:
    void statistics_data();
    void statistics();
    void mendedQuestionStartsAfresh();
    void queueStoresWholeRecordsOnce();
    void cellsOfAnyKindInAFileFromElsewhere();
    void readerGivesTheSameViewsOnBothEngines_data();
    void readerGivesTheSameViewsOnBothEngines();
};

void TestJournal::statistics_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QList<Pupils>>("pupils");
    QTest::addColumn<QList<int>>("chosen");
    QTest::addColumn<QList<Flag>>("flags");
    QTest::newRow("a good question")
        << 1 << QList<Pupils>{{8, 9, 1}, {6, 5, 1}, {6, 2, 2}, {5, 0, 3}} << QList<int>{14, 6, 5, 0}
        << QList<Flag>{};
    QTest::newRow("the key on the wrong option")
        << 1 << QList<Pupils>{{8, 9, 3}, {6, 5, 1}, {6, 2, 1}, {5, 0, 2}} << QList<int>{12, 5, 8, 0}
        << QList<Flag>{Flag::LikelyWrongKey};
    QTest::newRow("too easy") << 2 << QList<Pupils>{{10, 9, 2}, {10, 3, 2}}
                              << QList<int>{0, 20, 0, 0} << QList<Flag>{Flag::TooEasy};
    QTest::newRow("too hard") << 4 << QList<Pupils>{{4, 9, 4}, {2, 4, 2}, {14, 1, 3}}
                              << QList<int>{0, 2, 14, 4} << QList<Flag>{Flag::TooHard};
    QTest::newRow("too few draws to tell")
        << 1 << QList<Pupils>{{19, 0, 2}} << QList<int>{0, 19, 0, 0} << QList<Flag>{};
}

void TestJournal::statistics() {
    QFETCH(int, key);
    QFETCH(QList<Pupils>, pupils);
    QFETCH(QList<int>, chosen);
    QFETCH(QList<Flag>, flags);
    QTemporaryDir dir;
    JournalStore journal(freshJournal(dir), JournalStore::Mode::Record);
    qint64 drawn = 0;
    for (const Pupils& p : pupils)
        for (int i = 0; i < p.count; ++i, ++drawn)
            journal.store(knownRun(p.strength, key, p.choice));
    RunRecord unfinished = knownRun(0, key, key); // left out of the statistics
    unfinished.finished = false;
    journal.store(unfinished);
    // So are runs before and after the days asked for (the known runs are of 20 May).
    for (const int days : {-400, 400}) {
        RunRecord other = knownRun(9, key, key % 4 + 1);
        other.started = other.started.addDays(days);
        journal.store(other);
    }

    const std::vector<QuestionStats> stats =
        journal.questionStats({QDate(2026, 5, 19), QDate(2026, 5, 21), {}, {}});
    QCOMPARE(stats.size(), size_t(kQuestionsPerRun));
    const QuestionStats& s = stats[0];
    QCOMPARE(s.questionId, qint64(1));
    QCOMPARE(s.drawn, drawn);
    QCOMPARE(s.rightOptions, qint64(chosen[key - 1]));
    QCOMPARE(s.rightExplanations, s.rightOptions);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(s.optionChosen[size_t(i)], qint64(chosen[i]));
    const double expected = itemRest(pupils, key);
    QCOMPARE(s.discrimination.has_value(), std::isfinite(expected));
    if (s.discrimination)
        QVERIFY(std::abs(*s.discrimination - expected) < 1e-9);
    const std::vector<Flag> found = flagsOf(s);
    QCOMPARE(QList<Flag>(found.begin(), found.end()), flags);
}

void TestJournal::mendedQuestionStartsAfresh() {
    QTemporaryDir dir;
    JournalStore journal(freshJournal(dir), JournalStore::Mode::Record);
    for (int i = 0; i < 25; ++i)
        journal.store(knownRun(i % 10, 1, i % 10 > 6 ? 3 : 1));
    // The teacher moves the mark to option 3: the same question, counted apart from now on.
    for (int i = 0; i < 25; ++i)
        journal.store(knownRun(i % 10, 3, i % 10 > 6 ? 3 : 1));
    const std::vector<QuestionStats> stats = journal.questionStats({});
    QCOMPARE(stats.size(), size_t(kQuestionsPerRun + 1));
    QCOMPARE(stats[0].questionId, stats[1].questionId);
    QCOMPARE(flagsOf(stats[0]), std::vector<Flag>{Flag::LikelyWrongKey});
    QCOMPARE(stats[1].options[2].correct, true);
    QCOMPARE(flagsOf(stats[1]), std::vector<Flag>{});
}

void TestJournal::queueStoresWholeRecordsOnce() {
    if (engine_ != BankEngine::File)
        QSKIP("the queue keeps runs for journal files");
    QTemporaryDir dir;
    const QString journalPath = dir.filePath(QStringLiteral("journal.db"));
    const QString elsewhere = dir.filePath(QStringLiteral("gone/journal.db"));
    JournalQueue queue(dir.filePath(QStringLiteral("share/infotest/journal-queue.jsonl")));
    const RunRecord first = knownRun(3, 1, 1);
    queue.append(journalPath, first);
    {
        // A crash in the middle of an append leaves a line cut off.
        QFile file(queue.path());
        QVERIFY(file.open(QIODevice::Append));
        file.write(recordToJson(journalPath, knownRun(4, 1, 1)).left(200));
    }
    queue.append(journalPath, knownRun(5, 1, 2));
    queue.append(elsewhere, knownRun(6, 1, 2)); // a journal that cannot be reached stays queued
    JournalQueue::Outcome outcome = queue.flush(0);
    QVERIFY2(outcome.stored == 2, qPrintable(outcome.error));
    QCOMPARE(outcome.remaining, 1);
    // A record whose commit went through but was not seen to: retried, stored once.
    queue.append(journalPath, first);
    outcome = queue.flush(0);
    QCOMPARE(outcome.stored, 1);
    QCOMPARE(outcome.remaining, 1);
    // Links put in place of the queue and its lock are never written through, not even with the
    // journal unreachable: the run goes to a fresh queue.
    for (const QString& name : {queue.path(), queue.path() + QStringLiteral(".lock")})
        QVERIFY(QFile::remove(name) && QFile::link(journalPath, name));
    queue.append(elsewhere, knownRun(7, 1, 2));
    QCOMPARE(queue.flush(0).remaining, 1);
    QVERIFY(QFileInfo(queue.path()).isFile() && !QFileInfo(queue.path()).isSymLink());
    const std::vector<Run> runs = JournalStore(journalPath, JournalStore::Mode::ReadOnly).runs({});
    QCOMPARE(runs.size(), size_t(2));
    QCOMPARE(runs[0].record.uuid, first.uuid);
    QCOMPARE(runs[0].answered, kQuestionsPerRun);
}

void TestJournal::cellsOfAnyKindInAFileFromElsewhere() {
    if (engine_ != BankEngine::File)
        QSKIP("a server keeps each column's type");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.db"));
    {
        // The journal's tables with columns of no type: a cell keeps whatever it was given.
        data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadWriteCreate);
        db.exec(journalSchemaWith({"INTEGER PRIMARY KEY", "", "", "", "", "", "0"}).constData());
        db.exec(QStringLiteral("PRAGMA application_id = %1")
                    .arg(kJournalApplicationId)
                    .toUtf8()
                    .constData());
        db.exec(R"sql(
INSERT INTO "Т_Прохождение" VALUES (1, 7, '2026-05-20T08:00:00Z', 2000000000, X'00', 1.5, 3000000000, 'x', ' 12', 'пять', 1, 'z', 0);
INSERT INTO "Т_ПоказанныйВопрос" VALUES (1, X'01', '5', 4000000000);
INSERT INTO "Т_ПоказанныйВариант" VALUES (1, 1.0, 5000000000, 'да');
INSERT INTO "Т_Ответ" VALUES (1, 1, 1, '2', 3.9, 'x', 1);)sql");
    }
    JournalStore journal(path, JournalStore::Mode::ReadOnly);
    const std::vector<Run> runs = journal.runs({});
    QCOMPARE(runs.size(), size_t(1));
    QCOMPARE(runs[0].record.fullName, QStringLiteral("3000000000"));
    QCOMPARE(runs[0].record.points, 12);
    QCOMPARE(runs[0].record.grade, std::optional<int>(0));
    const std::vector<Answer> answers = journal.answers(1);
    QCOMPARE(answers.size(), size_t(1));
    QCOMPARE(answers[0].question, QStringLiteral("4000000000"));
    QCOMPARE(answers[0].options[0].text, QStringLiteral("5000000000"));
    QCOMPARE(answers[0].chosenExplanation, 3);
    const std::vector<QuestionStats> stats = journal.questionStats({});
    QCOMPARE(stats.size(), size_t(1));
    QCOMPARE(stats[0].questionId, qint64(5));
    QCOMPARE(stats[0].optionChosen[1], qint64(1));
}

void TestJournal::readerGivesTheSameViewsOnBothEngines_data() {
    QTest::addColumn<QString>("who");
    QTest::addColumn<int>("finished"); // -1 any, 0 no, 1 yes
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("limit");
    QTest::newRow("newest first") << QString() << -1 << int(RunColumn::Started) << true << 0 << 100;
    QTest::newRow("names, Cyrillic of either case")
        << QString() << -1 << int(RunColumn::Name) << false << 0 << 100;
    QTest::newRow("names, a page further")
        << QString() << -1 << int(RunColumn::Name) << true << 3 << 4;
    QTest::newRow("ties by points")
        << QString() << -1 << int(RunColumn::Points) << false << 0 << 100;
    QTest::newRow("grades with none")
        << QString() << -1 << int(RunColumn::Grade) << true << 0 << 100;
    QTest::newRow("durations") << QString() << -1 << int(RunColumn::Duration) << false << 0 << 100;
    QTest::newRow("hosts") << QString() << 0 << int(RunColumn::Host) << false << 0 << 100;
    QTest::newRow("a name in another case")
        << QStringLiteral("ИВАНОВ") << -1 << int(RunColumn::Login) << false << 0 << 100;
    QTest::newRow("ё and Latin-1")
        << QStringLiteral("ёЖ") << -1 << int(RunColumn::Name) << false << 0 << 100;
    QTest::newRow("Latin-1 letters")
        << QStringLiteral("ÅSA") << 1 << int(RunColumn::Finished) << true << 0 << 100;
}

void TestJournal::readerGivesTheSameViewsOnBothEngines() {
    if (engine_ != BankEngine::Server)
        QSKIP("one server against one file");
    QFETCH(QString, who);
    QFETCH(int, finished);
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(int, offset);
    QFETCH(int, limit);
    static QTemporaryDir dir;
    static QString file, server;
    if (file.isEmpty()) {
        // The same runs in both, in the same order: the same ids.
        file = dir.filePath(QStringLiteral("journal.db"));
        server = freshJournal(dir);
        JournalStore fileStore(file, JournalStore::Mode::Record);
        JournalStore serverStore(server, JournalStore::Mode::Record);
        const char* names[] = {"Иванов Пётр", "иванова ольга", "ИВАНОВ", "Ёлкин", "ёжиков",
                               "Åsa",         "åsa",           "Zed",    "alice", "",
                               "Петрова",     "петрова"};
        int i = 0;
        for (const char* name : names) {
            RunRecord run = knownRun(i % 4 * 3, 1, i % 3 + 1, QString::fromUtf8(name));
            run.started = run.started.addSecs(i / 3 * 60); // three runs a minute: ties
            run.ended = run.started.addSecs(i % 5 * 37);
            run.host = i % 2 ? QStringLiteral("PC-%1").arg(i) : QStringLiteral("pc-%1").arg(i);
            run.login = QStringLiteral("Ученик%1").arg(i % 4);
            run.finished = i % 4 != 3;
            if (!run.finished)
                run.grade.reset();
            fileStore.store(run);
            serverStore.store(run);
            ++i;
        }
    }
    RunFilter filter;
    filter.who = who;
    if (finished >= 0)
        filter.finished = finished == 1;
    const RunOrder order{RunColumn(column), descending};
    const JournalReader onFile(file), onServer(server);
    const auto key = [](const std::vector<Run>& runs) {
        QStringList keys;
        for (const Run& r : runs)
            keys << QStringLiteral("%1 %2 %3 %4")
                        .arg(r.id)
                        .arg(r.record.uuid)
                        .arg(r.answered)
                        .arg(r.record.grade.value_or(0));
        return keys;
    };
    const std::vector<Run> runs = onFile.runs(filter, order, offset, limit);
    QVERIFY(!runs.empty());
    QCOMPARE(key(onServer.runs(filter, order, offset, limit)), key(runs));
    const RunSummary a = onFile.summary(filter), b = onServer.summary(filter);
    QCOMPARE(std::tuple(b.runs, b.grades), std::tuple(a.runs, a.grades));
    QVERIFY(std::abs(a.meanPoints - b.meanPoints) < 1e-9);
    QCOMPARE(onServer.store().answers(runs[0].id).size(),
             onFile.store().answers(runs[0].id).size());
    const std::vector<QuestionStats> sa = onFile.store().questionStats(filter),
                                     sb = onServer.store().questionStats(filter);
    QCOMPARE(sb.size(), sa.size());
    for (size_t i = 0; i < sa.size(); ++i)
        QCOMPARE(std::tuple(sb[i].drawn, sb[i].rightOptions, flagsOf(sb[i])),
                 std::tuple(sa[i].drawn, sa[i].rightOptions, flagsOf(sa[i])));
}

int main(int argc, char** argv) {
    return testsupport::runOnEachEngine<TestJournal>(argc, argv);
}
#include "tst_journal.moc"

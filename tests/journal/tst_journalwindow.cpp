#include "data/Location.h"
#include "data/journal/JournalReader.h"
#include "data/pg/Pg.h"
#include "journal/JournalLocation.h"
#include "journal/JournalWindow.h"
#include "journal/QuestionsModel.h"
#include "journal/RunsModel.h"
#include "server/Server.h"
#include "tests/support/JournalRuns.h"
#include "tests/support/PgServer.h"
#include "toolkit/MessageBox.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace data::journal;
using journal::JournalWindow;
using journal::QuestionsModel;
using journal::RunsModel;

namespace {

// A journal in a fresh folder, written as the quiz program writes it.
struct Journal {
    QTemporaryDir dir;
    QString path = dir.filePath(QString::fromLatin1(kJournalFileName));
    std::unique_ptr<JournalStore> writer =
        std::make_unique<JournalStore>(path, JournalStore::Mode::Record);

    // A run of the given day and pupil; `strength` of the questions 2 to 10 answered right.
    RunRecord add(const QDateTime& started, const QString& pupil, int strength = 9,
                  bool finished = true) {
        RunRecord run = testsupport::knownRun(strength, 1, 1, pupil);
        run.started = started;
        run.ended = started.addSecs(300);
        run.finished = finished;
        if (!finished)
            run.grade.reset();
        writer->store(run);
        return run;
    }
};

QDateTime today(int minute) {
    return QDateTime(QDate::currentDate(), QTime(8, 0).addSecs(minute * 60));
}

} // namespace

class tst_JournalWindow : public QObject {
    Q_OBJECT
private slots:
    void runsArePagedAndSortedByTheQuery();
    void filters_data();
    void filters();
    void runsAppendedLiveKeepTheSelection_data();
    void runsAppendedLiveKeepTheSelection();
    void questionsNameAWrongKeyFirst();
    void aJournalThatGoesAwayComesBack();
    void aServersJournalIsLive();
    void exports_data();
    void exports();
    void journalPaths_data();
    void journalPaths();
    void serverBanksOpened_data();
    void serverBanksOpened();
};

void tst_JournalWindow::runsArePagedAndSortedByTheQuery() {
    Journal journal;
    const int count = RunsModel::kPage + 50;
    for (int i = 0; i < count; ++i)
        journal.add(today(i), QStringLiteral("Ученик %1").arg(i, 3, 10, QLatin1Char('0')), i % 10);
    JournalReader reader(journal.path);
    RunsModel model;
    model.setFilter(RunFilter{QDate::currentDate(), QDate::currentDate(), {}, {}});
    model.setReader(&reader);
    QCOMPARE(model.summary().runs, count);
    QCOMPARE(model.rowCount(), RunsModel::kPage);
    QVERIFY(model.canFetchMore(QModelIndex()));
    {
        // The tester fetches the rest, as a view scrolled to the end does. (It stays out of the
        // resets below: Qt 6.4's tester fetches inside its own reset check and then fails it.)
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), count);
        QVERIFY(!model.canFetchMore(QModelIndex()));
    }
    // The newest first, then any column either way over every run, not only those read.
    QCOMPARE(model.index(0, 3).data().toString(), QStringLiteral("Ученик 249"));
    model.sort(int(RunColumn::Name), Qt::AscendingOrder);
    QCOMPARE(model.index(0, 3).data().toString(), QStringLiteral("Ученик 000"));
    model.sort(int(RunColumn::Points), Qt::DescendingOrder);
    QCOMPARE(model.index(0, int(RunColumn::Points)).data().toInt(), 20);
    model.sort(int(RunColumn::Points), Qt::AscendingOrder);
    QCOMPARE(model.index(0, int(RunColumn::Points)).data().toInt(), 2);
}

void tst_JournalWindow::filters_data() {
    QTest::addColumn<int>("fromDays"); // days before today, or -1 for no bound
    QTest::addColumn<QString>("who");
    QTest::addColumn<int>("finished"); // -1 any, 0 no, 1 yes
    QTest::addColumn<int>("runs");
    QTest::addColumn<int>("fives");
    // Today: Иванов and Петрова finished, ИВАНОВА abandoned; Сидоров yesterday.
    QTest::newRow("today") << 0 << QString() << -1 << 3 << 2;
    QTest::newRow("two days") << 1 << QString() << -1 << 4 << 3;
    QTest::newRow("every day") << -1 << QString() << -1 << 4 << 3;
    QTest::newRow("russian in any case") << 0 << QStringLiteral("иванов") << -1 << 2 << 1;
    QTest::newRow("computer") << 1 << QStringLiteral("PC-7") << -1 << 1 << 1;
    QTest::newRow("finished") << 0 << QString() << 1 << 2 << 2;
    QTest::newRow("abandoned") << 0 << QString() << 0 << 1 << 0;
    QTest::newRow("nobody") << 1 << QStringLiteral("%") << -1 << 0 << 0;
}

void tst_JournalWindow::filters() {
    QFETCH(int, fromDays);
    QFETCH(QString, who);
    QFETCH(int, finished);
    QFETCH(int, runs);
    QFETCH(int, fives);
    Journal journal;
    journal.add(today(0), QStringLiteral("Иванов Пётр"));
    journal.add(today(5), QStringLiteral("Петрова Анна"));
    journal.add(today(10), QStringLiteral("ИВАНОВА ОЛЬГА"), 3, false);
    RunRecord yesterday = testsupport::knownRun(9, 1, 1, QStringLiteral("Сидоров"));
    yesterday.started = today(0).addDays(-1);
    yesterday.ended = yesterday.started.addSecs(60);
    yesterday.host = QStringLiteral("pc-7");
    journal.writer->store(yesterday);

    JournalReader reader(journal.path);
    RunsModel model;
    RunFilter filter;
    if (fromDays >= 0) {
        filter.from = QDate::currentDate().addDays(-fromDays);
        filter.to = QDate::currentDate();
    }
    filter.who = who;
    if (finished >= 0)
        filter.finished = finished == 1;
    model.setFilter(filter);
    model.setReader(&reader);
    QCOMPARE(model.summary().runs, runs);
    QCOMPARE(model.rowCount(), runs);
    QCOMPARE(model.summary().grades[0], fives);
}

void tst_JournalWindow::runsAppendedLiveKeepTheSelection_data() {
    QTest::addColumn<int>("topRow");   // the row scrolled to the top before the refresh
    QTest::addColumn<int>("topAfter"); // the row at the top after it, the newest run being 0
    // At the top the newest runs come into sight; scrolled down, the rows read stay in place.
    QTest::newRow("at the top") << 0 << 0;
    QTest::newRow("scrolled down") << 20 << 21;
}

void tst_JournalWindow::runsAppendedLiveKeepTheSelection() {
    QFETCH(int, topRow);
    QFETCH(int, topAfter);
    Journal journal;
    const int count = 60;
    for (int i = 0; i < count; ++i)
        journal.add(today(i), QStringLiteral("Ученик %1").arg(i));
    JournalWindow window;
    window.openJournal(journal.path);
    window.resize(800, 500);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    RunsModel* model = window.runsModel();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto* view = window.findChild<QTableView*>(QStringLiteral("RunsView"));
    view->scrollTo(model->index(topRow, 0), QAbstractItemView::PositionAtTop);
    QCOMPARE(view->rowAt(0), topRow);
    view->selectRow(topRow + 2);
    const qint64 selected = model->runAt(topRow + 2)->id;

    // One newer run (it goes first) and one recorded late from a queue, older than all.
    journal.add(today(count + 30), QStringLiteral("Новый"));
    journal.add(today(-30), QStringLiteral("Из очереди"));
    window.refreshNow();
    QCOMPARE(model->rowCount(), count + 2);
    QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("Новый"));
    QCOMPARE(model->index(count + 1, 3).data().toString(), QStringLiteral("Из очереди"));
    QCOMPARE(model->runAt(view->currentIndex().row())->id, selected);
    QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(view->selectionModel()->selectedRows().first().row(), topRow + 3);
    QCOMPARE(view->rowAt(0), topAfter);
    QVERIFY(window.findChild<QLabel*>(QStringLiteral("Summary"))
                ->text()
                .contains(QStringLiteral("Прохождений: %1").arg(count + 2)));
}

void tst_JournalWindow::questionsNameAWrongKeyFirst() {
    Journal journal;
    // Question 1 is keyed 1, but the strongest pupils choose 2: a key to look at. The other
    // questions, right for every strong pupil, are too easy or fine.
    for (int i = 0; i < 12; ++i)
        journal.writer->store(testsupport::knownRun(9, 1, 2));
    for (int i = 0; i < 12; ++i)
        journal.writer->store(testsupport::knownRun(2, 1, 1));
    JournalReader reader(journal.path);
    QuestionsModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setStats(reader.store().questionStats({}));
    QCOMPARE(model.rowCount(), kQuestionsPerRun);
    QCOMPARE(model.statsAt(0)->questionId, 1);
    QCOMPARE(model.index(0, QuestionsModel::Remark).data().toString(),
             flagText(Flag::LikelyWrongKey));
    QVERIFY(journal::questionHtml(*model.statsAt(0)).contains(QStringLiteral("Ответ 1.2")));

    // The key mended in the bank: the mended question is new to the journal, drawn live.
    RunRecord mended = testsupport::knownRun(9, 2, 2);
    journal.writer->store(mended);
    QPersistentModelIndex first = model.index(0, 0);
    model.setStats(reader.store().questionStats({}));
    QCOMPARE(model.rowCount(), kQuestionsPerRun + 1);
    QCOMPARE(first.row(), 0);
}

void tst_JournalWindow::aJournalThatGoesAwayComesBack() {
    Journal journal;
    for (int i = 0; i < 3; ++i)
        journal.add(today(i), QStringLiteral("Ученик %1").arg(i));
    journal.writer.reset();
    JournalWindow window;
    window.openJournal(journal.path);
    auto* view = window.findChild<QTableView*>(QStringLiteral("RunsView"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("Status"));
    view->selectRow(1);
    const qint64 selected = window.runsModel()->runAt(1)->id;

    // A shared folder unmounted: said in the status line, what was read stays shown.
    const QString away = journal.path + QStringLiteral(".away");
    QVERIFY(QFile::rename(journal.path, away));
    window.refreshNow();
    QVERIFY(!window.isReachable());
    QVERIFY2(status->text().contains(QStringLiteral("недоступен")), qPrintable(status->text()));
    QCOMPARE(window.runsModel()->rowCount(), 3);
    window.refreshNow(); // retried quietly, no box

    QVERIFY(QFile::rename(away, journal.path));
    JournalStore(journal.path, JournalStore::Mode::Record).store(testsupport::knownRun(5, 1, 1));
    window.refreshNow();
    QVERIFY(window.isReachable());
    QVERIFY2(status->text().contains(QStringLiteral("прочитан")), qPrintable(status->text()));
    QCOMPARE(window.runsModel()->runAt(view->currentIndex().row())->id, selected);
}

void tst_JournalWindow::aServersJournalIsLive() {
    if (const QString why = testsupport::PgServer::unavailableReason(); !why.isEmpty())
        QSKIP(qPrintable(why));
    testsupport::PgServer& server = testsupport::PgServer::shared();
    server.psql(QStringLiteral("CREATE DATABASE live"));
    const QString url = server.url(QStringLiteral("postgres"), QStringLiteral("live"));
    bank::server::initServer(url, QStringLiteral("учителя"), QStringLiteral("ученики"));
    // A run the server started a minute ago, and one started past the answering limit.
    RunRecord run = testsupport::knownRun(9, 1, 1, QStringLiteral("Идущий"));
    run.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.started = QDateTime::currentDateTimeUtc().addSecs(-60);
    run.ended = run.started.addSecs(50);
    const data::pg::Connection db(url);
    db.exec(QStringLiteral("INSERT INTO \"Т_НачатыйТест\" (\"Код\", \"Начало\", \"Компьютер\", "
                           "\"Логин\", \"ЛогинСообщён\", \"ФИО\", \"Ученик\", \"Вопросы\") "
                           "VALUES ($1::uuid, now() - interval '1 minute', 'pc', 'u1', true, '', "
                           "'Идущий', '[]'), (DEFAULT, now() - make_interval(secs => $2::integer), "
                           "'pc', 'u2', false, '', 'Бросивший', '[]')"),
            {run.uuid, kAnsweringLimitSeconds + 60});
    JournalWindow window;
    window.openJournal(url);
    RunsModel* model = window.runsModel();
    QVERIFY(window.isReachable());
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(0, int(RunColumn::Finished)).data().toString(), QStringLiteral("идёт"));
    QCOMPARE(model->index(1, int(RunColumn::Finished)).data().toString(), QStringLiteral("брошен"));
    QCOMPARE(model->index(0, int(RunColumn::LoginReported)).data().toString(),
             QStringLiteral("программой"));

    // Idle: no table is read.
    const qint64 reads = window.reader()->reads();
    QTest::qWait(2 * JournalWindow::kRefreshMs);
    QCOMPARE(window.reader()->reads(), reads);
    // Recorded by another connection: in the window within a second, finished.
    db.exec(QStringLiteral("UPDATE \"Т_НачатыйТест\" SET \"Записан\" = true WHERE \"Код\" = "
                           "$1::uuid"),
            {run.uuid});
    JournalStore(url, JournalStore::Mode::Record).store(run);
    QTRY_COMPARE_WITH_TIMEOUT(model->runAt(0)->state, RunState::Recorded, 1000);
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(0, int(RunColumn::Finished)).data().toString(), QStringLiteral("да"));

    // Exported exactly as from a file holding the same run.
    Journal same;
    same.writer->store(run);
    JournalWindow fromFile;
    fromFile.openJournal(same.path);
    const QString csv = same.dir.filePath(QStringLiteral("server.csv"));
    QVERIFY(window.exportTo(JournalWindow::ExportKind::Csv, csv));
    QVERIFY(fromFile.exportTo(JournalWindow::ExportKind::Csv, csv + QStringLiteral(".file")));
    QFile a(csv), b(csv + QStringLiteral(".file"));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), b.readAll());

    // The server stopped and back: named in the status line, then read again by itself.
    auto* status = window.findChild<QLabel*>(QStringLiteral("Status"));
    server.stopImmediately();
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral("недоступен")), 5000);
    server.start();
    QTRY_VERIFY_WITH_TIMEOUT(window.isReachable(), 10000);
    QCOMPARE(model->rowCount(), 2);

    // The pupils' role is refused by its rights, in Russian.
    window.openJournal(server.url(QStringLiteral("ученики"), QStringLiteral("live")));
    QVERIFY2(status->text().contains(QStringLiteral("только учителя")), qPrintable(status->text()));
}

void tst_JournalWindow::exports_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("file"); // in the journal's folder
    QTest::addColumn<QByteArray>("start");
    QTest::newRow("csv") << int(JournalWindow::ExportKind::Csv) << QStringLiteral("r.csv")
                         << QByteArray("\xEF\xBB\xBF");
    QTest::newRow("xlsx") << int(JournalWindow::ExportKind::Xlsx) << QStringLiteral("r.xlsx")
                          << QByteArray("PK");
    QTest::newRow("pdf") << int(JournalWindow::ExportKind::Pdf) << QStringLiteral("r.pdf")
                         << QByteArray("%PDF");
    // A folder that is not there: the error box, and nothing reported as written.
    QTest::newRow("no folder") << int(JournalWindow::ExportKind::Csv)
                               << QStringLiteral("nowhere/r.csv") << QByteArray();
}

void tst_JournalWindow::exports() {
    QFETCH(int, kind);
    QFETCH(QString, file);
    QFETCH(QByteArray, start);
    Journal journal;
    journal.add(today(0), QStringLiteral("=1+1"));
    JournalWindow window;
    window.openJournal(journal.path);
    toolkit::seam::arm();
    if (start.isEmpty())
        toolkit::seam::pushAnswer(toolkit::ModalResult::OK);
    const QString path = journal.dir.filePath(file);
    QCOMPARE(window.exportTo(JournalWindow::ExportKind(kind), path), !start.isEmpty());
    QCOMPARE(toolkit::seam::shown().size(), size_t(start.isEmpty() ? 1 : 0));
    QCOMPARE(toolkit::seam::unexpectedBoxes(), 0);
    toolkit::seam::disarm();
    QFile written(path);
    QCOMPARE(written.open(QIODevice::ReadOnly), !start.isEmpty());
    QVERIFY(start.isEmpty() || written.read(8).startsWith(start));
}

void tst_JournalWindow::journalPaths_data() {
    QTest::addColumn<QString>("given"); // relative to the folder
    QTest::addColumn<QString>("expected");
    QTest::newRow("bank folder") << QString() << QString::fromLatin1(kJournalFileName);
    QTest::newRow("bank file") << QStringLiteral("db.mdb") << QString::fromLatin1(kJournalFileName);
    QTest::newRow("journal copy") << QStringLiteral("copy.db") << QStringLiteral("copy.db");
}

void tst_JournalWindow::journalPaths() {
    QFETCH(QString, given);
    QFETCH(QString, expected);
    Journal journal;
    journal.writer.reset();
    QFile::copy(journal.path, journal.dir.filePath(QStringLiteral("copy.db")));
    QFile bank(journal.dir.filePath(QStringLiteral("db.mdb")));
    QVERIFY(bank.open(QIODevice::WriteOnly));
    QCOMPARE(journal::journalPathFor(journal.dir.filePath(given)),
             QDir(journal.dir.path()).absoluteFilePath(expected));
}

void tst_JournalWindow::serverBanksOpened_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("settings"); // the settings file's lines
    QTest::addColumn<QString>("opened");   // the server whose journal is opened; empty: a folder's
    const QString url = QStringLiteral("postgresql://school/infotest?sslmode=require");
    QTest::newRow("server given") << url << QString() << QString() << url;
    QTest::newRow("server in the environment") << QString() << url << QString() << url;
    QTest::newRow("server in the settings, before the folder")
        << QString() << QString()
        << QStringLiteral("INFOTEST_BANK_DIR=/srv/infotest\nINFOTEST_BANK_URL='postgres://s/b'")
        << QStringLiteral("postgres://s/b");
    QTest::newRow("folder in the settings")
        << QString() << QString() << QStringLiteral("INFOTEST_BANK_DIR=/srv/infotest") << QString();
}

void tst_JournalWindow::serverBanksOpened() {
    QFETCH(QString, argument);
    QFETCH(QString, environment);
    QFETCH(QString, settings);
    QFETCH(QString, opened);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("infotest")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings.toUtf8()) >= 0);
    file.close();
    qputenv("INFOTEST_BANK_URL", environment.toUtf8());
    const QString journal = journal::journalPathFor(
        argument.isEmpty() ? journal::defaultBank(file.fileName()) : argument);
    qunsetenv("INFOTEST_BANK_URL");
    QCOMPARE(data::Location(journal).isServer(), !opened.isEmpty());
    QVERIFY(opened.isEmpty() || journal == opened);
}

QTEST_MAIN(tst_JournalWindow)
#include "tst_journalwindow.moc"

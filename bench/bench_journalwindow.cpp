// What the teacher's journal window costs on a journal of 100,000 runs (1,000,000 answered
// questions): opening it until the first screen is painted, on today's runs (the window's
// default) and on every run, sorted newest first and by name; one idle look at the journal (the
// once-a-second refresh of a lesson where nothing happens) as a share of one core; and one look
// after a pupil's run was recorded.
//
// The same on a server's journal holding the same runs (a throwaway cluster of the tests' kind,
// over its Unix socket), beside raw libpq reading the first screen, with the CPU of the window
// left open and idle, and how long a run recorded by another connection takes to be shown.
//
// A plain program, not a Google Benchmark one: the open is a one-time cost, timed over fresh
// windows. Run as: bench_journalwindow [RUNS] (default 100000), under any Qt platform.
#include "bench/BenchRuns.h"
#include "cli/BankFile.h"
#include "cli/Copy.h"
#include "data/journal/JournalStore.h"
#include "data/sqlite/Sqlite.h"
#include "journal/JournalWindow.h"
#include "journal/RunsModel.h"
#include "server/Server.h"
#include "tests/support/PgServer.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <libpq-fe.h>
#include <string>
#include <vector>

namespace {

using namespace data::journal;

constexpr int kQuestions = 200;

RunRecord makeRun(int serial, const QDateTime& started) {
    return bench::makeRun(serial, started, kQuestions);
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds from opening the journal until the window has painted its first screen.
double openMs(const QString& path, bool everyDay, int sortColumn) {
    QElapsedTimer timer;
    timer.start();
    journal::JournalWindow window;
    if (everyDay)
        window.findChild<QDateEdit*>(QStringLiteral("FromDate"))->setDate(QDate(2000, 1, 1));
    if (sortColumn != 0)
        window.findChild<QTableView*>(QStringLiteral("RunsView"))
            ->sortByColumn(sortColumn, Qt::AscendingOrder);
    timer.restart();
    window.openJournal(path);
    window.show();
    window.repaint();
    QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}

void openCases(const QString& path) {
    struct Case {
        const char* name;
        bool everyDay;
        int column;
    };
    for (const Case& c :
         {Case{"today's runs, newest first", false, 0}, Case{"every run, newest first", true, 0},
          Case{"every run, by name", true, 3}}) {
        std::vector<double> times;
        for (int i = 0; i < 5; ++i)
            times.push_back(openMs(path, c.everyDay, c.column));
        std::printf("open, first screen painted, %-28s median of 5: %7.1f ms\n", c.name,
                    median(times));
    }
}

// The first screen of every run, newest first, and its count, straight from libpq.
double rawFirstScreenMs(const QString& url) {
    PGconn* conn = PQconnectdb(url.toUtf8().constData());
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        PQclear(PQexec(conn, R"sql(SELECT count(*) FROM "Т_Прохождение")sql"));
        PGresult* page = PQexec(
            conn,
            R"sql(SELECT "id", "Код", "Начало", "Конец", "Компьютер", "Логин", "ФИО", "Ученик", "Баллы", "Оценка", "Завершён", "Отвечено" FROM "Т_Прохождение" ORDER BY "Начало" DESC, "id" DESC LIMIT 200)sql");
        if (PQresultStatus(page) != PGRES_TUPLES_OK)
            std::printf("raw read failed: %s\n", PQerrorMessage(conn));
        PQclear(page);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    PQfinish(conn);
    return median(times);
}

// The questions view on every run, shown in a fresh window each time.
double questionsViewMs(const QString& url) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        journal::JournalWindow window;
        window.findChild<QDateEdit*>(QStringLiteral("FromDate"))->setDate(QDate(2000, 1, 1));
        window.openJournal(url);
        window.show();
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        window.findChild<QTabWidget*>()->setCurrentIndex(journal::JournalWindow::kQuestionsTab);
        window.repaint();
        QApplication::processEvents();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

// The figures of that view straight from libpq: the points of the strongest 27 % of the finished
// runs, one GROUP BY of their answers with every sum, and the texts and marks of the copies shown.
double rawQuestionsMs(const QString& url) {
    PGconn* conn = PQconnectdb(url.toUtf8().constData());
    const auto exec = [&](const char* sql, const std::string& value = {}) {
        const char* values[] = {value.c_str()};
        PGresult* result =
            PQexecParams(conn, sql, value.empty() ? 0 : 1, nullptr, values, nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_TUPLES_OK)
            std::printf("raw read failed: %s\n", PQerrorMessage(conn));
        return result;
    };
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        PGresult* r = exec(R"sql(SELECT count(*) FROM "Т_Прохождение" WHERE "Завершён")sql");
        const long long finished = std::atoll(PQgetvalue(r, 0, 0));
        PQclear(r);
        r = exec(
            R"sql(SELECT "Баллы" FROM "Т_Прохождение" WHERE "Завершён" ORDER BY "Баллы" DESC LIMIT 1 OFFSET $1)sql",
            std::to_string(std::max(0LL, (finished * 27 + 99) / 100 - 1)));
        const std::string strongFrom = PQntuples(r) ? PQgetvalue(r, 0, 0) : "0";
        PQclear(r);
        PQclear(exec(
            R"sql(SELECT a."Вопрос", count(*), count(*) FILTER (WHERE a."ВариантВерен"), count(*) FILTER (WHERE a."ОбъяснениеВерно"), count(*) FILTER (WHERE a."Вариант" = 1), count(*) FILTER (WHERE a."Вариант" = 2), count(*) FILTER (WHERE a."Вариант" = 3), count(*) FILTER (WHERE a."Вариант" = 4), count(*) FILTER (WHERE a."Объяснение" = 1), count(*) FILTER (WHERE a."Объяснение" = 2), count(*) FILTER (WHERE a."Объяснение" = 3), count(*) FILTER (WHERE a."Объяснение" = 4), count(*) FILTER (WHERE r."Баллы" >= $1 AND a."Вариант" = 1), count(*) FILTER (WHERE r."Баллы" >= $1 AND a."Вариант" = 2), count(*) FILTER (WHERE r."Баллы" >= $1 AND a."Вариант" = 3), count(*) FILTER (WHERE r."Баллы" >= $1 AND a."Вариант" = 4), sum(y), sum(x * y), sum(y * y) FROM "Т_Прохождение" r JOIN "Т_Ответ" a ON a."Прохождение" = r."id", LATERAL (SELECT a."ВариантВерен"::integer AS x, r."Баллы" - a."ВариантВерен"::integer - a."ОбъяснениеВерно"::integer AS y) m WHERE r."Завершён" GROUP BY a."Вопрос")sql",
            strongFrom));
        for (
            const char* sql :
            {R"sql(SELECT "id", "ВопросБанка", "Вопрос" FROM "Т_ПоказанныйВопрос")sql",
             R"sql(SELECT "Вопрос", "Номер", "Ответ", "Правильный" FROM "Т_ПоказанныйВариант")sql",
             R"sql(SELECT "Вопрос", "Номер", "Объяснение", "Правильный" FROM "Т_ПоказанноеОбъяснение")sql"})
            PQclear(exec(sql));
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    PQfinish(conn);
    return median(times);
}

// The window on the server's journal: each view, the idle CPU, a run shown after its recording.
void onServer(const QString& bank, int runs) {
    if (const QString why = testsupport::PgServer::unavailableReason(); !why.isEmpty()) {
        std::printf("server: nothing measured: %s\n", qPrintable(why));
        return;
    }
    testsupport::PgServer server;
    const QString url = server.url();
    QElapsedTimer made;
    made.start();
    bank::server::initServer(url, QStringLiteral("учителя"), QStringLiteral("ученики"));
    bank::copyBank(bank, url, true);
    server.psql(QStringLiteral("VACUUM ANALYZE"));
    std::printf("\nserver's journal of %d runs copied in %.1f s\n", runs,
                double(made.elapsed()) / 1000);
    openCases(url);
    std::printf("raw libpq, count and first screen of every run, newest first: %.1f ms\n",
                rawFirstScreenMs(url));

    std::printf("view questions (every run) shown, median of 5: %.1f ms; raw libpq, the same "
                "figures and texts: %.1f ms\n",
                questionsViewMs(url), rawQuestionsMs(url));

    journal::JournalWindow window;
    window.findChild<QDateEdit*>(QStringLiteral("FromDate"))->setDate(QDate(2000, 1, 1));
    window.openJournal(url);
    window.show();
    for (int tab = 1; tab <= 2; ++tab) {
        if (tab == journal::JournalWindow::kAnswersTab)
            window.findChild<QTableView*>(QStringLiteral("RunsView"))->selectRow(0);
        QElapsedTimer timer;
        timer.start();
        window.findChild<QTabWidget*>()->setCurrentIndex(tab);
        window.repaint();
        QApplication::processEvents();
        std::printf("view %s shown: %.1f ms\n", tab == 1 ? "answers" : "questions (every run)",
                    double(timer.nsecsElapsed()) / 1e6);
    }
    window.findChild<QTabWidget*>()->setCurrentIndex(journal::JournalWindow::kRunsTab);
    const qint64 reads = window.reader()->reads();
    const double before = cpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(30000, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("open and idle for 30 s: %.3f %% of a core, %lld reads of the runs\n",
                (cpuSeconds() - before) * 100 / 30, window.reader()->reads() - reads);

    JournalStore recorder(url, JournalStore::Mode::Record);
    std::vector<double> shown;
    for (int i = 0; i < 10; ++i) {
        const int rows = window.runsModel()->rowCount();
        QElapsedTimer timer;
        timer.start();
        recorder.store(makeRun(runs + 100 + i, QDateTime::currentDateTime()));
        while (window.runsModel()->rowCount() == rows && timer.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        shown.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("a run recorded by another connection, in the window after: median %.1f ms\n",
                median(shown));
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;

    // The newest thousand runs are recorded through the quiz program's own store(), in
    // memory-backed /dev/shm where the syncs of the commits cost nothing; the older ones are
    // copies of them, five minutes apart further back, made by SQL in one transaction (a
    // hundred thousand store() calls take minutes on a loaded machine).
    QTemporaryDir dir(QStringLiteral("/dev/shm/bench_journalwindow-XXXXXX"));
    const QString path = dir.filePath(QString::fromLatin1(kJournalFileName));
    auto writer = std::make_unique<JournalStore>(path, JournalStore::Mode::Record);
    const QDateTime now = QDateTime::currentDateTime();
    const int seed = std::min(runs, 1000);
    QElapsedTimer made;
    made.start();
    for (int i = 0; i < seed; ++i)
        writer->store(makeRun(i, now.addSecs(-300LL * (seed - i))));
    {
        data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadWrite);
        data::sqlite::Transaction transaction(db);
        data::sqlite::Statement copyRuns(
            db,
            QStringLiteral(
                R"sql(INSERT INTO "Т_Прохождение" ("id", "Код", "Начало", "Конец", "Компьютер", "Логин", "ФИО", "Ученик", "Баллы", "Оценка", "Завершён", "Отвечено") SELECT "id" + ?1, "Код" || '-' || ?1, strftime('%Y-%m-%dT%H:%M:%SZ', "Начало", ?2), strftime('%Y-%m-%dT%H:%M:%SZ', "Конец", ?2), "Компьютер", "Логин", "ФИО", "Ученик", "Баллы", "Оценка", "Завершён", "Отвечено" FROM "Т_Прохождение" WHERE "id" <= ?3)sql"));
        data::sqlite::Statement copyAnswers(
            db,
            QStringLiteral(
                R"sql(INSERT INTO "Т_Ответ" SELECT "Прохождение" + ?1, "Номер", "Вопрос", "Вариант", "Объяснение", "ВариантВерен", "ОбъяснениеВерно" FROM "Т_Ответ" WHERE "Прохождение" <= ?2)sql"));
        for (int copy = 1; copy * seed < runs; ++copy) {
            const qint64 shift = qint64(copy) * seed;
            copyRuns.reset();
            copyRuns.bindInt(1, shift);
            copyRuns.bindText(2, QStringLiteral("-%1 seconds").arg(shift * 300));
            copyRuns.bindInt(3, seed);
            copyRuns.run();
            copyAnswers.reset();
            copyAnswers.bindInt(1, shift);
            copyAnswers.bindInt(2, seed);
            copyAnswers.run();
        }
        transaction.commit();
    }
    std::printf("journal of %d runs made in %.1f s\n", runs, double(made.elapsed()) / 1000);

    openCases(path);

    journal::JournalWindow window;
    window.findChild<QDateEdit*>(QStringLiteral("FromDate"))->setDate(QDate(2000, 1, 1));
    window.openJournal(path);
    window.show();
    QApplication::processEvents();
    const int ticks = 2000;
    const double before = cpuSeconds();
    for (int i = 0; i < ticks; ++i)
        window.refreshNow();
    const double idle = (cpuSeconds() - before) / ticks;
    std::printf("idle refresh: %.1f us of CPU per look, %.3f %% of a core at one look a second\n",
                idle * 1e6, idle * 100 / (journal::JournalWindow::kRefreshMs / 1000.0));

    std::vector<double> live;
    for (int i = 0; i < 20; ++i) {
        writer->store(makeRun(runs + i, now.addSecs(i)));
        const double start = cpuSeconds();
        window.refreshNow();
        live.push_back((cpuSeconds() - start) * 1e3);
    }
    std::printf("refresh after a run was recorded (every run shown, %d rows read): median %.1f ms "
                "of CPU\n",
                window.runsModel()->rowCount(), median(live));

    writer.reset();
    const QString bank = dir.filePath(QStringLiteral("db.mdb"));
    bank::createBank(bank);
    onServer(bank, runs);
    return 0;
}

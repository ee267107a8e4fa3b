// What the data layer costs on a PostgreSQL server against libpq itself: opening the data
// module, the draw's renumbering on banks without numbers, and a classroom of pupils' programs
// drawing and locating their questions at the same time. Every figure of ours is measured in
// the same run as a raw baseline that does the same work through libpq, and the summary at the
// end prints the ratios beside the targets.
//
// The server is a throwaway cluster of the tests' own (PgServer: a temporary folder, a Unix
// socket); where PostgreSQL is not installed the program says so and measures nothing. With
// "--pupil URL" the program is one pupil's program instead: it opens the bank, draws, locates
// the run's questions with their options and explanations, and prints its times.
#include "bench/Medians.h"
#include "data/DM.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "data/journal/JournalStore.h"
#include "data/journal/ShownRun.h"
#include "data/pg/PgEngine.h"
#include "server/Server.h"
#include "testing/testirovanie.h"
#include "tests/support/PgBouncer.h"
#include "tests/support/PgServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QUuid>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

std::unique_ptr<testsupport::PgServer> server;
// Transaction pooling in front of the server, as a school with several labs has it; started by
// the first classroom that goes through it.
std::unique_ptr<testsupport::PgBouncer> pooler;
QString selfPath;

constexpr int kPupils = 30;
constexpr int kClassroomBank = 500;
// The server's own limit: a district's server behind a pooler needs no more.
constexpr int kMaxConnections = 40;
constexpr int kPoolSize = 20;

[[noreturn]] void fail(const char* what, PGconn* conn) {
    std::fprintf(stderr, "%s: %s\n", what, conn ? PQerrorMessage(conn) : "");
    std::abort();
}

PGconn* rawConnect(const QString& url) {
    PGconn* conn = PQconnectdb(url.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK)
        fail("connect", conn);
    return conn;
}

void rawExec(PGconn* conn, const QByteArray& sql) {
    PGresult* result = PQexec(conn, sql.constData());
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(sql.constData(), conn);
}

// A bank of this many questions with 4 options and 4 explanations each, every Номер empty, in
// a database of its own; made once per size.
QString bankUrl(int questions) {
    static std::map<int, QString> made;
    QString& url = made[questions];
    if (!url.isEmpty())
        return url;
    const QString database = QStringLiteral("bank_%1").arg(questions);
    server->psql(QStringLiteral("CREATE DATABASE %1").arg(database));
    url = server->url(QStringLiteral("postgres"), database);
    PGconn* conn = rawConnect(url);
    rawExec(conn, data::serverBankSchema());
    rawExec(conn, QStringLiteral("INSERT INTO \"Т_Вопросы\" (\"Вопрос\") SELECT 'Вопрос номер ' "
                                 "|| g || ' о системах счисления' FROM generate_series(1, %1) g")
                      .arg(questions)
                      .toUtf8());
    for (const char* table : {"Т_Вариант", "Т_Объяснение"})
        rawExec(conn, QStringLiteral("INSERT INTO \"%1\" SELECT nextval(pg_get_serial_sequence("
                                     "'\"%1\"', 'id')), q.id, 'Вариант ' || i || ' вопроса ' || "
                                     "q.id, i = 0 FROM \"Т_Вопросы\" q, generate_series(0, 3) i "
                                     "ORDER BY q.id, i")
                          .arg(QString::fromUtf8(table))
                          .toUtf8());
    rawExec(conn, "VACUUM ANALYZE");
    PQfinish(conn);
    // The journal's tables and its recording function, as a school's server has them.
    bank::server::initServer(url, QStringLiteral("teachers"), QStringLiteral("pupils"));
    return url;
}

// Every Номер empty again, the dead rows of the last draw cleared, as before each draw.
void clearNumbers(const QString& url) {
    PGconn* conn = rawConnect(url);
    rawExec(conn, "UPDATE \"Т_Вопросы\" SET \"Номер\" = NULL");
    rawExec(conn, "VACUUM ANALYZE \"Т_Вопросы\"");
    PQfinish(conn);
}

// The CPU seconds the server has spent: its postmaster's, with those of the backends it has
// reaped (every pupil's is, once the pupil's connection and the pooler's are gone).
double serverCpuSeconds() {
    QFile pidFile(server->socketDir() + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return 0;
    QFile stat(
        QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pidFile.readLine().trimmed())));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // After the command's closing parenthesis: fields 14 to 17 are utime, stime, cutime, cstime.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    double ticks = 0;
    for (int i = 11; i <= 14 && i < fields.size(); ++i)
        ticks += fields[i].toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

long long recordedRuns(const QString& url) {
    PGconn* conn = rawConnect(url);
    PGresult* result = PQexec(conn, "SELECT count(*) FROM \"Т_Прохождение\"");
    const long long count = std::atoll(PQgetvalue(result, 0, 0));
    PQclear(result);
    PQfinish(conn);
    return count;
}

// ---- the raw baselines: libpq, no wrappers -------------------------------------------------

struct RawQuestion {
    long long id;
    int number;
    std::string text;
};
struct RawDetail {
    long long id, link;
    bool correct;
    std::string text;
};
struct RawBank {
    std::vector<RawQuestion> questions;
    std::vector<RawDetail> options, explanations;
};

// A connection and the same SELECTs the tables run when they open, read into plain vectors.
RawBank rawRead(const QString& url) {
    RawBank bank;
    PGconn* conn = rawConnect(url);
    PGresult* q = PQexec(conn, "SELECT \"id\", \"id\", \"Номер\", \"Вопрос\" FROM \"Т_Вопросы\" "
                               "ORDER BY \"id\"");
    if (PQresultStatus(q) != PGRES_TUPLES_OK)
        fail("select", conn);
    for (int r = 0; r < PQntuples(q); ++r)
        bank.questions.push_back({std::atoll(PQgetvalue(q, r, 0)), std::atoi(PQgetvalue(q, r, 2)),
                                  std::string(PQgetvalue(q, r, 3), size_t(PQgetlength(q, r, 3)))});
    PQclear(q);
    const auto details = [conn](const char* sql, std::vector<RawDetail>& rows) {
        PGresult* d = PQexec(conn, sql);
        if (PQresultStatus(d) != PGRES_TUPLES_OK)
            fail("select", conn);
        for (int r = 0; r < PQntuples(d); ++r)
            rows.push_back({std::atoll(PQgetvalue(d, r, 0)), std::atoll(PQgetvalue(d, r, 2)),
                            PQgetvalue(d, r, 4)[0] == 't',
                            std::string(PQgetvalue(d, r, 3), size_t(PQgetlength(d, r, 3)))});
        PQclear(d);
    };
    details("SELECT \"id\", \"id\", \"Вопрос\", \"Ответ\", \"Правильный\" FROM \"Т_Вариант\" "
            "ORDER BY \"Вопрос\" NULLS FIRST, \"id\"",
            bank.options);
    details("SELECT \"id\", \"id\", \"Вопрос\", \"Объяснение\", \"Правильный\" FROM "
            "\"Т_Объяснение\" ORDER BY \"Вопрос\" NULLS FIRST, \"id\"",
            bank.explanations);
    PQfinish(conn);
    return bank;
}

// The draw's writes without a cursor: every question's number by its id, the UPDATEs sent
// together in pipeline mode, in one transaction.
void rawRenumber(PGconn* conn, const std::vector<long long>& ids) {
    rawExec(conn, "BEGIN");
    PQclear(PQprepare(conn, "renumber", "UPDATE \"Т_Вопросы\" SET \"Номер\" = $1 WHERE id = $2", 2,
                      nullptr));
    if (PQenterPipelineMode(conn) != 1)
        fail("pipeline", conn);
    int number = 0;
    for (long long id : ids) {
        const std::string n = std::to_string(++number), key = std::to_string(id);
        const char* values[] = {n.c_str(), key.c_str()};
        if (PQsendQueryPrepared(conn, "renumber", 2, values, nullptr, nullptr, 0) != 1)
            fail("send", conn);
    }
    PQpipelineSync(conn);
    for (;;) {
        PGresult* result = PQgetResult(conn);
        if (!result)
            continue;
        const ExecStatusType status = PQresultStatus(result);
        PQclear(result);
        if (status == PGRES_PIPELINE_SYNC)
            break;
        if (status != PGRES_COMMAND_OK)
            fail("update", conn);
    }
    PQexitPipelineMode(conn);
    rawExec(conn, "COMMIT");
}

// ---- ours ----------------------------------------------------------------------------------

void BM_Open(benchmark::State& state) {
    const QString url = bankUrl(int(state.range(0)));
    for (auto _ : state) {
        TDataModule2 dm(url);
        benchmark::DoNotOptimize(dm.Vopros.recordCount());
    }
}

void BM_OpenRaw(benchmark::State& state) {
    const QString url = bankUrl(int(state.range(0)));
    for (auto _ : state) {
        RawBank bank = rawRead(url);
        benchmark::DoNotOptimize(bank.questions.size());
    }
}

void BM_DrawEmpty(benchmark::State& state) {
    const QString url = bankUrl(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        clearNumbers(url);
        auto dm = std::make_unique<TDataModule2>(url);
        state.ResumeTiming();
        NumberQuestions(dm->Vopros, dm->ADOConnection1);
        state.PauseTiming();
        dm.reset();
        state.ResumeTiming();
    }
}

void BM_DrawEmptyRaw(benchmark::State& state) {
    const QString url = bankUrl(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        clearNumbers(url);
        PGconn* conn = rawConnect(url);
        std::vector<long long> ids;
        for (const RawQuestion& q : rawRead(url).questions)
            ids.push_back(q.id);
        state.ResumeTiming();
        rawRenumber(conn, ids);
        state.PauseTiming();
        PQfinish(conn);
        state.ResumeTiming();
    }
}

// ---- the classroom -------------------------------------------------------------------------

// One pupil's program without its windows: opens the bank, draws as the testing window does
// (the renumbering, the random order), and shows the ten questions: each located by its number
// with its four options and four explanations read. Prints the run's milliseconds and the ten
// numbers shown, after recording the run (the first choices taken) through the server's
// recording function, or with scored through the functions that start the run from the rows
// shown and score it on the server; exit code 1 with the message on a failure.
int pupilMain(int argc, char** argv, const QString& url, bool scored) {
    QCoreApplication app(argc, argv);
    QElapsedTimer clock;
    clock.start();
    try {
        TDataModule2 dm(url);
        data::journal::RunRecord run;
        run.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        run.started = QDateTime::currentDateTimeUtc();
        run.host = run.login = run.fullName = QStringLiteral("bench");
        NumberQuestions(dm.Vopros, dm.ADOConnection1);
        Randomize();
        FillQuestionOrder(std::vector<bool>(std::size_t(dm.Vopros.recordCount()), true));
        std::string shown;
        std::vector<data::journal::DrawnQuestion> drawn;
        for (int k = 1; k <= data::kQuestionsPerTest; ++k) {
            if (!dm.Vopros.locate(QString::fromUtf8(data::kNumberColumn), QuestionOrder[k]))
                throw EDatabaseError(QStringLiteral("question %1 not found").arg(QuestionOrder[k]));
            data::journal::Answer& answer = run.answers.emplace_back();
            answer.questionId = dm.Vopros.fields()[0]->value().toLongLong();
            answer.question = dm.Vopros.fields()[2]->value().toString();
            answer.chosenOption = answer.chosenExplanation = 1;
            data::journal::DrawnQuestion& question = drawn.emplace_back();
            question.questionId = answer.questionId;
            for (auto [details, choices, ids] :
                 {std::tuple{&dm.Variant, &answer.options, &question.options},
                  std::tuple{&dm.Obyasnenie, &answer.explanations, &question.explanations}}) {
                details->first();
                for (std::size_t i = 0; i < choices->size(); ++i) {
                    (*choices)[i] = {details->fields()[2]->value().toString(),
                                     details->fields()[3]->value().toBool()};
                    (*ids)[i] = details->fields()[0]->value().toLongLong();
                    details->next();
                }
            }
            answer.chosenOptionId = question.options[0];
            answer.chosenExplanationId = question.explanations[0];
            run.points += int(answer.optionRight()) + int(answer.explanationRight());
            shown += ' ' + std::to_string(dm.VoprosIntegerField->value().toInt());
        }
        run.ended = QDateTime::currentDateTimeUtc();
        run.finished = true;
        run.grade = 2;
        auto& engine = dynamic_cast<data::PgEngine&>(dm.ADOConnection1.engine());
        if (scored) {
            // As the pupils' program does: started after the draw, finished at the tenth answer.
            run.serverToken = data::journal::startOnServer(engine, run, drawn);
            data::journal::finishOnServer(engine, run);
        } else if (!data::journal::storeOnServer(engine, run)) {
            throw EDatabaseError(QStringLiteral("the run was stored already"));
        }
        std::printf("%.3f%s\n", double(clock.nsecsElapsed()) / 1e6, shown.c_str());
        return 0;
    } catch (const Exception& e) {
        std::printf("failed: %s\n", qPrintable(e.message()));
        return 1;
    }
}

// Pupils' programs (30, or a district's 300) started at once on a bank without numbers, on the
// server or through the pooler (the second argument 1): the iteration's time is the whole
// burst's; each run's time (its own clock, from start to the tenth question shown and the run
// recorded) gives the median and the 95th percentile. A run that fails, shows a question twice,
// is not recorded once, or leaves the bank with numbers other than 1..N once each stops the
// benchmark.
void BM_Classroom(benchmark::State& state) {
    const int questions = int(state.range(0));
    // 1: each run started and scored by the server's functions instead of recorded as scored.
    const bool scored = state.range(3) != 0;
    const int pupilCount = int(state.range(1));
    const QString url = bankUrl(questions);
    if (state.range(2) && !pooler)
        pooler = std::make_unique<testsupport::PgBouncer>(
            *server, QStringList{QStringLiteral("postgres")}, kPoolSize);
    const QString pupilsUrl = state.range(2) ? pooler->url(QStringLiteral("postgres"),
                                                           QStringLiteral("bank_%1").arg(questions))
                                             : url;
    std::vector<double> runs;
    double serverCpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clearNumbers(url);
        // The journal keeps every burst's runs, failed benchmarks' included.
        const long long runsRecorded = recordedRuns(url) + pupilCount;
        const double cpuBefore = serverCpuSeconds();
        std::vector<std::unique_ptr<QProcess>> pupils;
        state.ResumeTiming();
        for (int p = 0; p < pupilCount; ++p) {
            pupils.push_back(std::make_unique<QProcess>());
            pupils.back()->start(
                selfPath,
                {scored ? QStringLiteral("--scored-pupil") : QStringLiteral("--pupil"), pupilsUrl});
        }
        for (auto& pupil : pupils)
            pupil->waitForFinished(-1);
        state.PauseTiming();
        // The pooler's server connections are the backends still running: they end with it,
        // and the postmaster reaps them.
        if (state.range(2)) {
            pooler->stop();
            pooler->start();
        }
        QThread::msleep(300);
        serverCpu += serverCpuSeconds() - cpuBefore;
        for (auto& pupil : pupils) {
            const QByteArray out = pupil->readAllStandardOutput().trimmed();
            const QList<QByteArray> words = out.split(' ');
            std::vector<QByteArray> numbers(words.begin() + 1, words.end());
            std::sort(numbers.begin(), numbers.end());
            if (pupil->exitCode() != 0 || numbers.size() != std::size_t(data::kQuestionsPerTest) ||
                std::adjacent_find(numbers.begin(), numbers.end()) != numbers.end()) {
                state.SkipWithError(("a pupil's run failed: " + out.toStdString()).c_str());
                return;
            }
            runs.push_back(words[0].toDouble());
        }
        PGconn* conn = rawConnect(url);
        PGresult* check = PQexec(conn, "SELECT count(DISTINCT \"Номер\") = count(*) AND "
                                       "min(\"Номер\") = 1 AND max(\"Номер\") = count(*) "
                                       "FROM \"Т_Вопросы\"");
        const bool numbered = PQgetvalue(check, 0, 0)[0] == 't';
        PQclear(check);
        PGresult* recorded = PQexec(conn, "SELECT count(*), count(DISTINCT \"Код\") FROM "
                                          "\"Т_Прохождение\"");
        const bool once = std::atoll(PQgetvalue(recorded, 0, 0)) == runsRecorded &&
                          std::atoll(PQgetvalue(recorded, 0, 1)) == runsRecorded;
        PQclear(recorded);
        PQfinish(conn);
        if (!numbered) {
            state.SkipWithError("the bank is not numbered 1..N once each");
            return;
        }
        if (!once) {
            state.SkipWithError("a run was lost or recorded twice");
            return;
        }
        state.ResumeTiming();
    }
    std::sort(runs.begin(), runs.end());
    state.counters["run_median_ms"] = runs[runs.size() / 2];
    state.counters["run_p95_ms"] = runs[(runs.size() * 95 + 99) / 100 - 1];
    state.counters["server_cpu_s"] = serverCpu / double(state.iterations());
}

void printSummary(const bench::Medians& medians) {
    std::printf("\n%-32s %7s %13s %13s %7s %7s   %s\n", "figure (baseline)", "N", "ours",
                "baseline", "ratio", "cpu", "target");
    const auto line = [&](const char* figure, const char* ours, const char* base, int n) {
        const bench::Medians::Result* o = medians.find(ours, n);
        const bench::Medians::Result* b = medians.find(base, n);
        if (!o || !b)
            return;
        std::printf("%-32s %7d %10.3f ms %10.3f ms %7.2f %7.2f   <= 1.5\n", figure, n, o->ms, b->ms,
                    o->ms / b->ms, o->cpuMs / std::max(b->cpuMs, 1e-9));
    };
    for (int n : {500, 10000, 100000})
        line("open (connect + raw SELECTs)", "BM_Open", "BM_OpenRaw", n);
    for (int n : {10000, 100000})
        line("draw, Номер empty (raw pipeline)", "BM_DrawEmpty", "BM_DrawEmptyRaw", n);
}

} // namespace

BENCHMARK(BM_OpenRaw)
    ->Arg(500)
    ->Arg(10000)
    ->Arg(100000)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open)
    ->Arg(500)
    ->Arg(10000)
    ->Arg(100000)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawEmptyRaw)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawEmpty)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Classroom)
    ->Args({kClassroomBank, kPupils, 0, 0})
    ->Args({kClassroomBank, kPupils, 0, 1})
    ->Args({kClassroomBank, kPupils, 1, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Classroom)
    ->Args({kClassroomBank, 10 * kPupils, 1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (argc == 3 &&
        (std::strcmp(argv[1], "--pupil") == 0 || std::strcmp(argv[1], "--scored-pupil") == 0))
        return pupilMain(argc, argv, QString::fromUtf8(argv[2]),
                         std::strcmp(argv[1], "--scored-pupil") == 0);
    QCoreApplication app(argc, argv);
    selfPath = QCoreApplication::applicationFilePath();
    if (const QString why = testsupport::PgServer::unavailableReason(); !why.isEmpty()) {
        std::printf("bench_server: nothing measured: %s\n", qPrintable(why));
        return 0;
    }
    server = std::make_unique<testsupport::PgServer>();
    server->psql(QStringLiteral("ALTER SYSTEM SET max_connections = %1").arg(kMaxConnections));
    server->stopImmediately();
    server->start();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    bench::Medians medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
    printSummary(medians);
    benchmark::Shutdown();
    pooler.reset();
    server.reset();
    return 0;
}

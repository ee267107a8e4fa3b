// What the teacher's journal commands cost on a server: the data of `results` (the runs) and of
// `stats` (the questions' figures) on a server's journal of 100,000 runs with 1,000,000
// answered questions, timed as bench_journal times the file (the query and the sums, not the
// terminal table), beside raw libpq computing the same figures in the same run. The journal is
// read two ways: in place on the server, as the bank tool reads it, and copied into a temporary
// file first and read there, as it once did.
//
// The server is a throwaway cluster of the tests' own (PgServer); where PostgreSQL is not
// installed the program says so and measures nothing.
#include "bench/BenchRuns.h"
#include "bench/Medians.h"
#include "cli/BankFile.h"
#include "cli/Copy.h"
#include "data/journal/JournalStore.h"
#include "server/Server.h"
#include "tests/support/PgServer.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <libpq-fe.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace data::journal;

constexpr int kRuns = 100000;
constexpr int kQuestions = 200;

std::unique_ptr<testsupport::PgServer> server;

// The journal is recorded into a file through store(), as bench_journal makes its own, and
// copied to the server with its bank.
QString journalUrl() {
    static const QString url = [] {
        QTemporaryDir dir(QStringLiteral("/dev/shm/bench_journalserver-XXXXXX"));
        const QString bank = dir.filePath(QStringLiteral("db.mdb"));
        bank::createBank(bank);
        {
            JournalStore journal(journalPathForBank(bank), JournalStore::Mode::Record);
            for (int i = 0; i < kRuns; ++i)
                journal.store(bench::makeRun(
                    i, QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC).addSecs(i * 600),
                    kQuestions));
        }
        const QString made = server->url();
        bank::server::initServer(made, QStringLiteral("учителя"), QStringLiteral("ученики"));
        bank::copyBank(bank, made, true);
        server->psql(QStringLiteral("VACUUM ANALYZE"));
        return made;
    }();
    return url;
}

// Today's reading of a server's journal: the whole server copied into a temporary file.
void BM_CopiedResults(benchmark::State& state) {
    for (auto _ : state) {
        const bank::ServerSnapshot copy(journalUrl());
        benchmark::DoNotOptimize(
            JournalStore(journalPathForBank(copy.bankPath()), JournalStore::Mode::ReadOnly)
                .runs({}));
    }
}

void BM_CopiedStats(benchmark::State& state) {
    for (auto _ : state) {
        const bank::ServerSnapshot copy(journalUrl());
        benchmark::DoNotOptimize(
            JournalStore(journalPathForBank(copy.bankPath()), JournalStore::Mode::ReadOnly)
                .questionStats({}));
    }
}

// The journal read in place on the server, through the engine layer.
void BM_Results(benchmark::State& state) {
    JournalStore journal(journalUrl(), JournalStore::Mode::ReadOnly);
    for (auto _ : state)
        benchmark::DoNotOptimize(journal.runs({}));
}

void BM_Stats(benchmark::State& state) {
    JournalStore journal(journalUrl(), JournalStore::Mode::ReadOnly);
    for (auto _ : state)
        benchmark::DoNotOptimize(journal.questionStats({}));
}

// The baselines: the same rows and figures straight from libpq, kept as plain numbers and
// UTF-8 bytes, the sums made by the server.
struct RawRun {
    long long id, points, grade, finished, answered;
    std::string uuid, started, ended, host, login, fullName, pupil;
};

struct RawQuestion {
    std::array<long long, 17> sums{};
    std::array<double, 3> moments{};
    long long bankId = 0;
    std::string question;
    std::array<std::string, 8> choices;
    std::array<long long, 8> correct{};
};

struct Raw {
    PGconn* conn;
    Raw() : conn(PQconnectdb(journalUrl().toUtf8().constData())) {
        if (PQstatus(conn) != CONNECTION_OK) {
            std::fprintf(stderr, "connect: %s\n", PQerrorMessage(conn));
            std::abort();
        }
    }
    ~Raw() { PQfinish(conn); }

    PGresult* exec(const char* sql, const std::vector<std::string>& values = {}) const {
        std::vector<const char*> pointers;
        for (const std::string& value : values)
            pointers.push_back(value.c_str());
        PGresult* result = PQexecParams(conn, sql, int(pointers.size()), nullptr, pointers.data(),
                                        nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            std::fprintf(stderr, "%s: %s\n", sql, PQerrorMessage(conn));
            std::abort();
        }
        return result;
    }
    static long long number(const PGresult* r, int row, int column) {
        return std::atoll(PQgetvalue(r, row, column));
    }
    static long long flag(const PGresult* r, int row, int column) {
        return PQgetvalue(r, row, column)[0] == 't' ? 1 : 0;
    }
    static std::string text(const PGresult* r, int row, int column) {
        return std::string(PQgetvalue(r, row, column), size_t(PQgetlength(r, row, column)));
    }

    std::vector<RawRun> runs() const {
        PGresult* r = exec(
            "SELECT \"id\", \"Код\", \"Начало\", \"Конец\", \"Компьютер\", \"Логин\", \"ФИО\", "
            "\"Ученик\", \"Баллы\", \"Оценка\", \"Завершён\", \"Отвечено\" FROM \"Т_Прохождение\" "
            "ORDER BY \"Начало\", \"id\"");
        std::vector<RawRun> result;
        for (int i = 0; i < PQntuples(r); ++i)
            result.push_back({number(r, i, 0), number(r, i, 8), number(r, i, 9), flag(r, i, 10),
                              number(r, i, 11), text(r, i, 1), text(r, i, 2), text(r, i, 3),
                              text(r, i, 4), text(r, i, 5), text(r, i, 6), text(r, i, 7)});
        PQclear(r);
        return result;
    }

    // The figures of bench_journal's raw statistics, summed by the server.
    std::vector<RawQuestion> stats() const {
        PGresult* r = exec("SELECT count(*) FROM \"Т_Прохождение\" WHERE \"Завершён\"");
        const long long finished = number(r, 0, 0);
        PQclear(r);
        r = exec("SELECT \"Баллы\" FROM \"Т_Прохождение\" WHERE \"Завершён\" ORDER BY "
                 "\"Баллы\" DESC LIMIT 1 OFFSET $1",
                 {std::to_string((finished * 27 + 99) / 100 - 1)});
        const std::string strongFrom = PQgetvalue(r, 0, 0);
        PQclear(r);

        r = exec("SELECT a.\"Вопрос\", count(*), count(*) FILTER (WHERE a.\"ВариантВерен\"), "
                 "count(*) FILTER (WHERE a.\"ОбъяснениеВерно\"), "
                 "count(*) FILTER (WHERE a.\"Вариант\" = 1), count(*) FILTER (WHERE a.\"Вариант\" "
                 "= 2), count(*) FILTER (WHERE a.\"Вариант\" = 3), count(*) FILTER (WHERE "
                 "a.\"Вариант\" = 4), count(*) FILTER (WHERE a.\"Объяснение\" = 1), count(*) "
                 "FILTER (WHERE a.\"Объяснение\" = 2), count(*) FILTER (WHERE a.\"Объяснение\" = "
                 "3), count(*) FILTER (WHERE a.\"Объяснение\" = 4), "
                 "count(*) FILTER (WHERE r.\"Баллы\" >= $1 AND a.\"Вариант\" = 1), count(*) "
                 "FILTER (WHERE r.\"Баллы\" >= $1 AND a.\"Вариант\" = 2), count(*) FILTER (WHERE "
                 "r.\"Баллы\" >= $1 AND a.\"Вариант\" = 3), count(*) FILTER (WHERE r.\"Баллы\" >= "
                 "$1 AND a.\"Вариант\" = 4), sum(y), sum(x * y), sum(y * y) "
                 "FROM \"Т_Прохождение\" r JOIN \"Т_Ответ\" a ON a.\"Прохождение\" = r.\"id\", "
                 "LATERAL (SELECT a.\"ВариантВерен\"::integer AS x, r.\"Баллы\" - "
                 "a.\"ВариантВерен\"::integer - a.\"ОбъяснениеВерно\"::integer AS y) m "
                 "WHERE r.\"Завершён\" GROUP BY a.\"Вопрос\"",
                 {strongFrom});
        std::vector<RawQuestion> result;
        for (int i = 0; i < PQntuples(r); ++i) {
            RawQuestion q;
            for (int c = 0; c < 16; ++c)
                q.sums[size_t(c)] = number(r, i, c);
            for (int c = 0; c < 3; ++c)
                q.moments[size_t(c)] = std::atof(PQgetvalue(r, i, 16 + c));
            result.push_back(std::move(q));
        }
        PQclear(r);

        for (RawQuestion& q : result) {
            const std::string id = std::to_string(q.sums[0]);
            r = exec("SELECT \"ВопросБанка\", \"Вопрос\" FROM \"Т_ПоказанныйВопрос\" WHERE "
                     "\"id\" = $1",
                     {id});
            if (PQntuples(r) == 1) {
                q.bankId = number(r, 0, 0);
                q.question = text(r, 0, 1);
            }
            PQclear(r);
            for (const auto& [sql, first] :
                 {std::pair{"SELECT \"Номер\", \"Ответ\", \"Правильный\" FROM "
                            "\"Т_ПоказанныйВариант\" WHERE \"Вопрос\" = $1",
                            0},
                  std::pair{"SELECT \"Номер\", \"Объяснение\", \"Правильный\" FROM "
                            "\"Т_ПоказанноеОбъяснение\" WHERE \"Вопрос\" = $1",
                            4}}) {
                r = exec(sql, {id});
                for (int i = 0; i < PQntuples(r); ++i) {
                    const size_t at = size_t(first + (number(r, i, 0) - 1) % 4);
                    q.choices[at] = text(r, i, 1);
                    q.correct[at] = flag(r, i, 2);
                }
                PQclear(r);
            }
        }
        return result;
    }
};

void BM_RawResults(benchmark::State& state) {
    const Raw raw;
    for (auto _ : state)
        benchmark::DoNotOptimize(raw.runs());
}

void BM_RawStats(benchmark::State& state) {
    const Raw raw;
    for (auto _ : state)
        benchmark::DoNotOptimize(raw.stats());
}

// Medians of three: a copy of the whole server takes seconds.
constexpr int kRepetitions = 3;
BENCHMARK(BM_RawResults)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Results)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_CopiedResults)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_RawStats)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Stats)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_CopiedStats)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);

class Summary : public bench::Medians {
public:
    void print() const {
        std::printf("\n%-30s %12s %12s %7s %7s\n", "figure, server, 100,000 runs", "ours", "raw",
                    "ratio", "cpu");
        for (const auto& [figure, ours, raw] :
             {std::tuple{"results, in place", "BM_Results", "BM_RawResults"},
              std::tuple{"results, copied to a file", "BM_CopiedResults", "BM_RawResults"},
              std::tuple{"stats, in place", "BM_Stats", "BM_RawStats"},
              std::tuple{"stats, copied to a file", "BM_CopiedStats", "BM_RawStats"}}) {
            const Result* o = find(ours);
            const Result* r = find(raw);
            if (!o || !r)
                continue;
            std::printf("%-30s %9.1f ms %9.1f ms %7.2f %7.2f\n", figure, o->ms, r->ms,
                        o->ms / r->ms, o->cpuMs / r->cpuMs);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (const QString why = testsupport::PgServer::unavailableReason(); !why.isEmpty()) {
        std::printf("bench_journalserver: nothing measured: %s\n", qPrintable(why));
        return 0;
    }
    server = std::make_unique<testsupport::PgServer>();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    summary.print();
    benchmark::Shutdown();
    server.reset();
    return 0;
}

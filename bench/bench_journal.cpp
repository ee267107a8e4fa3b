// What the results journal costs: recording one run, and the teacher's queries (results, stats,
// the report's data) on a journal of 100,000 runs with 1,000,000 answered questions, each beside
// a raw baseline that computes the same figures through SQLite's C API in the same run.
//
// Run by scripts/bench; "--journal-size" prints the file's bytes per recorded run instead.
#include "bench/BenchRuns.h"
#include "bench/Medians.h"
#include "data/journal/JournalStore.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using namespace data::journal;

constexpr int kRuns = 100000;
constexpr int kQuestions = 200;

RunRecord makeRun(int serial) {
    return bench::makeRun(serial,
                          QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC).addSecs(serial * 600),
                          kQuestions);
}

// The big journal, made once through store(), in memory-backed /dev/shm where the syncs of
// 100,000 commits cost nothing; the queries read it from the page cache as they would a disk's.
struct BigJournal {
    QTemporaryDir dir{QStringLiteral("/dev/shm/bench_journal-XXXXXX")};
    QString path = dir.filePath(QStringLiteral("journal.db"));
    BigJournal() {
        JournalStore journal(path, JournalStore::Mode::Record);
        for (int i = 0; i < kRuns; ++i)
            journal.store(makeRun(i));
    }
};

BigJournal& big() {
    static BigJournal journal;
    return journal;
}

void BM_RecordRun(benchmark::State& state) {
    QTemporaryDir dir;
    JournalStore journal(dir.filePath(QStringLiteral("journal.db")), JournalStore::Mode::Record);
    int serial = 0;
    for (auto _ : state)
        journal.store(makeRun(serial++));
}
BENCHMARK(BM_RecordRun)->Unit(benchmark::kMillisecond);

// The data work of the teacher's commands on the whole journal: `results` reads the runs,
// `stats` the questions' figures, `report` both.
void BM_Results(benchmark::State& state) {
    JournalStore journal(big().path, JournalStore::Mode::ReadOnly);
    for (auto _ : state)
        benchmark::DoNotOptimize(journal.runs({}));
}

void BM_Stats(benchmark::State& state) {
    JournalStore journal(big().path, JournalStore::Mode::ReadOnly);
    for (auto _ : state)
        benchmark::DoNotOptimize(journal.questionStats({}));
}

void BM_Report(benchmark::State& state) {
    JournalStore journal(big().path, JournalStore::Mode::ReadOnly);
    for (auto _ : state) {
        benchmark::DoNotOptimize(journal.runs({}));
        benchmark::DoNotOptimize(journal.questionStats({}));
    }
}

// The baselines: the same rows and sums straight from the engine, kept as plain numbers and
// UTF-8 bytes, without our types.
struct RawRun {
    sqlite3_int64 id, points, grade, finished, answered;
    std::string uuid, started, ended, host, login, fullName, pupil;
};

struct RawQuestion {
    std::array<sqlite3_int64, 17> sums{};
    std::array<double, 3> moments{};
    sqlite3_int64 bankId = 0;
    std::string question;
    std::array<std::string, 8> choices;
    std::array<sqlite3_int64, 8> correct{};
};

std::string text(sqlite3_stmt* s, int c) {
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, c)),
                       size_t(sqlite3_column_bytes(s, c)));
}

struct Raw {
    sqlite3* db = nullptr;
    Raw() { sqlite3_open_v2(big().path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr); }
    ~Raw() { sqlite3_close(db); }

    sqlite3_stmt* prepare(const char* sql) const {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        return s;
    }

    std::vector<RawRun> runs() const {
        sqlite3_stmt* s = prepare(
            "SELECT \"id\", \"Код\", \"Начало\", \"Конец\", \"Компьютер\", \"Логин\", \"ФИО\", "
            "\"Ученик\", \"Баллы\", \"Оценка\", \"Завершён\", \"Отвечено\" FROM \"Т_Прохождение\" "
            "ORDER BY \"Начало\", \"id\"");
        std::vector<RawRun> result;
        while (sqlite3_step(s) == SQLITE_ROW)
            result.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 8),
                              sqlite3_column_int64(s, 9), sqlite3_column_int64(s, 10),
                              sqlite3_column_int64(s, 11), text(s, 1), text(s, 2), text(s, 3),
                              text(s, 4), text(s, 5), text(s, 6), text(s, 7)});
        sqlite3_finalize(s);
        return result;
    }

    // The points from which a finished run is among the strongest 27 %.
    sqlite3_int64 strongestPoints() const {
        sqlite3_stmt* s = prepare("SELECT count(*) FROM \"Т_Прохождение\" WHERE \"Завершён\"");
        sqlite3_step(s);
        const sqlite3_int64 finished = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        s = prepare("SELECT \"Баллы\" FROM \"Т_Прохождение\" WHERE \"Завершён\" ORDER BY "
                    "\"Баллы\" DESC LIMIT 1 OFFSET ?1");
        sqlite3_bind_int64(s, 1, (finished * 27 + 99) / 100 - 1);
        sqlite3_step(s);
        const sqlite3_int64 points = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        return points;
    }

    // The figures of the statistics: the points from which a finished run is among the
    // strongest 27 %, then per question as shown the draws, the right answers and explanations,
    // each choice's count overall and by the strongest, the sums of the item-rest correlation,
    // and the texts and marks shown.
    std::vector<RawQuestion> stats() const {
        const sqlite3_int64 strongFrom = strongestPoints();
        sqlite3_stmt* s = prepare(
            "SELECT a.\"Вопрос\", count(*), sum(a.\"ВариантВерен\"), sum(a.\"ОбъяснениеВерно\"), "
            "sum(a.\"Вариант\" = 1), sum(a.\"Вариант\" = 2), sum(a.\"Вариант\" = 3), "
            "sum(a.\"Вариант\" = 4), sum(a.\"Объяснение\" = 1), sum(a.\"Объяснение\" = 2), "
            "sum(a.\"Объяснение\" = 3), sum(a.\"Объяснение\" = 4), "
            "sum(r.\"Баллы\" >= ?1 AND a.\"Вариант\" = 1), sum(r.\"Баллы\" >= ?1 AND "
            "a.\"Вариант\" = 2), sum(r.\"Баллы\" >= ?1 AND a.\"Вариант\" = 3), "
            "sum(r.\"Баллы\" >= ?1 AND a.\"Вариант\" = 4), "
            "sum(r.\"Баллы\" - a.\"ВариантВерен\" - a.\"ОбъяснениеВерно\"), "
            "sum(a.\"ВариантВерен\" * (r.\"Баллы\" - a.\"ВариантВерен\" - a.\"ОбъяснениеВерно\")), "
            "sum((r.\"Баллы\" - a.\"ВариантВерен\" - a.\"ОбъяснениеВерно\") * "
            "(r.\"Баллы\" - a.\"ВариантВерен\" - a.\"ОбъяснениеВерно\")) "
            "FROM \"Т_Прохождение\" r CROSS JOIN \"Т_Ответ\" a ON a.\"Прохождение\" = r.\"id\" "
            "WHERE r.\"Завершён\" GROUP BY a.\"Вопрос\"");
        sqlite3_bind_int64(s, 1, strongFrom);
        std::vector<RawQuestion> result;
        while (sqlite3_step(s) == SQLITE_ROW) {
            RawQuestion q;
            for (int c = 0; c < 16; ++c)
                q.sums[size_t(c)] = sqlite3_column_int64(s, c);
            for (int c = 0; c < 3; ++c)
                q.moments[size_t(c)] = sqlite3_column_double(s, 16 + c);
            result.push_back(std::move(q));
        }
        sqlite3_finalize(s);

        addTexts(result);
        return result;
    }

    // The texts and marks each question showed.
    void addTexts(std::vector<RawQuestion>& result) const {
        sqlite3_stmt* s =
            prepare("SELECT \"ВопросБанка\", \"Вопрос\" FROM \"Т_ПоказанныйВопрос\" WHERE "
                    "\"id\" = ?1");
        sqlite3_stmt* options = prepare("SELECT \"Номер\", \"Ответ\", \"Правильный\" FROM "
                                        "\"Т_ПоказанныйВариант\" WHERE \"Вопрос\" = ?1");
        sqlite3_stmt* explanations =
            prepare("SELECT \"Номер\", \"Объяснение\", \"Правильный\" FROM "
                    "\"Т_ПоказанноеОбъяснение\" WHERE \"Вопрос\" = ?1");
        for (RawQuestion& q : result) {
            sqlite3_reset(s);
            sqlite3_bind_int64(s, 1, q.sums[0]);
            if (sqlite3_step(s) == SQLITE_ROW) {
                q.bankId = sqlite3_column_int64(s, 0);
                q.question = text(s, 1);
            }
            for (const auto& [read, first] : {std::pair{options, 0}, std::pair{explanations, 4}}) {
                sqlite3_reset(read);
                sqlite3_bind_int64(read, 1, q.sums[0]);
                while (sqlite3_step(read) == SQLITE_ROW) {
                    const size_t at = size_t(first + (sqlite3_column_int64(read, 0) - 1) % 4);
                    q.choices[at] = text(read, 1);
                    q.correct[at] = sqlite3_column_int64(read, 2);
                }
            }
        }
        for (sqlite3_stmt* statement : {s, options, explanations})
            sqlite3_finalize(statement);
    }

    // The same figures summed here from every answer as the engine reads it, without a GROUP BY:
    // what the file's engine costs when it does no sort.
    std::vector<RawQuestion> streamedStats() const {
        const sqlite3_int64 strongFrom = strongestPoints();
        sqlite3_stmt* s =
            prepare("SELECT a.\"Вопрос\", a.\"Вариант\", a.\"Объяснение\", a.\"ВариантВерен\", "
                    "a.\"ОбъяснениеВерно\", r.\"Баллы\" FROM \"Т_Прохождение\" r CROSS JOIN "
                    "\"Т_Ответ\" a ON a.\"Прохождение\" = r.\"id\" WHERE r.\"Завершён\"");
        std::unordered_map<sqlite3_int64, RawQuestion> byShown;
        while (sqlite3_step(s) == SQLITE_ROW) {
            RawQuestion& q = byShown[sqlite3_column_int64(s, 0)];
            const sqlite3_int64 option = sqlite3_column_int64(s, 1),
                                explanation = sqlite3_column_int64(s, 2),
                                x = sqlite3_column_int64(s, 3), ex = sqlite3_column_int64(s, 4),
                                points = sqlite3_column_int64(s, 5);
            const double y = double(points - x - ex);
            q.sums[1] += 1;
            q.sums[2] += x;
            q.sums[3] += ex;
            q.sums[size_t(3 + (option - 1) % 4 + 1)] += 1;
            q.sums[size_t(7 + (explanation - 1) % 4 + 1)] += 1;
            q.sums[size_t(11 + (option - 1) % 4 + 1)] += points >= strongFrom;
            q.moments[0] += y;
            q.moments[1] += double(x) * y;
            q.moments[2] += y * y;
        }
        sqlite3_finalize(s);
        std::vector<RawQuestion> result;
        for (auto& [id, q] : byShown) {
            q.sums[0] = id;
            result.push_back(std::move(q));
        }
        addTexts(result);
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

void BM_RawStreamedStats(benchmark::State& state) {
    const Raw raw;
    for (auto _ : state)
        benchmark::DoNotOptimize(raw.streamedStats());
}

void BM_RawReport(benchmark::State& state) {
    const Raw raw;
    for (auto _ : state) {
        benchmark::DoNotOptimize(raw.runs());
        benchmark::DoNotOptimize(raw.stats());
    }
}

// Medians of five, the journal made before the first is timed.
constexpr int kRepetitions = 5;
BENCHMARK(BM_RawResults)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Results)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_RawStats)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_RawStreamedStats)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Stats)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_RawReport)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Report)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);

class Summary : public bench::Medians {
public:
    void print() const {
        std::printf("\n%-28s %12s %12s %7s %7s   %s\n", "figure, 100,000 runs", "ours", "raw",
                    "ratio", "cpu", "target");
        for (const auto& [figure, name] :
             {std::pair{"results", "Results"}, std::pair{"stats", "Stats"},
              std::pair{"report's data", "Report"}}) {
            const Result* ours = find(std::string("BM_") + name);
            const Result* raw = find(std::string("BM_Raw") + name);
            if (!ours || !raw)
                continue;
            std::printf("%-28s %9.1f ms %9.1f ms %7.2f %7.2f   < 1000 ms, <= 2\n", figure, ours->ms,
                        raw->ms, ours->ms / raw->ms, ours->cpuMs / raw->cpuMs);
        }
        if (const Result* ours = find("BM_Stats"), *raw = find("BM_RawStreamedStats"); ours && raw)
            std::printf("%-28s %9.1f ms %9.1f ms %7.2f %7.2f\n", "stats, raw summed here", ours->ms,
                        raw->ms, ours->ms / raw->ms, ours->cpuMs / raw->cpuMs);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--journal-size") == 0) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.db"));
        JournalStore journal(path, JournalStore::Mode::Record);
        constexpr int kSample = 2000;
        for (int i = 0; i < kSample; ++i)
            journal.store(makeRun(i));
        std::printf("%.0f bytes per recorded run (%d runs)\n",
                    double(QFileInfo(path).size()) / kSample, kSample);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    summary.print();
    benchmark::Shutdown();
    return 0;
}

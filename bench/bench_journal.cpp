// What the results journal costs: recording one run, and the teacher's queries (results, stats,
// the report's data) on a journal of 100,000 runs with 1,000,000 answered questions, each beside
// a raw baseline that computes the same figures through SQLite's C API in the same run.
//
// Run by scripts/bench; "--journal-size" prints the file's bytes per recorded run instead.
#include "data/JournalStore.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

using namespace data::journal;

constexpr int kRuns = 100000;
constexpr int kQuestions = 200;

// A run of ten questions, drawn from kQuestions with four options and explanations each.
RunRecord makeRun(int serial) {
    RunRecord run;
    run.uuid = QStringLiteral("bench-%1").arg(serial);
    run.started = QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC).addSecs(serial * 600);
    run.ended = run.started.addSecs(300 + serial % 600);
    run.host = QStringLiteral("class-pc%1").arg(serial % 15 + 1, 2, 10, QLatin1Char('0'));
    run.login = QStringLiteral("pupil%1").arg(serial % 300);
    run.fullName = QStringLiteral("Ученик Номер %1").arg(serial % 300);
    run.finished = serial % 10 != 0;
    quint32 state = quint32(serial) * 2654435761u;
    for (int k = 0; k < kQuestionsPerRun; ++k) {
        state = state * 1664525u + 1013904223u;
        Answer a;
        a.questionId = (serial * 7 + k * 13) % kQuestions + 1;
        a.question = QStringLiteral("Вопрос номер %1 о системах счисления").arg(a.questionId);
        for (size_t i = 0; i < 4; ++i) {
            a.options[i] = {QStringLiteral("Ответ %1 на вопрос %2").arg(i + 1).arg(a.questionId),
                            i == 0};
            a.explanations[i] = {
                QStringLiteral("Пояснение %1 к вопросу %2").arg(i + 1).arg(a.questionId), i == 0};
        }
        a.chosenOption = int(state >> 30) + 1;
        a.chosenExplanation = int((state >> 28) & 3) + 1;
        run.points += int(a.optionRight()) + int(a.explanationRight());
        run.answers.push_back(a);
    }
    if (run.finished)
        run.grade = run.points > 16 ? 5 : run.points > 13 ? 4 : run.points > 9 ? 3 : 2;
    return run;
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

void BM_Results(benchmark::State& state) {
    JournalStore journal(big().path, JournalStore::Mode::ReadOnly);
    for (auto _ : state)
        benchmark::DoNotOptimize(journal.runs({}));
}
BENCHMARK(BM_Results)->Unit(benchmark::kMillisecond);

void BM_Stats(benchmark::State& state) {
    JournalStore journal(big().path, JournalStore::Mode::ReadOnly);
    for (auto _ : state)
        benchmark::DoNotOptimize(journal.questionStats({}));
}
BENCHMARK(BM_Stats)->Unit(benchmark::kMillisecond);

void BM_ReportData(benchmark::State& state) {
    JournalStore journal(big().path, JournalStore::Mode::ReadOnly);
    for (auto _ : state) {
        benchmark::DoNotOptimize(journal.runs({}));
        benchmark::DoNotOptimize(journal.questionStats({}));
    }
}
BENCHMARK(BM_ReportData)->Unit(benchmark::kMillisecond);

// The baselines: the same rows and sums straight from the engine, kept as plain numbers and
// UTF-8 bytes, without our types.
struct RawRun {
    sqlite3_int64 id, points, grade, finished, answered;
    std::string uuid, started, ended, host, login, fullName, pupil;
};

void BM_RawResults(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(big().path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const char* sql = "SELECT \"id\", \"Код\", \"Начало\", \"Конец\", \"Компьютер\", \"Логин\", "
                      "\"ФИО\", \"Ученик\", \"Баллы\", \"Оценка\", \"Завершён\", \"Отвечено\" "
                      "FROM \"Т_Прохождение\" ORDER BY \"Начало\", \"id\"";
    const auto text = [](sqlite3_stmt* s, int c) {
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, c)),
                           size_t(sqlite3_column_bytes(s, c)));
    };
    for (auto _ : state) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        std::vector<RawRun> runs;
        while (sqlite3_step(s) == SQLITE_ROW)
            runs.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 8),
                            sqlite3_column_int64(s, 9), sqlite3_column_int64(s, 10),
                            sqlite3_column_int64(s, 11), text(s, 1), text(s, 2), text(s, 3),
                            text(s, 4), text(s, 5), text(s, 6), text(s, 7)});
        sqlite3_finalize(s);
        benchmark::DoNotOptimize(runs);
    }
    sqlite3_close(db);
}
BENCHMARK(BM_RawResults)->Unit(benchmark::kMillisecond);

void BM_RawStats(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(big().path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    // Drawn, right options and explanations, each choice's count and the sums of the item-rest
    // correlation, per question as shown.
    const char* sql =
        "SELECT a.\"Вопрос\", count(*), sum(a.\"ВариантВерен\"), sum(a.\"ОбъяснениеВерно\"), "
        "sum(a.\"Вариант\" = 1), sum(a.\"Вариант\" = 2), sum(a.\"Вариант\" = 3), "
        "sum(a.\"Вариант\" = 4), sum(a.\"Объяснение\" = 1), sum(a.\"Объяснение\" = 2), "
        "sum(a.\"Объяснение\" = 3), sum(a.\"Объяснение\" = 4), "
        "sum(r.\"Баллы\" - a.\"ВариантВерен\" - a.\"ОбъяснениеВерно\"), "
        "sum(a.\"ВариантВерен\" * (r.\"Баллы\" - a.\"ВариантВерен\" - a.\"ОбъяснениеВерно\")) "
        "FROM \"Т_Ответ\" a JOIN \"Т_Прохождение\" r ON r.\"id\" = a.\"Прохождение\" WHERE "
        "r.\"Завершён\" GROUP BY a.\"Вопрос\"";
    for (auto _ : state) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        std::vector<std::array<sqlite3_int64, 14>> rows;
        while (sqlite3_step(s) == SQLITE_ROW) {
            std::array<sqlite3_int64, 14> row{};
            for (int c = 0; c < 14; ++c)
                row[size_t(c)] = sqlite3_column_int64(s, c);
            rows.push_back(row);
        }
        sqlite3_finalize(s);
        benchmark::DoNotOptimize(rows);
    }
    sqlite3_close(db);
}
BENCHMARK(BM_RawStats)->Unit(benchmark::kMillisecond);

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
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

// What the question bank's cursors cost against SQLite itself, on banks of 500, 10,000 and
// 100,000 questions with 4 answer options and 4 explanations each. Every figure of ours is
// measured in the same run as a raw baseline that does the same work through the C API, and
// the summary at the end prints the ratios beside the targets.
//
// Run by scripts/bench. With "--peak-rss dm|raw FOLDER" the program only opens the bank in
// FOLDER (the data module, or the raw SELECTs) and prints its peak resident memory in KiB: the
// memory figures come from such fresh processes, not from this one.
#include "bench/Medians.h"
#include "data/DM.h"
#include "data/Schema.h"
#include "data/sqlite/Sqlite.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using data::sqlite::Database;
using data::sqlite::Statement;

const QString kBankFile = QStringLiteral("db.mdb");

// The bank files of one size, made once: "numbered" has Номер 1..N, "empty" has every Номер
// null, and "work" receives a fresh copy of "empty" for each draw that writes.
struct Bank {
    QTemporaryDir dir;
    QString numbered() const { return dir.filePath(QStringLiteral("numbered")); }
    QString empty() const { return dir.filePath(QStringLiteral("empty")); }
    QString work() const { return dir.filePath(QStringLiteral("work")); }

    explicit Bank(int questions) {
        for (const QString& folder : {numbered(), empty(), work()})
            QDir().mkpath(folder);
        const QString path = numbered() + QLatin1Char('/') + kBankFile;
        {
            Database db(path, Database::Mode::ReadWriteCreate);
            db.exec(data::bankSchema().constData());
            db.exec("BEGIN");
            Statement q(db, "INSERT INTO \"Т_Вопросы\" (\"Номер\", \"Вопрос\") VALUES (?, ?)");
            Statement v(db, "INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\", \"Правильный\") "
                            "VALUES (?, ?, ?)");
            Statement e(db, "INSERT INTO \"Т_Объяснение\" (\"Вопрос\", \"Объяснение\", "
                            "\"Правильный\") VALUES (?, ?, ?)");
            for (int k = 1; k <= questions; ++k) {
                q.reset();
                q.bindInt(1, k);
                q.bindText(2, QStringLiteral("Вопрос номер %1 о системах счисления").arg(k));
                q.run();
                const qint64 id = db.lastInsertRowId();
                for (Statement* s : {&v, &e})
                    for (int i = 0; i < 4; ++i) {
                        s->reset();
                        s->bindInt(1, id);
                        s->bindText(2, QStringLiteral("Вариант %1 вопроса %2").arg(i).arg(k));
                        s->bindInt(3, i == 0);
                        s->run();
                    }
            }
            db.exec("COMMIT");
        }
        const QString emptyPath = empty() + QLatin1Char('/') + kBankFile;
        QFile::copy(path, emptyPath);
        Database db(emptyPath, Database::Mode::ReadWrite);
        db.exec("UPDATE \"Т_Вопросы\" SET \"Номер\" = NULL");
    }

    // A fresh copy of the bank with every Номер empty in "work", the working directory.
    void freshEmptyCopy() const {
        const QString target = work() + QLatin1Char('/') + kBankFile;
        QFile::remove(target);
        QFile::copy(empty() + QLatin1Char('/') + kBankFile, target);
        QDir::setCurrent(work());
    }
};

Bank& bankOf(int questions) {
    static std::map<int, std::unique_ptr<Bank>> banks;
    auto& bank = banks[questions];
    if (!bank)
        bank = std::make_unique<Bank>(questions);
    QDir::setCurrent(bank->numbered());
    return *bank;
}

// ---- the raw baselines: the C API, no wrappers ---------------------------------------------

struct RawQuestion {
    sqlite3_int64 rowid, id, number;
    std::string text;
};
struct RawDetail {
    sqlite3_int64 rowid, id, link, correct;
    std::string text;
};
struct RawBank {
    std::vector<RawQuestion> questions;
    std::vector<RawDetail> options, explanations;
};

sqlite3* rawOpen() {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2("db.mdb", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        std::abort();
    sqlite3_busy_timeout(db, 5000);
    return db;
}

sqlite3_stmt* rawPrepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        std::abort();
    return stmt;
}

std::string rawText(sqlite3_stmt* stmt, int column) {
    const auto* text = sqlite3_column_text(stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              size_t(sqlite3_column_bytes(stmt, column)))
                : std::string();
}

// The same SELECTs the tables run when they open, stepped into plain vectors.
RawBank rawRead() {
    RawBank bank;
    sqlite3* db = rawOpen();
    sqlite3_stmt* q = rawPrepare(db, "SELECT rowid, \"id\", \"Номер\", \"Вопрос\" FROM "
                                     "\"Т_Вопросы\" ORDER BY rowid");
    while (sqlite3_step(q) == SQLITE_ROW)
        bank.questions.push_back({sqlite3_column_int64(q, 0), sqlite3_column_int64(q, 1),
                                  sqlite3_column_int64(q, 2), rawText(q, 3)});
    sqlite3_finalize(q);
    const auto details = [db](const char* sql, std::vector<RawDetail>& rows) {
        sqlite3_stmt* s = rawPrepare(db, sql);
        while (sqlite3_step(s) == SQLITE_ROW)
            rows.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1),
                            sqlite3_column_int64(s, 2), sqlite3_column_int64(s, 4), rawText(s, 3)});
        sqlite3_finalize(s);
    };
    details("SELECT rowid, \"id\", \"Вопрос\", \"Ответ\", \"Правильный\" FROM \"Т_Вариант\" "
            "ORDER BY \"Вопрос\", rowid",
            bank.options);
    details("SELECT rowid, \"id\", \"Вопрос\", \"Объяснение\", \"Правильный\" FROM "
            "\"Т_Объяснение\" ORDER BY \"Вопрос\", rowid",
            bank.explanations);
    sqlite3_close_v2(db);
    return bank;
}

// The draw's writes without a cursor: every question's number in one transaction.
void rawRenumber(sqlite3* db, const std::vector<sqlite3_int64>& rowids) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* update = rawPrepare(db, "UPDATE \"Т_Вопросы\" SET \"Номер\" = ? WHERE rowid = ?");
    sqlite3_int64 number = 0;
    for (sqlite3_int64 rowid : rowids) {
        sqlite3_bind_int64(update, 1, ++number);
        sqlite3_bind_int64(update, 2, rowid);
        if (sqlite3_step(update) != SQLITE_DONE)
            std::abort();
        sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        std::abort();
}

// ---- ours ----------------------------------------------------------------------------------

// The database work of the draw, as the testing window does it: every question gets its
// number 1..N, in one write scope, with the controls told once at the end.
void draw(TDataModule2& dm) {
    data::Table& questions = dm.Vopros;
    questions.first();
    const int n = questions.recordCount();
    data::CommitOnUnwindScope scope(dm.ADOConnection1);
    data::Table::ControlsDisabled quiet(questions);
    for (int i = 1; i <= n; ++i) {
        questions.edit();
        questions.setFieldValue(QStringLiteral("Номер"), i);
        questions.post();
        questions.next();
    }
    scope.commit();
}

void BM_Open(benchmark::State& state) {
    bankOf(int(state.range(0)));
    for (auto _ : state) {
        TDataModule2 dm;
        benchmark::DoNotOptimize(dm.Vopros.recordCount());
    }
}

void BM_OpenRaw(benchmark::State& state) {
    bankOf(int(state.range(0)));
    for (auto _ : state) {
        RawBank bank = rawRead();
        benchmark::DoNotOptimize(bank.questions.size());
    }
}

void BM_DrawEmpty(benchmark::State& state) {
    const Bank& bank = bankOf(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        bank.freshEmptyCopy();
        auto dm = std::make_unique<TDataModule2>();
        state.ResumeTiming();
        draw(*dm);
        state.PauseTiming();
        dm.reset();
        state.ResumeTiming();
    }
}

void BM_DrawEmptyRaw(benchmark::State& state) {
    const Bank& bank = bankOf(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        bank.freshEmptyCopy();
        sqlite3* db = rawOpen();
        std::vector<sqlite3_int64> rowids;
        sqlite3_stmt* select = rawPrepare(db, "SELECT rowid FROM \"Т_Вопросы\" ORDER BY rowid");
        while (sqlite3_step(select) == SQLITE_ROW)
            rowids.push_back(sqlite3_column_int64(select, 0));
        sqlite3_finalize(select);
        state.ResumeTiming();
        rawRenumber(db, rowids);
        state.PauseTiming();
        sqlite3_close_v2(db);
        state.ResumeTiming();
    }
}

void BM_DrawNumbered(benchmark::State& state) {
    bankOf(int(state.range(0)));
    TDataModule2 dm;
    for (auto _ : state)
        draw(dm);
}

void BM_Move(benchmark::State& state) {
    bankOf(int(state.range(0)));
    TDataModule2 dm;
    for (auto _ : state) {
        dm.Vopros.next();
        if (dm.Vopros.eof())
            dm.Vopros.first();
        benchmark::DoNotOptimize(dm.Variant.recordCount() + dm.Obyasnenie.recordCount());
    }
}

// Peak resident memory of a fresh process that opens the bank.
double peakMiB(const char* what, int questions) {
    const QString folder = bankOf(questions).numbered();
    // The shell that popen starts has its own /proc/self: name this program by its path.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command =
        "'" + self + "' --peak-rss " + std::string(what) + " '" + folder.toStdString() + "'";
    FILE* child = popen(command.c_str(), "r");
    long kib = 0;
    if (!child || std::fscanf(child, "%ld", &kib) != 1)
        std::abort();
    pclose(child);
    return double(kib) / 1024.0;
}

void BM_PeakMemory(benchmark::State& state) {
    for (auto _ : state)
        state.counters["peak_MiB"] = peakMiB("dm", int(state.range(0)));
}

void BM_PeakMemoryRaw(benchmark::State& state) {
    for (auto _ : state)
        state.counters["peak_MiB"] = peakMiB("raw", int(state.range(0)));
}

int peakRssMain(const char* what, const char* folder) {
    QDir::setCurrent(QString::fromLocal8Bit(folder));
    if (std::strcmp(what, "dm") == 0) {
        TDataModule2 dm;
        benchmark::DoNotOptimize(dm.Vopros.recordCount());
    } else {
        RawBank bank = rawRead();
        benchmark::DoNotOptimize(bank.questions.size());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", usage.ru_maxrss);
    return 0;
}

// ---- the summary ---------------------------------------------------------------------------

// The ratios at the end, beside the targets.
class Collector : public bench::Medians {
public:
    void printSummary() const {
        std::printf("\n%-32s %7s %13s %13s %7s %7s   %s\n", "figure (baseline)", "N", "ours",
                    "baseline", "ratio", "cpu", "target");
        const auto line = [](const char* figure, int n, const Result& ours, const Result* base,
                             double scale, const char* unit, const char* target) {
            const bool memory = std::strcmp(unit, "MiB") == 0;
            const double o = (memory ? ours.peakMiB : ours.ms) * scale;
            const double b = base ? (memory ? base->peakMiB : base->ms) * scale : 0;
            char oursText[32], baseText[32] = "-", ratio[16] = "-", cpu[16] = "-";
            std::snprintf(oursText, sizeof oursText, "%.3f %s", o, unit);
            if (base && b > 0) {
                std::snprintf(baseText, sizeof baseText, "%.3f %s", b, unit);
                std::snprintf(ratio, sizeof ratio, "%.2f", o / b);
                if (!memory && base->cpuMs > 0)
                    std::snprintf(cpu, sizeof cpu, "%.2f", ours.cpuMs / base->cpuMs);
            }
            std::printf("%-32s %7d %13s %13s %7s %7s   %s\n", figure, n, oursText, baseText, ratio,
                        cpu, target);
        };
        const int sizes[] = {500, 10000, 100000};
        for (int n : sizes)
            if (const Result* ours = find("BM_Open", n))
                line("open (raw SELECTs)", n, *ours, find("BM_OpenRaw", n), 1, "ms", "<= 1.5");
        for (int n : sizes)
            if (const Result* ours = find("BM_DrawEmpty", n))
                line("draw, Номер empty (raw UPDATEs)", n, *ours, find("BM_DrawEmptyRaw", n), 1,
                     "ms", "<= 1.5");
        for (int n : sizes)
            if (const Result* ours = find("BM_DrawNumbered", n))
                line("draw, numbered", n, *ours, nullptr, 1, "ms", n == 100000 ? "<= 20 ms" : "");
        for (int n : sizes)
            if (const Result* ours = find("BM_Move", n))
                line("move, median (move at 500)", n, *ours, find("BM_Move", 500), 1000, "us",
                     n == 100000 ? "<= 1.5" : "");
        for (int n : sizes)
            if (const Result* ours = find("BM_PeakMemory", n))
                line("peak memory (raw SELECTs)", n, *ours, find("BM_PeakMemoryRaw", n), 1, "MiB",
                     n == 100000 ? "<= 150 MB" : "");
    }
};

} // namespace

BENCHMARK(BM_OpenRaw)->Arg(500)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open)->Arg(500)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawEmptyRaw)
    ->Arg(500)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawEmpty)
    ->Arg(500)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawNumbered)->Arg(500)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Move)
    ->Arg(500)
    ->Arg(10000)
    ->Arg(100000)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeakMemoryRaw)->Arg(500)->Arg(10000)->Arg(100000)->Iterations(1);
BENCHMARK(BM_PeakMemory)->Arg(500)->Arg(10000)->Arg(100000)->Iterations(1);

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--peak-rss") == 0)
        return peakRssMain(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    collector.printSummary();
    benchmark::Shutdown();
    return 0;
}

// How the question bank's cursors scale with the bank: opening, following the current
// question, finding a drawn question by number, and renumbering a bank already numbered.
#include "data/DM.h"
#include "data/Schema.h"
#include "data/Sqlite.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <map>
#include <memory>

namespace {

using data::sqlite::Database;
using data::sqlite::Statement;

// One bank per size, made once: questions numbered 1..N with 4 options and 4 explanations.
struct Bank {
    QTemporaryDir dir;
    explicit Bank(int questions) {
        Database db(dir.filePath("db.mdb"), Database::Mode::ReadWriteCreate);
        db.exec(data::kBankSchema);
        db.exec("BEGIN");
        Statement q(db, "INSERT INTO \"Т_Вопросы\" (\"Номер\", \"Вопрос\") VALUES (?, ?)");
        Statement v(db, "INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\", \"Правильный\") VALUES "
                        "(?, ?, ?)");
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
};

Bank& bankOf(int questions) {
    static std::map<int, std::unique_ptr<Bank>> banks;
    auto& bank = banks[questions];
    if (!bank)
        bank = std::make_unique<Bank>(questions);
    QDir::setCurrent(bank->dir.path());
    return *bank;
}

void BM_OpenBank(benchmark::State& state) {
    bankOf(int(state.range(0)));
    for (auto _ : state) {
        TDataModule2 dm;
        benchmark::DoNotOptimize(dm.Vopros.recordCount());
    }
    state.SetComplexityN(state.range(0));
}

void BM_NextQuestion(benchmark::State& state) {
    bankOf(int(state.range(0)));
    TDataModule2 dm;
    for (auto _ : state) {
        dm.Vopros.next();
        if (dm.Vopros.eof())
            dm.Vopros.first();
        benchmark::DoNotOptimize(dm.Variant.recordCount());
    }
}

void BM_LocateByNumber(benchmark::State& state) {
    const int n = int(state.range(0));
    bankOf(n);
    TDataModule2 dm;
    int k = 0;
    for (auto _ : state) {
        k = (k * 7919 + 13) % n + 1;
        benchmark::DoNotOptimize(dm.Vopros.locate(QStringLiteral("Номер"), k));
    }
}

void BM_RenumberNumberedBank(benchmark::State& state) {
    const int n = int(state.range(0));
    bankOf(n);
    TDataModule2 dm;
    for (auto _ : state) {
        dm.Vopros.first();
        for (int i = 1; i <= n; ++i) {
            dm.Vopros.edit();
            dm.VoprosIntegerField->setValue(i);
            dm.Vopros.post();
            dm.Vopros.next();
        }
    }
}

} // namespace

BENCHMARK(BM_OpenBank)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NextQuestion)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LocateByNumber)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenumberNumberedBank)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

// One full repaint of the editor window, its three grids on a bank of 100,000 questions, beside
// the same repaint of three plain Qt tables over a model of the rows in view.
#include "data/DM.h"
#include "data/Schema.h"
#include "data/sqlite/Sqlite.h"
#include "editor/Unit2.h"
#include "toolkit/Form.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

using data::sqlite::Database;

constexpr int kQuestions = 100000;

// The bank: questions numbered 1..N with 4 options and 4 explanations, made once.
struct Bank {
    QTemporaryDir dir;
    Bank() {
        Database db(dir.filePath("db.mdb"), Database::Mode::ReadWriteCreate);
        db.exec(data::bankSchema().constData());
        db.exec(QStringLiteral(
                    "BEGIN;"
                    "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < %1) "
                    "INSERT INTO \"Т_Вопросы\" (id, \"Номер\", \"Вопрос\") SELECT k, k, "
                    "'Вопрос номер ' || k || ' о системах счисления' FROM n;"
                    "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < 4 "
                    "* %1 - 1) INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\", \"Правильный\") "
                    "SELECT k / 4 + 1, 'Вариант ' || k, k % 4 = 0 FROM n;"
                    "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < 4 "
                    "* %1 - 1) INSERT INTO \"Т_Объяснение\" (\"Вопрос\", \"Объяснение\", "
                    "\"Правильный\") SELECT k / 4 + 1, 'Объяснение ' || k, k % 4 = 0 FROM n;"
                    "COMMIT;")
                    .arg(kQuestions)
                    .toUtf8()
                    .constData());
        QDir::setCurrent(dir.path());
    }
};

void BM_EditorRepaint(benchmark::State& state, bool atEnd) {
    static Bank bank;
    TDataModule2 dm;
    DataModule2 = &dm;
    TEdittest editor;
    Edittest = &editor;
    editor.show();
    if (atEnd)
        dm.Vopros.last();
    QApplication::processEvents();
    for (auto _ : state)
        editor.repaint();
    Edittest = nullptr;
    DataModule2 = nullptr;
}

// The raw baseline: a window of the same size with three Qt tables of the same sizes over a
// model that holds just the rows in view.
void BM_PlainTablesRepaint(benchmark::State& state) {
    QWidget window;
    window.setFont(toolkit::windowFont());
    window.resize(702, 615);
    QStandardItemModel model(20, 2);
    for (int row = 0; row < 20; ++row)
        for (int column = 0; column < 2; ++column)
            model.setItem(row, column,
                          new QStandardItem(
                              QStringLiteral("Вопрос номер %1 о системах счисления").arg(row + 1)));
    for (const QRect& geometry :
         {QRect(8, 30, 658, 254), QRect(8, 326, 658, 107), QRect(8, 461, 658, 112)}) {
        auto* table = new QTableView(&window);
        table->setModel(&model);
        table->setGeometry(geometry);
        table->verticalHeader()->hide();
        table->verticalHeader()->setDefaultSectionSize(15);
        table->setColumnWidth(0, 548);
    }
    window.show();
    QApplication::processEvents();
    for (auto _ : state)
        window.repaint();
}

} // namespace

BENCHMARK_CAPTURE(BM_EditorRepaint, first_question, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EditorRepaint, last_question, true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainTablesRepaint)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Painting into memory, as the tests do, unless a display is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    toolkit::registerFonts();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

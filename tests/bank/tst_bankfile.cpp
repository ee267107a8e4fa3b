#include "bank/BankFile.h"
#include "bank/Cli.h"
#include "bank/QuestionCsv.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "data/Sqlite.h"
#include "tests/support/BankFixture.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace bank;
using testsupport::BankFixture;

namespace {

struct Run {
    int code;
    QString out;
    QString err;
    QByteArray bytes; // standard output as written, a byte-order mark included
};

Run tool(const QStringList& args) {
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    const int code = runBankTool(args, out, err);
    return {code, QString::fromUtf8(out.data()), QString::fromUtf8(err.data()), out.data()};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Questions that exercise every way a text or a flag can travel badly through a CSV file.
std::vector<Question> trickyQuestions() {
    const QString longText = QString(254, QChar(u'я')) + QStringLiteral("!");
    return {
        {QStringLiteral("Что выведет print(\"a;b\")?"),
         {{"a;b", true}, {"\"a;b\"", false}, {"a,b", false}, {"a\tb", false}},
         {{"Кавычки; разделитель", true},
          {"", false},
          {"  пробелы по краям  ", false},
          {"x", false}}},
        {QStringLiteral("Две строки\r\nв вопросе\nи ещё одна"),
         {{"0010", false}, {"1, 2", true}, {"=1+1", false}, {"-5", true}},
         {{longText, false}, {"😀 эмодзи", true}}},
        {QStringLiteral("Пять вариантов, три пояснения"),
         {{"1", false}, {"2", false}, {"3", false}, {"4", false}, {"5", true}},
         {{"а", false}, {"б", false}, {"в", false}}},
        {QStringLiteral(" "), {}, {}},
        {QString(), {}, {{"только пояснение", true}}},
    };
}

} // namespace

class TestBankFile : public QObject {
    Q_OBJECT

private slots:
    void createMarksAndNeverOverwrites();
    void roundTripKeepsEverything();
    void importAppendsAndNumbers();
    void badFileWritesNothing();
    void failingWriteRollsBackTheWholeImport();
    void checkFindsEachProblem_data();
    void checkFindsEachProblem();
    void checkPassesSoundBank();
    void commandLineErrors();
};

void TestBankFile::createMarksAndNeverOverwrites() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.mdb"));
    const Run created = tool({"create", path});
    QCOMPARE(created.code, kExitOk);
    {
        data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadOnly);
        data::sqlite::Statement id(db, QStringLiteral("PRAGMA application_id"));
        QVERIFY(id.step());
        QCOMPARE(id.columnInt(0), qint64(data::kBankApplicationId));
        data::sqlite::Statement version(db, QStringLiteral("PRAGMA user_version"));
        QVERIFY(version.step());
        QCOMPARE(version.columnInt(0), qint64(data::kBankUserVersion));
    }
    QVERIFY(readBank(path).questions.empty());
    QVERIFY(
        tool({"info", path}).out.contains(QStringLiteral("Метка банка infotest: есть, версия 1")));

    const QString other = dir.filePath(QStringLiteral("other.mdb"));
    writeFile(other, "не банк");
    const Run refused = tool({"create", other});
    QCOMPARE(refused.code, kExitFailure);
    QVERIFY2(refused.err.contains(QStringLiteral("уже есть")), qPrintable(refused.err));
    QCOMPARE(readAll(other), QByteArray("не банк"));

    // A folder that does not exist leaves nothing behind.
    QVERIFY(tool({"create", dir.filePath("нет/db.mdb")}).code == kExitFailure);
    QVERIFY(!QFile::exists(dir.filePath("нет/db.mdb")));
}

void TestBankFile::roundTripKeepsEverything() {
    QTemporaryDir dir;
    const QString first = dir.filePath("first.mdb"), second = dir.filePath("second.mdb");
    const QString csv = dir.filePath("export.csv");
    createBank(first);
    const std::vector<Question> questions = trickyQuestions();
    importQuestions(first, questions);
    QCOMPARE(questionsOf(readBank(first)), questions);

    QCOMPARE(tool({"export", first, csv}).code, kExitOk);
    QCOMPARE(tool({"create", second}).code, kExitOk);
    const Run imported = tool({"import", second, csv});
    QVERIFY2(imported.code == kExitOk, qPrintable(imported.err));
    const StoredBank copy = readBank(second);
    QCOMPARE(questionsOf(copy), questions);
    for (size_t i = 0; i < copy.questions.size(); ++i)
        QCOMPARE(copy.questions[i].number, QVariant(qint64(i + 1)));

    // Standard output carries the same bytes as the file.
    QCOMPARE(tool({"export", second}).bytes, readAll(csv));
}

void TestBankFile::importAppendsAndNumbers() {
    BankFixture fixture;
    fixture.addStandardQuestions(3);
    fixture.exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Номер\" = 7"));
    importQuestions(fixture.bankPath(), {{"Новый 1", {{"a", true}}, {}}, {"Новый 2", {}, {}}});
    QCOMPARE(fixture.scalar(QStringLiteral(
                 "SELECT \"Номер\" FROM \"Т_Вопросы\" WHERE \"Вопрос\" = 'Новый 1'")),
             QVariant(qint64(4)));
    QCOMPARE(fixture.scalar(QStringLiteral(
                 "SELECT \"Номер\" FROM \"Т_Вопросы\" WHERE \"Вопрос\" = 'Новый 2'")),
             QVariant(qint64(5)));
    const StoredBank bank = readBank(fixture.bankPath());
    QCOMPARE(bank.questions.size(), size_t(5));
    QCOMPARE(bank.questions[3].options.size(), size_t(1));
    QCOMPARE(bank.questions[3].options[0].flag, QVariant(qint64(1)));
}

void TestBankFile::badFileWritesNothing() {
    BankFixture fixture;
    fixture.addStandardQuestions(2);
    const QString csv = fixture.dir() + QStringLiteral("/bad.csv");
    writeFile(csv, "Вопрос;Ответ 1;Верный ответ;Пояснение 1;Верное пояснение\n"
                   "Хороший;a;1;b;1\nХороший;a;1;b;1\nПлохой;a;2;b;1\n");
    const Run run = tool({"import", fixture.bankPath(), csv});
    QCOMPARE(run.code, kExitFailure);
    QVERIFY2(run.err.contains(QStringLiteral("bad.csv, строка 4, столбец 3 «Верный ответ»")),
             qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("В банк ничего не добавлено")));
    QCOMPARE(fixture.count(QStringLiteral("Т_Вопросы")), qint64(2));
    QCOMPARE(fixture.count(QStringLiteral("Т_Вариант")), qint64(8));
}

void TestBankFile::failingWriteRollsBackTheWholeImport() {
    BankFixture fixture;
    fixture.addStandardQuestions(2);
    fixture.exec(QStringLiteral(
        "CREATE TRIGGER refuse BEFORE INSERT ON \"Т_Объяснение\" WHEN NEW.\"Объяснение\" = 'сбой' "
        "BEGIN SELECT RAISE(ABORT, 'диск полон'); END"));
    const std::vector<Question> questions{{"Первый", {{"a", true}}, {{"b", true}}},
                                          {"Второй", {{"a", true}}, {{"сбой", true}}}};
    QVERIFY_THROWS_EXCEPTION(EEngineError, importQuestions(fixture.bankPath(), questions));
    QCOMPARE(fixture.count(QStringLiteral("Т_Вопросы")), qint64(2));
    QCOMPARE(fixture.count(QStringLiteral("Т_Вариант")), qint64(8));
    QCOMPARE(fixture.count(QStringLiteral("Т_Объяснение")), qint64(8));
}

void TestBankFile::checkFindsEachProblem_data() {
    // Ten standard questions: question k has the id k, options 4k-3..4k and explanations
    // 4k-3..4k, the first of each correct.
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("count");
    QTest::newRow("fewer than ten")
        << "DELETE FROM \"Т_Вопросы\" WHERE id = 10; "
           "DELETE FROM \"Т_Вариант\" WHERE \"Вопрос\" = 10; "
           "DELETE FROM \"Т_Объяснение\" WHERE \"Вопрос\" = 10"
        << "В банке 9 вопросов, а тест задаёт 10: нужно не меньше 10 вопросов" << 1;
    QTest::newRow("three options")
        << "DELETE FROM \"Т_Вариант\" WHERE id = 4"
        << "Вопрос id 1 «Вопрос 1»: вариантов ответа 3, а нужно ровно 4" << 1;
    QTest::newRow("five explanations")
        << "INSERT INTO \"Т_Объяснение\" (\"Вопрос\", \"Объяснение\", \"Правильный\") VALUES (2, "
           "'лишнее', 0)"
        << "Вопрос id 2 «Вопрос 2»: пояснений 5, а нужно ровно 4" << 1;
    QTest::newRow("no correct option")
        << "UPDATE \"Т_Вариант\" SET \"Правильный\" = 0 WHERE \"Вопрос\" = 3"
        << "Вопрос id 3 «Вопрос 3»: ни один вариант ответа не отмечен верным" << 1;
    QTest::newRow("two correct explanations")
        << "UPDATE \"Т_Объяснение\" SET \"Правильный\" = 1 WHERE id = 18"
        << "Вопрос id 5 «Вопрос 5»: верными отмечены 2 из 4 пояснений, а нужно ровно одно" << 1;
    QTest::newRow("question text NULL") << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = NULL WHERE id = 6"
                                        << "Вопрос id 6 (NULL): нет текста вопроса (NULL)" << 1;
    QTest::newRow("question text blank, as the editor adds it")
        << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = ' ' WHERE id = 6"
        << "Вопрос id 6 «»: пустой текст вопроса" << 1;
    QTest::newRow("option text NULL")
        << "UPDATE \"Т_Вариант\" SET \"Ответ\" = NULL WHERE id = 30"
        << "Вопрос id 8 «Вопрос 8»: у варианта ответа id 30 нет текста (NULL)" << 1;
    QTest::newRow("explanation text empty")
        << "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = '' WHERE id = 31"
        << "Вопрос id 8 «Вопрос 8»: у пояснения id 31 пустой текст" << 1;
    QTest::newRow("flag NULL")
        << "UPDATE \"Т_Вариант\" SET \"Правильный\" = NULL WHERE id = 40"
        << "Вопрос id 10 «Вопрос 10»: у варианта ответа id 40 «Ответ 10.4» не задан "
           "флаг «Правильный» (NULL)"
        << 1;
    QTest::newRow("option of a missing question")
        << "INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\", \"Правильный\") VALUES (999, "
           "'сирота', 0)"
        << "Вариант ответа id 41 «сирота» относится к вопросу id 999, которого нет" << 1;
    QTest::newRow("explanation of no question")
        << "INSERT INTO \"Т_Объяснение\" (\"Вопрос\", \"Объяснение\", \"Правильный\") VALUES "
           "(NULL, 'ничья', 1)"
        << "Пояснение id 41 «ничья» не относится ни к одному вопросу (поле «Вопрос» пусто)" << 1;
    // The editor deletes a question alone: its rows stay behind, and a question fewer is left.
    QTest::newRow("deleted question")
        << "DELETE FROM \"Т_Вопросы\" WHERE id = 4"
        << "Пояснение id 16 «Пояснение 4.4» относится к вопросу id 4, которого нет" << 9;
}

void TestBankFile::checkFindsEachProblem() {
    QFETCH(QString, sql);
    QFETCH(QString, line);
    QFETCH(int, count);
    BankFixture fixture;
    fixture.addStandardQuestions(10);
    fixture.exec(sql);
    const Run run = tool({"check", fixture.bankPath()});
    QCOMPARE(run.code, kExitProblems);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.contains(line), qPrintable(run.out));
    QCOMPARE(lines.size(), count);
    QCOMPARE(run.err, QStringLiteral("Найдено проблем: %1.\n").arg(count));
}

void TestBankFile::checkPassesSoundBank() {
    BankFixture fixture;
    fixture.addStandardQuestions(11);
    // Flags as another tool may store them still read as the program reads them.
    fixture.exec(QStringLiteral("UPDATE \"Т_Вариант\" SET \"Правильный\" = 'True' WHERE id = 1"));
    const Run run = tool({"check", fixture.bankPath()});
    QCOMPARE(run.code, kExitOk);
    QCOMPARE(run.out,
             QStringLiteral("Банк исправен: 11 вопросов, 44 варианта ответа, 44 пояснения.\n"));
    QCOMPARE(tool({"info", fixture.bankPath()}).out,
             QStringLiteral("Вопросов: 11\nВариантов ответа: 44\nПояснений: 44\n"
                            "Метка банка infotest: нет (файл создан не командой create)\n"));
}

void TestBankFile::commandLineErrors() {
    QTemporaryDir dir;
    const QString missing = dir.filePath("нет.mdb");
    for (const char* command : {"check", "info", "export"}) {
        const Run run = tool({command, missing});
        QCOMPARE(run.code, kExitFailure);
        QVERIFY2(run.err.contains(QStringLiteral("файла «%1» нет").arg(missing)),
                 qPrintable(run.err));
    }
    QVERIFY(!QFile::exists(missing)); // reading never creates a bank

    const QString notBank = dir.filePath("text.mdb");
    writeFile(
        notBank,
        "просто текст, не база данных, но длиннее ста байт..................................");
    const Run run = tool({"check", notBank});
    QCOMPARE(run.code, kExitFailure);
    QVERIFY2(run.err.contains(QStringLiteral("file is not a database")), qPrintable(run.err));

    QCOMPARE(tool({"import", missing}).code, kExitFailure);
    QCOMPARE(tool({"frobnicate"}).code, kExitFailure);
    QCOMPARE(tool({}).code, kExitFailure);
    const Run help = tool({"--help"});
    QCOMPARE(help.code, kExitOk);
    for (const char* command : {"create", "import", "export", "check", "info", "export-moodle"})
        QVERIFY2(help.out.contains(QStringLiteral("пример: infotest-bank %1 ").arg(command)),
                 command);
}

QTEST_MAIN(TestBankFile)
#include "tst_bankfile.moc"

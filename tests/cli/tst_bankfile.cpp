#include "cli/BankFile.h"
#include "cli/Cli.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "data/journal/JournalStore.h"
#include "data/pg/Pg.h"
#include "data/sqlite/Sqlite.h"
#include "formats/QuestionCsv.h"
#include "tests/support/BankFixture.h"
#include "tests/support/HostileBanks.h"
#include "tests/support/JournalRuns.h"
#include "tests/support/PgBouncer.h"
#include "tests/support/PgServer.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace bank;
using data::journal::journalPathForBank;
using data::journal::JournalStore;
using data::journal::RunRecord;
using testsupport::BankFixture;
using testsupport::PgBouncer;
using testsupport::PgServer;
namespace pg = data::pg;

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
        // Empty options as the editor leaves them: flagged correct, and at the end.
        {QStringLiteral("Пустые варианты"),
         {{"", false}, {"b", false}, {"", true}, {"", false}},
         {{"", true}}},
        {QStringLiteral("😀").repeated(255),
         {{QStringLiteral("𝄞 𠀀 󠀁 \U0010FFFD"), true}},
         {}},
    };
}

// A character from any plane of Unicode, now and then one a CSV or XML file treats specially;
// seldom a NUL, which CSV refuses.
char32_t randomCharacter(QRandomGenerator& random) {
    static const char32_t special[] = {U'\n', U'\r', U'\t',     U';',      U',',
                                       U'"',  U' ',  U'\uFEFF', U'\uFFFD', U'\U0010FFFF'};
    if (random.bounded(4000) == 0)
        return U'\0';
    if (random.bounded(6) == 0)
        return special[random.bounded(int(std::size(special)))];
    static const char32_t planes[] = {0, 0, 0, 1, 2, 3, 14, 15, 16};
    for (;;) {
        const char32_t c = planes[random.bounded(int(std::size(planes)))] * 0x10000 +
                           char32_t(random.bounded(0x10000));
        if (c < 0xD800 || c > 0xDFFF)
            return c;
    }
}

// A text as the editor may leave it: no value, empty, the single space of a new question, or
// up to 255 characters, and once in a while longer than the field is meant to hold.
QVariant randomText(QRandomGenerator& random) {
    switch (random.bounded(10)) {
    case 0:
        return QVariant();
    case 1:
        return QStringLiteral("");
    case 2:
        return QStringLiteral(" ");
    case 3:
        return QString(255, QChar(u'ю'));
    default:
        break;
    }
    const int length = random.bounded(150) == 0 ? 256 : random.bounded(1, 256);
    std::u32string text;
    for (int i = 0; i < length; ++i)
        text += randomCharacter(random);
    return QString::fromStdU32String(text);
}

// A bank of up to six questions with up to six options and explanations each, flags true, false
// or unset; returns whether a text is longer than 255 characters or holds a control character,
// which CSV does not carry.
bool fillRandomBank(const QString& path, QRandomGenerator& random) {
    data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadWrite);
    data::sqlite::Transaction transaction(db);
    bool tooLong = false;
    auto text = [&]() {
        const QVariant value = randomText(random);
        const QString t = value.toString();
        tooLong = tooLong || t.toStdU32String().size() > size_t(kMaxTextLength) ||
                  std::any_of(t.cbegin(), t.cend(), [](QChar c) {
                      return bank::csv::isControlCharacter(c) && c != u'\n' && c != u'\r';
                  });
        return value;
    };
    auto flag = [&]() {
        const int f = random.bounded(3);
        return f == 2 ? QVariant() : QVariant(qint64(f));
    };
    const int questions = random.bounded(7);
    for (int q = 0; q < questions; ++q) {
        data::sqlite::Statement question(
            db, QStringLiteral("INSERT INTO \"Т_Вопросы\" (\"Вопрос\") VALUES (?)"));
        question.bind(1, text());
        question.run();
        const qint64 id = db.lastInsertRowId();
        for (const char* table : {"Т_Вариант", "Т_Объяснение"}) {
            const QString column = QString::fromUtf8(table) == QStringLiteral("Т_Вариант")
                                       ? QStringLiteral("Ответ")
                                       : QStringLiteral("Объяснение");
            const int rows = random.bounded(7);
            for (int r = 0; r < rows; ++r) {
                data::sqlite::Statement row(
                    db, QStringLiteral("INSERT INTO \"%1\" (\"Вопрос\", \"%2\", \"Правильный\") "
                                       "VALUES (?, ?, ?)")
                            .arg(QString::fromUtf8(table), column));
                row.bindInt(1, id);
                row.bind(2, text());
                row.bind(3, flag());
                row.run();
            }
        }
    }
    transaction.commit();
    return tooLong;
}

// What server-init said on the tests' own server, run on first use; empty when it went well.
QString serverInitError() {
    static const QString error = [] {
        const Run init = tool({"server-init", PgServer::shared().url(), "--teachers", "учителя",
                               "--pupils", "ученики"});
        return init.code == kExitOk ? QString() : init.err;
    }();
    return error;
}

// The server's URI for a role, through the pooler where the row says so.
QString serverUrl(const QString& role) {
    QFETCH(bool, pooled);
    if (pooled && !PgBouncer::unavailableReason().isEmpty())
        return {};
    return pooled ? PgBouncer::shared().url(role) : PgServer::shared().url(role);
}

#define REQUIRE_POOLER_WHERE_ASKED(url)                                                            \
    if ((url).isEmpty())                                                                           \
    QSKIP(qPrintable(PgBouncer::unavailableReason()))

// Skips a test where no server can run here; fails it where the tables could not be made.
#define REQUIRE_SERVER()                                                                           \
    do {                                                                                           \
        if (const QString why = PgServer::unavailableReason(); !why.isEmpty())                     \
            QSKIP(qPrintable(why));                                                                \
        QVERIFY2(serverInitError().isEmpty(), qPrintable(serverInitError()));                      \
    } while (false)

// Every table of a bank file and of the journal beside it, with the kind of each value as
// stored, and the id counters.
QStringList dump(const QString& path) {
    QStringList lines;
    const QString journal = data::journal::journalPathForBank(path);
    for (const auto& [file, tables] :
         {std::pair{path, QStringList{"Т_Вопросы", "Т_Вариант", "Т_Объяснение", "sqlite_sequence"}},
          std::pair{journal,
                    QStringList{"Т_Прохождение", "Т_ПоказанныйВопрос", "Т_ПоказанныйВариант",
                                "Т_ПоказанноеОбъяснение", "Т_Ответ"}}}) {
        if (!QFile::exists(file))
            continue;
        data::sqlite::Database db(file, data::sqlite::Database::Mode::ReadOnly);
        for (const QString& table : tables) {
            data::sqlite::Statement st(
                db, QStringLiteral("SELECT * FROM \"%1\" ORDER BY 1, 2").arg(table));
            while (st.step()) {
                QString line = table;
                for (int c = 0; c < st.columnCount(); ++c)
                    line += QStringLiteral(" %1:%2")
                                .arg(st.columnType(c))
                                .arg(QString::fromLatin1(st.columnBytes(c).toByteArray().toHex()));
                lines << line;
            }
        }
    }
    return lines;
}

} // namespace

class TestBankFile : public QObject {
    Q_OBJECT

private slots:
    void createMarksAndNeverOverwrites();
    void roundTripKeepsEverything();
    void randomBanksRoundTrip();
    void importAppendsAndNumbers();
    void badFileWritesNothing_data();
    void badFileWritesNothing();
    void failingWriteRollsBackTheWholeImport();
    void hostileBanks_data();
    void hostileBanks();
    void hotJournal_data();
    void hotJournal();
    void checkFindsEachProblem_data();
    void checkFindsEachProblem();
    void checkPassesSoundBank();
    void commandLineErrors();
    void serverRightsOfEachRole_data();
    void serverRightsOfEachRole();
    void serverScoresRuns_data();
    void serverScoresRuns();
    void throughServer_data();
    void copyThroughServerKeepsEverything_data() { throughServer_data(); }
    void copyThroughServerKeepsEverything();
    void serverRecordsRunsAsTheJournalFile_data() { throughServer_data(); }
    void serverRecordsRunsAsTheJournalFile();
    void copyRefusesWhatServerCannotHold_data();
    void copyRefusesWhatServerCannotHold();
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

void TestBankFile::randomBanksRoundTrip() {
    int refused = 0;
    for (quint32 seed = 1; seed <= 40; ++seed) {
        QTemporaryDir dir;
        const QString first = dir.filePath("first.mdb"), second = dir.filePath("second.mdb");
        const QString csv = dir.filePath("export.csv");
        const QByteArray where = "seed " + QByteArray::number(seed);
        createBank(first);
        QRandomGenerator random(seed);
        const bool tooLong = fillRandomBank(first, random);
        const Run exported = tool({"export", first, csv});
        if (tooLong) {
            // Refused whole, naming the question, with nothing written.
            ++refused;
            QVERIFY2(exported.code == kExitFailure, where);
            QVERIFY2(exported.err.contains(QStringLiteral("длиннее 255 символов")) ||
                         exported.err.contains(QStringLiteral("управляющий символ")),
                     where);
            QVERIFY2(!QFile::exists(csv), where);
            continue;
        }
        QVERIFY2(exported.code == kExitOk, where + ' ' + exported.err.toUtf8());
        createBank(second);
        const Run imported = tool({"import", second, csv});
        QVERIFY2(imported.code == kExitOk, where + ' ' + imported.err.toUtf8());
        QVERIFY2(questionsOf(readBank(second)) == questionsOf(readBank(first)), where);
    }
    QVERIFY2(refused > 0 && refused < 20, QByteArray::number(refused)); // both ways were taken
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

void TestBankFile::badFileWritesNothing_data() {
    // The bank holds "Вопрос 1" and "Вопрос 2"; a refused file adds nothing to it.
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("says");
    QTest::addColumn<int>("addedAnyway"); // with --allow-duplicates, -1 when still refused
    const QByteArray header = "Вопрос;Ответ 1;Верный ответ;Пояснение 1;Верное пояснение\n";
    QTest::newRow("fault in the file")
        << header + "Хороший;a;1;b;1\nХороший;a;1;b;1\nПлохой;a;2;b;1\n"
        << "bad.csv, строка 4, столбец 3 «Верный ответ»" << -1;
    QTest::newRow("a question the bank holds")
        << header + "Новый;a;1;b;1\nВопрос 2;a;1;b;1\n"
        << "bad.csv: в банке «" + QStringLiteral("%1") +
               "» уже есть 1 вопрос с тем же текстом (строка 3 «Вопрос 2»)"
        << 2;
    QTest::newRow("the same file twice, the first few named")
        << "sep=;\n" + header + QByteArray("Вопрос 1;a;1;b;1\n").repeated(7)
        << "уже есть 7 вопросов с тем же текстом (строка 3 «Вопрос 1», строка 4 «Вопрос 1», "
           "строка 5 «Вопрос 1», строка 6 «Вопрос 1», строка 7 «Вопрос 1», и ещё 2)"
        << 7;
}

void TestBankFile::badFileWritesNothing() {
    QFETCH(QByteArray, csv);
    QFETCH(QString, says);
    QFETCH(int, addedAnyway);
    BankFixture fixture;
    fixture.addStandardQuestions(2);
    const QString file = fixture.dir() + QStringLiteral("/bad.csv");
    writeFile(file, csv);
    const Run run = tool({"import", fixture.bankPath(), file});
    QCOMPARE(run.code, kExitFailure);
    QVERIFY2(run.err.contains(says.contains(u'%') ? says.arg(fixture.bankPath()) : says),
             qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("В банк ничего не добавлено")));
    QCOMPARE(fixture.count(QStringLiteral("Т_Вопросы")), qint64(2));
    QCOMPARE(fixture.count(QStringLiteral("Т_Вариант")), qint64(8));
    if (addedAnyway < 0)
        return;
    QCOMPARE(tool({"import", fixture.bankPath(), file, "--allow-duplicates"}).code, kExitOk);
    QCOMPARE(fixture.count(QStringLiteral("Т_Вопросы")), qint64(2 + addedAnyway));
}

void TestBankFile::failingWriteRollsBackTheWholeImport() {
    BankFixture fixture;
    fixture.addStandardQuestions(2);
    // The engine refuses the second question's explanation.
    fixture.exec(QStringLiteral("CREATE UNIQUE INDEX once ON \"Т_Объяснение\" (\"Правильный\") "
                                "WHERE \"Объяснение\" = 'сбой'"));
    const std::vector<Question> questions{{"Первый", {{"a", true}}, {{"сбой", true}}},
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
    // Texts the testing window cuts off, measured in its Tahoma 11 px.
    QTest::newRow("question wider than its line")
        << "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = 'Сколько различных последовательностей длины 5 "
           "можно составить из букв А, Б и В, если буква А встречается ровно один раз?' WHERE id = "
           "2"
        << "Вопрос id 2 «Сколько различных последовательностей длины 5 можно состави…»: текст "
           "вопроса шире строки окна тестирования (654 из 585 пикселей) и будет обрезан; "
           "сократите его хотя бы на 13 символов"
        << 1;
    QTest::newRow("option on two lines")
        << "UPDATE \"Т_Вариант\" SET \"Ответ\" = 'Оперативная память теряет содержимое при "
           "выключении питания, а внешняя память хранит данные и без питания, но медленнее' WHERE "
           "id = 6"
        << "Вопрос id 2 «Вопрос 2»: вариант ответа id 6 «Оперативная память теряет содержимое "
           "при выключении питания…» не помещается на кнопке окна тестирования (строк: 2, видно: "
           "1); сократите его хотя бы на 21 символ"
        << 1;
    QTest::newRow("explanation on four lines")
        << "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = '" + QStringLiteral("ЖШЩ ").repeated(60) +
               "' WHERE id = 7"
        << "Вопрос id 2 «Вопрос 2»: пояснение id 7 «" + QStringLiteral("ЖШЩ ").repeated(14) +
               "ЖШЩ…» не помещается на кнопке окна тестирования (строк: 4, видно: 3); сократите "
               "его хотя бы на 48 символов"
        << 1;
    QTest::newRow("explanation of 256 characters")
        << "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = '" + QStringLiteral("ё").repeated(256) +
               "' WHERE id = 8"
        << "Вопрос id 2 «Вопрос 2»: текст пояснения id 8 длиннее 255 символов (256): поле банка "
           "вмещает 255, сократите текст"
        << 1;
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
    // The engine's message comes inside a sentence that says what it means.
    const Run run = tool({"check", notBank});
    QCOMPARE(run.code, kExitFailure);
    QVERIFY2(run.err.contains(QStringLiteral("Файл «%1» не является банком вопросов: file is not "
                                             "a database. Укажите файл банка")
                                  .arg(notBank)),
             qPrintable(run.err));
    const QString otherDatabase = dir.filePath("other.sqlite");
    data::sqlite::Database(otherDatabase, data::sqlite::Database::Mode::ReadWriteCreate)
        .exec("CREATE TABLE t (x)");
    const QString csv = dir.filePath("q.csv");
    writeFile(csv, "Вопрос;Ответ 1;Верный ответ;Пояснение 1;Верное пояснение\nQ;a;1;b;1\n");
    const Run import = tool({"import", otherDatabase, csv});
    QCOMPARE(import.code, kExitFailure);
    QVERIFY2(import.err.contains(QStringLiteral("Файл «%1» не является банком вопросов: no such "
                                                "table: Т_Вопросы.")
                                     .arg(otherDatabase)) &&
                 import.err.endsWith(QStringLiteral("В банк ничего не добавлено.\n")),
             qPrintable(import.err));

    QCOMPARE(tool({"import", missing}).code, kExitFailure);
    QCOMPARE(tool({"frobnicate"}).code, kExitFailure);
    QCOMPARE(tool({}).code, kExitFailure);
    const Run help = tool({"--help"});
    QCOMPARE(help.code, kExitOk);
    for (const char* command :
         {"create", "import", "export", "check", "info", "export-moodle", "print"})
        QVERIFY2(help.out.contains(QStringLiteral("пример: infotest-bank %1 ").arg(command)),
                 command);
}

void TestBankFile::hostileBanks_data() {
    testsupport::addHostileBankRows();
}

// check names what the bank carries and says what start-up would say; import writes its rows
// and nothing else, or refuses the bank start-up refuses.
void TestBankFile::hostileBanks() {
    QFETCH(QString, sql);
    QFETCH(QString, refusal);
    QFETCH(QStringList, listed);
    BankFixture fixture;
    fixture.addStandardQuestions(12);
    fixture.exec(sql);
    const testsupport::BankDump before = testsupport::dumpBank(fixture.db());
    const Run check = tool({"check", fixture.bankPath()});
    for (const QString& name : listed)
        QVERIFY2(check.out.contains(name), qPrintable(check.out));
    const QString csv = fixture.dir() + QStringLiteral("/one.csv");
    writeFile(csv, "Вопрос;Ответ 1;Ответ 2;Верный ответ;Пояснение 1;Верное пояснение\n"
                   "Новый;а;б;1;в;1\n");
    const Run import = tool({"import", fixture.bankPath(), csv});
    // copy reads the bank as the program does, so it refuses what the program refuses.
    const QString copyPath = fixture.dir() + QStringLiteral("/copy.mdb");
    const Run copy = tool({"copy", fixture.bankPath(), copyPath});
    QCOMPARE(QFileInfo::exists(copyPath), refusal.isEmpty());
    if (!refusal.isEmpty()) {
        QCOMPARE(check.code, kExitProblems);
        QVERIFY2(check.out.contains(refusal), qPrintable(check.out));
        QCOMPARE(import.code, kExitFailure);
        QVERIFY2(import.err.contains(refusal), qPrintable(import.err));
        QCOMPARE(copy.code, kExitFailure);
        QVERIFY2(copy.err.contains(refusal.section(QStringLiteral(": "), 1, -1)),
                 qPrintable(copy.err));
        QCOMPARE(testsupport::dumpBank(fixture.db()), before);
        return;
    }
    QVERIFY2(check.code == kExitOk, qPrintable(check.out + check.err));
    QVERIFY2(import.out.contains(QStringLiteral("их 13")), qPrintable(import.out + import.err));
    const testsupport::BankDump after = testsupport::dumpBank(fixture.db());
    const std::map<QString, int> added{{QStringLiteral("Т_Вопросы"), 1},
                                       {QStringLiteral("Т_Вариант"), 2},
                                       {QStringLiteral("Т_Объяснение"), 1}};
    QCOMPARE(after.size(), before.size());
    for (const auto& [table, rows] : before) {
        const auto more = added.find(table);
        const QStringList& now = after.at(table);
        QCOMPARE(now.size(), rows.size() + (more != added.end() ? more->second : 0));
        QCOMPARE(now.mid(0, rows.size()), rows);
    }
}

void TestBankFile::hotJournal_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("writable");
    for (const char* command : {"info", "check", "export"}) {
        QTest::addRow("%s", command) << QString::fromLatin1(command) << true;
        QTest::addRow("%s, no write access", command) << QString::fromLatin1(command) << false;
    }
}

// A program stopped in the middle of a write left its journal: a read-only command puts the
// bank back as it was before that write, or says what happened and what to do.
void TestBankFile::hotJournal() {
    QFETCH(QString, command);
    QFETCH(bool, writable);
    if (!writable && geteuid() == 0)
        QSKIP("root may write anywhere");
    BankFixture fixture;
    fixture.addStandardQuestions(12);
    // The journal and the pages already written, copied while the writer still held them.
    const QString bank = fixture.dir() + QStringLiteral("/hot.mdb");
    fixture.exec(QStringLiteral("PRAGMA cache_size = 2; BEGIN; UPDATE \"Т_Вариант\" SET "
                                "\"Ответ\" = printf('%.2000c', 'x')"));
    QVERIFY(QFile::copy(fixture.bankPath(), bank));
    QVERIFY(QFile::copy(fixture.bankPath() + QStringLiteral("-journal"),
                        bank + QStringLiteral("-journal")));
    fixture.exec(QStringLiteral("ROLLBACK"));
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
    if (!writable)
        QVERIFY(QFile::setPermissions(fixture.dir(), readOnly));
    const Run run = tool({command, bank});
    QFile::setPermissions(fixture.dir(), readOnly | QFileDevice::WriteOwner);
    if (!writable) {
        QCOMPARE(run.code, kExitFailure);
        QVERIFY2(run.err.contains(QStringLiteral("остановлена посреди записи")),
                 qPrintable(run.err));
        return;
    }
    QVERIFY2(run.code == kExitOk, qPrintable(run.err));
    QVERIFY(!QFile::exists(bank + QStringLiteral("-journal")));
    QCOMPARE(readBank(bank).questions.front().options.front().text,
             QVariant(QStringLiteral("Ответ 1.1")));
}

void TestBankFile::serverRightsOfEachRole_data() {
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("allowed");
    const QString record = QStringLiteral(
        R"(SELECT "Записать_прохождение"('{"Код": "%1", "Начало": "2026-12-09T10:00:00Z",
        "Конец": "2026-12-09T10:09:00Z", "Компьютер": "pc", "Логин": "ivanov", "ФИО": "И",
        "Ученик": "И", "Баллы": 2, "Оценка": null, "Завершён": false, "Ответы": [{"Отпечаток":
        "00ff", "ВопросБанка": 1, "Вопрос": "В?", "Варианты": [["a", true], ["b", false],
        ["c", false], ["d", false]], "Объяснения": [["e", false], ["f", true], ["g", false],
        ["h", false]], "Вариант": 1, "Объяснение": %2}]}'))");
    const QString pupils = QStringLiteral("ученики"), teachers = QStringLiteral("учителя");
    const struct {
        const char* name;
        QString role;
        QString sql;
        bool allowed;
    } rows[] = {
        {"pupil numbers the questions directly", pupils, "UPDATE \"Т_Вопросы\" SET \"Номер\" = 7",
         false},
        {"pupil numbers through the function", pupils,
         "SELECT * FROM \"Пронумеровать_вопросы\"(ARRAY(SELECT \"id\" FROM \"Т_Вопросы\"))", true},
        {"pupil reads the bank", pupils,
         "SELECT \"id\", \"Вопрос\", \"Объяснение\" FROM \"Т_Объяснение\"", true},
        {"pupil reads every column", pupils, "SELECT * FROM \"Т_Объяснение\"", false},
        {"pupil reads a mark", pupils, "SELECT \"Правильный\" FROM \"Т_Вариант\"", false},
        {"pupil locks the questions", pupils, "SELECT \"id\" FROM \"Т_Вопросы\" FOR UPDATE", false},
        {"pupil makes a temporary table", pupils, "CREATE TEMP TABLE \"т\" (\"п\" integer)", false},
        {"pupil reads the started runs", pupils, "SELECT * FROM \"Т_НачатыйТест\"", false},
        {"pupil changes a text", pupils, "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = 'x'", false},
        {"pupil flags an option", pupils, "UPDATE \"Т_Вариант\" SET \"Правильный\" = true", false},
        {"pupil adds a question", pupils, "INSERT INTO \"Т_Вопросы\" (\"Вопрос\") VALUES ('x')",
         false},
        {"pupil deletes an explanation", pupils, "DELETE FROM \"Т_Объяснение\"", false},
        {"pupil reads the runs", pupils, "SELECT * FROM \"Т_Прохождение\"", false},
        {"pupil reads the answers", pupils, "SELECT * FROM \"Т_Ответ\"", false},
        {"pupil reads the questions shown", pupils, "SELECT * FROM \"Т_ПоказанныйВариант\"", false},
        {"pupil forges a run", pupils, "UPDATE \"Т_Прохождение\" SET \"Баллы\" = 20", false},
        {"pupil records a run with its own points", pupils, record.arg("u1").arg(2), false},
        {"teacher changes a text", teachers, "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = 'x'", true},
        {"teacher adds an option", teachers,
         "INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\") VALUES (1, 'x')", true},
        {"teacher reads the runs", teachers, "SELECT * FROM \"Т_Ответ\"", true},
        {"teacher removes runs", teachers, "DELETE FROM \"Т_Прохождение\"", true},
        {"teacher records a run", teachers, record.arg("u2").arg(2), true},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << row.role << row.sql << row.allowed;
}

void TestBankFile::serverRightsOfEachRole() {
    QFETCH(QString, role);
    QFETCH(QString, sql);
    QFETCH(bool, allowed);
    REQUIRE_SERVER();
    const pg::Connection db(PgServer::shared().url(role));
    const pg::Transaction rolledBack(db);
    try {
        db.exec(sql);
        QVERIFY2(allowed, "allowed");
    } catch (const pg::EServerError& e) {
        QVERIFY2(!allowed, qPrintable(e.message()));
        QCOMPARE(e.sqlState(), QStringLiteral("42501"));
    }
}

// Ten questions: question i's options are ids 10i+1.., its explanations 100+10i+..; option 1
// and explanation 2 are the keys. Question 1 has two options, question 2 a second key (option
// 3), question 3 a null mark on option 1, and option 42 was deleted after the program read it.
constexpr char kRunBank[] = R"sql(
TRUNCATE "Т_Ответ", "Т_ПоказанныйВариант", "Т_ПоказанноеОбъяснение", "Т_ПоказанныйВопрос",
    "Т_Прохождение", "Т_НачатыйТест", "Т_Вопросы", "Т_Вариант", "Т_Объяснение";
INSERT INTO "Т_Вопросы" ("id", "Номер", "Вопрос") SELECT i, i, 'В' || i FROM generate_series(1, 10) i;
INSERT INTO "Т_Вариант" ("id", "Вопрос", "Ответ", "Правильный")
SELECT 10 * i + k, i, 'О' || k, CASE WHEN i = 3 AND k = 1 THEN NULL ELSE k = 1 OR (i = 2 AND k = 3) END
FROM generate_series(1, 10) i, generate_series(1, 4) k WHERE (i <> 1 OR k <= 2) AND 10 * i + k <> 42;
INSERT INTO "Т_Объяснение" ("id", "Вопрос", "Объяснение", "Правильный")
SELECT 100 + 10 * i + k, i, 'П' || k, k = 2 FROM generate_series(1, 10) i, generate_series(1, 4) k;
)sql";

QString intArray(const QList<int>& values) {
    QStringList items;
    for (int v : values)
        items << QString::number(v);
    return u'{' + items.join(u',') + u'}';
}

void TestBankFile::serverScoresRuns_data() {
    QTest::addColumn<QString>("tamper");
    QTest::addColumn<QList<int>>("options"); // the button chosen for each question answered
    QTest::addColumn<QList<int>>("explanations");
    QTest::addColumn<int>("points"); // as stored; -1: refused, the journal unchanged
    // What the server returns (points, grade, deleted rows chosen), or what its refusal says.
    QTest::addColumn<QString>("returned");
    const QList<int> keys(10, 1), seconds(10, 2);
    QTest::newRow("the keys") << "" << keys << seconds << 19 << "19 5 0";
    QTest::newRow("fewer rows, a second key, a null mark, a deleted row")
        << "" << QList<int>{4, 3, 1, 2, 1, 1, 1, 1, 1, 1} << QList<int>(10, 1) << 7 << "7 2 1";
    QTest::newRow("abandoned after three")
        << "" << QList<int>{1, 1, 1} << QList<int>{2, 2, 2} << 5 << "0";
    QTest::newRow("the teachers' role") << "teacher" << keys << seconds << 19 << "19 5 0";
    QTest::newRow("another pupil holds the rows and a recording open")
        << "held" << keys << seconds << 19 << "19 5 0";
    // Queued through an outage: recorded all the same, and shown as late.
    QTest::newRow("a token past the answering limit")
        << "late" << keys << seconds << 19 << "19 5 0";
    const std::pair<const char*, const char*> refused[] = {
        {"a token never issued", "не начинался"},
        {"a row not shown chosen", "не было на экране"},
        {"another question's row shown", "строка другого вопроса"},
        {"a row left out", "не первые его строки"},
        {"rows out of order", "не по порядку"},
        {"an oversized name", "длиннее 255"},
        {"eleven answers", "не по форме"},
        {"the old recording with a client's points", "42501"}};
    for (const auto& [tamper, says] : refused)
        QTest::newRow(tamper) << tamper << keys << seconds << -1 << says;
}

// A run as the pupils' program will make it: started with the rows shown, finished with the
// rows chosen; the server's points, or a refusal that leaves the journal as it was.
void TestBankFile::serverScoresRuns() {
    QFETCH(QString, tamper);
    QFETCH(QList<int>, options);
    QFETCH(QList<int>, explanations);
    QFETCH(int, points);
    QFETCH(QString, returned);
    REQUIRE_SERVER();
    const pg::Connection admin(PgServer::shared().url());
    admin.execScript(kRunBank);
    const auto connect = [](const char* role) {
        return std::make_unique<pg::Connection>(PgServer::shared().url(QString::fromUtf8(role)));
    };
    const auto client = connect(tamper == QLatin1String("teacher") ? "учителя" : "ученики");
    QStringList shown[2]; // by id: options, explanations
    QList<int> chosen[2];
    for (int i = 1; i <= 10; ++i) {
        const int more = i == 1 ? 2 : i == 5 && tamper == QLatin1String("a row left out") ? 3 : 4;
        const int first =
            tamper == QLatin1String("another question's row shown") && i == 1 ? 20 : 10 * i;
        QList<int> rows{first + 1, first + std::min(2, more), first + std::min(3, more),
                        first + more};
        if (i == 6 && tamper == QLatin1String("rows out of order"))
            std::swap(rows[0], rows[1]);
        shown[0] << intArray(rows);
        shown[1] << intArray({101 + 10 * i, 102 + 10 * i, 103 + 10 * i, 104 + 10 * i});
        if (i <= options.size()) {
            chosen[0] << rows[options[i - 1] - 1];
            chosen[1] << 100 + 10 * i + explanations[i - 1];
        }
    }
    if (tamper == QLatin1String("a row not shown chosen"))
        chosen[0][0] = 13;
    if (tamper == QLatin1String("eleven answers")) {
        chosen[0] << 11;
        chosen[1] << 111;
    }
    const QString start = QStringLiteral("SELECT \"Начать_тест\"('{1,2,3,4,5,6,7,8,9,10}', $1, $2, "
                                         "'ivanov', 'pc', 'Иванов', $3)");
    const auto finish = [&](const pg::Connection& c, const QString& token) {
        return c
            .exec(QStringLiteral("SELECT concat_ws(' ', \"Баллы\", \"Оценка\", \"Удалено\") FROM "
                                 "\"Завершить_тест\"($1, $2, $3)"),
                  {token, intArray(chosen[0]), intArray(chosen[1])})
            .text(0, 0);
    };
    const QString journal = QStringLiteral(
        "SELECT (SELECT count(*) FROM \"Т_Прохождение\") || ' ' || (SELECT count(*) FROM "
        "\"Т_Ответ\") || ' ' || (SELECT count(*) FROM \"Т_ПоказанныйВариант\")");
    std::unique_ptr<pg::Connection> holder;
    std::optional<pg::Transaction> held;
    QString before = admin.exec(journal).text(0, 0), token, result;
    const QString name = tamper == QLatin1String("an oversized name")
                             ? QString(data::kMaxTextLength + 1, u'я')
                             : QStringLiteral("Ваня");
    const std::vector<QVariant> rows{u'{' + shown[0].join(u',') + u'}',
                                     u'{' + shown[1].join(u',') + u'}', name};
    try {
        if (tamper == QLatin1String("held")) { // no wait longer than a second
            holder = connect("ученики");
            const QString holderToken = holder->exec(start, rows).text(0, 0);
            held.emplace(*holder);
            holder->exec(
                QStringLiteral("SELECT \"Пронумеровать_вопросы\"('{10,9,8,7,6,5,4,3,2,1}')"));
            finish(*holder, holderToken);
            client->exec(QStringLiteral("SET statement_timeout = '1s'"));
            client->exec(QStringLiteral("SELECT \"Пронумеровать_вопросы\"('{3,1,2}')"));
        }
        if (tamper.startsWith(QLatin1String("the old recording")))
            client->exec(QStringLiteral(R"(SELECT "Записать_прохождение"('{"Код": "x", "Баллы": 999,
                "Ответы": [{"Отпечаток": "00", "Варианты": [["поддельный", true]]}]}'))"));
        token = tamper == QLatin1String("a token never issued")
                    ? QStringLiteral("8a1c4d2e-0000-4000-8000-000000000001")
                    : client->exec(start, rows).text(0, 0);
        if (tamper == QLatin1String("late"))
            admin.exec(QStringLiteral("UPDATE \"Т_НачатыйТест\" SET \"Начало\" = now() - "
                                      "make_interval(secs => $1 + 1)"),
                       {data::journal::kAnsweringLimitSeconds});
        result = finish(*client, token);
    } catch (const pg::EServerError& e) {
        const QString refusal = e.sqlState() + u' ' + e.message();
        QVERIFY2(points < 0 && refusal.contains(returned), qPrintable(refusal));
        QCOMPARE(admin.exec(journal).text(0, 0), before);
        return;
    }
    QVERIFY(points >= 0);
    QCOMPARE(result, returned);
    // What is stored is the server's copy scored for the stored choices, with the login as told.
    const bool teacher = tamper == QLatin1String("teacher");
    QCOMPARE(
        admin
            .exec(QStringLiteral(
                      "SELECT r.\"Баллы\" || ' ' || r.\"Отвечено\" || ' ' || r.\"Логин\" || ' ' || "
                      "s.\"ЛогинСообщён\"::integer || ' ' || (SELECT "
                      "sum(a.\"ВариантВерен\"::integer + "
                      "a.\"ОбъяснениеВерно\"::integer) FROM \"Т_Ответ\" a WHERE a.\"Прохождение\" "
                      "= r.\"id\") FROM \"Т_Прохождение\" r JOIN \"Т_НачатыйТест\" s ON "
                      "s.\"Код\"::text = r.\"Код\" WHERE r.\"Код\" = $1"),
                  {token})
            .text(0, 0),
        QStringLiteral("%1 %2 %3 %4 %1")
            .arg(points)
            .arg(options.size())
            .arg(teacher ? QStringLiteral("учителя") : QStringLiteral("ivanov"))
            .arg(!teacher));
    // The teacher's reading of the run's flags.
    int flagged = 0;
    for (const data::journal::Run& run :
         JournalStore(PgServer::shared().url(), JournalStore::Mode::ReadOnly).runs({}))
        if (run.record.uuid == token)
            flagged += int(run.late() == (tamper == QLatin1String("late")) &&
                           run.loginReported == !teacher);
    QCOMPARE(flagged, 1);
    // Once more: the same answer, nothing stored.
    before = admin.exec(journal).text(0, 0);
    QCOMPARE(finish(*client, token), result);
    QCOMPARE(admin.exec(journal).text(0, 0), before);
}

// The server reached directly, or through a pooler that gives every transaction the one server
// connection it has.
void TestBankFile::throughServer_data() {
    QTest::addColumn<bool>("pooled");
    QTest::newRow("directly") << false;
    QTest::newRow("through a pooler of one") << true;
}

void TestBankFile::copyThroughServerKeepsEverything() {
    REQUIRE_SERVER();
    const QString server = serverUrl(QStringLiteral("учителя"));
    REQUIRE_POOLER_WHERE_ASKED(server);
    BankFixture fixture;
    fixture.addStandardQuestions(3);
    fixture.addQuestion({QStringLiteral("😀 удалённый"), {{QString(), true}}, {}}, 5);
    fixture.exec(QStringLiteral("DELETE FROM \"Т_Вопросы\" WHERE \"id\" = 4; UPDATE \"Т_Вариант\" "
                                "SET \"Ответ\" = NULL, \"Правильный\" = NULL WHERE \"id\" = 2"));
    JournalStore(journalPathForBank(fixture.bankPath()), JournalStore::Mode::Record)
        .store(testsupport::knownRun(6, 2, 3, QStringLiteral("Петров")));
    QTemporaryDir elsewhere;
    const QString back = elsewhere.filePath(QStringLiteral("back.mdb"));
    const Run there = tool({"copy", fixture.bankPath(), server, "--replace"});
    QVERIFY2(there.code == kExitOk, qPrintable(there.err));
    const Run home = tool({"copy", server, back});
    QVERIFY2(home.code == kExitOk, qPrintable(home.err));
    QCOMPARE(dump(back), dump(fixture.bankPath()));
    // The server gives new rows ids past the deleted question's, as the file would.
    const pg::Connection db(server);
    QCOMPARE(db.exec(QStringLiteral("INSERT INTO \"Т_Вопросы\" (\"Вопрос\") VALUES ('новый') "
                                    "RETURNING \"id\""))
                 .integer(0, 0),
             qint64(5));
}

void TestBankFile::serverRecordsRunsAsTheJournalFile() {
    REQUIRE_SERVER();
    const QString server = serverUrl(QStringLiteral("учителя"));
    REQUIRE_POOLER_WHERE_ASKED(server);
    // The server's bank and journal made the fixture's: empty, the id counters back at 1.
    BankFixture fixture;
    const QString journal = journalPathForBank(fixture.bankPath());
    JournalStore(journal, JournalStore::Mode::Record);
    QCOMPARE(tool({"copy", fixture.bankPath(), server, "--replace"}).code, kExitOk);
    // One run stored in the file, and recorded on the server twice by the teachers' role (a
    // pupils' run is scored by the server instead).
    const RunRecord run = testsupport::knownRun(3, 1, 4);
    JournalStore(journal, JournalStore::Mode::Record).store(run);
    const pg::Connection teacher(PgServer::shared().url(QStringLiteral("учителя")));
    const pg::Connection pupil(serverUrl(QStringLiteral("ученики")));
    for (const bool stored : {true, false})
        QCOMPARE(teacher
                     .exec(QStringLiteral("SELECT \"Записать_прохождение\"($1::jsonb)"),
                           {QString::fromUtf8(data::journal::runToServerJson(run))})
                     .flag(0, 0),
                 stored);
    QTemporaryDir elsewhere;
    const QString back = elsewhere.filePath(QStringLiteral("db.mdb"));
    const Run copied = tool({"copy", server, back});
    QVERIFY2(copied.code == kExitOk, qPrintable(copied.err));
    QCOMPARE(dump(back), dump(fixture.bankPath()));
    // The journal's commands on the server.
    const Run results = tool({"results", server});
    QVERIFY2(results.code == kExitOk && results.out.contains(run.login), qPrintable(results.err));
    const Run cleared = tool({"journal-clear", server, "--before", "2100-01-01"});
    QVERIFY2(cleared.out.contains(QStringLiteral(": 1.")), qPrintable(cleared.err));
    // A journal file made before the reported login copies onto the server, and takes it back.
    data::sqlite::Database(journal, data::sqlite::Database::Mode::ReadWrite)
        .exec("ALTER TABLE \"Т_Прохождение\" DROP COLUMN \"ЛогинСообщён\"; PRAGMA user_version "
              "= 1");
    QCOMPARE(tool({"copy", fixture.bankPath(), server, "--replace"}).code, kExitOk);
    pg::Connection(PgServer::shared().url())
        .exec(QStringLiteral("UPDATE \"Т_Прохождение\" SET \"ЛогинСообщён\" = true"));
    QCOMPARE(tool({"copy", server, fixture.bankPath(), "--replace"}).code, kExitOk);
    data::sqlite::Database upgraded(journal, data::sqlite::Database::Mode::ReadOnly);
    data::sqlite::Statement reported(upgraded, QStringLiteral("SELECT \"ЛогинСообщён\" || "
                                                              "(SELECT * FROM pragma_user_version) "
                                                              "FROM \"Т_Прохождение\""));
    QVERIFY(reported.step());
    QCOMPARE(reported.columnText(0), QStringLiteral("12"));
}

void TestBankFile::copyRefusesWhatServerCannotHold_data() {
    // A bank of two standard questions, changed; the server holds a bank already.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("says");
    QTest::newRow("number over 32 bits")
        << "UPDATE \"Т_Вопросы\" SET \"Номер\" = 4294967296 WHERE \"id\" = 2"
        << QStringList{"«Т_Вопросы», id 2, поле «Номер»: число 4294967296 не помещается в "
                       "32-битное поле"};
    QTest::newRow("id over 32 bits, a text not UTF-8")
        << "UPDATE \"Т_Вариант\" SET \"id\" = -3000000000 WHERE \"id\" = 1; UPDATE "
           "\"Т_Вариант\" SET \"Ответ\" = CAST(X'D0FF' AS TEXT) WHERE \"id\" = 3"
        << QStringList{"«Т_Вариант», id -3000000000, поле «id»: число -3000000000 не помещается",
                       "«Т_Вариант», id 3, поле «Ответ»: текст не в кодировке UTF-8",
                       "не вмещает 2 значения"};
    QTest::newRow("NUL in a text")
        << "UPDATE \"Т_Объяснение\" SET \"Объяснение\" = 'a' || char(0) || 'b' WHERE \"id\" = 4"
        << QStringList{"«Т_Объяснение», id 4, поле «Объяснение»: в тексте есть нулевой символ"};
    QTest::newRow("flag neither 0 nor 1")
        << "UPDATE \"Т_Вариант\" SET \"Правильный\" = 2 WHERE \"id\" = 5"
        << QStringList{"«Т_Вариант», id 5, поле «Правильный»: в логическом поле 2"};
    QTest::newRow("a sound bank onto rows, no --replace")
        << "" << QStringList{"уже есть строки («Т_Вопросы» — 3", "укажите --replace"};
}

void TestBankFile::copyRefusesWhatServerCannotHold() {
    QFETCH(QString, change);
    QFETCH(QStringList, says);
    REQUIRE_SERVER();
    const QString server = PgServer::shared().url(QStringLiteral("учителя"));
    {
        BankFixture held;
        held.addStandardQuestions(3);
        QCOMPARE(tool({"copy", held.bankPath(), server, "--replace"}).code, kExitOk);
    }
    const QByteArray before = tool({"export", server}).bytes;
    BankFixture fixture;
    fixture.addStandardQuestions(2);
    if (!change.isEmpty())
        fixture.exec(change);
    const Run run =
        tool(change.isEmpty() ? QStringList{"copy", fixture.bankPath(), server}
                              : QStringList{"copy", fixture.bankPath(), server, "--replace"});
    QCOMPARE(run.code, kExitFailure);
    for (const QString& line : says)
        QVERIFY2(run.err.contains(line), qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("ничего не скопировано")));
    QCOMPARE(tool({"export", server}).bytes, before);
}

QTEST_MAIN(TestBankFile)
#include "tst_bankfile.moc"

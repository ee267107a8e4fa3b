#include "tests/support/BadBanks.h"

#include "data/Schema.h"
#include "data/Sqlite.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

namespace {

// A bank of several pages: enough rows that the tables' pages lie past the first one.
void writeRealBank(const QString& path) {
    data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadWriteCreate);
    db.exec(data::bankSchema().constData());
    db.exec("WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 200) "
            "INSERT INTO \"Т_Вопросы\" (\"Номер\", \"Вопрос\") "
            "SELECT k, printf('Вопрос %d: %s', k, hex(randomblob(40))) FROM n");
}

// The three tables as a bank has them, each but the one a case spoils.
QString voprosy(const QString& columns = QStringLiteral(
                    "\"id\" INTEGER PRIMARY KEY, \"Номер\" INTEGER, \"Вопрос\" NVARCHAR(255)")) {
    return QStringLiteral("CREATE TABLE \"Т_Вопросы\" (%1);").arg(columns);
}
QString variant(const QString& columns = QStringLiteral(
                    "\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"Вопрос\" INTEGER, \"Ответ\" "
                    "NVARCHAR(255), \"Правильный\" BOOLEAN")) {
    return QStringLiteral("CREATE TABLE \"Т_Вариант\" (%1);").arg(columns);
}
QString obyasnenie(const QString& columns = QStringLiteral(
                       "\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"Вопрос\" INTEGER, "
                       "\"Объяснение\" NVARCHAR(255), \"Правильный\" BOOLEAN")) {
    return QStringLiteral("CREATE TABLE \"Т_Объяснение\" (%1);").arg(columns);
}

std::vector<BadBank> makeCatalogue() {
    const auto mismatch = [](const char* table, const char* field, const char* expected,
                             const char* actual) {
        return QStringLiteral("%1: Type mismatch for field '%2', expecting: %3 actual: %4")
            .arg(QLatin1String(table), QString::fromUtf8(field), QLatin1String(expected),
                 QLatin1String(actual));
    };
    const QString noNumber = QStringLiteral("Vopros: Field 'Номер' not found");
    return {
        {"no bank", QStringLiteral("none"), QStringLiteral("unable to open database file")},
        {"folder named db.mdb", QStringLiteral("directory"),
         QStringLiteral("unable to open database file")},
        {"unreadable bank", QStringLiteral("unreadable"),
         QStringLiteral("unable to open database file"), true},
        {"not a database", QStringLiteral("text"), QStringLiteral("file is not a database")},
        {"several pages of text", QStringLiteral("long text"),
         QStringLiteral("file is not a database")},
        {"0 bytes", QStringLiteral("empty"), QStringLiteral("no such table: Т_Вопросы")},
        {"truncated", QStringLiteral("truncated"),
         QStringLiteral("database disk image is malformed")},
        {"corrupted", QStringLiteral("corrupted"),
         QStringLiteral("database disk image is malformed")},
        {"none of our tables", QStringLiteral("CREATE TABLE notes (text TEXT);"),
         QStringLiteral("no such table: Т_Вопросы")},
        {"missing table", voprosy() + variant(), QStringLiteral("no such table: Т_Объяснение")},
        {"missing field",
         voprosy(QStringLiteral("\"id\" INTEGER PRIMARY KEY, \"Вопрос\" NVARCHAR(255)")) +
             variant() + obyasnenie(),
         noNumber},
        // The engine matches names by folding ASCII letters only, so "номер" is another column;
        // had it passed, every "Номер" would read as the text "Номер".
        {"name differing in a Cyrillic letter's case",
         voprosy(QStringLiteral(
             "\"id\" INTEGER PRIMARY KEY, \"номер\" INTEGER, \"Вопрос\" NVARCHAR(255)")) +
             variant() + obyasnenie(),
         noNumber},
        {"column without a type",
         voprosy(QStringLiteral("\"id\" INTEGER PRIMARY KEY, \"Номер\", \"Вопрос\" "
                                "NVARCHAR(255)")) +
             variant() + obyasnenie(),
         mismatch("Vopros", "Номер", "Integer", "Unknown")},
        {"text where a number belongs",
         voprosy(QStringLiteral("\"id\" INTEGER PRIMARY KEY, \"Номер\" VARCHAR(10), \"Вопрос\" "
                                "NVARCHAR(255)")) +
             variant() + obyasnenie(),
         mismatch("Vopros", "Номер", "Integer", "String")},
        {"text where the key belongs",
         voprosy(QStringLiteral("\"id\" TEXT PRIMARY KEY, \"Номер\" INTEGER, \"Вопрос\" "
                                "NVARCHAR(255)")) +
             variant() + obyasnenie(),
         mismatch("Vopros", "id", "AutoInc", "String")},
        {"number where a flag belongs",
         voprosy() +
             variant(QStringLiteral("\"id\" INTEGER PRIMARY KEY, \"Вопрос\" INTEGER, \"Ответ\" "
                                    "NVARCHAR(255), \"Правильный\" INTEGER")) +
             obyasnenie(),
         mismatch("Variant", "Правильный", "Boolean", "Integer")},
        {"text where a flag belongs",
         voprosy() +
             variant(QStringLiteral("\"id\" INTEGER PRIMARY KEY, \"Вопрос\" INTEGER, \"Ответ\" "
                                    "NVARCHAR(255), \"Правильный\" TEXT")) +
             obyasnenie(),
         mismatch("Variant", "Правильный", "Boolean", "String")},
        {"flag where a text belongs",
         voprosy() +
             variant(QStringLiteral("\"id\" INTEGER PRIMARY KEY, \"Вопрос\" INTEGER, \"Ответ\" "
                                    "BOOLEAN, \"Правильный\" BOOLEAN")) +
             obyasnenie(),
         mismatch("Variant", "Ответ", "WideString", "Boolean")},
        {"real number where a link belongs",
         voprosy() + variant() +
             obyasnenie(QStringLiteral("\"id\" INTEGER PRIMARY KEY, \"Вопрос\" REAL, "
                                       "\"Объяснение\" NVARCHAR(255), \"Правильный\" BOOLEAN")),
         mismatch("Obyasnenie", "Вопрос", "Integer", "Float")},
        {"WITHOUT ROWID table",
         voprosy().chopped(1) + QStringLiteral(" WITHOUT ROWID;") + variant() + obyasnenie(),
         QStringLiteral("Vopros: Table 'Т_Вопросы' is a WITHOUT ROWID table, which this program "
                        "cannot open")},
    };
}

} // namespace

const std::vector<BadBank>& badBanks() {
    static const std::vector<BadBank> catalogue = makeCatalogue();
    return catalogue;
}

const BadBank& badBank(const char* name) {
    for (const BadBank& bank : badBanks())
        if (qstrcmp(bank.name, name) == 0)
            return bank;
    throw std::logic_error(name);
}

void addBadBankRows() {
    QTest::addColumn<QString>("recipe");
    QTest::addColumn<QString>("message");
    for (const BadBank& bank : badBanks())
        if (!bank.refusedOnlyToUsers || geteuid() != 0)
            QTest::newRow(bank.name) << bank.recipe << bank.message;
}

bool makeBadBank(const QString& folder, const QString& recipe) {
    const QString path = QDir(folder).filePath(QString::fromUtf8(data::kBankFileName));
    if (recipe == QLatin1String("none"))
        return true;
    if (recipe == QLatin1String("directory"))
        return QDir(folder).mkdir(QString::fromUtf8(data::kBankFileName));
    QFile file(path);
    if (recipe == QLatin1String("empty"))
        return file.open(QIODevice::WriteOnly);
    if (recipe == QLatin1String("text"))
        return file.open(QIODevice::WriteOnly) &&
               file.write("Это не база данных, а просто текст.\n") > 0;
    if (recipe == QLatin1String("long text"))
        return file.open(QIODevice::WriteOnly) &&
               file.write(
                   QByteArray("This is a teacher's note, not a question bank.\n").repeated(50)) > 0;
    if (recipe == QLatin1String("truncated") || recipe == QLatin1String("corrupted") ||
        recipe == QLatin1String("unreadable")) {
        writeRealBank(path);
        if (recipe == QLatin1String("unreadable"))
            return file.setPermissions(QFileDevice::WriteOwner);
        if (recipe == QLatin1String("truncated"))
            return file.resize(file.size() / 3);
        // The header page stays whole, so the file still looks like a database.
        if (!file.open(QIODevice::ReadWrite) || !file.seek(4096))
            return false;
        return file.write(QByteArray(static_cast<int>(file.size() - 4096), '\x5a')) > 0;
    }
    data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadWriteCreate);
    db.exec(recipe.toUtf8().constData());
    return true;
}

} // namespace testsupport

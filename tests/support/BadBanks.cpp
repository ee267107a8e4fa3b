#include "tests/support/BadBanks.h"

#include "data/Schema.h"
#include "data/sqlite/Sqlite.h"
#include "tests/support/BankFixture.h"

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
    db.exec(withBankNames(
                QStringLiteral(
                    "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 200) "
                    "INSERT INTO \"{questions}\" (\"{number}\", \"{question}\") "
                    "SELECT k, printf('Вопрос %d: %s', k, hex(randomblob(40))) FROM n"))
                .toUtf8()
                .constData());
}

// The three tables as a bank has them, each but the one a case spoils.
QString voprosy(
    const QString& columns = QStringLiteral(
        "\"{id}\" INTEGER PRIMARY KEY, \"{number}\" INTEGER, \"{question}\" NVARCHAR({limit})")) {
    return QStringLiteral("CREATE TABLE \"{questions}\" (%1);").arg(columns);
}
QString
variant(const QString& columns = QStringLiteral(
            "\"{id}\" INTEGER PRIMARY KEY AUTOINCREMENT, \"{question}\" INTEGER, \"{option}\" "
            "NVARCHAR({limit}), \"{correct}\" BOOLEAN")) {
    return QStringLiteral("CREATE TABLE \"{options}\" (%1);").arg(columns);
}
QString obyasnenie(const QString& columns = QStringLiteral(
                       "\"{id}\" INTEGER PRIMARY KEY AUTOINCREMENT, \"{question}\" INTEGER, "
                       "\"{explanation}\" NVARCHAR({limit}), \"{correct}\" BOOLEAN")) {
    return QStringLiteral("CREATE TABLE \"{explanations}\" (%1);").arg(columns);
}

std::vector<BadBank> makeCatalogue() {
    const auto mismatch = [](const char* table, const char* field, const char* expected,
                             const char* actual) {
        return QStringLiteral("%1: Type mismatch for field '%2', expecting: %3 actual: %4")
            .arg(QLatin1String(table), QString::fromUtf8(field), QLatin1String(expected),
                 QLatin1String(actual));
    };
    const QString noNumber = QStringLiteral("Vopros: Field '{number}' not found");
    std::vector<BadBank> banks{
        {"no bank", QStringLiteral("none"), QStringLiteral("unable to open database file")},
        {"folder named db.mdb", QStringLiteral("directory"),
         QStringLiteral("unable to open database file")},
        {"unreadable bank", QStringLiteral("unreadable"),
         QStringLiteral("unable to open database file"), true},
        {"not a database", QStringLiteral("text"), QStringLiteral("file is not a database")},
        {"several pages of text", QStringLiteral("long text"),
         QStringLiteral("file is not a database")},
        {"0 bytes", QStringLiteral("empty"), QStringLiteral("no such table: {questions}")},
        {"truncated", QStringLiteral("truncated"),
         QStringLiteral("database disk image is malformed")},
        {"corrupted", QStringLiteral("corrupted"),
         QStringLiteral("database disk image is malformed")},
        {"none of our tables", QStringLiteral("CREATE TABLE notes (text TEXT);"),
         QStringLiteral("no such table: {questions}")},
        {"missing table", voprosy() + variant(), QStringLiteral("no such table: {explanations}")},
        {"missing field",
         voprosy(QStringLiteral("\"{id}\" INTEGER PRIMARY KEY, \"{question}\" NVARCHAR({limit})")) +
             variant() + obyasnenie(),
         noNumber},
        // The engine matches names by folding ASCII letters only, so "номер" is another column;
        // had it passed, every "Номер" would read as the text "Номер".
        {"name differing in a Cyrillic letter's case",
         voprosy(QStringLiteral(
             "\"{id}\" INTEGER PRIMARY KEY, \"номер\" INTEGER, \"{question}\" NVARCHAR({limit})")) +
             variant() + obyasnenie(),
         noNumber},
        {"column without a type",
         voprosy(QStringLiteral("\"{id}\" INTEGER PRIMARY KEY, \"{number}\", \"{question}\" "
                                "NVARCHAR({limit})")) +
             variant() + obyasnenie(),
         mismatch("Vopros", "{number}", "Integer", "Unknown")},
        {"text where a number belongs",
         voprosy(QStringLiteral(
             "\"{id}\" INTEGER PRIMARY KEY, \"{number}\" VARCHAR(10), \"{question}\" "
             "NVARCHAR({limit})")) +
             variant() + obyasnenie(),
         mismatch("Vopros", "{number}", "Integer", "String")},
        {"text where the key belongs",
         voprosy(QStringLiteral("\"{id}\" TEXT PRIMARY KEY, \"{number}\" INTEGER, \"{question}\" "
                                "NVARCHAR({limit})")) +
             variant() + obyasnenie(),
         mismatch("Vopros", "{id}", "AutoInc", "String")},
        {"number where a flag belongs",
         voprosy() +
             variant(QStringLiteral(
                 "\"{id}\" INTEGER PRIMARY KEY, \"{question}\" INTEGER, \"{option}\" "
                 "NVARCHAR({limit}), \"{correct}\" INTEGER")) +
             obyasnenie(),
         mismatch("Variant", "{correct}", "Boolean", "Integer")},
        {"text where a flag belongs",
         voprosy() +
             variant(QStringLiteral(
                 "\"{id}\" INTEGER PRIMARY KEY, \"{question}\" INTEGER, \"{option}\" "
                 "NVARCHAR({limit}), \"{correct}\" TEXT")) +
             obyasnenie(),
         mismatch("Variant", "{correct}", "Boolean", "String")},
        {"flag where a text belongs",
         voprosy() +
             variant(QStringLiteral(
                 "\"{id}\" INTEGER PRIMARY KEY, \"{question}\" INTEGER, \"{option}\" "
                 "BOOLEAN, \"{correct}\" BOOLEAN")) +
             obyasnenie(),
         mismatch("Variant", "{option}", "WideString", "Boolean")},
        {"real number where a link belongs",
         voprosy() + variant() +
             obyasnenie(
                 QStringLiteral("\"{id}\" INTEGER PRIMARY KEY, \"{question}\" REAL, "
                                "\"{explanation}\" NVARCHAR({limit}), \"{correct}\" BOOLEAN")),
         mismatch("Obyasnenie", "{question}", "Integer", "Float")},
        {"WITHOUT ROWID table",
         voprosy().chopped(1) + QStringLiteral(" WITHOUT ROWID;") + variant() + obyasnenie(),
         QStringLiteral("Vopros: Table '{questions}' is a WITHOUT ROWID table, which this program "
                        "cannot open")},
    };
    for (BadBank& bank : banks) {
        bank.recipe = withBankNames(bank.recipe);
        bank.message = withBankNames(bank.message);
    }
    return banks;
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

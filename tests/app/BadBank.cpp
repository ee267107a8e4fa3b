#include "tests/app/BadBank.h"

#include "data/Schema.h"
#include "data/Sqlite.h"

#include <QDir>
#include <QFile>

namespace testsupport {

namespace {

// A bank of several pages: enough rows that the tables' pages lie past the first one.
bool writeRealBank(const QString& path) {
    data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadWriteCreate);
    db.exec(data::kBankSchema);
    db.exec("WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 200) "
            "INSERT INTO \"Т_Вопросы\" (\"Номер\", \"Вопрос\") "
            "SELECT k, printf('Вопрос %d: %s', k, hex(randomblob(40))) FROM n");
    return true;
}

} // namespace

bool makeBadBank(const QString& folder, const QString& kind) {
    const QString path = QDir(folder).filePath(QStringLiteral("db.mdb"));
    if (kind == QLatin1String("none"))
        return true;
    if (kind == QLatin1String("directory"))
        return QDir(folder).mkdir(QStringLiteral("db.mdb"));
    QFile file(path);
    if (kind == QLatin1String("empty") || kind == QLatin1String("text")) {
        if (!file.open(QIODevice::WriteOnly))
            return false;
        if (kind == QLatin1String("text"))
            file.write("Это не база данных, а просто текст.\n");
        return true;
    }
    if (kind == QLatin1String("truncated") || kind == QLatin1String("corrupted") ||
        kind == QLatin1String("unreadable")) {
        writeRealBank(path);
        if (kind == QLatin1String("unreadable"))
            return file.setPermissions(QFileDevice::WriteOwner);
        if (kind == QLatin1String("truncated"))
            return file.resize(file.size() / 3);
        // The header page stays whole, so the file still looks like a database.
        if (!file.open(QIODevice::ReadWrite) || !file.seek(4096))
            return false;
        return file.write(QByteArray(static_cast<int>(file.size() - 4096), '\x5a')) > 0;
    }
    data::sqlite::Database db(path, data::sqlite::Database::Mode::ReadWriteCreate);
    db.exec(kind.toUtf8().constData());
    return true;
}

} // namespace testsupport

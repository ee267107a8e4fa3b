// The data module opening arbitrary bytes as db.mdb: it opens the bank or throws the error
// that start-up shows; it never crashes. An opened bank is walked question by question, so
// that the detail tables follow each one.
#include "data/DM.h"
#include "data/Errors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        std::abort();
    QFile::remove(QStringLiteral("db.mdb"));
    QFile::remove(QStringLiteral("db.mdb-journal"));
    QFile file(QStringLiteral("db.mdb"));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        std::abort();
    file.close();
    try {
        TDataModule2 dm;
        for (dm.Vopros.first(); !dm.Vopros.eof(); dm.Vopros.next()) {
            dm.VoprosWideStringField->asString();
            dm.Variant.recordCount();
            dm.Obyasnenie.recordCount();
        }
    } catch (const Exception&) {
    }
    return 0;
}

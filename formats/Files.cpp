#include "formats/Files.h"

#include "formats/Csv.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace bank {

QByteArray readInput(const QString& path) {
    QFile file(path);
    if (!QFileInfo::exists(path))
        throw EToolError(QStringLiteral("файла «%1» нет").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        throw EToolError(
            QStringLiteral("не удаётся прочитать «%1»: %2").arg(path, file.errorString()));
    return file.readAll();
}

// Replaces the file only once everything is written, so that a failure leaves the old one.
void writeOutput(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EToolError(
            QStringLiteral("не удаётся записать «%1»: %2").arg(path, file.errorString()));
}

namespace {

// The control characters no file may carry, and a tab, which moves a terminal's cursor (a line
// feed ends our own lines); and the bidirectional overrides and isolates, which reorder what
// follows them.
bool obeyedByTerminals(QChar c) {
    const char16_t u = c.unicode();
    return ((csv::isControlCharacter(c) || u == u'\t') && u != u'\n') ||
           (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString terminalText(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!obeyedByTerminals(c))
            shown += c;
        else
            shown += (u <= 0xFF ? QStringLiteral("\\x") : QStringLiteral("\\u")) +
                     QString::number(u, 16).toUpper().rightJustified(u <= 0xFF ? 2 : 4, u'0');
    }
    return shown;
}

void writeLine(QIODevice& device, const QString& text) {
    device.write((terminalText(text) + u'\n').toUtf8());
}

} // namespace bank

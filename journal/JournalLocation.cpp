#include "journal/JournalLocation.h"

#include "data/Connection.h"
#include "data/journal/JournalStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

namespace journal {

namespace {

// The launcher sources the settings file as shell; only this one plain assignment is read here,
// never run.
QString settingFrom(const QString& settingsFile, const QString& name) {
    QFile file(settingsFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString value;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.startsWith(name + QLatin1Char('=')))
            continue;
        value = line.mid(name.size() + 1);
        if (value.size() >= 2 &&
            (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
    }
    return value;
}

// A journal file carries its mark in the header, as a bank carries its own.
bool isJournalFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(72);
    if (header.size() < 72 || !header.startsWith("SQLite format 3"))
        return false;
    const auto byte = [&](int i) { return quint32(quint8(header[i])); };
    const quint32 applicationId = byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71);
    return applicationId == quint32(data::journal::kJournalApplicationId);
}

} // namespace

QString defaultBankFolder(const QString& settingsFile) {
    const QString name = QStringLiteral("INFOTEST_BANK_DIR");
    QString folder = qEnvironmentVariable("INFOTEST_BANK_DIR");
    if (folder.isEmpty())
        folder = settingFrom(settingsFile, name);
    if (folder.isEmpty()) {
        const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        folder =
            (dataHome.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : dataHome) +
            QStringLiteral("/infotest");
    }
    return folder;
}

QString defaultBank(const QString& settingsFile) {
    const QString name = QStringLiteral("INFOTEST_BANK_URL");
    QString url = qEnvironmentVariable("INFOTEST_BANK_URL");
    if (url.isEmpty())
        url = settingFrom(settingsFile, name);
    return url.isEmpty() ? defaultBankFolder(settingsFile) : url;
}

QString journalPathFor(const QString& path) {
    if (data::Location(path).isServer())
        return path;
    const QFileInfo info(path);
    if (info.isDir())
        return QDir(path).absoluteFilePath(QString::fromLatin1(data::journal::kJournalFileName));
    if (info.fileName() == QLatin1String(data::journal::kJournalFileName) || isJournalFile(path))
        return info.absoluteFilePath();
    return data::journal::journalPathForBank(path);
}

} // namespace journal

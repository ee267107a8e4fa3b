#pragma once

#include <QString>

namespace journal {

// The folder of the bank the menu entry of the quiz program opens: $INFOTEST_BANK_DIR from the
// environment, else from the admins' settings file, else the user's own bank folder.
QString defaultBankFolder(const QString& settingsFile = QStringLiteral("/etc/default/infotest"));

// The bank the window opens without an argument: a school's server, $INFOTEST_BANK_URL from the
// environment or the settings file, which goes before any folder as in the quiz program's
// launcher; else defaultBankFolder().
QString defaultBank(const QString& settingsFile = QStringLiteral("/etc/default/infotest"));

// The journal a path names: a journal file itself, else the journal beside a bank file, or in a
// bank's folder; a server's URL names the journal in the bank's database there.
QString journalPathFor(const QString& path);

} // namespace journal

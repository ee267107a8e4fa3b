#pragma once

#include <QString>

namespace journal {

// The folder of the bank the menu entry of the quiz program opens: $INFOTEST_BANK_DIR from the
// environment, else from the admins' settings file, else the user's own bank folder.
QString defaultBankFolder(const QString& settingsFile = QStringLiteral("/etc/default/infotest"));

// The journal a path names: a journal file itself, else the journal beside a bank file, or in a
// bank's folder.
QString journalPathFor(const QString& path);

} // namespace journal

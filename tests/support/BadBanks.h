#pragma once

#include <QString>
#include <vector>

namespace testsupport {

// A db.mdb the program must refuse to open, and what opening it says (the message of the
// engine or of the data module, without the closing full stop of the error box).
struct BadBank {
    const char* name;
    // A kind of file: "none", "empty" (0 bytes), "text", "long text" (several pages of it),
    // "truncated" and "corrupted" (a real bank cut short or overwritten past its first page),
    // "directory" (a folder named db.mdb), "unreadable" (no read permission); or else the SQL
    // that makes the file.
    QString recipe;
    QString message;
    // Root reads any file: the bank is refused only to an ordinary user.
    bool refusedOnlyToUsers = false;
};

// Every bad bank the start-up failure tests try, in-process and as a process.
const std::vector<BadBank>& badBanks();
const BadBank& badBank(const char* name);

// Adds the columns "recipe" and "message" and a row for each bad bank that this process can be
// refused.
void addBadBankRows();

// Puts the bad bank made by recipe into folder; false when the file could not be made.
bool makeBadBank(const QString& folder, const QString& recipe);

} // namespace testsupport

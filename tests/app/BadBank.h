#pragma once

#include <QString>

namespace testsupport {

// Puts a broken db.mdb of the given kind into folder, for the start-up failure tests:
// "none" (no file), "empty" (0 bytes), "text", "truncated" and "corrupted" (a real bank cut
// short or overwritten past its first page), "directory" (a folder named db.mdb),
// "unreadable" (no read permission), or else the SQL that makes the file.
// Returns false when the file could not be made.
bool makeBadBank(const QString& folder, const QString& kind);

} // namespace testsupport

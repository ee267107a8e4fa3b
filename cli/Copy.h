#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace bank {

// Copies a bank and its results journal between a file and a server, either way (each end a
// bank file's path or a postgresql:// URL; the journal of a file is the one beside it). Ids are
// kept and the destination's counters set past them, so that new rows never take an old id.
// A destination that holds rows is refused unless replace; a value the destination cannot hold
// (a number too big for its field, a text that is not UTF-8 or holds a NUL) is refused with
// every row concerned. Everything is written in one transaction: on any failure, nothing.
// Returns what was copied, a line per part, for the user.
QStringList copyBank(const QString& source, const QString& destination, bool replace);

// A server's bank and journal copied into a temporary folder, for the commands that read a
// bank file and the journal beside it; removed when it goes.
class ServerSnapshot {
public:
    explicit ServerSnapshot(const QString& url);
    QString bankPath() const;

private:
    QTemporaryDir dir_;
};

} // namespace bank

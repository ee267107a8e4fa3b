#pragma once

#include "data/journal/JournalStore.h"

#include <QString>

namespace data {
class Connection;
}

namespace data::journal {

// Runs waiting to be stored in their journals: a small file in the user's own data folder, one
// record a line. A record is on disk here before its journal is written, so that a locked or
// full journal, or a program killed after the tenth answer, loses nothing; the journal's unique
// run ids make a record that is retried after an unknown commit stored once. The queue, its
// lock and its temporary file are only ever this user's regular files, never opened through a
// link: anything else found under their names is moved aside and a fresh file is started.
class JournalQueue {
public:
    explicit JournalQueue(QString path = defaultPath());

    // journal-queue.jsonl in infotest's folder of the user's data (XDG_DATA_HOME).
    static QString defaultPath();
    const QString& path() const { return path_; }

    // Appends the record for the journal (a file's path, or the URL of a bank on a server, whose
    // database holds its journal) and flushes it to disk, or throws.
    void append(const QString& journalPath, const RunRecord& run);

    // Where the records a server refuses for good are set aside: the queue's name + ".refused".
    QString refusedPath() const { return path_ + QStringLiteral(".refused"); }

    struct Outcome {
        int stored = 0;
        int remaining = 0;
        QString error;   // why the last record that stayed could not be stored
        int refused = 0; // set aside in refusedPath(), never tried again
        QString refusal; // the server's words on the last of them
    };
    // Stores every queued record in its journal, waiting at most busyTimeoutMs for a file's
    // lock; those that fail stay queued, but those a server refuses for good are set aside. Records
    // for the server of the open bank go through the bank's own connection; those for another
    // server through a connection of their own.
    Outcome flush(int busyTimeoutMs, Connection* bank = nullptr);

private:
    // Replaces the queue's contents with these lines, or throws.
    void replace(const QByteArray& bytes) const;

    QString path_;
};

// The journal of the open bank, as the queue names it: the server's URL for a bank on a server,
// else the journal file beside the bank file as it was opened.
QString journalOf(const Connection& bank);

// Stores a run in its journal at once, without the queue (for a record the queue file could not
// take), through the bank's own connection when the journal is on its server. Throws when the
// journal refuses it.
void storeNow(const QString& journalPath, const RunRecord& run, int busyTimeoutMs,
              Connection* bank);

QByteArray recordToJson(const QString& journalPath, const RunRecord& run);
// False for a line that is not a whole record (the tail of a write cut off by a crash).
bool recordFromJson(const QByteArray& line, QString& journalPath, RunRecord& run);

} // namespace data::journal

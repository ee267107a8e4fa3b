#pragma once

#include "data/journal/JournalQueue.h"
#include "data/journal/ShownRun.h"

#include <optional>

// Keeps the journal of a testing window's runs: what each question showed and what was chosen,
// as values the window hands over, then the run, finished or abandoned, first in the user's
// queue file and then in the bank's journal. Nothing of it shows to the pupil: a journal that
// cannot be written leaves the record queued, silently, until a later chance; only the program's
// end says so. It reads no window and speaks to no engine itself: the data layer's journal does.
class RunRecorder {
public:
    // The queue path is the user's; tests give their own.
    explicit RunRecorder(QString queuePath = data::journal::JournalQueue::defaultPath());

    // A draw has started a new run (after its writes to the bank): a run still open is recorded
    // unfinished, and the records still queued are tried again.
    void started();
    // The bank's server scores the run: it starts it with the questions drawn, in the order they
    // will be asked, and the run keeps its token. Throws when the server refuses.
    void startOnServer(const std::vector<data::journal::DrawnQuestion>& drawn);
    // Question k of the run is on screen, as the window shows it now.
    void shown(int k, data::journal::ShownQuestion question);
    // The answer to question k was scored: the option and explanation chosen, counted from 1,
    // and the run's points with it. The tenth records the finished run.
    struct Outcome {
        bool byServer = false; // a run the server scores
        // The server's points and grade; none when it did not answer within its deadline: the
        // run then waits in the queue.
        std::optional<data::journal::ServerScore> server;
        // The server's words when it refused the run for good: the run is set aside at once.
        QString refusal;
    };
    Outcome scored(int k, int chosenOption, int chosenExplanation, int points);
    // The testing window was closed with the run open: recorded unfinished.
    void abandoned();
    // The program ends: an open run is recorded unfinished and the queue tried once more,
    // waiting a little for a journal that is busy. Throws when records stay queued, naming the
    // queue file, or when the server refused some for good, once.
    void programEnds();
    // Tries the queued records again, silently.
    void retryQueued();

    const data::journal::JournalQueue& queue() const { return queue_; }
    bool runOpen() const { return run_.has_value(); }
    // The run open, as the window has handed it over so far.
    const std::optional<data::journal::ShownRun>& run() const { return run_; }

private:
    void record(data::journal::RunRecord run);
    // Puts the records not yet on disk into the queue file, or keeps them here.
    QString save(const QString& journal, int busyTimeoutMs);
    data::journal::JournalQueue::Outcome flush(int busyTimeoutMs);

    data::journal::JournalQueue queue_;
    std::optional<data::journal::ShownRun> run_;
    // Records the queue file could not take (the home folder full): kept here to be tried again.
    std::vector<data::journal::RunRecord> unsaved_;
    // Records the server refused for good since the program started, set aside by the queue;
    // the program's end tells of them with the server's words on the last.
    int refused_ = 0;
    QString refusal_;
};

#pragma once

#include "data/journal/JournalStore.h"

namespace data {
class Engine;
}

#include <QString>
#include <array>
#include <map>
#include <optional>

// A test run as the testing window hands it over, by the bank's ids: what each question showed
// and what the pupil chose. Nothing here reads a window or an engine, so the same values can go
// to the journal or to a server that scores the run itself.
namespace data::journal {

// The school grade of a run's points: above 16 gives 5, above 13 gives 4, above 9 gives 3.
int gradeFor(int points);

// One option or explanation row as it was shown.
struct ShownRow {
    qint64 id = 0; // the row's id in the bank
    QString text;
    // The row's mark, where the program may read the marks (a file's bank); none otherwise.
    std::optional<bool> correct;
};
// Four rows in the order shown; a question with fewer rows shows its last one again, so an id
// may repeat.
using ShownRows = std::array<ShownRow, kChoicesPerQuestion>;

// One question of a run as shown, and the pupil's choice once the answer was scored.
struct ShownQuestion {
    qint64 questionId = 0;
    QString question;
    ShownRows options;
    ShownRows explanations;
    // Counted from 1 as the buttons are; 0 while the question is unanswered.
    int chosenOption = 0;
    int chosenExplanation = 0;

    bool answered() const { return chosenOption > 0 && chosenExplanation > 0; }
    // The bank's rows chosen; 0 while unanswered.
    qint64 chosenOptionId() const { return chosenId(options, chosenOption); }
    qint64 chosenExplanationId() const { return chosenId(explanations, chosenExplanation); }
    // The answer as the journal keeps it; a mark that is not known counts as not right.
    Answer answer() const;

private:
    static qint64 chosenId(const ShownRows& rows, int chosen);
};

// A run so far: who and when (answers are left out until it is recorded) and its questions by
// their place in the run, 1 to kQuestionsPerRun.
struct ShownRun {
    RunRecord record;
    std::map<int, ShownQuestion> questions;

    // The record with the answered questions in the order they were asked.
    RunRecord recorded() const;
};

// A drawn question's rows by their ids, as it will show them, before it is shown.
struct DrawnQuestion {
    qint64 questionId = 0;
    std::array<qint64, kChoicesPerQuestion> options{};
    std::array<qint64, kChoicesPerQuestion> explanations{};
};

// A server's answer to the end of a run it scores: none for an unfinished run.
struct ServerScore {
    std::optional<int> points;
    std::optional<int> grade;
};

// How long the end of a run waits for the server's score before it is left in the queue.
inline constexpr int kServerScoreDeadlineMs = 3000;

// Starts the run of who (login, computer, names) on the bank's server with the questions drawn,
// in the order they will be asked; gives the server's token, or throws.
QString startOnServer(Engine& engine, const RunRecord& who, const std::vector<DrawnQuestion>& run);
// Finishes a run the server started, with the rows chosen; the same token again gives the score
// stored before. Throws past kServerScoreDeadlineMs, or when the server refuses or is away.
ServerScore finishOnServer(Engine& engine, const RunRecord& run);

} // namespace data::journal

#pragma once

#include "data/JournalStore.h"

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

} // namespace data::journal

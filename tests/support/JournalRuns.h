#pragma once

#include "data/journal/JournalStore.h"

namespace testsupport {

// A finished run with known choices: question 1, whose key is option `key`, answered with
// `choice` (and the right explanation exactly when the choice is right); of questions 2 to 10
// the first `strength` answered right with their explanations, the rest wrong. Every call
// gives a new uuid.
data::journal::RunRecord knownRun(int strength, int key, int choice,
                                  const QString& pupil = QString());

} // namespace testsupport

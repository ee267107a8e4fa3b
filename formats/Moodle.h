#pragma once

#include "formats/QuestionCsv.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace bank {

// The bank as a Moodle XML question file: a category of the given name, then for each
// question two single-answer multiple-choice items of one point, the question with its
// options and the request for its explanation with the explanations. Every row flagged
// correct gets fraction 100 (any of them earns the point, as in the quiz), the others 0.
// Texts are plain text, line breaks and carriage returns kept exactly. Throws EToolError for a
// character XML cannot carry.
QByteArray moodleXml(const std::vector<Question>& questions, const QString& category);

// Why Moodle's import would reject the question's items: each needs a text, at least two
// answers, none of them empty, and one at 100 %. Empty when both items are valid.
QStringList moodleProblems(const Question& question);

} // namespace bank

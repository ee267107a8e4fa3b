#pragma once

#include "data/Schema.h"

#include <QString>
#include <vector>

namespace bank {

// The longest text a field of the bank holds, in characters (code points).
using data::kMaxTextLength;
// More option or explanation columns than any question could use: a typo such as
// "Ответ 1000000" is reported as an unknown column instead of being taken at its word.
inline constexpr int kMaxChoices = 100;

// How many questions a test takes, and how many options and explanations it shows of each.
using data::kChoicesPerQuestion;
using data::kQuestionsPerTest;

// The length of a text as a teacher counts it: characters, not UTF-16 units (an emoji is one).
int textLength(const QString& text);

struct Choice {
    QString text;
    bool correct = false;
    friend bool operator==(const Choice&, const Choice&) = default;
};

// A question as the CSV file and the bank tool see it: its options and explanations in the
// order the test run shows them.
struct Question {
    QString text;
    std::vector<Choice> options;
    std::vector<Choice> explanations;
    friend bool operator==(const Question&, const Question&) = default;
};

} // namespace bank

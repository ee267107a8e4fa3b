#pragma once

#include "data/Schema.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace bank {

// The longest text a field of the bank holds, in characters (code points).
using data::kMaxTextLength;
// More option or explanation columns than any question could use: a typo such as
// "Ответ 1000000" is reported as an unknown column instead of being taken at its word.
inline constexpr int kMaxChoices = 100;

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

// The questions of a teacher's CSV file, one a row under the header "Вопрос", "Ответ 1" ...
// "Ответ N", "Верный ответ", "Пояснение 1" ... "Пояснение M", "Верное пояснение" (any
// order; empty cells at the end of the header are ignored). A row's options run up to its last
// cell with text or in quotes (an empty option is written ""); the correct ones are named by
// number. Throws EInputError at the first fault, so that nothing of a bad file is used. The
// line each question starts on goes to lines when given.
std::vector<Question> parseQuestions(const QByteArray& csvBytes, std::vector<int>* lines = nullptr);
// The same for a file already decoded.
std::vector<Question> parseQuestionText(const QString& text, std::vector<int>* lines = nullptr);

// The questions as CSV for a spreadsheet in the Russian locale: a byte-order mark, ';', the
// header with as many option and explanation columns as the longest question needs (4 at
// least). An empty option or explanation is written "" so that it reads back, even at the end.
QByteArray formatQuestions(const std::vector<Question>& questions);

} // namespace bank

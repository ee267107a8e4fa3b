#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace bank {

// The longest text a field of the bank holds.
inline constexpr int kMaxTextLength = 255;

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
// order). A row's options run up to its last non-empty one; the correct ones are named by
// number. Throws EInputError at the first fault, so that nothing of a bad file is used.
std::vector<Question> parseQuestions(const QByteArray& csvBytes);

// The questions as CSV for a spreadsheet in the Russian locale: a byte-order mark, ';', the
// header with as many option and explanation columns as the longest question needs (4 at
// least).
QByteArray formatQuestions(const std::vector<Question>& questions);

} // namespace bank

#pragma once

#include "core/Question.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace bank {

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

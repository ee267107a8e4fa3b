#pragma once

#include "bank/QuestionCsv.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace bank {

// A row of the option or explanation table as stored, nulls kept.
struct StoredRow {
    qint64 id = 0;
    QVariant question; // the link to the question's id
    QVariant text;
    QVariant flag;
};

struct StoredQuestion {
    qint64 id = 0;
    QVariant number;
    QVariant text;
    // In the order the program reads them, which is the order the test run shows them.
    std::vector<StoredRow> options;
    std::vector<StoredRow> explanations;
};

// A whole bank in the program's order: questions by row, the rows of each question by row.
// Rows whose question does not exist are kept apart.
struct StoredBank {
    std::vector<StoredQuestion> questions;
    std::vector<StoredRow> strayOptions;
    std::vector<StoredRow> strayExplanations;
};

struct BankCounts {
    qint64 questions = 0;
    qint64 options = 0;
    qint64 explanations = 0;
    bool marked = false; // application_id is ours
    int userVersion = 0;
};

// A new bank with the schema, marked as ours. Never touches a file that is already there.
void createBank(const QString& path);

// Appends the questions in one transaction, numbered after those already there; returns the
// number of questions the bank then holds. On any failure nothing is written.
qint64 importQuestions(const QString& path, const std::vector<Question>& questions);

StoredBank readBank(const QString& path);
BankCounts countBank(const QString& path);

// The questions as the test run sees them: a null text is empty, a null flag is false.
std::vector<Question> questionsOf(const StoredBank& bank);

// Everything in the bank that the test run will stumble on, one line each; empty when sound.
QStringList checkBank(const StoredBank& bank);

// "40 вопросов, 160 вариантов ответа, 160 пояснений"
QString countsText(qint64 questions, qint64 options, qint64 explanations);

// How many questions a test takes, and how many options and explanations it shows of each.
inline constexpr int kQuestionsPerTest = 10;
inline constexpr int kChoicesPerQuestion = 4;

} // namespace bank

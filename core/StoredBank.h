#pragma once

#include "core/Question.h"

#include <QSet>
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

// The option or the explanation table, and how messages name its rows.
struct RowKind {
    QString table;
    QString textColumn;
    QString noun;     // "вариант ответа"
    QString genitive; // "варианта ответа"
    QString capital;  // "Вариант ответа"
    QString noneCorrect;
    QString oneNeeded;
};
const RowKind& optionKind();
const RowKind& explanationKind();

// Puts the rows read from either engine in the program's order; rows of no question go apart.
StoredBank assembleBank(std::vector<StoredQuestion> questions, std::vector<StoredRow> options,
                        std::vector<StoredRow> explanations);
// The indexes of the questions whose text the bank already holds; blank texts are not compared.
std::vector<size_t> duplicatesOf(const QSet<QString>& bankTexts,
                                 const std::vector<Question>& questions);

// The questions as the test run sees them: a null text is empty, a null flag is false.
std::vector<Question> questionsOf(const StoredBank& bank);

// What the test run will stumble on in one question, one line each: counts, flags, blank and
// too long texts. Empty when the question can be shown and scored.
QStringList questionProblems(const StoredQuestion& question);

// A stored value as the program shows it: null as an empty text, bytes as UTF-8.
QString textOf(const QVariant& value);
// A text as a message quotes it: «on one line», shortened; (NULL) for no value.
QString shown(const QVariant& value);

// "Вопрос id 7 «Текст вопроса»", as every problem line starts.
QString questionLabel(const StoredQuestion& question);

// "5 вопросов", "1 вопрос": a number with the Russian noun form it takes.
QString plural(qint64 n, const char* one, const char* few, const char* many);

// "40 вопросов, 160 вариантов ответа, 160 пояснений"
QString countsText(qint64 questions, qint64 options, qint64 explanations);

} // namespace bank

#pragma once

#include "formats/Csv.h"
#include "formats/QuestionCsv.h"

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

// A new bank with the schema, marked as ours. Never touches a file that is already there (nor
// tables already on a server).
void createBank(const QString& path);

// Questions to import whose text a question of the bank already has: importing a file twice
// would double them. Blank texts are not compared.
class EDuplicateQuestions : public EToolError {
public:
    explicit EDuplicateQuestions(std::vector<size_t> indexes);
    const std::vector<size_t>& indexes() const { return indexes_; } // into the imported list

private:
    std::vector<size_t> indexes_;
};

// Appends the questions in one transaction, numbered after those already there; returns the
// number of questions the bank then holds. Unless allowDuplicates, a question whose text the
// bank already holds throws EDuplicateQuestions. On any failure nothing is written.
qint64 importQuestions(const QString& path, const std::vector<Question>& questions,
                       bool allowDuplicates = false);

// Each of these takes a bank file's path or a server's postgresql:// URL.
// The program refuses to open the bank (a missing field, a view or a computed field in place
// of a table or a field...): the data layer's own reason.
class EProgramRefuses : public EToolError {
public:
    explicit EProgramRefuses(const QString& why);
    const QString& why() const { return why_; }

private:
    QString why_;
};

// Opens the bank exactly as the program does at start-up, so that the tool refuses what the
// program refuses; throws EProgramRefuses, or the engine's error.
void checkProgramOpens(const QString& path);

// What the bank holds besides the program's tables, one line each: triggers, views, tables;
// the program neither runs nor reads them.
QStringList ignoredObjects(const QString& path);

StoredBank readBank(const QString& path);
BankCounts countBank(const QString& path);

// Puts the rows read from either engine in the program's order; rows of no question go apart.
StoredBank assembleBank(std::vector<StoredQuestion> questions, std::vector<StoredRow> options,
                        std::vector<StoredRow> explanations);
// The indexes of the questions whose text the bank already holds; blank texts are not compared.
std::vector<size_t> duplicatesOf(const QSet<QString>& bankTexts,
                                 const std::vector<Question>& questions);
// How messages and printed tests name a bank: a file's name without its extension, or a
// server's database.
QString bankName(const QString& bank);

// The questions as the test run sees them: a null text is empty, a null flag is false.
std::vector<Question> questionsOf(const StoredBank& bank);

// What the test run will stumble on in one question, one line each: counts, flags, blank and
// too long texts. Empty when the question can be shown and scored.
QStringList questionProblems(const StoredQuestion& question);

// Everything in the bank that the test run will stumble on, one line each; empty when sound.
// Measures the texts in the testing window's font, so it needs a QApplication.
QStringList checkBank(const StoredBank& bank);

// What a CSV file cannot carry back into a bank, one line for each question concerned; empty
// when an export imports back unchanged.
QStringList exportProblems(const StoredBank& bank);

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

// How many questions a test takes, and how many options and explanations it shows of each.
using data::kChoicesPerQuestion;
using data::kQuestionsPerTest;

} // namespace bank

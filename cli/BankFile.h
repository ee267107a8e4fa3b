#pragma once

#include "core/StoredBank.h"
#include "core/ToolError.h"
#include "formats/Csv.h"
#include "formats/QuestionCsv.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace bank {

// A new bank with the schema, marked as ours. Never touches a file that is already there (nor
// tables already on a server).
void createBank(const QString& path);

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

// How messages and printed tests name a bank: a file's name without its extension, or a
// server's database.
QString bankName(const QString& bank);

// Everything in the bank that the test run will stumble on, one line each; empty when sound.
// Measures the texts in the testing window's font, so it needs a QApplication.
QStringList checkBank(const StoredBank& bank);

// What a CSV file cannot carry back into a bank, one line for each question concerned; empty
// when an export imports back unchanged.
QStringList exportProblems(const StoredBank& bank);

} // namespace bank

#pragma once

#include <QByteArray>
#include <QString>

// The question bank's file format: a SQLite file with these tables. The program opens banks of
// this shape but never creates or alters one; the bank tool and the test fixtures create them.
namespace data {

// The tables and columns by name, for the program, the bank tool and the test fixtures alike.
inline const QString kQuestionTable = QStringLiteral("Т_Вопросы");
inline const QString kOptionTable = QStringLiteral("Т_Вариант");
inline const QString kExplanationTable = QStringLiteral("Т_Объяснение");
inline const QString kIdColumn = QStringLiteral("id");
inline const QString kNumberColumn = QStringLiteral("Номер");
// The question's text in the question table; the question a row belongs to in the other two.
inline const QString kQuestionColumn = QStringLiteral("Вопрос");
inline const QString kOptionColumn = QStringLiteral("Ответ");
inline const QString kExplanationColumn = QStringLiteral("Объяснение");
inline const QString kCorrectColumn = QStringLiteral("Правильный");

// The most characters a text column holds.
inline constexpr int kMaxTextLength = 255;
// A test run asks this many questions.
inline constexpr int kQuestionsPerTest = 10;

// The statements that make an empty bank.
inline QByteArray bankSchema() {
    return QStringLiteral(R"sql(
CREATE TABLE "%1" ("%4" INTEGER PRIMARY KEY AUTOINCREMENT, "%5" INTEGER, "%6" NVARCHAR(%10));
CREATE TABLE "%2" ("%4" INTEGER PRIMARY KEY AUTOINCREMENT, "%6" INTEGER, "%7" NVARCHAR(%10), "%9" BOOLEAN);
CREATE TABLE "%3" ("%4" INTEGER PRIMARY KEY AUTOINCREMENT, "%6" INTEGER, "%8" NVARCHAR(%10), "%9" BOOLEAN);
CREATE INDEX "%2_%6" ON "%2" ("%6", "%4");
CREATE INDEX "%3_%6" ON "%3" ("%6", "%4");
)sql")
        .arg(kQuestionTable, kOptionTable, kExplanationTable, kIdColumn, kNumberColumn,
             kQuestionColumn, kOptionColumn, kExplanationColumn, kCorrectColumn,
             QString::number(kMaxTextLength))
        .toUtf8();
}

// Marks a file made by the bank tool, so that other tools can tell an infotest bank.
inline constexpr int kBankApplicationId = 0x49544231; // "ITB1"
inline constexpr int kBankUserVersion = 1;

inline constexpr const char* kBankFileName = "db.mdb";

} // namespace data

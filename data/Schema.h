#pragma once

// The question bank's file format: a SQLite file with these tables. The program opens banks of
// this shape but never creates or alters one; the bank tool and the test fixtures create them.
namespace data {

inline constexpr const char* kBankSchema = R"sql(
CREATE TABLE "Т_Вопросы" ("id" INTEGER PRIMARY KEY AUTOINCREMENT, "Номер" INTEGER, "Вопрос" NVARCHAR(255));
CREATE TABLE "Т_Вариант" ("id" INTEGER PRIMARY KEY AUTOINCREMENT, "Вопрос" INTEGER, "Ответ" NVARCHAR(255), "Правильный" BOOLEAN);
CREATE TABLE "Т_Объяснение" ("id" INTEGER PRIMARY KEY AUTOINCREMENT, "Вопрос" INTEGER, "Объяснение" NVARCHAR(255), "Правильный" BOOLEAN);
CREATE INDEX "Т_Вариант_Вопрос" ON "Т_Вариант" ("Вопрос", "id");
CREATE INDEX "Т_Объяснение_Вопрос" ON "Т_Объяснение" ("Вопрос", "id");
)sql";

// Marks a file made by the bank tool, so that other tools can tell an infotest bank.
inline constexpr int kBankApplicationId = 0x49544231; // "ITB1"
inline constexpr int kBankUserVersion = 1;

inline constexpr const char* kBankFileName = "db.mdb";

} // namespace data

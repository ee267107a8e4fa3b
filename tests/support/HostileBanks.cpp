#include "tests/support/HostileBanks.h"

#include <QTest>
#include <vector>

namespace testsupport {

using data::sqlite::Statement;

namespace {

// The questions' table again, with the twelve questions copied, but "Вопрос" computed.
const char* const kComputedQuestion =
    R"sql(ALTER TABLE "Т_Вопросы" RENAME TO old;
CREATE TABLE "Т_Вопросы" ("id" INTEGER PRIMARY KEY AUTOINCREMENT, "Номер" INTEGER,
  "Вопрос" NVARCHAR(255) GENERATED ALWAYS AS ('Вопрос ' || "id") VIRTUAL);
INSERT INTO "Т_Вопросы" ("id", "Номер") SELECT "id", "Номер" FROM old; DROP TABLE old;)sql";

const char* const kComputedFlag =
    R"sql(ALTER TABLE "Т_Вариант" RENAME TO old;
CREATE TABLE "Т_Вариант" ("id" INTEGER PRIMARY KEY AUTOINCREMENT, "Вопрос" INTEGER,
  "Ответ" NVARCHAR(255), "Правильный" BOOLEAN GENERATED ALWAYS AS ("id" % 4 = 1) STORED);
INSERT INTO "Т_Вариант" ("id", "Вопрос", "Ответ") SELECT "id", "Вопрос", "Ответ" FROM old;
DROP TABLE old;)sql";

// A query without end, as a trigger's body.
const char* const kEndless = "SELECT count(*) FROM (WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL "
                             "SELECT n + 1 FROM r) SELECT n FROM r)";

} // namespace

void addHostileBankRows() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("listed");
    const QString endless = QString::fromUtf8(kEndless);
    const std::vector<HostileBank> banks{
        {"trigger deletes the rows of every question",
         R"(CREATE TRIGGER wipe AFTER UPDATE OF "Номер" ON "Т_Вопросы" BEGIN
              DELETE FROM "Т_Вариант"; DELETE FROM "Т_Объяснение"; END;)",
         {},
         {"«wipe»"}},
        {"triggers flip the marks and change texts",
         R"(CREATE TRIGGER flip AFTER UPDATE ON "Т_Вопросы" BEGIN
              UPDATE "Т_Вариант" SET "Правильный" = NOT "Правильный"; END;
            CREATE TRIGGER texts AFTER UPDATE ON "Т_Вариант" BEGIN
              UPDATE "Т_Объяснение" SET "Объяснение" = 'подменено'; END;)",
         {},
         {"«flip»", "«texts»"}},
        {"trigger adds a question to each added",
         R"(CREATE TRIGGER more AFTER INSERT ON "Т_Вопросы" BEGIN
              INSERT INTO "Т_Вопросы" ("Вопрос") VALUES ('лишний'); END;)",
         {},
         {"«more»"}},
        {"triggers run a query without end",
         QStringLiteral(
             R"(CREATE TRIGGER h1 BEFORE UPDATE ON "Т_Вопросы" BEGIN %1; END;
                CREATE TRIGGER h2 BEFORE UPDATE ON "Т_Вариант" BEGIN %1; END;
                CREATE TRIGGER h3 BEFORE INSERT ON "Т_Вопросы" BEGIN %1; END;)")
             .arg(endless),
         {},
         {"«h1»", "«h2»", "«h3»"}},
        {"trigger undoes the whole transaction",
         R"(CREATE TRIGGER undo AFTER UPDATE ON "Т_Вопросы" WHEN NEW."Номер" = 5 BEGIN
              SELECT RAISE(ROLLBACK, 'отменено'); END;
            CREATE TRIGGER refuse BEFORE INSERT ON "Т_Вариант" BEGIN
              SELECT RAISE(ABORT, 'отказано'); END;)",
         {},
         {"«undo»", "«refuse»"}},
        {"trigger writes the hidden tables of a full-text index",
         R"(CREATE VIRTUAL TABLE words USING fts5(word); INSERT INTO words VALUES ('слово');
            CREATE TRIGGER spoil AFTER UPDATE ON "Т_Вопросы" BEGIN
              DELETE FROM words_data; INSERT INTO words_content VALUES (7, 'мусор'); END;)",
         {},
         {"«spoil»", "Виртуальная таблица «words»"}},
        {"view in place of the questions",
         R"(ALTER TABLE "Т_Вопросы" RENAME TO q;
            CREATE VIEW "Т_Вопросы" AS SELECT * FROM q;)",
         QStringLiteral("Vopros: «Т_Вопросы» в этом файле — представление (VIEW), а не таблица; "
                        "программа открывает только таблицы банка"),
         {"Представление «Т_Вопросы»", "Таблица «q»"}},
        {"full-text table in place of the explanations",
         R"(DROP TABLE "Т_Объяснение";
            CREATE VIRTUAL TABLE "Т_Объяснение" USING fts5("id", "Вопрос", "Объяснение",
              "Правильный");)",
         QStringLiteral("Obyasnenie: «Т_Объяснение» в этом файле — виртуальная таблица "
                        "(virtual), а не обычная таблица банка; программа такую не открывает"),
         {"Виртуальная таблица «Т_Объяснение»"}},
        {"computed question text",
         QString::fromUtf8(kComputedQuestion),
         QStringLiteral("Vopros: поле «Вопрос» в этом файле вычисляемое (GENERATED ALWAYS), а не "
                        "хранимое; программа открывает только хранимые поля"),
         {}},
        {"computed flag",
         QString::fromUtf8(kComputedFlag),
         QStringLiteral("Variant: поле «Правильный» в этом файле вычисляемое (GENERATED ALWAYS), "
                        "а не хранимое; программа открывает только хранимые поля"),
         {}},
    };
    for (const HostileBank& bank : banks)
        QTest::newRow(bank.name) << bank.sql << bank.refusal << bank.listed;
}

BankDump dumpBank(const data::sqlite::Database& db, const QString& masked) {
    BankDump dump;
    Statement tables(db,
                     QStringLiteral("SELECT name FROM pragma_table_list WHERE schema = 'main' "
                                    "AND type IN ('table', 'shadow') AND name NOT LIKE 'sqlite%' "
                                    "ORDER BY name"));
    while (tables.step()) {
        const QString table = tables.columnText(0);
        Statement rows(db, QStringLiteral("SELECT * FROM %1").arg(data::sqlite::quoted(table)));
        QStringList& lines = dump[table];
        while (rows.step()) {
            QStringList cells;
            for (int i = 0; i < rows.columnCount(); ++i)
                cells << (rows.columnName(i) == masked ? QStringLiteral("*")
                                                       : rows.columnValue(i).toString());
            lines << cells.join(u'|');
        }
    }
    return dump;
}

} // namespace testsupport

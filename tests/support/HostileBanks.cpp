#include "tests/support/HostileBanks.h"

#include "tests/support/BankFixture.h"

#include <QTest>
#include <vector>

namespace testsupport {

using data::sqlite::Statement;

namespace {

// The questions' table again, with the twelve questions copied, but their text computed.
const char* const kComputedQuestion =
    R"sql(ALTER TABLE "{questions}" RENAME TO old;
CREATE TABLE "{questions}" ("{id}" INTEGER PRIMARY KEY AUTOINCREMENT, "{number}" INTEGER,
  "{question}" NVARCHAR({limit}) GENERATED ALWAYS AS ('Вопрос ' || "{id}") VIRTUAL);
INSERT INTO "{questions}" ("{id}", "{number}") SELECT "{id}", "{number}" FROM old; DROP TABLE old;)sql";

const char* const kComputedFlag =
    R"sql(ALTER TABLE "{options}" RENAME TO old;
CREATE TABLE "{options}" ("{id}" INTEGER PRIMARY KEY AUTOINCREMENT, "{question}" INTEGER,
  "{option}" NVARCHAR({limit}), "{correct}" BOOLEAN GENERATED ALWAYS AS ("{id}" % 4 = 1) STORED);
INSERT INTO "{options}" ("{id}", "{question}", "{option}") SELECT "{id}", "{question}", "{option}" FROM old;
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
         R"(CREATE TRIGGER wipe AFTER UPDATE OF "{number}" ON "{questions}" BEGIN
              DELETE FROM "{options}"; DELETE FROM "{explanations}"; END;)",
         {},
         {"«wipe»"}},
        {"triggers flip the marks and change texts",
         R"(CREATE TRIGGER flip AFTER UPDATE ON "{questions}" BEGIN
              UPDATE "{options}" SET "{correct}" = NOT "{correct}"; END;
            CREATE TRIGGER texts AFTER UPDATE ON "{options}" BEGIN
              UPDATE "{explanations}" SET "{explanation}" = 'подменено'; END;)",
         {},
         {"«flip»", "«texts»"}},
        {"trigger adds a question to each added",
         R"(CREATE TRIGGER more AFTER INSERT ON "{questions}" BEGIN
              INSERT INTO "{questions}" ("{question}") VALUES ('лишний'); END;)",
         {},
         {"«more»"}},
        {"triggers run a query without end",
         QStringLiteral(
             R"(CREATE TRIGGER h1 BEFORE UPDATE ON "{questions}" BEGIN %1; END;
                CREATE TRIGGER h2 BEFORE UPDATE ON "{options}" BEGIN %1; END;
                CREATE TRIGGER h3 BEFORE INSERT ON "{questions}" BEGIN %1; END;)")
             .arg(endless),
         {},
         {"«h1»", "«h2»", "«h3»"}},
        {"trigger undoes the whole transaction",
         R"(CREATE TRIGGER undo AFTER UPDATE ON "{questions}" WHEN NEW."{number}" = 5 BEGIN
              SELECT RAISE(ROLLBACK, 'отменено'); END;
            CREATE TRIGGER refuse BEFORE INSERT ON "{options}" BEGIN
              SELECT RAISE(ABORT, 'отказано'); END;)",
         {},
         {"«undo»", "«refuse»"}},
        {"trigger writes the hidden tables of a full-text index",
         R"(CREATE VIRTUAL TABLE words USING fts5(word); INSERT INTO words VALUES ('слово');
            CREATE TRIGGER spoil AFTER UPDATE ON "{questions}" BEGIN
              DELETE FROM words_data; INSERT INTO words_content VALUES (7, 'мусор'); END;)",
         {},
         {"«spoil»", "Виртуальная таблица «words»"}},
        {"view in place of the questions",
         R"(ALTER TABLE "{questions}" RENAME TO q;
            CREATE VIEW "{questions}" AS SELECT * FROM q;)",
         QStringLiteral("Vopros: «{questions}» в этом файле — представление (VIEW), а не таблица; "
                        "программа открывает только таблицы банка"),
         {"Представление «{questions}»", "Таблица «q»"}},
        {"full-text table in place of the explanations",
         R"(DROP TABLE "{explanations}";
            CREATE VIRTUAL TABLE "{explanations}" USING fts5("{id}", "{question}", "{explanation}",
              "{correct}");)",
         QStringLiteral("Obyasnenie: «{explanations}» в этом файле — виртуальная таблица "
                        "(virtual), а не обычная таблица банка; программа такую не открывает"),
         {"Виртуальная таблица «{explanations}»"}},
        {"computed question text",
         QString::fromUtf8(kComputedQuestion),
         QStringLiteral(
             "Vopros: поле «{question}» в этом файле вычисляемое (GENERATED ALWAYS), а не "
             "хранимое; программа открывает только хранимые поля"),
         {}},
        {"computed flag",
         QString::fromUtf8(kComputedFlag),
         QStringLiteral("Variant: поле «{correct}» в этом файле вычисляемое (GENERATED ALWAYS), "
                        "а не хранимое; программа открывает только хранимые поля"),
         {}},
    };
    for (const HostileBank& bank : banks) {
        QStringList listed;
        for (const QString& line : bank.listed)
            listed << withBankNames(line);
        QTest::newRow(bank.name) << withBankNames(bank.sql) << withBankNames(bank.refusal)
                                 << listed;
    }
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

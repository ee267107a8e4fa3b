// The table cursor's operations against real bank files: moving, changing, what is written to
// the file and when, conflicts with other programs, and awkward data written by them.
#include "data/DM.h"
#include "data/Errors.h"
#include "data/pg/PgEngine.h"
#include "tests/support/BankFixture.h"
#include "tests/support/PgServer.h"

#include <QFile>
#include <QtTest>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <sqlite3.h>
#include <thread>

using data::DataSetState;
using testsupport::BankEngine;
using testsupport::BankFixture;
using testsupport::QuestionRows;

namespace {

template <typename F> QString errorOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return QString();
}

// Another program's transaction that holds the bank against writes.
QString lockingSql(const BankFixture& bank, const char* onFile) {
    return bank.onServer() ? QStringLiteral("BEGIN; LOCK TABLE \"Т_Вопросы\", \"Т_Вариант\", "
                                            "\"Т_Объяснение\" IN EXCLUSIVE MODE")
                           : QString::fromLatin1(onFile);
}

// Runs SQL on the program's own connection to the server.
void onProgramsServerConnection(TDataModule2& dm, const char* sql) {
    dynamic_cast<data::PgEngine&>(dm.ADOConnection1.engine()).exec(sql);
}

// Records the events a control would see.
struct Recorder : data::DataLink {
    QStringList events;
    data::Table* table = nullptr;
    void dataEvent(data::DataEvent event, int row, data::Field*) override {
        using E = data::DataEvent;
        const int shown = table->shownCount();
        switch (event) {
        case E::RowAboutToBeInserted:
            events << QStringLiteral("+?%1/%2").arg(row).arg(shown);
            break;
        case E::RowInserted:
            events << QStringLiteral("+%1/%2").arg(row).arg(shown);
            break;
        case E::RowAboutToBeRemoved:
            events << QStringLiteral("-?%1/%2").arg(row).arg(shown);
            break;
        case E::RowRemoved:
            events << QStringLiteral("-%1/%2").arg(row).arg(shown);
            break;
        case E::RowsReset:
            events << QStringLiteral("reset/%1").arg(shown);
            break;
        default:
            break;
        }
    }
};

// The ways a write fails: another program changed the row since it was read, another program
// holds the file locked past the busy timeout, the engine refuses to give back the row just
// written, the file cannot be written. (The suite runs as root, who may write a write-protected
// file: the engine's read-only mode stands for one, with the engine's own message.)
enum class Failure { Stale, Lock, ReadBack, ReadOnly };

int denyReadingTables(void*, int action, const char* table, const char*, const char*, const char*) {
    return action == SQLITE_READ && table && std::strncmp(table, "sqlite_", 7) != 0 ? SQLITE_DENY
                                                                                    : SQLITE_OK;
}

// Brings the failure about for the program's connection; clear() ends it where it can end.
struct Injected {
    Failure failure;
    TDataModule2& dm;
    BankFixture& bank;
    Injected(Failure f, TDataModule2& d, BankFixture& b, const QString& staleSql)
        : failure(f), dm(d), bank(b) {
        switch (failure) {
        case Failure::Stale:
            bank.exec(staleSql);
            break;
        case Failure::Lock:
            dm.ADOConnection1.engine().setLockTimeout(20);
            bank.exec(lockingSql(bank, "BEGIN EXCLUSIVE"));
            break;
        case Failure::ReadBack:
            sqlite3_set_authorizer(dm.ADOConnection1.database().handle(), denyReadingTables,
                                   nullptr);
            break;
        case Failure::ReadOnly:
            if (bank.onServer())
                onProgramsServerConnection(dm, "SET default_transaction_read_only = on");
            else
                dm.ADOConnection1.database().exec("PRAGMA query_only = ON");
            break;
        }
    }
    void clear() {
        switch (failure) {
        case Failure::Stale:
            break;
        case Failure::Lock:
            bank.exec(QStringLiteral("ROLLBACK"));
            dm.ADOConnection1.engine().setLockTimeout(5000);
            break;
        case Failure::ReadBack:
            sqlite3_set_authorizer(dm.ADOConnection1.database().handle(), nullptr, nullptr);
            break;
        case Failure::ReadOnly:
            if (bank.onServer())
                onProgramsServerConnection(dm, "SET default_transaction_read_only = off");
            else
                dm.ADOConnection1.database().exec("PRAGMA query_only = OFF");
            break;
        }
    }
};

// What a failed operation must leave as it was: each table's state, current row and shown rows
// with their pending values, and the three tables of the file.
QString snapshot(TDataModule2& dm, BankFixture& bank) {
    QStringList parts;
    for (data::Table* table : {&dm.Vopros, &dm.Variant, &dm.Obyasnenie}) {
        QStringList rows;
        for (int i = 0; i < table->shownCount(); ++i) {
            data::Table::ActiveRow row(*table, i);
            QStringList cells;
            for (const auto& field : table->fields())
                cells << field->displayText();
            rows << cells.join(QLatin1Char(','));
        }
        parts << QStringLiteral("%1 state %2 at %3 modified %4: %5")
                     .arg(table->objectName())
                     .arg(int(table->state()))
                     .arg(table->currentPosition())
                     .arg(table->modified())
                     .arg(rows.join(QStringLiteral(" | ")));
    }
    for (const char* table : {"Т_Вопросы", "Т_Вариант", "Т_Объяснение"})
        parts << bank.dump(QString::fromUtf8(table));
    return parts.join(QLatin1Char('\n'));
}

// An operation of the cursor met by a failure: what is pending before it, the operation, and
// how another program makes the pending or current row stale.
struct Scenario {
    const char* name;
    std::function<void(TDataModule2&)> prepare;
    std::function<void(TDataModule2&)> operation;
    const char* staleSql; // null where no row read from the file is written
};

const QString kStaleOption =
    QStringLiteral("UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1");

const std::vector<Scenario>& scenarios() {
    using DM = TDataModule2;
    const auto editOption = [](DM& dm) {
        dm.Variant.edit();
        dm.VariantWideStringField->setValue(QStringLiteral("правка"));
    };
    static const std::vector<Scenario> list = {
        {"question moves, option edited", editOption, [](DM& dm) { dm.Vopros.next(); },
         "UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1"},
        {"question located, explanation edited",
         [](DM& dm) {
             dm.Obyasnenie.edit();
             dm.ObyasnenieWideStringField->setValue(QStringLiteral("правка"));
         },
         [](DM& dm) { dm.Vopros.locate(QStringLiteral("Вопрос"), QStringLiteral("Вопрос 2")); },
         "UPDATE \"Т_Объяснение\" SET \"Правильный\" = false WHERE id = 1"},
        {"question deleted, option edited", editOption, [](DM& dm) { dm.Vopros.remove(); },
         "UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1"},
        {"question appended, option edited", editOption, [](DM& dm) { dm.Vopros.append(); },
         "UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1"},
        {"new question posted, an option added meanwhile",
         [](DM& dm) {
             dm.Vopros.append();
             dm.Variant.append();
             dm.VariantWideStringField->setValue(QStringLiteral("ничей"));
             dm.VoprosWideStringField->setValue(QStringLiteral("новый"));
         },
         [](DM& dm) { dm.Vopros.post(); }, nullptr},
        {"new option posted",
         [](DM& dm) {
             dm.Variant.append();
             dm.VariantWideStringField->setValue(QStringLiteral("новый"));
         },
         [](DM& dm) { dm.Variant.post(); }, nullptr},
        {"edited option posted", editOption, [](DM& dm) { dm.Variant.post(); },
         "UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1"},
        {"option appended, another edited", editOption, [](DM& dm) { dm.Variant.append(); },
         "UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1"},
        {"option deleted", [](DM&) {}, [](DM& dm) { dm.Variant.remove(); },
         "UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1"},
    };
    return list;
}

} // namespace

Q_DECLARE_METATYPE(Failure)

namespace {

// A value another program stored, what the cursor does with it, and what comes out of it: the
// result or the error.
struct ExactCase {
    const char* name;
    const char* stored; // null where the bank is left as made
    std::function<QString(TDataModule2&, BankFixture&)> action;
    QString outcome;
    // What a server cannot hold at all (a 64-bit number in an integer column, a blob in a
    // text column, a collation without case) is tried on a file only.
    bool fileOnly = false;
};

QString found(bool yes) {
    return yes ? QStringLiteral("found") : QStringLiteral("not found");
}

void postNumber(TDataModule2& dm, int number) {
    dm.Vopros.edit();
    dm.Vopros.setFieldValue(QStringLiteral("Номер"), number);
    dm.Vopros.post();
}

QString storedNumber(BankFixture& bank) {
    return bank
        .scalar(bank.onServer()
                    ? QStringLiteral("SELECT pg_typeof(\"Номер\") || ' ' || \"Номер\" "
                                     "FROM \"Т_Вопросы\"")
                    : QStringLiteral("SELECT typeof(\"Номер\") || ' ' || \"Номер\" FROM "
                                     "\"Т_Вопросы\""))
        .toString();
}

const std::vector<ExactCase>& exactCases() {
    using DM = TDataModule2;
    const char* const bigNumber = "UPDATE \"Т_Вопросы\" SET \"Номер\" = 8589934593";
    const char* const blobOption = "UPDATE \"Т_Вариант\" SET \"Ответ\" = X'41FF' WHERE id = 1";
    const QString outOfRange = QStringLiteral(
        "Vopros: Value 8589934593 of field 'Номер' of table 'Т_Вопросы' is out of the range of a "
        "32-bit integer");
    static const std::vector<ExactCase> list = {
        {"64-bit number is not cut to 32 bits", bigNumber,
         [](DM& dm, BankFixture&) { return found(dm.Vopros.locate(QStringLiteral("Номер"), 1)); },
         QStringLiteral("not found"), true},
        {"64-bit number read through the 32-bit field", bigNumber,
         [](DM& dm, BankFixture&) {
             return dm.Vopros.fieldValue(QStringLiteral("Номер")).toString();
         },
         outOfRange, true},
        {"64-bit number written to the 32-bit field", nullptr,
         [](DM& dm, BankFixture&) {
             dm.Vopros.edit();
             dm.Vopros.setFieldValue(QStringLiteral("Номер"), 8589934593LL);
             return QString();
         },
         outOfRange},
        {"text 01 is not the number 1", "UPDATE \"Т_Вопросы\" SET \"Вопрос\" = '01'",
         [](DM& dm, BankFixture&) { return found(dm.Vopros.locate(QStringLiteral("Вопрос"), 1)); },
         QStringLiteral("not found")},
        {"blob flagged and written back as a blob", blobOption,
         [](DM& dm, BankFixture& bank) {
             dm.Variant.edit();
             dm.VariantBooleanField->setValue(false);
             dm.Variant.post();
             return bank
                 .scalar(QStringLiteral("SELECT typeof(\"Ответ\") || ' ' || hex(\"Ответ\") || ' ' "
                                        "|| \"Правильный\" FROM \"Т_Вариант\" WHERE id = 1"))
                 .toString();
         },
         QStringLiteral("blob 41FF 0"), true},
        {"blob row deleted", blobOption,
         [](DM& dm, BankFixture& bank) {
             dm.Variant.remove();
             return QStringLiteral("%1 left").arg(bank.count(QStringLiteral("Т_Вариант")));
         },
         QStringLiteral("3 left"), true},
        // A posted number is not read back from the file: the cursor must hold what the file
        // does, or the second post would find the row changed.
        {"number posted twice stays an integer", nullptr,
         [](DM& dm, BankFixture& bank) {
             postNumber(dm, 7);
             postNumber(dm, 8);
             return storedNumber(bank);
         },
         QStringLiteral("integer 8")},
        {"statement with numbered values, the same on either engine", nullptr,
         [](DM& dm, BankFixture&) {
             QStringList rows;
             dm.ADOConnection1.engine().query(
                 QStringLiteral(
                     "SELECT \"Вопрос\", coalesce(\"Номер\", 0) + $2 FROM \"Т_Вопросы\" WHERE "
                     "\"Вопрос\" <> $1 AND \"id\" = $2"),
                 {QStringLiteral("другой"), 1}, [&](const data::RowData& row) {
                     rows << row.value(0).toString() + u' ' + row.value(1).toString();
                 });
             return rows.join(u';');
         },
         QStringLiteral("Вопрос 1 1")},
        {"text changed only in case is a change",
         "ALTER TABLE \"Т_Вопросы\" RENAME TO old; CREATE TABLE \"Т_Вопросы\" (\"id\" INTEGER "
         "PRIMARY KEY AUTOINCREMENT, \"Номер\" INTEGER, \"Вопрос\" NVARCHAR(255) COLLATE "
         "NOCASE); INSERT INTO \"Т_Вопросы\" SELECT id, \"Номер\", 'ABC' FROM old; DROP TABLE old",
         [](DM& dm, BankFixture& bank) {
             // Another program lowers the texts after they were read.
             bank.exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Вопрос\" = lower(\"Вопрос\")"));
             postNumber(dm, 7);
             return storedNumber(bank);
         },
         QStringLiteral("Row cannot be located for updating. Some values may have been changed "
                        "since it was last read"),
         true},
    };
    return list;
}

} // namespace

// The suite runs once per engine (main below): the same cases, the same expected results, except
// where a case names the file's own behaviour.
class TestTable : public QObject {
    Q_OBJECT
public:
    explicit TestTable(BankEngine engine) : engine_(engine) {}

private slots:
    void init() { bank.emplace(true, engine_); }
    void cleanup() { bank.reset(); }

    void moving();
    void endlessStatementEnded();
    void locateMissKeepsRow();
    void editOnEmptyTableStartsNewRow();
    void appendPostsPendingChangeFirst();
    void untouchedNewRowDropped();
    void explicitPostOfUntouchedRowWrites();
    void postedRowGetsIdAtOnce();
    void deleteMovesToFollowingThenPreceding();
    void deleteWhileInsertingDropsNewRow();
    void errorsDetectedByTheDataset();
    void nullValues();
    void postChangingNothingWritesNothing();
    void cancelRestoresRow();
    void changesPersistAcrossReopening();
    void updateConflictWithAnotherProgram();
    void deleteConflictWithAnotherProgram();
    void anotherProgramsRowsNotSeenUntilReopened();
    void readOnlyFileReadsButDoesNotWrite();
    void waitsOutABriefLock();
    void longAndBrokenTextsFromOtherPrograms();
    void valuesAreBoundNotSpliced();
    void activeRowReadsPaintedRow();
    void notificationsCountRowsLikeAModel();
    void failedOperationChangesNothing_data();
    void failedOperationChangesNothing();
    void rowsAddedAfterAFailedMoveStayWithTheirQuestion_data();
    void rowsAddedAfterAFailedMoveStayWithTheirQuestion();
    void exactValues_data();
    void exactValues();
    void pupilMayNotChangeTheBank();
    void serverRestartedInTheMiddleOfADraw();
    void gatheredPostsWrittenAllOrNone_data();
    void gatheredPostsWrittenAllOrNone();
    void pipelineLeftWhenAResultThrows();

private:
    BankEngine engine_;
    // Each case's fresh bank, the working directory while the case runs.
    std::optional<BankFixture> bank;
};

// For a case about the file's own behaviour, or the server's.
#define FILE_ONLY(why)                                                                             \
    if (bank->onServer())                                                                          \
    QSKIP(why)
#define SERVER_ONLY()                                                                              \
    if (!bank->onServer())                                                                         \
    QSKIP("a server's own behaviour")

void TestTable::moving() {
    bank->addStandardQuestions(3);
    TDataModule2 dm;
    data::Table& t = dm.Vopros;
    t.next();
    t.next();
    QCOMPARE(t.recNo(), 3);
    QVERIFY(!t.eof());
    t.next();
    QCOMPARE(t.recNo(), 3);
    QVERIFY(t.eof());
    t.first();
    QCOMPARE(t.recNo(), 1);
    t.moveTo(1);
    QCOMPARE(t.fieldValue(QStringLiteral("Вопрос")).toString(), QStringLiteral("Вопрос 2"));
}

void TestTable::locateMissKeepsRow() {
    bank->addQuestion(BankFixture::standardQuestion(1), 7);
    bank->addQuestion(BankFixture::standardQuestion(2), 3);
    TDataModule2 dm;
    QVERIFY(dm.Vopros.locate(QStringLiteral("Номер"), 3));
    QCOMPARE(dm.Vopros.recNo(), 2);
    QVERIFY(!dm.Vopros.locate(QStringLiteral("Номер"), 99));
    QCOMPARE(dm.Vopros.recNo(), 2);
}

void TestTable::editOnEmptyTableStartsNewRow() {
    bank->addQuestion(QuestionRows{QStringLiteral("Пустой"), {}, {}});
    TDataModule2 dm;
    dm.Variant.edit();
    QCOMPARE(dm.Variant.state(), DataSetState::Insert);
    QCOMPARE(dm.VariantIntegerField->value().toInt(), 1);
    QCOMPARE(dm.Variant.recNo(), -1);
}

void TestTable::appendPostsPendingChangeFirst() {
    bank->addStandardQuestions(1);
    TDataModule2 dm;
    dm.Variant.edit();
    dm.VariantWideStringField->setValue(QStringLiteral("изменено"));
    dm.Variant.append();
    QCOMPARE(bank->scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = 1")),
             QVariant(QStringLiteral("изменено")));
    QCOMPARE(dm.Variant.state(), DataSetState::Insert);
    QCOMPARE(dm.Variant.shownCount(), 5);
    QCOMPARE(dm.Variant.recordCount(), 4);
}

void TestTable::untouchedNewRowDropped() {
    bank->addStandardQuestions(2);
    TDataModule2 dm;
    dm.Vopros.next();
    dm.Variant.append(); // only the link is set
    dm.Vopros.first();
    QCOMPARE(bank->count(QStringLiteral("Т_Вариант")), 8);
    dm.Vopros.append();
    dm.Vopros.first();
    QCOMPARE(bank->count(QStringLiteral("Т_Вопросы")), 2);
    QCOMPARE(dm.Vopros.recordCount(), 2);
    QCOMPARE(dm.Vopros.recNo(), 1);
}

void TestTable::explicitPostOfUntouchedRowWrites() {
    bank->addStandardQuestions(1);
    TDataModule2 dm;
    dm.Variant.append();
    dm.Variant.post();
    QCOMPARE(bank->count(QStringLiteral("Т_Вариант")), 5);
}

void TestTable::postedRowGetsIdAtOnce() {
    bank->addStandardQuestions(2);
    TDataModule2 dm;
    dm.Vopros.append();
    QVERIFY(dm.Voprosid->value().isNull());
    dm.VoprosWideStringField->setValue(QStringLiteral(" "));
    dm.Vopros.post();
    QCOMPARE(dm.Voprosid->value().toInt(), 3);
    QVERIFY(dm.VoprosIntegerField->value().isNull());
    QCOMPARE(dm.Vopros.recNo(), 3);
    QVERIFY(dm.Variant.isEmpty());
}

void TestTable::deleteMovesToFollowingThenPreceding() {
    bank->addStandardQuestions(3);
    TDataModule2 dm;
    dm.Vopros.moveTo(1);
    dm.Vopros.remove();
    QCOMPARE(dm.Vopros.fieldValue(QStringLiteral("Вопрос")).toString(), QStringLiteral("Вопрос 3"));
    dm.Vopros.remove();
    QCOMPARE(dm.Vopros.fieldValue(QStringLiteral("Вопрос")).toString(), QStringLiteral("Вопрос 1"));
    QCOMPARE(dm.Variant.fieldValue(QStringLiteral("Ответ")).toString(),
             QStringLiteral("Ответ 1.1"));
    dm.Vopros.remove();
    QVERIFY(dm.Vopros.isEmpty());
    QCOMPARE(dm.Vopros.recNo(), -1);
    QCOMPARE(bank->count(QStringLiteral("Т_Вопросы")), 0);
    // A question's options and explanations stay when it goes.
    QCOMPARE(bank->count(QStringLiteral("Т_Вариант")), 12);
}

void TestTable::deleteWhileInsertingDropsNewRow() {
    bank->addStandardQuestions(1);
    TDataModule2 dm;
    dm.Variant.next();
    dm.Variant.insert();
    QCOMPARE(dm.Variant.currentPosition(), 1);
    dm.VariantWideStringField->setValue(QStringLiteral("новый"));
    dm.Variant.remove();
    QCOMPARE(bank->count(QStringLiteral("Т_Вариант")), 4);
    QCOMPARE(dm.Variant.shownCount(), 4);
    QCOMPARE(dm.Variant.recNo(), 2);
}

void TestTable::errorsDetectedByTheDataset() {
    bank->addQuestion(QuestionRows{QStringLiteral("Пустой"), {}, {}});
    TDataModule2 dm;
    QCOMPARE(errorOf([&] { dm.Variant.remove(); }),
             QStringLiteral("Variant: Cannot perform this operation on an empty dataset"));
    QCOMPARE(errorOf([&] { dm.Vopros.post(); }),
             QStringLiteral("Vopros: Dataset not in edit or insert mode"));
    QCOMPARE(errorOf([&] { dm.VoprosWideStringField->setValue(QStringLiteral("x")); }),
             QStringLiteral("Vopros: Dataset not in edit or insert mode"));
    QCOMPARE(errorOf([&] { dm.Vopros.fieldValue(QStringLiteral("Нет такого")); }),
             QStringLiteral("Vopros: Field 'Нет такого' not found"));
    dm.Vopros.edit();
    QCOMPARE(errorOf([&] { dm.Voprosid->setValue(5); }),
             QStringLiteral("Vopros: Field 'id' cannot be modified"));
}

void TestTable::nullValues() {
    bank->addQuestion(QuestionRows{QString(), {{QString(), true}}, {}});
    bank->exec(QStringLiteral("UPDATE \"Т_Вариант\" SET \"Правильный\" = NULL"));
    TDataModule2 dm;
    QVERIFY(dm.Vopros.fieldValue(QStringLiteral("Вопрос")).isNull());
    QCOMPARE(
        errorOf([&] { data::variantToString(dm.Variant.fieldValue(QStringLiteral("Ответ"))); }),
        QStringLiteral("Could not convert variant of type (Null) into type (String)"));
    QCOMPARE(errorOf([&] { dm.VariantWideStringField->asString(); }),
             QStringLiteral("Could not convert variant of type (Null) into type (String)"));
    QVERIFY(!dm.VariantBooleanField->asBoolean());
    QCOMPARE(dm.VariantBooleanField->displayText(), QString());
    // Empty detail table: a read gives null too.
    QVERIFY(dm.Obyasnenie.fieldValue(QStringLiteral("Объяснение")).isNull());
    dm.Variant.edit();
    dm.VariantBooleanField->setValue(true);
    dm.Variant.post();
    QCOMPARE(dm.VariantBooleanField->displayText(), QStringLiteral("True"));
    dm.Variant.edit();
    dm.VariantBooleanField->setValue(QVariant());
    dm.Variant.post();
    QVERIFY(bank->scalar(QStringLiteral("SELECT \"Правильный\" FROM \"Т_Вариант\"")).isNull());
}

// Nothing a bank carries runs on our statements any more; should a statement still run without
// end, it is ended with a message instead of freezing the window.
void TestTable::endlessStatementEnded() {
    FILE_ONLY("the file engine's own time limit; a server ends its statements itself");
    TDataModule2 dm;
    data::sqlite::Database& db = dm.ADOConnection1.database();
    db.setStatementTimeLimit(50);
    const QString message = errorOf([&] {
        data::sqlite::Statement endless(db, QStringLiteral("WITH RECURSIVE r(n) AS (SELECT 1 "
                                                           "UNION ALL SELECT n + 1 FROM r) "
                                                           "SELECT count(*) FROM r"));
        endless.step();
    });
    QVERIFY2(message.startsWith(QStringLiteral("Запрос к банку шёл дольше 0.05 с и прерван")),
             qPrintable(message));
    dm.Vopros.append();
    dm.VoprosWideStringField->setValue(QStringLiteral("После"));
    dm.Vopros.post();
    QCOMPARE(bank->count(QStringLiteral("Т_Вопросы")), qint64(1));
}

void TestTable::postChangingNothingWritesNothing() {
    FILE_ONLY("counts the writes with the file engine's update hook");
    bank->addQuestion(BankFixture::standardQuestion(1), 1);
    bank->addQuestion(BankFixture::standardQuestion(2), 2);
    TDataModule2 dm;
    const testsupport::WriteCounter writes(dm.ADOConnection1.database());
    // A renumbering of an already numbered bank->
    dm.Vopros.first();
    for (int i = 1; i <= 2; ++i) {
        dm.Vopros.edit();
        dm.VoprosIntegerField->setValue(i);
        dm.Vopros.post();
        dm.Vopros.next();
    }
    QCOMPARE(writes.count(), 0);
    dm.Vopros.first();
    dm.Vopros.edit();
    dm.VoprosIntegerField->setValue(5);
    dm.Vopros.post();
    QCOMPARE(writes.count(), 1);
    QCOMPARE(
        bank->scalar(QStringLiteral("SELECT \"Номер\" FROM \"Т_Вопросы\" WHERE id = 1")).toInt(),
        5);
}

void TestTable::cancelRestoresRow() {
    bank->addStandardQuestions(1);
    TDataModule2 dm;
    dm.Variant.edit();
    dm.VariantWideStringField->setValue(QStringLiteral("передумал"));
    dm.Variant.cancel();
    QCOMPARE(dm.Variant.fieldValue(QStringLiteral("Ответ")).toString(),
             QStringLiteral("Ответ 1.1"));
    QCOMPARE(dm.Variant.state(), DataSetState::Browse);
}

void TestTable::changesPersistAcrossReopening() {
    bank->addStandardQuestions(2);
    {
        TDataModule2 dm;
        dm.Vopros.next();
        dm.Variant.append();
        dm.VariantWideStringField->setValue(QStringLiteral("пятый"));
        dm.VariantBooleanField->setValue(true);
        dm.Variant.post();
        dm.Vopros.first();
        dm.Vopros.remove();
    }
    TDataModule2 dm;
    QCOMPARE(dm.Vopros.recordCount(), 1);
    QCOMPARE(dm.Variant.recordCount(), 5);
    dm.Variant.last();
    QCOMPARE(dm.VariantWideStringField->asString(), QStringLiteral("пятый"));
    QVERIFY(dm.VariantBooleanField->asBoolean());
}

void TestTable::updateConflictWithAnotherProgram() {
    bank->addStandardQuestions(1);
    TDataModule2 dm;
    bank->exec(QStringLiteral("UPDATE \"Т_Вариант\" SET \"Ответ\" = 'чужая правка' WHERE id = 1"));
    dm.Variant.edit();
    dm.VariantBooleanField->setValue(false);
    const QString error = errorOf([&] { dm.Variant.post(); });
    QVERIFY2(error.startsWith(QStringLiteral("Row cannot be located for updating")),
             qPrintable(error));
    QCOMPARE(dm.Variant.state(), DataSetState::Edit);
    QCOMPARE(bank->scalar(QStringLiteral("SELECT \"Ответ\" || CAST(\"Правильный\" AS INTEGER) FROM "
                                         "\"Т_Вариант\" WHERE id = 1")),
             QVariant(QStringLiteral("чужая правка1")));
}

void TestTable::deleteConflictWithAnotherProgram() {
    bank->addStandardQuestions(2);
    TDataModule2 dm;
    bank->exec(QStringLiteral("DELETE FROM \"Т_Вопросы\" WHERE id = 1;"
                              "INSERT INTO \"Т_Вопросы\" (id, \"Вопрос\") VALUES (1, 'другой')"));
    QVERIFY(!errorOf([&] { dm.Vopros.remove(); }).isEmpty());
    QCOMPARE(bank->count(QStringLiteral("Т_Вопросы")), 2);
    QCOMPARE(dm.Vopros.recordCount(), 2);
}

void TestTable::anotherProgramsRowsNotSeenUntilReopened() {
    bank->addStandardQuestions(1);
    TDataModule2 first;
    TDataModule2 second;
    second.Vopros.append();
    second.VoprosWideStringField->setValue(QStringLiteral("из второго"));
    second.Vopros.post();
    QCOMPARE(first.Vopros.recordCount(), 1);
    TDataModule2 third;
    QCOMPARE(third.Vopros.recordCount(), 2);
}

void TestTable::readOnlyFileReadsButDoesNotWrite() {
    FILE_ONLY("file permissions");
    if (geteuid() == 0)
        QSKIP("root writes to write-protected files");
    bank->addStandardQuestions(1);
    QFile::setPermissions(bank->bankPath(), QFile::ReadOwner);
    TDataModule2 dm;
    QCOMPARE(dm.Vopros.recordCount(), 1);
    dm.Vopros.edit();
    dm.VoprosWideStringField->setValue(QStringLiteral("нельзя"));
    QCOMPARE(errorOf([&] { dm.Vopros.post(); }),
             QStringLiteral("attempt to write a readonly database"));
}

void TestTable::waitsOutABriefLock() {
    bank->addStandardQuestions(1);
    TDataModule2 dm;
    bank->exec(lockingSql(*bank, "BEGIN IMMEDIATE"));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        bank->exec(QStringLiteral("COMMIT"));
    });
    dm.Vopros.edit();
    dm.VoprosIntegerField->setValue(1);
    const QString error = errorOf([&] { dm.Vopros.post(); });
    release.join();
    QCOMPARE(error, QString());
    QCOMPARE(bank->scalar(QStringLiteral("SELECT \"Номер\" FROM \"Т_Вопросы\"")).toInt(), 1);
}

void TestTable::longAndBrokenTextsFromOtherPrograms() {
    FILE_ONLY("a server holds no text that is not UTF-8");
    const QString longText = QString(400, QChar(u'ж'));
    bank->addQuestion(QuestionRows{longText, {{QStringLiteral("a"), true}}, {}});
    bank->exec(QStringLiteral("UPDATE \"Т_Вариант\" SET \"Ответ\" = CAST(X'41FF42' AS TEXT)"));
    TDataModule2 dm;
    QCOMPARE(dm.VoprosWideStringField->asString(), longText);
    QCOMPARE(dm.VariantWideStringField->asString().size(), 3);
    // Flagging the row with the broken text must not be taken for somebody else's change.
    dm.Variant.edit();
    dm.VariantBooleanField->setValue(false);
    QCOMPARE(errorOf([&] { dm.Variant.post(); }), QString());
    QCOMPARE(bank->scalar(QStringLiteral("SELECT hex(\"Ответ\") || \"Правильный\" FROM "
                                         "\"Т_Вариант\"")),
             QVariant(QStringLiteral("41FF420")));
}

void TestTable::valuesAreBoundNotSpliced() {
    bank->addStandardQuestions(1);
    TDataModule2 dm;
    const QString nasty = QStringLiteral("x'); DROP TABLE \"Т_Вариант\"; --\"");
    dm.Vopros.edit();
    dm.VoprosWideStringField->setValue(nasty);
    dm.Vopros.post();
    QCOMPARE(bank->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\"")), QVariant(nasty));
    QCOMPARE(bank->count(QStringLiteral("Т_Вариант")), 4);
}

void TestTable::activeRowReadsPaintedRow() {
    bank->addStandardQuestions(3);
    TDataModule2 dm;
    {
        data::Table::ActiveRow painted(dm.Vopros, 2);
        QCOMPARE(dm.Vopros.recNo(), 3);
        QCOMPARE(dm.VoprosWideStringField->asString(), QStringLiteral("Вопрос 3"));
        // The details still follow the current question, not the painted one.
        QCOMPARE(dm.VariantWideStringField->asString(), QStringLiteral("Ответ 1.1"));
    }
    QCOMPARE(dm.Vopros.recNo(), 1);
    dm.Vopros.append();
    data::Table::ActiveRow painted(dm.Vopros, 0);
    QCOMPARE(dm.Vopros.recNo(), -1);
}

void TestTable::notificationsCountRowsLikeAModel() {
    bank->addStandardQuestions(2);
    TDataModule2 dm;
    Recorder recorder;
    recorder.table = &dm.Variant;
    dm.Variant_DS.addLink(&recorder);
    dm.Variant.append();
    dm.Variant.cancel();
    dm.Variant.remove();
    dm.Vopros.next();
    dm.Variant_DS.removeLink(&recorder);
    QCOMPARE(recorder.events,
             (QStringList{QStringLiteral("+?4/4"), QStringLiteral("+4/5"), QStringLiteral("-?4/5"),
                          QStringLiteral("-4/4"), QStringLiteral("-?0/4"), QStringLiteral("-0/3"),
                          QStringLiteral("reset/4")}));
}

void TestTable::failedOperationChangesNothing_data() {
    QTest::addColumn<int>("scenario");
    QTest::addColumn<Failure>("failure");
    const std::pair<Failure, const char*> failures[] = {{Failure::Stale, "stale row"},
                                                        {Failure::Lock, "lock past timeout"},
                                                        {Failure::ReadBack, "failing read-back"},
                                                        {Failure::ReadOnly, "read-only file"}};
    for (int i = 0; i < int(scenarios().size()); ++i)
        for (const auto& [failure, name] : failures)
            if ((failure != Failure::Stale || scenarios()[size_t(i)].staleSql) &&
                (failure != Failure::ReadBack || engine_ == BankEngine::File))
                QTest::addRow("%s, %s", scenarios()[size_t(i)].name, name) << i << failure;
}

// The operation throws and leaves cursor, details and file as they were; once the failure is
// over, the same operation succeeds and writes each row once.
void TestTable::failedOperationChangesNothing() {
    QFETCH(int, scenario);
    QFETCH(Failure, failure);
    const Scenario& s = scenarios()[size_t(scenario)];
    bank->addStandardQuestions(2);
    TDataModule2 dm;
    s.prepare(dm);
    Injected injected(failure, dm, *bank, QString::fromUtf8(s.staleSql ? s.staleSql : ""));
    const QString before = snapshot(dm, *bank);
    QVERIFY(!errorOf([&] { s.operation(dm); }).isEmpty());
    QCOMPARE(snapshot(dm, *bank), before);
    if (failure == Failure::Stale)
        return;
    injected.clear();
    QCOMPARE(errorOf([&] { s.operation(dm); }), QString());
    QCOMPARE(bank->scalar(QStringLiteral("SELECT count(*) - count(DISTINCT \"Ответ\") FROM "
                                         "\"Т_Вариант\""))
                 .toInt(),
             0);
    // The details show the rows of the question that is current now.
    for (int i = 0; i < dm.Variant.recordCount(); ++i) {
        data::Table::ActiveRow row(dm.Variant, i);
        QCOMPARE(dm.VariantIntegerField->value(), dm.Voprosid->value());
    }
}

void TestTable::rowsAddedAfterAFailedMoveStayWithTheirQuestion_data() {
    QTest::addColumn<Failure>("failure");
    QTest::newRow("stale row") << Failure::Stale;
    QTest::newRow("lock past timeout") << Failure::Lock;
    QTest::newRow("read-only file") << Failure::ReadOnly;
}

// A pending answer option keeps the question from moving when it cannot be posted: the options
// and explanations added next belong to the question still shown, and after a move that
// succeeds, to the new one.
void TestTable::rowsAddedAfterAFailedMoveStayWithTheirQuestion() {
    QFETCH(Failure, failure);
    bank->addStandardQuestions(2);
    TDataModule2 dm;
    dm.Variant.edit();
    dm.VariantWideStringField->setValue(QStringLiteral("правка"));
    Injected injected(failure, dm, *bank, kStaleOption);
    QVERIFY(!errorOf([&] { dm.Vopros.next(); }).isEmpty());
    injected.clear();
    if (failure == Failure::Stale)
        dm.Variant.cancel(); // the teacher gives the edit up with Esc
    const auto add = [&](const QString& text) {
        const QVariant question = dm.Voprosid->value();
        for (data::Table* table : {&dm.Variant, &dm.Obyasnenie}) {
            table->append();
            table->fields()[2]->setValue(text);
            table->post();
            QCOMPARE(bank->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"%1\" WHERE id = ?")
                                      .arg(table->tableName()),
                                  {table->fields()[0]->value()}),
                     QVariant(question.toLongLong()));
        }
    };
    add(QStringLiteral("после отказа"));
    dm.Vopros.next();
    QCOMPARE(dm.Voprosid->value().toInt(), 2);
    add(QStringLiteral("после перехода"));
    QCOMPARE(dm.Variant.recordCount(), 5);
    QCOMPARE(dm.Obyasnenie.recordCount(), 5);
}

void TestTable::exactValues_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(exactCases().size()); ++i)
        QTest::newRow(exactCases()[size_t(i)].name) << i;
}

void TestTable::exactValues() {
    QFETCH(int, index);
    const ExactCase& c = exactCases()[size_t(index)];
    if (c.fileOnly && bank->onServer())
        QSKIP("a value only a file can hold");
    bank->addStandardQuestions(1);
    if (c.stored)
        bank->exec(QString::fromUtf8(c.stored));
    TDataModule2 dm;
    QString result;
    const QString error = errorOf([&] { result = c.action(dm, *bank); });
    QCOMPARE(error.isEmpty() ? result : error, c.outcome);
}

// The server's roles: a pupil may read the bank but its marks and number the questions, nothing
// more; the tables open without the marks, which read as null.
void TestTable::pupilMayNotChangeTheBank() {
    SERVER_ONLY();
    bank->addStandardQuestions(1);
    bank->exec(QStringLiteral(
        "DO $$ BEGIN CREATE ROLE pupil LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$;"
        "GRANT USAGE ON SCHEMA public TO pupil;"
        "GRANT SELECT ON \"Т_Вопросы\" TO pupil;"
        "GRANT SELECT (\"id\", \"Вопрос\", \"Ответ\") ON \"Т_Вариант\" TO pupil;"
        "GRANT SELECT (\"id\", \"Вопрос\", \"Объяснение\") ON \"Т_Объяснение\" TO pupil;"
        "GRANT UPDATE (\"Номер\") ON \"Т_Вопросы\" TO pupil"));
    QVERIFY(TDataModule2().ADOConnection1.engine().mayEditBank());
    qputenv("INFOTEST_BANK_URL",
            testsupport::PgServer::shared().url(QStringLiteral("pupil")).toUtf8());
    TDataModule2 dm;
    QVERIFY(!dm.ADOConnection1.engine().mayEditBank());
    QVERIFY(!dm.VariantWideStringField->value().isNull() &&
            dm.VariantBooleanField->value().isNull());
    postNumber(dm, 1);
    dm.Vopros.edit();
    dm.VoprosWideStringField->setValue(QStringLiteral("подмена"));
    const QString error = errorOf([&] { dm.Vopros.post(); });
    QVERIFY2(error.startsWith(QStringLiteral("Изменять банк вопросов может только учитель")),
             qPrintable(error));
    QCOMPARE(dm.Vopros.state(), DataSetState::Edit);
    QCOMPARE(bank->dump(QStringLiteral("Т_Вопросы")), QStringLiteral("1,1,'Вопрос 1'"));
}

// The server goes down and comes back while a draw numbers the questions in one transaction:
// none of the numbers is kept, the draw reports the lost connection, and the next operation
// connects again.
void TestTable::serverRestartedInTheMiddleOfADraw() {
    SERVER_ONLY();
    bank->addStandardQuestions(6);
    TDataModule2 dm;
    QString error;
    {
        data::CommitOnUnwindScope scope(dm.ADOConnection1);
        error = errorOf([&] {
            for (int i = 1; i <= 6; ++i, dm.Vopros.next()) {
                if (i == 4) {
                    testsupport::PgServer::shared().stopImmediately();
                    testsupport::PgServer::shared().start();
                }
                postNumber(dm, i);
            }
        });
    }
    QVERIFY2(error.startsWith(QStringLiteral("Связь с сервером банка вопросов потеряна")),
             qPrintable(error));
    QCOMPARE(bank->scalar(QStringLiteral("SELECT count(\"Номер\") FROM \"Т_Вопросы\"")).toInt(), 0);
    dm.Vopros.cancel();
    postNumber(dm, 40);
    QCOMPARE(
        bank->scalar(QStringLiteral("SELECT \"Номер\" FROM \"Т_Вопросы\" WHERE id = 4")).toInt(),
        40);
}

void TestTable::gatheredPostsWrittenAllOrNone_data() {
    QTest::addColumn<QString>("interruption");
    QTest::addColumn<bool>("written");
    QTest::newRow("none") << QString() << true;
    QTest::newRow("row changed by another program")
        << QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Вопрос\" = 'чужая правка' WHERE id = 5")
        << false;
    QTest::newRow("row deleted by another program")
        << QStringLiteral("DELETE FROM \"Т_Вопросы\" WHERE id = 6") << false;
    if (engine_ == BankEngine::Server)
        QTest::newRow("server restarted") << QStringLiteral("restart") << false;
}

// Gathered posts are written whole or not at all: after a refusal the bank and the cursor hold
// the rows as read, and the next write (on a server: a new connection) succeeds.
void TestTable::gatheredPostsWrittenAllOrNone() {
    QFETCH(QString, interruption);
    QFETCH(bool, written);
    bank->addStandardQuestions(6);
    TDataModule2 dm;
    QString error;
    {
        data::CommitOnUnwindScope scope(dm.ADOConnection1);
        data::Table::PostBatch batch(dm.Vopros);
        for (int i = 1; i <= 6; ++i, dm.Vopros.next())
            postNumber(dm, i);
        if (interruption == QLatin1String("restart")) {
            testsupport::PgServer::shared().stopImmediately();
            testsupport::PgServer::shared().start();
        } else if (!interruption.isEmpty()) {
            bank->exec(interruption);
        }
        bool committed = false;
        error = errorOf([&] { committed = batch.commit(); });
        QCOMPARE(committed, written);
    }
    QCOMPARE(error.isEmpty(), interruption != QLatin1String("restart"));
    QCOMPARE(bank->scalar(QStringLiteral("SELECT count(\"Номер\") FROM \"Т_Вопросы\"")).toInt(),
             written ? 6 : 0);
    dm.Vopros.first();
    QCOMPARE(dm.VoprosIntegerField->value(), written ? QVariant(1) : QVariant());
    postNumber(dm, 40);
    QCOMPARE(bank->scalar(QStringLiteral("SELECT \"Номер\" FROM \"Т_Вопросы\" WHERE id = 1")),
             QVariant(qint64(40)));
}

// A result that throws while the answers of a pipeline are read leaves the connection taking
// plain statements; the connection itself is never copied (it would be closed twice).
void TestTable::pipelineLeftWhenAResultThrows() {
    SERVER_ONLY();
    static_assert(!std::is_copy_constructible_v<data::PgEngine>);
    TDataModule2 dm;
    auto& engine = dynamic_cast<data::PgEngine&>(dm.ADOConnection1.engine());
    const QByteArray select = "SELECT $1::int";
    const auto send = [&](std::size_t i, data::PgEngine::Parameters& parameters) {
        parameters.add(QByteArray::number(qint64(i)));
        return select;
    };
    const QString error = errorOf([&] {
        engine.pipeline(3, send, [](std::size_t, pg_result*) { throw EDatabaseError("отказ"); });
    });
    QCOMPARE(error, QStringLiteral("отказ"));
    QVERIFY(engine.connected());
    QCOMPARE(engine.exec("SELECT 1").rows(), 1);
}

int main(int argc, char** argv) {
    return testsupport::runOnEachEngine<TestTable>(argc, argv);
}
#include "tst_table.moc"

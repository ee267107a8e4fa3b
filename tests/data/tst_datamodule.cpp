// The data module opening real bank files: the fields it declares, what it refuses to open,
// and the master-detail links between the three tables.
#include "data/DM.h"
#include "data/Errors.h"
#include "tests/support/BadBanks.h"
#include "tests/support/BankFixture.h"

#include <QFile>
#include <QtTest>

using testsupport::BankFixture;
using testsupport::QuestionRows;

namespace {

QString openError() {
    try {
        TDataModule2 dm;
    } catch (const Exception& e) {
        return e.message();
    }
    return QString();
}

QString textOf(data::Table& table, const char* field) {
    return table.fieldValue(QString::fromUtf8(field)).toString();
}

} // namespace

class TestDataModule : public QObject {
    Q_OBJECT
private slots:
    void opensInDeclaredOrderOnFirstRows();
    void emptyBank();
    void openFailures_data();
    void openFailures();
    void acceptsKindsNotExactTypes();
    void detailsFollowTheCurrentQuestion();
    void detailKeepsItsRowWhenQuestionTextChanges();
    void appendedDetailRowCarriesCurrentQuestion();
    void newQuestionShowsRowsWithEmptyLink();
    void pendingDetailChangePostedBeforeQuestionMoves();
    void postPendingChangesAtEnd();
};

void TestDataModule::opensInDeclaredOrderOnFirstRows() {
    BankFixture bank;
    bank.addStandardQuestions(3);
    TDataModule2 dm;
    QCOMPARE(dm.Vopros.recordCount(), 3);
    QCOMPARE(dm.Vopros.recNo(), 1);
    QCOMPARE(textOf(dm.Vopros, "Вопрос"), QStringLiteral("Вопрос 1"));
    QCOMPARE(dm.Variant.recordCount(), 4);
    QCOMPARE(textOf(dm.Variant, "Ответ"), QStringLiteral("Ответ 1.1"));
    QCOMPARE(dm.Obyasnenie.recordCount(), 4);
    QCOMPARE(dm.VariantBooleanField->displayWidth(), 13);
    QCOMPARE(dm.ObyasnenieBooleanField->displayWidth(), 5);
    QCOMPARE(dm.Voprosid->displayLabel(), QStringLiteral("id"));
    QVERIFY(dm.Voprosid->readOnly());
}

void TestDataModule::emptyBank() {
    BankFixture bank;
    TDataModule2 dm;
    QVERIFY(dm.Vopros.isEmpty());
    QVERIFY(dm.Variant.isEmpty());
    QVERIFY(dm.Obyasnenie.isEmpty());
    QCOMPARE(dm.Variant.recNo(), -1);
    QVERIFY(dm.Variant.fieldValue(QStringLiteral("Ответ")).isNull());
}

void TestDataModule::openFailures_data() {
    testsupport::addBadBankRows();
}

void TestDataModule::openFailures() {
    QFETCH(QString, recipe);
    QFETCH(QString, message);
    BankFixture bank(false);
    QVERIFY(testsupport::makeBadBank(bank.dir(), recipe));
    QCOMPARE(openError(), message);
    // A missing bank is not created.
    if (recipe == QLatin1String("none"))
        QVERIFY(!QFile::exists(bank.bankPath()));
}

void TestDataModule::acceptsKindsNotExactTypes() {
    BankFixture bank(false);
    bank.exec(QStringLiteral(
        "CREATE TABLE \"Т_Вопросы\" (\"id\" INT, \"Номер\" SMALLINT, \"Вопрос\" TEXT, \"Extra\" "
        "BLOB);"
        "CREATE TABLE \"Т_Вариант\" (\"id\" INTEGER PRIMARY KEY, \"Вопрос\" INTEGER, \"Ответ\" "
        "VARCHAR(100), \"Правильный\" BIT);"
        "CREATE TABLE \"Т_Объяснение\" (\"id\" INTEGER PRIMARY KEY, \"Вопрос\" INTEGER, "
        "\"Объяснение\" NCHAR(255), \"Правильный\" BOOLEAN);"));
    QCOMPARE(openError(), QString());
}

void TestDataModule::detailsFollowTheCurrentQuestion() {
    BankFixture bank;
    bank.addStandardQuestions(2);
    bank.addQuestion(QuestionRows{QStringLiteral("Без вариантов"), {}, {}});
    TDataModule2 dm;
    dm.Variant.next();
    QCOMPARE(dm.Variant.recNo(), 2);
    dm.Vopros.next();
    QCOMPARE(textOf(dm.Variant, "Ответ"), QStringLiteral("Ответ 2.1"));
    QCOMPARE(dm.Variant.recNo(), 1);
    dm.Variant.last();
    dm.Vopros.first();
    QCOMPARE(dm.Variant.recNo(), 1);
    QCOMPARE(textOf(dm.Obyasnenie, "Объяснение"), QStringLiteral("Пояснение 1.1"));
    QVERIFY(dm.Vopros.locate(QStringLiteral("Вопрос"), QStringLiteral("Без вариантов")));
    QVERIFY(dm.Variant.isEmpty());
    QVERIFY(dm.Obyasnenie.isEmpty());
}

void TestDataModule::detailKeepsItsRowWhenQuestionTextChanges() {
    BankFixture bank;
    bank.addStandardQuestions(2);
    TDataModule2 dm;
    dm.Variant.next();
    dm.Variant.next();
    dm.Vopros.edit();
    dm.VoprosWideStringField->setValue(QStringLiteral("Новый текст"));
    dm.Vopros.post();
    QCOMPARE(dm.Variant.recNo(), 3);
    QCOMPARE(bank.scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\" WHERE id = 1")),
             QVariant(QStringLiteral("Новый текст")));
}

void TestDataModule::appendedDetailRowCarriesCurrentQuestion() {
    BankFixture bank;
    const auto ids = bank.addStandardQuestions(2);
    TDataModule2 dm;
    dm.Vopros.next();
    dm.Variant.append();
    QCOMPARE(dm.VariantIntegerField->value().toLongLong(), ids[1]);
    dm.VariantBooleanField->setValue(false);
    dm.Variant.post();
    QCOMPARE(dm.Variant.recordCount(), 5);
    QCOMPARE(bank.scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вариант\" WHERE id = ?"),
                         {dm.Variantid->value()})
                 .toLongLong(),
             ids[1]);
    dm.Vopros.first();
    QCOMPARE(dm.Variant.recordCount(), 4);
    dm.Vopros.next();
    QCOMPARE(dm.Variant.recordCount(), 5);
}

void TestDataModule::newQuestionShowsRowsWithEmptyLink() {
    BankFixture bank;
    bank.addStandardQuestions(1);
    bank.exec(QStringLiteral("INSERT INTO \"Т_Вариант\" (\"Вопрос\", \"Ответ\") VALUES (NULL, "
                             "'ничей')"));
    TDataModule2 dm;
    dm.Vopros.append();
    QCOMPARE(dm.Variant.recordCount(), 1);
    QCOMPARE(textOf(dm.Variant, "Ответ"), QStringLiteral("ничей"));
    // An option added now belongs to no question.
    dm.Variant.append();
    QVERIFY(dm.VariantIntegerField->value().isNull());
    dm.VariantWideStringField->setValue(QStringLiteral("тоже ничей"));
    dm.Variant.post();
    dm.VoprosWideStringField->setValue(QStringLiteral("Новый вопрос"));
    dm.Vopros.post();
    // Posting gave the question its id: the details now show its (no) rows.
    QVERIFY(!dm.Voprosid->value().isNull());
    QVERIFY(dm.Variant.isEmpty());
    QCOMPARE(bank.scalar(QStringLiteral("SELECT count(*) FROM \"Т_Вариант\" WHERE \"Вопрос\" IS "
                                        "NULL"))
                 .toInt(),
             2);
}

void TestDataModule::pendingDetailChangePostedBeforeQuestionMoves() {
    BankFixture bank;
    bank.addStandardQuestions(2);
    TDataModule2 dm;
    dm.Variant.edit();
    dm.VariantWideStringField->setValue(QStringLiteral("исправлено"));
    dm.Vopros.next();
    QCOMPARE(dm.Variant.state(), data::DataSetState::Browse);
    QCOMPARE(bank.scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = 1")),
             QVariant(QStringLiteral("исправлено")));
}

void TestDataModule::postPendingChangesAtEnd() {
    BankFixture bank;
    bank.addStandardQuestions(1);
    {
        TDataModule2 dm;
        dm.Variant.edit();
        dm.VariantWideStringField->setValue(QStringLiteral("не потеряется"));
        dm.Obyasnenie.append(); // untouched: dropped, not written
        dm.postPendingChanges();
    }
    QCOMPARE(bank.scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = 1")),
             QVariant(QStringLiteral("не потеряется")));
    QCOMPARE(bank.count(QStringLiteral("Т_Объяснение")), 4);
}

QTEST_GUILESS_MAIN(TestDataModule)
#include "tst_datamodule.moc"

// The editor window as a teacher uses it: its layout, the six add and delete commands, and how
// its three grids work together, on a fresh bank each time, read back from the file.
#include "app/Unit1.h"
#include "data/DM.h"
#include "editor/Unit2.h"
#include "tests/support/EditorFixture.h"
#include "tests/support/GridInput.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <optional>

using data::DataSetState;
using testsupport::BankFixture;
using testsupport::clickCell;
using testsupport::currentRow;
using testsupport::press;
using testsupport::typeText;
using toolkit::ModalResult;
using toolkit::ShownBox;
using toolkit::TDBGrid;

Q_DECLARE_METATYPE(ModalResult)

namespace {

const QString kDeleteText = QStringLiteral("Вы действительно хотите удалить текущую запись? ");

} // namespace

class TestEditor : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layout();
    void addQuestion();
    void addOptionAndExplanation_data();
    void addOptionAndExplanation();
    void addOptionToUnpostedQuestionBelongsToNone();
    void deleteAsksAndActsOnlyOnYes_data();
    void deleteAsksAndActsOnlyOnYes();
    void deleteOnEmptyTableFails();
    void deleteWhileNewRowPendingDropsIt();
    void lowerGridsFollowTheQuestion();
    void typedTextPostedOnRowChange();
    void addButtonPostsTypedText_data();
    void addButtonPostsTypedText();
    void editorTakesAtMost255Characters();
    void showingRefreshesNothingAndClosingLeavesEditPending();

private:
    void showEditor() { fixture_->show(); }
    std::optional<testsupport::EditorFixture> fixture_;
    // The fixture's, by the names the cases use.
    BankFixture* bank_ = nullptr;
    TDataModule2* dm_ = nullptr;
    TEdittest* editor_ = nullptr;
    std::vector<qint64> ids_;
};

void TestEditor::initTestCase() {
    toolkit::registerFonts();
}

void TestEditor::init() {
    fixture_.emplace();
    fixture_->open();
    bank_ = &fixture_->bank;
    ids_ = fixture_->ids;
    dm_ = fixture_->dm;
    editor_ = fixture_->editor;
    toolkit::seam::arm();
}

void TestEditor::cleanup() {
    testsupport::verifyAllBoxesAnswered();
    editor_ = nullptr;
    dm_ = nullptr;
    bank_ = nullptr;
    fixture_.reset();
}

void TestEditor::layout() {
    TEdittest& e = *editor_;
    QCOMPARE(e.windowTitle(), QStringLiteral("Редактирование тестов"));
    QCOMPARE(e.size(), toolkit::clientSizeForOuter(QSize(702, 615)));
    const struct {
        QWidget* widget;
        QRect geometry;
    } places[] = {
        {e.SpeedButton2, QRect(8, 8, 23, 22)},    {e.SpeedButton3, QRect(32, 8, 23, 22)},
        {e.DBGrid1, QRect(8, 30, 658, 254)},      {e.SpeedButton1, QRect(8, 298, 23, 22)},
        {e.SpeedButton4, QRect(32, 298, 23, 22)}, {e.DBGrid2, QRect(8, 326, 658, 107)},
        {e.SpeedButton5, QRect(8, 439, 23, 22)},  {e.SpeedButton6, QRect(32, 439, 23, 22)},
        {e.DBGrid3, QRect(8, 461, 658, 112)},
    };
    for (const auto& place : places)
        QCOMPARE(place.widget->geometry(), place.geometry);
    QCOMPARE(e.Label1->pos(), QPoint(61, 8));
    QCOMPARE(e.Label2->pos(), QPoint(61, 304));
    QCOMPARE(e.Label3->pos(), QPoint(61, 439));
    QCOMPARE(e.Label2->text(),
             QStringLiteral("Варианты ответов (напростив верного поставьте галочку)"));
    for (QLabel* label : {e.Label1, e.Label2, e.Label3}) {
        QCOMPARE(label->font().pixelSize(), 13);
        QVERIFY(label->font().bold());
        QCOMPARE(label->size(), label->sizeHint());
        // Drawn in purple, not only given a purple palette entry.
        const QImage drawn = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int purple = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                purple += (drawn.pixel(x, y) & 0xffffff) == (qRgb(128, 0, 128) & 0xffffff);
        QVERIFY2(purple > 50, qPrintable(label->text()));
    }
    for (QToolButton* b : {e.SpeedButton1, e.SpeedButton2, e.SpeedButton3, e.SpeedButton4,
                           e.SpeedButton5, e.SpeedButton6}) {
        QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        QVERIFY(b->autoRaise());
        QVERIFY(b->text().isEmpty());
        QVERIFY(!b->icon().isNull());
    }
    QCOMPARE(e.DBGrid1->column(0)->Width(), 621);
    QCOMPARE(e.DBGrid2->column(0)->Width(), 548);
    QCOMPARE(e.DBGrid3->column(0)->Width(), 548);
    QCOMPARE(e.DBGrid3->column(1)->Width(), 81);
    if (QFontInfo(e.DBGrid2->font()).family() == QStringLiteral("Tahoma"))
        QCOMPARE(e.DBGrid2->column(1)->Width(), 82);
    QCOMPARE(e.DBGrid2->visualColumn(1)->FieldName, QStringLiteral("Правильный"));
    // Focus order: the three grids, the buttons never.
    showEditor();
    e.DBGrid1->setOptions(e.DBGrid1->Options() & ~toolkit::dgTabs);
    QTest::keyClick(e.DBGrid1, Qt::Key_Tab);
    QTRY_VERIFY(e.DBGrid2->hasFocus());
    QTest::mouseClick(e.SpeedButton2, Qt::LeftButton);
    QVERIFY(e.DBGrid2->hasFocus());
    // Resizing the window moves nothing.
    e.resize(900, 800);
    QCOMPARE(e.DBGrid3->geometry(), QRect(8, 461, 658, 112));
}

void TestEditor::addQuestion() {
    showEditor();
    QTest::mouseClick(editor_->SpeedButton2, Qt::LeftButton);
    QCOMPARE(bank_->count(QStringLiteral("Т_Вопросы")), 4);
    QCOMPARE(bank_
                 ->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\" ORDER BY id DESC "
                                         "LIMIT 1"))
                 .toString(),
             QStringLiteral(" "));
    QVERIFY(bank_
                ->scalar(QStringLiteral("SELECT \"Номер\" FROM \"Т_Вопросы\" ORDER BY id DESC "
                                        "LIMIT 1"))
                .isNull());
    QCOMPARE(currentRow(editor_->DBGrid1), 3);
    QCOMPARE(dm_->Vopros.state(), DataSetState::Browse);
    QVERIFY(dm_->Variant.isEmpty());
    QVERIFY(dm_->Obyasnenie.isEmpty());
    QCOMPARE(editor_->DBGrid2->model()->rowCount(), 1); // the blank row
}

void TestEditor::addOptionAndExplanation_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("textField");
    QTest::newRow("option") << 1 << QStringLiteral("Т_Вариант") << QStringLiteral("Ответ");
    QTest::newRow("explanation") << 5 << QStringLiteral("Т_Объяснение")
                                 << QStringLiteral("Объяснение");
}

void TestEditor::addOptionAndExplanation() {
    QFETCH(int, button);
    QFETCH(QString, table);
    QFETCH(QString, textField);
    showEditor();
    clickCell(editor_->DBGrid1, 1, 0);
    QToolButton* add = button == 1 ? editor_->SpeedButton1 : editor_->SpeedButton5;
    TDBGrid* grid = button == 1 ? editor_->DBGrid2 : editor_->DBGrid3;
    // No limit: a fifth and a sixth row.
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    const QString last =
        QStringLiteral("SELECT \"%1\" FROM \"%2\" ORDER BY id DESC LIMIT 1").arg("%1", table);
    QCOMPARE(bank_->scalar(last.arg(QStringLiteral("Вопрос"))).toLongLong(), ids_[1]);
    QCOMPARE(bank_->scalar(last.arg(QStringLiteral("Правильный"))).toInt(), 0);
    QVERIFY(bank_->scalar(last.arg(textField)).isNull());
    QCOMPARE(
        bank_
            ->scalar(QStringLiteral("SELECT count(*) FROM \"%1\" WHERE \"Вопрос\" = ?").arg(table),
                     {ids_[1]})
            .toInt(),
        6);
    QCOMPARE(currentRow(grid), 5);
    QCOMPARE(grid->model()->rowCount(), 6);
}

void TestEditor::addOptionToUnpostedQuestionBelongsToNone() {
    showEditor();
    // A question row started with the grid's keys has no id yet.
    clickCell(editor_->DBGrid1, 2, 0);
    press(editor_->DBGrid1, Qt::Key_Down);
    QCOMPARE(dm_->Vopros.state(), DataSetState::Insert);
    QTest::mouseClick(editor_->SpeedButton1, Qt::LeftButton);
    QVERIFY(bank_
                ->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вариант\" ORDER BY id DESC "
                                        "LIMIT 1"))
                .isNull());
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 13);
}

void TestEditor::deleteAsksAndActsOnlyOnYes_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<ModalResult>("answer");
    QTest::addColumn<bool>("deleted");
    for (int button : {3, 4, 6}) {
        const QByteArray b = QByteArray::number(button);
        QTest::newRow(b + " yes") << button << ModalResult::Yes << true;
        QTest::newRow(b + " no (and Esc)") << button << ModalResult::No << false;
        QTest::newRow(b + " close box") << button << ModalResult::Cancel << false;
    }
}

void TestEditor::deleteAsksAndActsOnlyOnYes() {
    QFETCH(int, button);
    QFETCH(ModalResult, answer);
    QFETCH(bool, deleted);
    showEditor();
    if (button != 3)
        clickCell(editor_->DBGrid1, 1, 0);
    QToolButton* b = button == 3   ? editor_->SpeedButton3
                     : button == 4 ? editor_->SpeedButton4
                                   : editor_->SpeedButton6;
    const QString table = button == 3   ? QStringLiteral("Т_Вопросы")
                          : button == 4 ? QStringLiteral("Т_Вариант")
                                        : QStringLiteral("Т_Объяснение");
    TDBGrid* grid = button == 3   ? editor_->DBGrid1
                    : button == 4 ? editor_->DBGrid2
                                  : editor_->DBGrid3;
    clickCell(grid, 1, 0);
    const qint64 before = bank_->count(table);
    toolkit::seam::pushAnswer(answer);
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    const ShownBox& box = toolkit::seam::shown()[0];
    QCOMPARE(box.kind, ShownBox::Kind::Confirmation);
    QCOMPARE(box.text, kDeleteText);
    QCOMPARE(box.buttons, (std::vector<QString>{QStringLiteral("&Yes"), QStringLiteral("&No")}));
    QCOMPARE(bank_->count(table), before - (deleted ? 1 : 0));
    // The following row becomes current.
    QCOMPARE(currentRow(grid), 1);
    if (deleted && button == 3) {
        // The question's rows stay; the lower grids show the next question's.
        QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 12);
        QCOMPARE(editor_->DBGrid2->model()->index(0, 0).data().toString(),
                 QStringLiteral("Ответ 3.1"));
    }
}

void TestEditor::deleteOnEmptyTableFails() {
    showEditor();
    QTest::mouseClick(editor_->SpeedButton2, Qt::LeftButton); // a question without options
    toolkit::seam::pushAnswer(ModalResult::Yes);
    toolkit::seam::pushAnswer(ModalResult::OK);
    QTest::mouseClick(editor_->SpeedButton4, Qt::LeftButton);
    QCOMPARE(toolkit::seam::shown().size(), size_t(2));
    QCOMPARE(toolkit::seam::shown()[1].kind, ShownBox::Kind::Error);
    QCOMPARE(toolkit::seam::shown()[1].text,
             QStringLiteral("Variant: Cannot perform this operation on an empty dataset."));
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 12);
}

void TestEditor::deleteWhileNewRowPendingDropsIt() {
    showEditor();
    clickCell(editor_->DBGrid2, 1, 0);
    press(editor_->DBGrid2, Qt::Key_Insert);
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    toolkit::seam::pushAnswer(ModalResult::Yes);
    QTest::mouseClick(editor_->SpeedButton4, Qt::LeftButton);
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 12);
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(editor_->DBGrid2->model()->rowCount(), 4);
}

void TestEditor::lowerGridsFollowTheQuestion() {
    showEditor();
    clickCell(editor_->DBGrid2, 2, 0);
    clickCell(editor_->DBGrid1, 2, 0);
    QCOMPARE(editor_->DBGrid2->model()->index(0, 0).data().toString(), QStringLiteral("Ответ 3.1"));
    QCOMPARE(editor_->DBGrid3->model()->index(3, 0).data().toString(),
             QStringLiteral("Пояснение 3.4"));
    QCOMPARE(currentRow(editor_->DBGrid2), 0);
    // Editing a question's text does not move the lower grids.
    clickCell(editor_->DBGrid3, 2, 0);
    clickCell(editor_->DBGrid1, 2, 0);
    typeText(QStringLiteral("Другой"));
    press(editor_->DBGrid1, Qt::Key_Return);
    QCOMPARE(currentRow(editor_->DBGrid3), 2);
}

void TestEditor::typedTextPostedOnRowChange() {
    showEditor();
    clickCell(editor_->DBGrid2, 0, 0);
    typeText(QStringLiteral("Новый ответ"));
    QCOMPARE(dm_->Variant.state(), DataSetState::Edit);
    press(editor_->DBGrid2, Qt::Key_Down);
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(currentRow(editor_->DBGrid2), 1);
    QCOMPARE(bank_->scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = 1"))
                 .toString(),
             QStringLiteral("Новый ответ"));
    // And by a click on another question.
    clickCell(editor_->DBGrid3, 0, 0);
    typeText(QStringLiteral("Пояснение"));
    clickCell(editor_->DBGrid1, 1, 0);
    QCOMPARE(bank_
                 ->scalar(QStringLiteral("SELECT \"Объяснение\" FROM \"Т_Объяснение\" WHERE "
                                         "id = 1"))
                 .toString(),
             QStringLiteral("Пояснение"));
}

// The add button posts what the row holds first: text still in the grid's editor, or a new row
// the focus left changed.
void TestEditor::addButtonPostsTypedText_data() {
    QTest::addColumn<bool>("newRow");
    QTest::addColumn<qint64>("id");
    QTest::addColumn<int>("rows");
    QTest::newRow("typed into the last option") << false << qint64(4) << 13;
    QTest::newRow("new option left by the focus") << true << qint64(13) << 14;
}

void TestEditor::addButtonPostsTypedText() {
    QFETCH(bool, newRow);
    QFETCH(qint64, id);
    QFETCH(int, rows);
    showEditor();
    clickCell(editor_->DBGrid2, 3, 0);
    if (newRow)
        press(editor_->DBGrid2, Qt::Key_Down);
    typeText(QStringLiteral("четвёртый"));
    QVERIFY(editor_->DBGrid2->EditorMode());
    if (newRow) {
        clickCell(editor_->DBGrid3, 0, 0);
        QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    }
    QTest::mouseClick(editor_->SpeedButton1, Qt::LeftButton);
    QCOMPARE(bank_->scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = ?"), {id})
                 .toString(),
             QStringLiteral("четвёртый"));
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), rows);
}

void TestEditor::editorTakesAtMost255Characters() {
    showEditor();
    clickCell(editor_->DBGrid1, 0, 0);
    typeText(QString(300, QChar(u'ж')));
    QCOMPARE(editor_->DBGrid1->inplaceEditor()->text().size(), 255);
    press(editor_->DBGrid1, Qt::Key_Down);
    QCOMPARE(bank_
                 ->scalar(QStringLiteral("SELECT length(\"Вопрос\") FROM \"Т_Вопросы\" WHERE "
                                         "id = ?"),
                          {ids_[0]})
                 .toInt(),
             255);
}

void TestEditor::showingRefreshesNothingAndClosingLeavesEditPending() {
    dm_->Vopros.locate(QStringLiteral("Вопрос"), QStringLiteral("Вопрос 3"));
    dm_->Variant.next();
    showEditor();
    QCOMPARE(currentRow(editor_->DBGrid1), 2);
    QCOMPARE(currentRow(editor_->DBGrid2), 1);
    clickCell(editor_->DBGrid2, 1, 0);
    typeText(QStringLiteral("не сохранён"));
    editor_->close();
    QVERIFY(!editor_->isVisible());
    QCOMPARE(dm_->Variant.state(), DataSetState::Edit);
    QCOMPARE(dm_->Variant.fieldValue(QStringLiteral("Ответ")).toString(),
             QStringLiteral("не сохранён"));
    QCOMPARE(bank_->scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = 10"))
                 .toString(),
             QStringLiteral("Ответ 3.2"));
    QVERIFY(Form1->isVisible());
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"

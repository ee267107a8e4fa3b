// The data grid over real bank tables: the model's consistency while rows come and go, the
// columns, the current cell following the table both ways, the events, the keys and the focus
// leaving, and its speed on a big table.
#include "data/DM.h"
#include "tests/support/BankFixture.h"
#include "tests/support/GridInput.h"
#include "toolkit/DBGrid.h"
#include "toolkit/DBText.h"
#include "toolkit/Form.h"
#include "toolkit/MessageBox.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using data::DataSetState;
using testsupport::BankFixture;
using testsupport::cellCentre;
using testsupport::clickCell;
using testsupport::currentRow;
using testsupport::PaintCounter;
using testsupport::press;
using testsupport::typeText;
using toolkit::ModalResult;
using toolkit::ShownBox;
using toolkit::TDBGrid;

Q_DECLARE_METATYPE(ModalResult)

namespace {

// A window with a grid on the answer options and a button to take the focus elsewhere.
struct GridWindow {
    QWidget window;
    TDBGrid* grid;
    QPushButton* other;

    explicit GridWindow(data::DataSource& source, std::initializer_list<QString> fields) {
        window.setFont(toolkit::windowFont());
        window.resize(500, 300);
        grid = new TDBGrid(&window);
        grid->setGeometry(8, 8, 480, 200);
        for (const QString& field : fields)
            grid->addColumn(field);
        grid->setDataSource(&source);
        // The text column's default (255 digits) would hide the columns after it.
        if (grid->columnCount() > 1)
            grid->column(0)->setWidth(200);
        other = new QPushButton(QStringLiteral("x"), &window);
        other->setGeometry(8, 220, 80, 24);
        window.show();
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        grid->setFocus();
    }

    // As where another control holds the focus: the click that brings it to the grid only
    // makes the cell current.
    void focusOther() {
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
    }
};

} // namespace

class TestDBGrid : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void modelStaysConsistentWhileRowsChange();
    void modelSignalsWhatChanged_data();
    void modelSignalsWhatChanged();
    void hiddenGridIdlesAndCatchesUpWhenShown();
    void columnsTitlesAndDefaultWidths();
    void numberBeyond32BitsShown();
    void blankRowWhileTableShowsNone();
    void currentCellFollowsTheTableBothWays();
    void failedPostKeepsTheCurrentRow();
    void paintCallbackSeesEachCellAsActiveRow();
    void mouseUpForEveryButtonAnywhereOverTheGrid();
    void optionsSwitchAtRunTime();
    void titlesDragToReorderAndSeparatorsToResize();
    void updateRecordPutsEditorTextIntoTheRow();
    void f2AndEnterOpenAndClose();
    void escapeInTwoStages();
    void ctrlDeleteAsksDeleteRecord_data();
    void ctrlDeleteAsksDeleteRecord();
    void insertDownAndUp();
    void tabAndShiftTabWrapAcrossRows();
    void tabInOneColumnGridMovesRows();
    void focusLeavingDropsUnchangedNewRow();
    void focusLeavingKeepsChangedRowInEditing();
    void fastOnAHundredThousandRows();

private:
    std::unique_ptr<BankFixture> bank_;
    std::unique_ptr<TDataModule2> dm_;
    std::vector<qint64> ids_; // of the three questions
};

void TestDBGrid::initTestCase() {
    toolkit::registerFonts();
}

void TestDBGrid::init() {
    bank_ = std::make_unique<BankFixture>();
    ids_ = bank_->addStandardQuestions(3);
    dm_ = std::make_unique<TDataModule2>();
    DataModule2 = dm_.get();
    toolkit::seam::arm();
}

void TestDBGrid::cleanup() {
    QCOMPARE(toolkit::seam::unexpectedBoxes(), 0);
    QCOMPARE(toolkit::seam::pendingAnswers(), 0);
    toolkit::seam::disarm();
    DataModule2 = nullptr;
    dm_.reset();
    bank_.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty() ||
            std::none_of(QApplication::topLevelWidgets().begin(),
                         QApplication::topLevelWidgets().end(),
                         [](QWidget* w) { return w->isVisible(); }));
}

void TestDBGrid::modelStaysConsistentWhileRowsChange() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    GridWindow q(dm_->Vopros_DS, {QStringLiteral("Вопрос")});
    QAbstractItemModelTester variantTester(w.grid->model(),
                                           QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester questionTester(q.grid->model(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
    data::Table& v = dm_->Variant;
    QCOMPARE(w.grid->model()->rowCount(), 4);
    v.append();
    QCOMPARE(w.grid->model()->rowCount(), 5);
    v.setFieldValue(QStringLiteral("Ответ"), QStringLiteral("пятый"));
    v.post();
    v.moveTo(1);
    v.insert();
    QCOMPARE(w.grid->model()->rowCount(), 6);
    v.cancel();
    QCOMPARE(w.grid->model()->rowCount(), 5);
    QCOMPARE(w.grid->currentIndex().row(), 1);
    v.remove();
    QCOMPARE(w.grid->model()->rowCount(), 4);
    // Re-filtering by the question.
    dm_->Vopros.next();
    QCOMPARE(w.grid->model()->rowCount(), 4);
    QCOMPARE(w.grid->model()->index(0, 0).data().toString(), QStringLiteral("Ответ 2.1"));
    // A new question shows no rows: one blank row, which a new row takes over and gives back.
    dm_->Vopros.append();
    QCOMPARE(w.grid->model()->rowCount(), 1);
    QCOMPARE(v.shownCount(), 0);
    v.append();
    QCOMPARE(w.grid->model()->rowCount(), 1);
    v.cancel();
    QCOMPARE(w.grid->model()->rowCount(), 1);
    dm_->Vopros.cancel();
    QCOMPARE(q.grid->model()->rowCount(), 3);
    // Deleting every row of a question down to the blank row.
    for (int i = 0; i < 4; ++i)
        v.remove();
    QCOMPARE(w.grid->model()->rowCount(), 1);
    QCOMPARE(w.grid->model()->index(0, 0).data().toString(), QString());
    v.append();
    v.setFieldValue(QStringLiteral("Ответ"), QStringLiteral("снова"));
    v.post();
    QCOMPARE(w.grid->model()->index(0, 0).data().toString(), QStringLiteral("снова"));
}

// What each model of a question grid and an option grid tells its view: Qt's model signals,
// with the rows they name.
void TestDBGrid::modelSignalsWhatChanged_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("question move")
        << QStringLiteral("move") << QStringList() << QStringList{QStringLiteral("reset")};
    QTest::newRow("question edited")
        << QStringLiteral("edit") << QStringList{QStringLiteral("changed 0")} << QStringList();
    QTest::newRow("question posted")
        << QStringLiteral("post") << QStringList{QStringLiteral("changed 0")} << QStringList();
    QTest::newRow("question appended")
        << QStringLiteral("append") << QStringList{QStringLiteral("inserted 3")}
        << QStringList{QStringLiteral("reset")};
    QTest::newRow("question deleted")
        << QStringLiteral("delete") << QStringList{QStringLiteral("removed 0")}
        << QStringList{QStringLiteral("reset")};
    QTest::newRow("option edited") << QStringLiteral("option edit") << QStringList()
                                   << QStringList{QStringLiteral("changed 2")};
    QTest::newRow("option appended") << QStringLiteral("option append") << QStringList()
                                     << QStringList{QStringLiteral("inserted 4")};
    QTest::newRow("option deleted") << QStringLiteral("option delete") << QStringList()
                                    << QStringList{QStringLiteral("removed 2")};
}

void TestDBGrid::modelSignalsWhatChanged() {
    QFETCH(QString, change);
    QFETCH(QStringList, questions);
    QFETCH(QStringList, options);
    GridWindow q(dm_->Vopros_DS, {QStringLiteral("Вопрос")});
    GridWindow v(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    QAbstractItemModelTester questionTester(q.grid->model(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester optionTester(v.grid->model(),
                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    data::Table& questionTable = dm_->Vopros;
    data::Table& optionTable = dm_->Variant;
    optionTable.moveTo(2);
    if (change == "post") {
        questionTable.edit();
        questionTable.setFieldValue(QStringLiteral("Вопрос"), QStringLiteral("новый"));
    }
    const auto record = [](QAbstractItemModel* model, QStringList& log) {
        QObject::connect(model, &QAbstractItemModel::modelReset, model,
                         [&log] { log << QStringLiteral("reset"); });
        QObject::connect(model, &QAbstractItemModel::layoutChanged, model,
                         [&log] { log << QStringLiteral("layout"); });
        QObject::connect(model, &QAbstractItemModel::rowsInserted, model,
                         [&log](const QModelIndex&, int first) {
                             log << QStringLiteral("inserted %1").arg(first);
                         });
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, model,
                         [&log](const QModelIndex&, int first) {
                             log << QStringLiteral("removed %1").arg(first);
                         });
        QObject::connect(model, &QAbstractItemModel::dataChanged, model,
                         [&log](const QModelIndex& from, const QModelIndex& to) {
                             QCOMPARE(from.row(), to.row());
                             log << QStringLiteral("changed %1").arg(from.row());
                         });
    };
    QStringList questionLog;
    QStringList optionLog;
    record(q.grid->model(), questionLog);
    record(v.grid->model(), optionLog);
    if (change == "move") {
        questionTable.next();
    } else if (change == "edit") {
        questionTable.edit();
        questionTable.setFieldValue(QStringLiteral("Вопрос"), QStringLiteral("новый"));
    } else if (change == "post") {
        questionTable.post();
    } else if (change == "append") {
        questionTable.append();
    } else if (change == "delete") {
        questionTable.remove();
    } else if (change == "option edit") {
        optionTable.edit();
        optionTable.setFieldValue(QStringLiteral("Ответ"), QStringLiteral("другой"));
    } else if (change == "option append") {
        optionTable.append();
    } else {
        optionTable.remove();
    }
    QCOMPARE(questionLog, questions);
    QCOMPARE(optionLog, options);
}

// The controls of a hidden window do nothing for the table's moves (the draw moves the
// questions thousands of times while the editor is hidden) and show the rows as they are when
// the window comes back.
void TestDBGrid::hiddenGridIdlesAndCatchesUpWhenShown() {
    GridWindow q(dm_->Vopros_DS, {QStringLiteral("Вопрос")});
    GridWindow v(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    QAbstractItemModelTester tester(v.grid->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    // A data-bound label in a window still shown keeps following.
    QWidget shown;
    auto* label = new toolkit::DBText(&shown);
    label->setGeometry(0, 0, 300, 20);
    label->setDataSource(&dm_->Vopros_DS);
    label->setDataField(QStringLiteral("Вопрос"));
    PaintCounter counter;
    label->installEventFilter(&counter);
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    QTRY_VERIFY(counter.paints > 0);
    q.window.hide();
    v.window.hide();
    counter.paints = 0;
    QSignalSpy resets(v.grid->model(), &QAbstractItemModel::modelReset);
    QSignalSpy changes(v.grid->model(), &QAbstractItemModel::dataChanged);
    for (int i = 0; i < 50; ++i) {
        dm_->Vopros.moveTo(i % 3);
        dm_->Vopros.edit();
        dm_->Vopros.setFieldValue(QStringLiteral("Номер"), i % 3 + 1);
        dm_->Vopros.post();
    }
    dm_->Vopros.moveTo(1);
    dm_->Variant.moveTo(3);
    // At most one reset, to show no rows while hidden; nothing per move.
    QVERIFY(resets.size() <= 1);
    QCOMPARE(changes.size(), 0);
    QTRY_VERIFY(counter.paints > 0);
    QCOMPARE(label->text(), QStringLiteral("Вопрос 2"));
    v.window.show();
    q.window.show();
    QCOMPARE(v.grid->model()->rowCount(), 4);
    QCOMPARE(v.grid->model()->index(0, 0).data().toString(), QStringLiteral("Ответ 2.1"));
    QCOMPARE(v.grid->currentIndex().row(), 3);
    QCOMPARE(q.grid->currentIndex().row(), 1);
    // Shown, the grid follows every move again.
    dm_->Vopros.moveTo(2);
    QCOMPARE(v.grid->model()->index(0, 0).data().toString(), QStringLiteral("Ответ 3.1"));
    QCOMPARE(q.grid->currentIndex().row(), 2);
}

void TestDBGrid::columnsTitlesAndDefaultWidths() {
    GridWindow v(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    GridWindow o(dm_->Obyasnenie_DS, {QStringLiteral("Правильный")});
    QAbstractItemModel* model = v.grid->model();
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Правильный"));
    QCOMPARE(model->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignCenter));
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("Ответ 1.1"));
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("True"));
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("False"));

    const QFontMetrics metrics(v.grid->font());
    const int title = metrics.horizontalAdvance(QStringLiteral("Правильный")) + 4;
    // 13 digits wide, unless the title is wider.
    QCOMPARE(v.grid->column(1)->Width(),
             std::max(13 * metrics.horizontalAdvance(QLatin1Char('0')) + 4, title));
    if (QFontInfo(v.grid->font()).family() == QStringLiteral("Tahoma"))
        QCOMPARE(v.grid->column(1)->Width(), 82);
    // 5 digits are narrower than the title: the title decides.
    QCOMPARE(o.grid->column(0)->Width(), title);
    v.grid->column(1)->setWidth(40);
    QCOMPARE(v.grid->horizontalHeader()->sectionSize(1), 40);
}

// Another program may store any 64-bit number: the grid shows it, painting raises no error.
void TestDBGrid::numberBeyond32BitsShown() {
    bank_->exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Номер\" = 8589934593 WHERE id = 2"));
    dm_ = std::make_unique<TDataModule2>();
    DataModule2 = dm_.get();
    GridWindow w(dm_->Vopros_DS, {QStringLiteral("Номер"), QStringLiteral("Вопрос")});
    QCOMPARE(w.grid->model()->index(1, 0).data().toString(), QStringLiteral("8589934593"));
    w.grid->grab();
}

void TestDBGrid::blankRowWhileTableShowsNone() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    dm_->Vopros.append(); // a new question has no options yet
    QCOMPARE(w.grid->model()->rowCount(), 1);
    QCOMPARE(w.grid->currentIndex().row(), 0);
    QVERIFY(w.grid->visualRect(w.grid->model()->index(0, 0)).isValid());
    // Typing into the blank row starts a new row, as editing an empty table does.
    clickCell(w.grid, 0, 0);
    typeText(QStringLiteral("абв"));
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    QVERIFY(w.grid->EditorMode());
    QCOMPARE(w.grid->inplaceEditor()->text(), QStringLiteral("абв"));
}

void TestDBGrid::currentCellFollowsTheTableBothWays() {
    GridWindow w(dm_->Vopros_DS, {QStringLiteral("Вопрос")});
    QCOMPARE(w.grid->currentIndex().row(), 0);
    clickCell(w.grid, 2, 0);
    QCOMPARE(dm_->Vopros.currentPosition(), 2);
    QCOMPARE(dm_->Variant.fieldValue(QStringLiteral("Ответ")).toString(),
             QStringLiteral("Ответ 3.1"));
    dm_->Vopros.locate(QStringLiteral("Вопрос"), QStringLiteral("Вопрос 2"));
    QCOMPARE(w.grid->currentIndex().row(), 1);
    // Right-button presses move the current row too.
    clickCell(w.grid, 0, 0, Qt::RightButton);
    QCOMPARE(dm_->Vopros.currentPosition(), 0);
    // A click on the current cell opens the editor, but not the click that brings the focus.
    clickCell(w.grid, 0, 0);
    QVERIFY(w.grid->EditorMode());
    QTest::keyClick(w.grid->inplaceEditor(), Qt::Key_Escape);
    w.other->setFocus();
    QTRY_VERIFY(w.other->hasFocus());
    clickCell(w.grid, 0, 0);
    QVERIFY(w.grid->hasFocus());
    QVERIFY(!w.grid->EditorMode());
    // A changed row is posted when the user moves on.
    typeText(QStringLiteral("Изменён"));
    clickCell(w.grid, 1, 0);
    QCOMPARE(dm_->Vopros.state(), DataSetState::Browse);
    QCOMPARE(bank_
                 ->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вопросы\" ORDER BY id "
                                         "LIMIT 1"))
                 .toString(),
             QStringLiteral("Изменён"));
}

void TestDBGrid::failedPostKeepsTheCurrentRow() {
    GridWindow w(dm_->Vopros_DS, {QStringLiteral("Вопрос")});
    typeText(QStringLiteral("мой"));
    QTest::keyClick(w.grid->inplaceEditor(), Qt::Key_Return);
    // Someone else changes the row meanwhile: the post is refused.
    bank_->exec(QStringLiteral("UPDATE \"Т_Вопросы\" SET \"Вопрос\" = 'чужой' WHERE id = 1"));
    toolkit::seam::pushAnswer(toolkit::ModalResult::OK);
    clickCell(w.grid, 2, 0);
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    QCOMPARE(toolkit::seam::shown()[0].kind, toolkit::ShownBox::Kind::Error);
    QCOMPARE(dm_->Vopros.currentPosition(), 0);
    QTRY_COMPARE(w.grid->currentIndex().row(), 0);
}

void TestDBGrid::paintCallbackSeesEachCellAsActiveRow() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    struct Painted {
        int recNo;
        QString text;
        int column;
        toolkit::TGridDrawState state;
        toolkit::TRect rect;
    };
    std::vector<Painted> painted;
    w.grid->OnDrawColumnCell = [&](const toolkit::TRect& rect, int dataCol, toolkit::TColumn* c,
                                   toolkit::TGridDrawState state) {
        painted.push_back({dm_->Variant.recNo(), c->Field()->displayText(), dataCol, state, rect});
    };
    clickCell(w.grid, 2, 1);
    painted.clear();
    w.grid->grab();
    QCOMPARE(painted.size(), size_t(8));
    int selected = 0;
    for (const Painted& p : painted) {
        QCOMPARE(p.rect.toQRect().size(),
                 QSize(w.grid->columnWidth(p.column) - 1, w.grid->rowHeight() - 1));
        if (p.column == 0)
            QCOMPARE(p.text, QStringLiteral("Ответ 1.%1").arg(p.recNo));
        if (p.state & toolkit::gdSelected) {
            ++selected;
            QCOMPARE(p.recNo, 3);
            QCOMPARE(p.column, 1);
            QVERIFY(p.state & toolkit::gdFocused);
        }
    }
    QCOMPARE(selected, 1);
    // The current row is restored after painting.
    QCOMPARE(dm_->Variant.recNo(), 3);
    // Without the focus the current cell is still selected, not focused.
    w.other->setFocus();
    QTRY_VERIFY(!w.grid->hasFocus());
    painted.clear();
    w.grid->grab();
    const auto it = std::find_if(painted.begin(), painted.end(),
                                 [](const Painted& p) { return p.state & toolkit::gdSelected; });
    QVERIFY(it != painted.end());
    QVERIFY(!(it->state & toolkit::gdFocused));
}

void TestDBGrid::mouseUpForEveryButtonAnywhereOverTheGrid() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    std::vector<std::pair<Qt::MouseButton, QPoint>> releases;
    w.grid->OnMouseUp = [&](Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
        releases.push_back({button, QPoint(x, y)});
    };
    const QPoint cell = cellCentre(w.grid, 1, 0);
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
        QTest::mouseClick(w.grid->viewport(), button, {}, cell);
    // Below the last row, and on a title.
    QTest::mouseClick(w.grid->viewport(), Qt::LeftButton, {},
                      QPoint(10, w.grid->viewport()->height() - 5));
    QHeaderView* titles = w.grid->horizontalHeader();
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                      QPoint(titles->sectionViewportPosition(1) + 10, titles->height() / 2));
    QCOMPARE(releases.size(), size_t(5));
    QCOMPARE(releases[1].first, Qt::RightButton);
    QCOMPARE(releases[2].first, Qt::MiddleButton);
    const QPoint inGrid = w.grid->viewport()->mapTo(w.grid, cell);
    QCOMPARE(releases[0].second, inGrid);
    // The grid tells where a point lies and where the button went down.
    const TDBGrid::TGridCoord onCell = w.grid->MouseCoord(inGrid.x(), inGrid.y());
    QCOMPARE(onCell.X, 0);
    QCOMPARE(onCell.Y, 1);
    const TDBGrid::TGridCoord onTitle =
        w.grid->MouseCoord(releases[4].second.x(), releases[4].second.y());
    QCOMPARE(onTitle.X, 1);
    QCOMPARE(onTitle.Y, -1);
    QCOMPARE(w.grid->PressCoord().X, -1);
    QCOMPARE(w.grid->MouseCoord(releases[3].second.x(), releases[3].second.y()).Y, -1);
}

void TestDBGrid::optionsSwitchAtRunTime() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    w.grid->setOptions(w.grid->Options() & ~toolkit::dgEditing);
    typeText(QStringLiteral("x"));
    QTest::keyClick(w.grid, Qt::Key_F2);
    QTest::keyClick(w.grid, Qt::Key_Return);
    QVERIFY(!w.grid->EditorMode());
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    w.grid->setOptions(w.grid->Options() | toolkit::dgEditing);
    QTest::keyClick(w.grid, Qt::Key_F2);
    QVERIFY(w.grid->EditorMode());
    QTest::keyClick(w.grid->inplaceEditor(), Qt::Key_Escape);

    w.grid->setOptions(w.grid->Options() & ~toolkit::dgTitles);
    QVERIFY(!w.grid->horizontalHeader()->isVisible());
    w.grid->setOptions(w.grid->Options() | toolkit::dgTitles);
    QVERIFY(w.grid->horizontalHeader()->isVisible());

    // Without tabs, Tab leaves the grid.
    w.grid->setOptions(w.grid->Options() & ~toolkit::dgTabs);
    QTest::keyClick(w.grid, Qt::Key_Tab);
    QTRY_VERIFY(w.other->hasFocus());
    QCOMPARE(w.grid->currentIndex().column(), 0);

    w.grid->setOptions(w.grid->Options() & ~toolkit::dgColumnResize);
    QCOMPARE(w.grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    QVERIFY(!w.grid->horizontalHeader()->sectionsMovable());
}

void TestDBGrid::titlesDragToReorderAndSeparatorsToResize() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    QHeaderView* titles = w.grid->horizontalHeader();
    QWidget* bar = titles->viewport();
    const int y = titles->height() / 2;
    // Widen the second column by its right separator.
    const int before = w.grid->column(1)->Width();
    const int edge = titles->sectionViewportPosition(1) + before - 1;
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(edge, y));
    QTest::mouseMove(bar, QPoint(edge + 30, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(edge + 30, y));
    QCOMPARE(w.grid->column(1)->Width(), before + 30);
    // Drag the flag title in front of the text column.
    const int from = titles->sectionViewportPosition(1) + 20;
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(from, y));
    QTest::mouseMove(bar, QPoint(from - 40, y));
    QTest::mouseMove(bar, QPoint(5, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(5, y));
    QCOMPARE(w.grid->column(1)->VisualIndex(), 0);
    QCOMPARE(w.grid->visualColumn(0)->FieldName, QStringLiteral("Правильный"));
    // Nothing in the data moved.
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(dm_->Variant.currentPosition(), 0);
    // Tab goes by the order the user sees.
    clickCell(w.grid, 0, 1);
    QTest::keyClick(w.grid, Qt::Key_Tab);
    QCOMPARE(w.grid->currentIndex().column(), 0);
    // Widths and order stay while the grid shows other rows: another question, a new question
    // without rows and back, the window hidden and shown.
    const auto unchanged = [&] {
        QCOMPARE(w.grid->column(1)->Width(), before + 30);
        QCOMPARE(w.grid->column(0)->Width(), 200);
        QCOMPARE(w.grid->column(1)->VisualIndex(), 0);
    };
    dm_->Vopros.next();
    unchanged();
    dm_->Vopros.append();
    unchanged();
    dm_->Vopros.cancel();
    unchanged();
    w.window.hide();
    dm_->Vopros.next();
    w.window.show();
    unchanged();
}

void TestDBGrid::updateRecordPutsEditorTextIntoTheRow() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    typeText(QStringLiteral("набрано"));
    QVERIFY(w.grid->EditorMode());
    // A post from elsewhere (a button that does not take the focus) stores the typed text.
    dm_->Variant.post();
    QCOMPARE(bank_->scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = 1"))
                 .toString(),
             QStringLiteral("набрано"));
}

void TestDBGrid::f2AndEnterOpenAndClose() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    w.focusOther();
    TDBGrid* grid = w.grid;
    clickCell(grid, 1, 0);
    press(grid, Qt::Key_F2);
    QVERIFY(grid->EditorMode());
    QCOMPARE(grid->inplaceEditor()->text(), QStringLiteral("Ответ 1.2"));
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse); // nothing typed yet
    press(grid, Qt::Key_End);
    typeText(QStringLiteral("!"));
    press(grid, Qt::Key_Return);
    QVERIFY(!grid->EditorMode());
    // The text is in the row, which stays in editing until it is left.
    QCOMPARE(dm_->Variant.state(), DataSetState::Edit);
    QCOMPARE(dm_->Variant.fieldValue(QStringLiteral("Ответ")).toString(),
             QStringLiteral("Ответ 1.2!"));
    press(grid, Qt::Key_Return);
    QVERIFY(grid->EditorMode());
    press(grid, Qt::Key_Return);
    QVERIFY(!grid->EditorMode());
    // Typing replaces the cell's text.
    typeText(QStringLiteral("заново"));
    QCOMPARE(grid->inplaceEditor()->text(), QStringLiteral("заново"));
}

void TestDBGrid::escapeInTwoStages() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    w.focusOther();
    TDBGrid* grid = w.grid;
    clickCell(grid, 0, 0);
    typeText(QStringLiteral("первое"));
    press(grid, Qt::Key_Return); // into the row
    press(grid, Qt::Key_F2);
    typeText(QStringLiteral("второе"));
    // First Esc: the cell's text back from the row.
    press(grid, Qt::Key_Escape);
    QVERIFY(!grid->EditorMode());
    QCOMPARE(dm_->Variant.state(), DataSetState::Edit);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QStringLiteral("первое"));
    // Second Esc: every change of the row given up.
    press(grid, Qt::Key_Escape);
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QStringLiteral("Ответ 1.1"));
    // On a new row that was never posted, the row goes.
    press(grid, Qt::Key_Insert);
    typeText(QStringLiteral("новая"));
    press(grid, Qt::Key_Escape);
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    press(grid, Qt::Key_Escape);
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(grid->model()->rowCount(), 4);
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 12);
}

void TestDBGrid::ctrlDeleteAsksDeleteRecord_data() {
    QTest::addColumn<ModalResult>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("OK") << ModalResult::OK << true;
    QTest::newRow("Cancel, Esc, close box") << ModalResult::Cancel << false;
    QTest::newRow("any other result") << ModalResult::Yes << true;
}

void TestDBGrid::ctrlDeleteAsksDeleteRecord() {
    QFETCH(ModalResult, answer);
    QFETCH(bool, deleted);
    GridWindow w(dm_->Obyasnenie_DS, {QStringLiteral("Объяснение"), QStringLiteral("Правильный")});
    w.focusOther();
    TDBGrid* grid = w.grid;
    clickCell(grid, 2, 0);
    toolkit::seam::pushAnswer(answer);
    press(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(toolkit::seam::shown().size(), size_t(1));
    const ShownBox& box = toolkit::seam::shown()[0];
    QCOMPARE(box.text, QStringLiteral("Delete record?"));
    QCOMPARE(box.buttons, (std::vector<QString>{QStringLiteral("OK"), QStringLiteral("Cancel")}));
    QCOMPARE(bank_->count(QStringLiteral("Т_Объяснение")), deleted ? 11 : 12);
    QCOMPARE(grid->model()->index(2, 0).data().toString(),
             deleted ? QStringLiteral("Пояснение 1.4") : QStringLiteral("Пояснение 1.3"));
    // With no row shown it does nothing, not even ask.
    toolkit::seam::clearShown();
    dm_->Vopros.append(); // a new question has no explanations yet
    press(grid, Qt::Key_Delete, Qt::ControlModifier);
    QVERIFY(toolkit::seam::shown().empty());
}

void TestDBGrid::insertDownAndUp() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    w.focusOther();
    TDBGrid* grid = w.grid;
    clickCell(grid, 1, 0);
    // Insert: a new row before the current one.
    press(grid, Qt::Key_Insert);
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    QCOMPARE(grid->model()->rowCount(), 5);
    QCOMPARE(currentRow(grid), 1);
    QCOMPARE(grid->model()->index(2, 0).data().toString(), QStringLiteral("Ответ 1.2"));
    // Down from the unchanged new row drops it and goes back.
    press(grid, Qt::Key_Down);
    QCOMPARE(grid->model()->rowCount(), 4);
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(currentRow(grid), 1);
    // Down on the last row: a new row at the end; Down again stays; Up drops it.
    clickCell(grid, 3, 0);
    press(grid, Qt::Key_Down);
    QCOMPARE(grid->model()->rowCount(), 5);
    QCOMPARE(currentRow(grid), 4);
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    press(grid, Qt::Key_Down);
    QCOMPARE(grid->model()->rowCount(), 5);
    press(grid, Qt::Key_Up);
    QCOMPARE(grid->model()->rowCount(), 4);
    QCOMPARE(currentRow(grid), 3);
    // A changed new row is posted by Up, with its link from the question.
    press(grid, Qt::Key_Down);
    typeText(QStringLiteral("пятый"));
    press(grid, Qt::Key_Up);
    QCOMPARE(currentRow(grid), 3);
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 13);
    QCOMPARE(bank_
                 ->scalar(QStringLiteral("SELECT \"Вопрос\" FROM \"Т_Вариант\" WHERE \"Ответ\" = "
                                         "'пятый'"))
                 .toLongLong(),
             ids_[0]);
    // The grid's rows get no flag.
    QVERIFY(bank_
                ->scalar(QStringLiteral("SELECT \"Правильный\" FROM \"Т_Вариант\" WHERE "
                                        "\"Ответ\" = 'пятый'"))
                .isNull());
}

void TestDBGrid::tabAndShiftTabWrapAcrossRows() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    w.focusOther();
    TDBGrid* grid = w.grid;
    clickCell(grid, 0, 0);
    press(grid, Qt::Key_Tab);
    QCOMPARE(grid->currentIndex(), grid->model()->index(0, 1));
    press(grid, Qt::Key_Tab);
    QCOMPARE(grid->currentIndex(), grid->model()->index(1, 0));
    QCOMPARE(dm_->Variant.currentPosition(), 1);
    press(grid, Qt::Key_Backtab);
    QCOMPARE(grid->currentIndex(), grid->model()->index(0, 1));
    QCOMPARE(dm_->Variant.currentPosition(), 0);
    // Before the first column of the first row: the last column of the same row.
    press(grid, Qt::Key_Backtab);
    press(grid, Qt::Key_Backtab);
    QCOMPARE(grid->currentIndex(), grid->model()->index(0, 1));
    // Typed text goes with the Tab into the row.
    clickCell(grid, 3, 0);
    typeText(QStringLiteral("таб"));
    press(grid, Qt::Key_Tab);
    QCOMPARE(dm_->Variant.fieldValue(QStringLiteral("Ответ")).toString(), QStringLiteral("таб"));
    QCOMPARE(grid->currentIndex(), grid->model()->index(3, 1));
    // From the last column of the last row with editing off (as for a flag column): the first
    // column of the same row, no new row; the row is posted on the way.
    grid->setOptions(grid->Options() & ~toolkit::dgEditing);
    press(grid, Qt::Key_Tab);
    QCOMPARE(grid->model()->rowCount(), 4);
    QCOMPARE(grid->currentIndex(), grid->model()->index(3, 0));
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(bank_->scalar(QStringLiteral("SELECT \"Ответ\" FROM \"Т_Вариант\" WHERE id = 4"))
                 .toString(),
             QStringLiteral("таб"));
    // With the flag column moved to the front, the text column is last: Tab past it starts a
    // new row, as Down does.
    grid->setOptions(grid->Options() | toolkit::dgEditing);
    grid->horizontalHeader()->moveSection(1, 0);
    press(grid, Qt::Key_Tab);
    QCOMPARE(grid->model()->rowCount(), 5);
    QCOMPARE(grid->currentIndex(), grid->model()->index(4, 1));
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
}

void TestDBGrid::tabInOneColumnGridMovesRows() {
    GridWindow w(dm_->Vopros_DS, {QStringLiteral("Вопрос")});
    TDBGrid* grid = w.grid;
    clickCell(grid, 1, 0);
    press(grid, Qt::Key_Tab);
    QCOMPARE(dm_->Vopros.currentPosition(), 2);
    press(grid, Qt::Key_Tab);
    QCOMPARE(dm_->Vopros.state(), DataSetState::Insert);
    QCOMPARE(grid->model()->rowCount(), 4);
    press(grid, Qt::Key_Backtab);
    QCOMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(dm_->Vopros.currentPosition(), 2);
    press(grid, Qt::Key_Backtab);
    QCOMPARE(dm_->Vopros.currentPosition(), 1);
}

void TestDBGrid::focusLeavingDropsUnchangedNewRow() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    w.focusOther();
    TDBGrid* grid = w.grid;
    clickCell(grid, 3, 0);
    press(grid, Qt::Key_Down);
    QCOMPARE(grid->model()->rowCount(), 5);
    QTest::mouseClick(w.other, Qt::LeftButton);
    QVERIFY(w.other->hasFocus());
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(grid->model()->rowCount(), 4);
    // With F2 open but nothing typed, the same.
    clickCell(grid, 3, 0);
    press(grid, Qt::Key_Down);
    press(grid, Qt::Key_F2);
    QVERIFY(grid->EditorMode());
    QTest::mouseClick(w.other, Qt::LeftButton);
    QCOMPARE(grid->model()->rowCount(), 4);
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 12);
}

void TestDBGrid::focusLeavingKeepsChangedRowInEditing() {
    GridWindow w(dm_->Variant_DS, {QStringLiteral("Ответ"), QStringLiteral("Правильный")});
    w.focusOther();
    TDBGrid* grid = w.grid;
    clickCell(grid, 3, 0);
    press(grid, Qt::Key_Down);
    typeText(QStringLiteral("начато"));
    QTest::mouseClick(w.other, Qt::LeftButton);
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    QCOMPARE(dm_->Variant.fieldValue(QStringLiteral("Ответ")).toString(), QStringLiteral("начато"));
    QVERIFY(!grid->EditorMode());
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 12);
    // The next post on the table writes it.
    dm_->Variant.post();
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 13);
}

void TestDBGrid::fastOnAHundredThousandRows() {
    dm_.reset();
    DataModule2 = nullptr;
    bank_->exec(QStringLiteral(
        "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 100000) "
        "INSERT INTO \"Т_Вопросы\" (\"Вопрос\") SELECT 'Вопрос ' || k FROM n"));
    dm_ = std::make_unique<TDataModule2>();
    DataModule2 = dm_.get();
    QElapsedTimer timer;
    timer.start();
    GridWindow w(dm_->Vopros_DS, {QStringLiteral("Вопрос")});
    w.grid->grab();
    dm_->Vopros.last();
    w.grid->grab();
    QTest::keyClick(w.grid, Qt::Key_Up);
    QTest::keyClick(w.grid, Qt::Key_PageUp);
    w.grid->grab();
    dm_->Vopros.first();
    w.grid->grab();
    const qint64 elapsed = timer.elapsed();
    qInfo("100,000 rows: shown, painted and moved through in %lld ms", elapsed);
    QCOMPARE(w.grid->model()->rowCount(), 100003);
    QVERIFY(elapsed < 3000);
}

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"

// The editor's grids as they look and as their flag columns answer the mouse: stripes by
// record number, the current cell in the window colours, check boxes in the flag columns, and
// a click that turns a flag over and stores it at once, read back through a second connection.
#include "app/Unit1.h"
#include "data/DM.h"
#include "editor/Unit2.h"
#include "tests/support/EditorFixture.h"
#include "tests/support/GridInput.h"
#include "toolkit/Canvas.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QStyleHints>
#include <QTest>
#include <QToolButton>
#include <optional>

using data::DataSetState;
using testsupport::BankFixture;
using testsupport::cellCentre;
using testsupport::cellRect;
using testsupport::clickCell;
using testsupport::typeText;
using toolkit::TDBGrid;

namespace {

const QColor kLavender(198, 198, 255);
const QColor kLilac(235, 215, 255);

// A click as the window system sends it, with its time; the second click of a double click
// brings its double-click event after the press.
void clickCellAt(TDBGrid* grid, int row, int column, ulong timestamp, bool second = false) {
    const QPoint at = cellCentre(grid, row, column);
    for (const QEvent::Type type :
         {QEvent::MouseButtonPress, QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        if (type == QEvent::MouseButtonDblClick && !second)
            continue;
        QMouseEvent event(type, at, grid->viewport()->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
        event.setTimestamp(timestamp);
        QApplication::sendEvent(grid->viewport(), &event);
    }
}

QImage picture(TDBGrid* grid) {
    return grid->viewport()->grab().toImage();
}

// A point of the cell's background, away from its text (the texts here are short).
QColor background(TDBGrid* grid, const QImage& image, int row, int column) {
    const QRect r = cellRect(grid, row, column);
    return image.pixelColor(r.right() - 3, r.center().y());
}

// The check box drawn in a cell: the 13 x 13 square in its middle.
QImage box(TDBGrid* grid, const QImage& image, int row, int column) {
    const QRect r = cellRect(grid, row, column);
    return image.copy(QRect(r.center() - QPoint(6, 6), QSize(13, 13)));
}

int darkPixels(const QImage& image) {
    int dark = 0;
    for (int y = 3; y < image.height() - 3; ++y)
        for (int x = 3; x < image.width() - 3; ++x)
            if (image.pixelColor(x, y).lightness() < 128)
                ++dark;
    return dark;
}

} // namespace

class TestGridPainting : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void stripesByRecordNumberWhateverIsScrolled();
    void stripesMoveAfterDelete();
    void allRowsLilacWhileNewRowPending();
    void currentCellInWindowColoursFocusRectOnlyWhenFocused();
    void flagCellShowsOnlyTheBox();
    void blankRowIsLilacWithEmptyBox();

    void clickTogglesAndStores_data();
    void clickTogglesAndStores();
    void doubleClickTogglesTwice();
    void editingOffWhileFlagColumnCurrent();
    void flagColumnWorksMovedAndWidened();
    void typedTextAndFlagPostedTogether();
    void noToggleWithoutAClickOnAFlagCell_data();
    void noToggleWithoutAClickOnAFlagCell();
    void emptyGridStartsNoRow();
    void clickOnARefilledGridChangesNoRow_data();
    void clickOnARefilledGridChangesNoRow();
    void clickBeforeTheRefilledRowsWereSeenChangesNoRow_data();
    void clickBeforeTheRefilledRowsWereSeenChangesNoRow();
    void flagWithoutValueBecomesTrue();

private:
    void open();
    QVariant flag(const char* table, qint64 id);

    std::optional<testsupport::EditorFixture> fixture_;
    // The fixture's, by the names the cases use.
    BankFixture* bank_ = nullptr;
    TDataModule2* dm_ = nullptr;
    TEdittest* editor_ = nullptr;
};

void TestGridPainting::initTestCase() {
    toolkit::registerFonts();
}

void TestGridPainting::init() {
    fixture_.emplace();
    bank_ = &fixture_->bank;
    toolkit::seam::arm();
}

// Opens the bank and the editor, with the question grid focused.
void TestGridPainting::open() {
    fixture_->open();
    dm_ = fixture_->dm;
    editor_ = fixture_->editor;
    fixture_->show();
}

void TestGridPainting::cleanup() {
    testsupport::verifyAllBoxesAnswered();
    editor_ = nullptr;
    dm_ = nullptr;
    bank_ = nullptr;
    fixture_.reset();
}

QVariant TestGridPainting::flag(const char* table, qint64 id) {
    return bank_->scalar(QStringLiteral("SELECT \"Правильный\" FROM \"%1\" WHERE id = ?")
                             .arg(QString::fromUtf8(table)),
                         {id});
}

void TestGridPainting::stripesByRecordNumberWhateverIsScrolled() {
    bank_->addStandardQuestions(40);
    open();
    TDBGrid* grid = editor_->DBGrid1;
    QImage image = picture(grid);
    QCOMPARE(background(grid, image, 0, 0), toolkit::clWindow()); // the current cell
    QCOMPARE(background(grid, image, 1, 0), kLilac);
    QCOMPARE(background(grid, image, 2, 0), kLavender);
    QCOMPARE(background(grid, image, 3, 0), kLilac);
    // Far down: the colour still follows the row's number among all rows.
    dm_->Vopros.moveTo(30);
    image = picture(grid);
    QCOMPARE(background(grid, image, 30, 0), toolkit::clWindow());
    QVERIFY(grid->rowAt(0) > 0);
    for (int row = 25; row < 30; ++row)
        QCOMPARE(background(grid, image, row, 0), (row + 1) % 2 == 1 ? kLavender : kLilac);
    // Scrolled to the end the top row is whole, as everywhere else.
    dm_->Vopros.last();
    image = picture(grid);
    QCOMPARE(grid->rowViewportPosition(grid->rowAt(0)), 0);
    QCOMPARE(background(grid, image, 42, 0), toolkit::clWindow());
    QCOMPARE(background(grid, image, 41, 0), kLilac);
}

void TestGridPainting::stripesMoveAfterDelete() {
    open();
    TDBGrid* grid = editor_->DBGrid2;
    QCOMPARE(background(grid, picture(grid), 3, 0), kLilac); // row 4
    dm_->Variant.moveTo(1);
    dm_->Variant.remove();
    // The fourth option is now the third row.
    QCOMPARE(grid->model()->index(2, 0).data().toString(), QStringLiteral("Ответ 1.4"));
    QCOMPARE(background(grid, picture(grid), 2, 0), kLavender);
}

void TestGridPainting::allRowsLilacWhileNewRowPending() {
    open();
    TDBGrid* grid = editor_->DBGrid2;
    clickCell(grid, 2, 0);
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(dm_->Variant.state(), DataSetState::Insert);
    QImage image = picture(grid);
    for (int row : {0, 1, 3, 4})
        QCOMPARE(background(grid, image, row, 0), kLilac);
    QTest::keyClick(grid, Qt::Key_Escape);
    image = picture(grid);
    QCOMPARE(background(grid, image, 0, 0), kLavender);
    QCOMPARE(background(grid, image, 1, 0), kLilac);
}

void TestGridPainting::currentCellInWindowColoursFocusRectOnlyWhenFocused() {
    open();
    TDBGrid* focused = editor_->DBGrid1;
    TDBGrid* unfocused = editor_->DBGrid2;
    clickCell(unfocused, 1, 0);
    focused->setFocus();
    QTRY_VERIFY(focused->hasFocus());
    // The selected cell in the window colours in both grids.
    QCOMPARE(background(unfocused, picture(unfocused), 1, 0), toolkit::clWindow());
    QCOMPARE(background(focused, picture(focused), 0, 0), toolkit::clWindow());
    // Its text in window-text colour.
    const QImage image = picture(unfocused);
    const QRect r = cellRect(unfocused, 1, 0);
    bool text = false;
    for (int x = r.left() + 2; x < r.left() + 40; ++x)
        for (int y = r.top() + 2; y < r.bottom(); ++y)
            text = text || image.pixelColor(x, y).lightness() < 100;
    QVERIFY(text);
    // The focus rectangle only around the focused grid's cell: its top edge is not plain.
    const auto edgeMarks = [](TDBGrid* grid, int row) {
        const QImage im = picture(grid);
        const QRect cell = cellRect(grid, row, 0);
        int marks = 0;
        for (int x = cell.left() + 4; x < cell.left() + 200; ++x)
            if (im.pixelColor(x, cell.top()) != toolkit::clWindow())
                ++marks;
        return marks;
    };
    QVERIFY(edgeMarks(focused, 0) > 0);
    QCOMPARE(edgeMarks(unfocused, 1), 0);
}

void TestGridPainting::flagCellShowsOnlyTheBox() {
    // Rows 2 and 4 share a colour: one false, one without value.
    bank_->exec(QStringLiteral("UPDATE \"Т_Вариант\" SET \"Правильный\" = NULL WHERE id = 4"));
    open();
    TDBGrid* grid = editor_->DBGrid2;
    const QImage image = picture(grid);
    // No display text ("True", "False") at the cell's left.
    for (int row = 0; row < 4; ++row) {
        const QRect r = cellRect(grid, row, 1);
        const QColor colour = row % 2 == 0 ? kLavender : kLilac;
        for (int x = r.left(); x < r.left() + 25; ++x)
            for (int y = r.top(); y <= r.bottom(); ++y)
                QCOMPARE(image.pixelColor(x, y), colour);
    }
    // The box keeps off the lines between the rows: the cell's top and bottom pixel rows stay
    // in the row's colour.
    for (int row = 0; row < 4; ++row) {
        const QRect r = cellRect(grid, row, 1);
        const QColor colour = row % 2 == 0 ? kLavender : kLilac;
        for (int x = r.left(); x <= r.right(); ++x) {
            QCOMPARE(image.pixelColor(x, r.top()), colour);
            QCOMPARE(image.pixelColor(x, r.bottom()), colour);
        }
    }
    QVERIFY(darkPixels(box(grid, image, 0, 1)) > 0);          // true: ticked
    QCOMPARE(darkPixels(box(grid, image, 1, 1)), 0);          // false: empty
    QCOMPARE(box(grid, image, 3, 1), box(grid, image, 1, 1)); // no value: empty too
    QVERIFY(box(grid, image, 1, 1) != image.copy(cellRect(grid, 1, 1).left(), 0, 13, 13));
}

void TestGridPainting::blankRowIsLilacWithEmptyBox() {
    open();
    QTest::mouseClick(editor_->SpeedButton2, Qt::LeftButton); // a question without options
    TDBGrid* grid = editor_->DBGrid3;
    const QImage image = picture(grid);
    QCOMPARE(background(grid, image, 0, 0), toolkit::clWindow()); // current cell
    QCOMPARE(background(grid, image, 0, 1), kLilac);
    QCOMPARE(darkPixels(box(grid, image, 0, 1)), 0);
    QVERIFY(box(grid, image, 0, 1).pixelColor(6, 6) != kLilac);
}

void TestGridPainting::clickTogglesAndStores_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("explanations");
    QTest::newRow("left, options") << Qt::LeftButton << false;
    QTest::newRow("right, options") << Qt::RightButton << false;
    QTest::newRow("middle, explanations") << Qt::MiddleButton << true;
    QTest::newRow("left, explanations") << Qt::LeftButton << true;
}

void TestGridPainting::clickTogglesAndStores() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, explanations);
    open();
    TDBGrid* grid = explanations ? editor_->DBGrid3 : editor_->DBGrid2;
    const char* table = explanations ? "Т_Объяснение" : "Т_Вариант";
    clickCell(grid, 1, 1, button);
    QCOMPARE(flag(table, 2).toInt(), 1);
    QCOMPARE((explanations ? dm_->Obyasnenie : dm_->Variant).state(), DataSetState::Browse);
    clickCell(grid, 0, 1, button);
    QCOMPARE(flag(table, 1).toInt(), 0);
    clickCell(grid, 0, 1, button);
    QCOMPARE(flag(table, 1).toInt(), 1);
    QCOMPARE(flag(table, 2).toInt(), 1);
}

void TestGridPainting::doubleClickTogglesTwice() {
    open();
    const testsupport::WriteCounter writes(dm_->ADOConnection1.database());
    TDBGrid* grid = editor_->DBGrid2;
    clickCell(grid, 2, 0);
    // As the platform delivers a double click: press, release, press, double click, release.
    QWidget* viewport = grid->viewport();
    const QPoint at = cellCentre(grid, 2, 1);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mousePress(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    QCOMPARE(flag("Т_Вариант", 3).toInt(), 0);
    QCOMPARE(writes.count(), 2);
    QVERIFY(!grid->EditorMode());
}

void TestGridPainting::editingOffWhileFlagColumnCurrent() {
    open();
    TDBGrid* grid = editor_->DBGrid2;
    clickCell(grid, 3, 0);
    QTest::keyClick(grid, Qt::Key_Tab); // into the flag column of the last row
    QCOMPARE(grid->SelectedField()->fieldName(), QStringLiteral("Правильный"));
    QVERIFY(!(grid->Options() & toolkit::dgEditing));
    QTest::sendKeyEvent(QTest::Click, grid, Qt::Key_unknown, QStringLiteral("ж"), {});
    for (Qt::Key key : {Qt::Key_F2, Qt::Key_Return, Qt::Key_Insert, Qt::Key_Down})
        QTest::keyClick(grid, key);
    QVERIFY(!grid->EditorMode());
    QCOMPARE(grid->model()->rowCount(), 4);
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(flag("Т_Вариант", 4).toInt(), 0);
    // Back in the text column, editing is on again.
    QTest::keyClick(grid, Qt::Key_Left);
    QVERIFY(grid->Options() & toolkit::dgEditing);
    QTest::keyClick(grid, Qt::Key_F2);
    QVERIFY(grid->EditorMode());
}

void TestGridPainting::flagColumnWorksMovedAndWidened() {
    open();
    TDBGrid* grid = editor_->DBGrid3;
    grid->horizontalHeader()->moveSection(1, 0);
    grid->horizontalHeader()->resizeSection(1, 200);
    const QImage image = picture(grid);
    QVERIFY(darkPixels(box(grid, image, 0, 1)) > 0);
    QCOMPARE(darkPixels(box(grid, image, 1, 1)), 0);
    clickCell(grid, 1, 1);
    QCOMPARE(flag("Т_Объяснение", 2).toInt(), 1);
    QVERIFY(!(grid->Options() & toolkit::dgEditing));
}

void TestGridPainting::typedTextAndFlagPostedTogether() {
    open();
    TDBGrid* grid = editor_->DBGrid2;
    clickCell(grid, 2, 0);
    typeText(QStringLiteral("верно"));
    QVERIFY(grid->EditorMode());
    clickCell(grid, 2, 1);
    QCOMPARE(bank_
                 ->scalar(QStringLiteral("SELECT \"Ответ\" || '/' || \"Правильный\" FROM "
                                         "\"Т_Вариант\" WHERE id = 3"))
                 .toString(),
             QStringLiteral("верно/1"));
}

void TestGridPainting::noToggleWithoutAClickOnAFlagCell_data() {
    QTest::addColumn<QString>("gesture");
    QTest::newRow("separator dragged") << QStringLiteral("separator");
    QTest::newRow("title clicked") << QStringLiteral("title");
    QTest::newRow("title dragged") << QStringLiteral("drag");
    QTest::newRow("below the rows") << QStringLiteral("below");
    QTest::newRow("pressed on another row") << QStringLiteral("other row");
}

void TestGridPainting::noToggleWithoutAClickOnAFlagCell() {
    QFETCH(QString, gesture);
    open();
    TDBGrid* grid = editor_->DBGrid2;
    clickCell(grid, 0, 0);
    QTest::keyClick(grid, Qt::Key_Tab); // the flag column current, row 1 (true)
    QHeaderView* titles = grid->horizontalHeader();
    QWidget* bar = titles->viewport();
    const int y = titles->height() / 2;
    const int edge = titles->sectionViewportPosition(1) + titles->sectionSize(1) - 1;
    const int title = titles->sectionViewportPosition(1) + 20;
    if (gesture == "separator") {
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(edge, y));
        QTest::mouseMove(bar, QPoint(edge + 20, y));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(edge + 20, y));
        QVERIFY(titles->sectionSize(1) > 82);
    } else if (gesture == "title") {
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(title, y));
    } else if (gesture == "drag") {
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(title, y));
        QTest::mouseMove(bar, QPoint(title - 60, y));
        QTest::mouseMove(bar, QPoint(5, y));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(5, y));
        QCOMPARE(titles->visualIndex(1), 0);
    } else if (gesture == "below") {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          QPoint(cellCentre(grid, 0, 1).x(), grid->viewport()->height() - 3));
    } else {
        QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 1, 1));
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 2, 1));
    }
    for (qint64 id = 1; id <= 4; ++id)
        QCOMPARE(flag("Т_Вариант", id).toInt(), id == 1 ? 1 : 0);
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
}

void TestGridPainting::emptyGridStartsNoRow() {
    open();
    QTest::mouseClick(editor_->SpeedButton2, Qt::LeftButton);
    TDBGrid* grid = editor_->DBGrid2;
    clickCell(grid, 0, 1);
    clickCell(grid, 0, 1, Qt::RightButton);
    QVERIFY(dm_->Variant.isEmpty());
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(bank_->count(QStringLiteral("Т_Вариант")), 12);
}

// Down on the last question starts a new question row, which the options grid shows as its
// blank row. A click there takes the focus from the question grid, which drops the unchanged
// new row: the options grid is refilled with the last question's options before the press
// reaches it. The press must not act on the row that came under the pointer.
void TestGridPainting::clickOnARefilledGridChangesNoRow_data() {
    QTest::addColumn<int>("column");
    QTest::newRow("flag cell") << 1;
    QTest::newRow("text cell, then typing") << 0;
}

void TestGridPainting::clickOnARefilledGridChangesNoRow() {
    QFETCH(int, column);
    open();
    TDBGrid* questions = editor_->DBGrid1;
    TDBGrid* options = editor_->DBGrid2;
    clickCell(questions, 2, 0);
    QTest::keyClick(questions, Qt::Key_Down);
    QCOMPARE(dm_->Vopros.state(), DataSetState::Insert);
    QCOMPARE(options->model()->rowCount(), 1);
    clickCell(options, 0, column);
    QVERIFY(options->hasFocus());
    QCOMPARE(dm_->Vopros.state(), DataSetState::Browse);
    QCOMPARE(options->model()->rowCount(), 4);
    typeText(QStringLiteral("Восемь"));
    QCOMPARE(dm_->Variant.state(), DataSetState::Browse);
    QCOMPARE(flag("Т_Вариант", 9).toInt(), 1);
    QCOMPARE(options->model()->index(0, 0).data().toString(), QStringLiteral("Ответ 3.1"));
    // Once the refilled rows are on screen, the next click acts as usual.
    options->viewport()->repaint();
    clickCell(options, 1, 1);
    QCOMPARE(flag("Т_Вариант", 10).toInt(), 1);
    // So does a click after the grid took the focus through its titles and a button then added
    // a row: only a press's own way into the grid counts.
    questions->setFocus();
    QTRY_VERIFY(questions->hasFocus());
    QHeaderView* titles = options->horizontalHeader();
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                      QPoint(titles->sectionViewportPosition(0) + 20, titles->height() / 2));
    QVERIFY(options->hasFocus());
    QTest::mouseClick(editor_->SpeedButton1, Qt::LeftButton);
    QCOMPARE(options->model()->rowCount(), 5);
    clickCell(options, 2, 1);
    QCOMPARE(flag("Т_Вариант", 11).toInt(), 1);
}

// Two quick clicks on the options grid of a pending new question: the first refills the grid,
// the second went down before the refilled rows were painted, or within the double-click
// interval of the first, and acts no more than the first; a click after that acts.
void TestGridPainting::clickBeforeTheRefilledRowsWereSeenChangesNoRow_data() {
    // Slow: the new rows are not painted 40 ms after the first press, with an interval of 1 ms
    // (else 400 ms).
    QTest::addColumn<bool>("slow");
    QTest::addColumn<int>("after");   // the second press's timestamp after the first's, ms
    QTest::addColumn<bool>("second"); // the second press is a double click's
    QTest::addColumn<bool>("acts");
    QTest::newRow("same time") << false << 0 << false << false;
    QTest::newRow("painted at once, pressed 150 ms later") << false << 150 << false << false;
    QTest::newRow("double click") << false << 150 << true << false;
    QTest::newRow("after the interval") << false << 401 << false << true;
    QTest::newRow("paint slower than the interval") << true << 10 << false << false;
}

void TestGridPainting::clickBeforeTheRefilledRowsWereSeenChangesNoRow() {
    QFETCH(bool, slow);
    QFETCH(int, after);
    QFETCH(bool, second);
    QFETCH(bool, acts);
    const auto restore =
        qScopeGuard([was = QGuiApplication::styleHints()->mouseDoubleClickInterval()] {
            QGuiApplication::styleHints()->setMouseDoubleClickInterval(was);
        });
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(slow ? 1 : 400);
    open();
    TDBGrid* questions = editor_->DBGrid1;
    TDBGrid* options = editor_->DBGrid2;
    clickCell(questions, 2, 0);
    QTest::keyClick(questions, Qt::Key_Down);
    QCOMPARE(options->model()->rowCount(), 1);
    const ulong pressed = 1000000;
    options->setFocus(Qt::MouseFocusReason); // as a press gives it, before the press arrives
    clickCellAt(options, 0, 1, pressed);
    QCOMPARE(options->model()->rowCount(), 4);
    QTest::qSleep(slow ? 40 : 0);
    if (!slow)
        options->viewport()->repaint();
    clickCellAt(options, 1, 1, pressed + after, second);
    QCOMPARE(dm_->Variant.currentPosition(), acts ? 1 : 0);
    QCOMPARE(flag("Т_Вариант", 10).toInt(), acts ? 1 : 0);
    options->viewport()->repaint();
    clickCellAt(options, 1, 1, pressed + 60000);
    QCOMPARE(flag("Т_Вариант", 10).toInt(), acts ? 0 : 1);
}

void TestGridPainting::flagWithoutValueBecomesTrue() {
    open();
    TDBGrid* grid = editor_->DBGrid2;
    // A row started with the grid's keys has no flag.
    clickCell(grid, 3, 0);
    QTest::keyClick(grid, Qt::Key_Down);
    typeText(QStringLiteral("пятый"));
    QTest::keyClick(grid->inplaceEditor(), Qt::Key_Up);
    QVERIFY(bank_
                ->scalar(QStringLiteral("SELECT \"Правильный\" FROM \"Т_Вариант\" WHERE "
                                        "\"Ответ\" = 'пятый'"))
                .isNull());
    QCOMPARE(darkPixels(box(grid, picture(grid), 4, 1)), 0);
    clickCell(grid, 4, 1);
    QCOMPARE(bank_
                 ->scalar(QStringLiteral("SELECT \"Правильный\" FROM \"Т_Вариант\" WHERE "
                                         "\"Ответ\" = 'пятый'"))
                 .toInt(),
             1);
}

QTEST_MAIN(TestGridPainting)
#include "tst_gridpainting.moc"

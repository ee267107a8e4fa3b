#include "editor/Unit2.h"

#include "app/Unit1.h"
#include "data/DM.h"
#include "data/Schema.h"
#include "toolkit/DrawFrameControl.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"
#include "toolkit/Pictures.h"

#include <QLabel>
#include <QToolButton>

TEdittest* Edittest = nullptr;

namespace {

const QString kDeleteQuestion = QStringLiteral("Вы действительно хотите удалить текущую запись? ");
const QString kFlagField = data::kCorrectColumn;

// Turns over the flag of the current row of a flag column and stores it at once. Only a click
// that went down and up on the same flag cell of a row of the table counts: a release after
// dragging a column, on a title or below the rows changes nothing, and a grid without rows
// starts none.
void toggleFlag(toolkit::TDBGrid* grid, data::Table& table, int X, int Y) {
    data::Field* selected = grid->SelectedField();
    if (!selected || selected->fieldName() != kFlagField)
        return;
    const toolkit::TDBGrid::TGridCoord at = grid->MouseCoord(X, Y);
    const toolkit::TDBGrid::TGridCoord pressed = grid->PressCoord();
    const toolkit::TColumn* column = grid->column(at.X);
    if (!column || column->FieldName != kFlagField || at.X != pressed.X || at.Y != pressed.Y ||
        at.Y < 0 || at.Y >= table.shownCount() || at.Y != table.currentPosition())
        return;
    table.edit();
    const QVariant value = table.fieldValue(kFlagField);
    // A flag without value, shown as an empty box, becomes true like a false one.
    table.setFieldValue(kFlagField, value.isNull() ? true : !value.toBool());
    table.post();
}

QToolButton* speedButton(QWidget* parent, const char* name, int left, int top,
                         const QPixmap& picture) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, 23, 22);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(QIcon(picture));
    button->setIconSize(QSize(16, 16));
    return button;
}

QLabel* heading(QWidget* parent, const char* name, int left, int top, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    toolkit::setHeadingStyle(label);
    label->move(left, top);
    label->adjustSize();
    return label;
}

toolkit::TDBGrid* grid(QWidget* parent, const char* name, const QRect& geometry,
                       data::DataSource& source) {
    auto* g = new toolkit::TDBGrid(parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(geometry);
    g->setOptions(toolkit::dgEditing | toolkit::dgTitles | toolkit::dgColumnResize |
                  toolkit::dgColLines | toolkit::dgRowLines | toolkit::dgTabs |
                  toolkit::dgConfirmDelete | toolkit::dgCancelOnExit);
    g->setDataSource(&source);
    return g;
}

} // namespace

TEdittest::TEdittest(QWidget* parent)
    : TForm(QStringLiteral("Редактирование тестов"), toolkit::clientSizeForOuter(QSize(702, 615)),
            QPalette::Button, parent) {
    setObjectName(QStringLiteral("Edittest"));

    DBGrid1 = grid(this, "DBGrid1", QRect(8, 30, 658, 254), DataModule2->Vopros_DS);
    DBGrid1->addColumn(data::kQuestionColumn, 621);
    Label1 = heading(this, "Label1", 61, 8, QStringLiteral("Вопросы"));
    DBGrid2 = grid(this, "DBGrid2", QRect(8, 326, 658, 107), DataModule2->Variant_DS);
    DBGrid2->addColumn(data::kOptionColumn, 548);
    DBGrid2->addColumn(data::kCorrectColumn);
    Label2 = heading(this, "Label2", 61, 304,
                     QStringLiteral("Варианты ответов (напростив верного поставьте галочку)"));
    SpeedButton1 = speedButton(this, "SpeedButton1", 8, 298, toolkit::addPicture());
    SpeedButton2 = speedButton(this, "SpeedButton2", 8, 8, toolkit::addPicture());
    SpeedButton3 = speedButton(this, "SpeedButton3", 32, 8, toolkit::deletePicture());
    SpeedButton4 = speedButton(this, "SpeedButton4", 32, 298, toolkit::deletePicture());
    DBGrid3 = grid(this, "DBGrid3", QRect(8, 461, 658, 112), DataModule2->Obyasnenie_DS);
    DBGrid3->addColumn(data::kExplanationColumn, 548);
    DBGrid3->addColumn(data::kCorrectColumn, 81);
    SpeedButton5 = speedButton(this, "SpeedButton5", 8, 439, toolkit::addPicture());
    SpeedButton6 = speedButton(this, "SpeedButton6", 32, 439, toolkit::deletePicture());
    Label3 = heading(this, "Label3", 61, 439, QStringLiteral("Объяснение правильности ответа"));

    DBGrid1->OnDrawColumnCell = [this](const toolkit::TRect& rect, int dataCol,
                                       toolkit::TColumn* column, toolkit::TGridDrawState state) {
        toolkit::runHandler([&] { DBGrid1DrawColumnCell(DBGrid1, rect, dataCol, column, state); });
    };
    for (toolkit::TDBGrid* detail : {DBGrid2, DBGrid3}) {
        detail->OnDrawColumnCell = [this, detail](const toolkit::TRect& rect, int dataCol,
                                                  toolkit::TColumn* column,
                                                  toolkit::TGridDrawState state) {
            toolkit::runHandler(
                [&] { DBGrid2DrawColumnCell(detail, rect, dataCol, column, state); });
        };
        detail->OnColEnter = toolkit::guarded([this, detail] { DBGrid2ColEnter(detail); });
    }
    DBGrid2->OnMouseUp = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        toolkit::runHandler([&] { DBGrid2MouseUp(DBGrid2, button, shift, x, y); });
    };
    DBGrid3->OnMouseUp = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        toolkit::runHandler([&] { DBGrid3MouseUp(DBGrid3, button, shift, x, y); });
    };

    setTabOrder(DBGrid1, DBGrid2);
    setTabOrder(DBGrid2, DBGrid3);

    using toolkit::guarded;
    connect(SpeedButton1, &QToolButton::clicked, this,
            guarded([this] { SpeedButton1Click(SpeedButton1); }));
    connect(SpeedButton2, &QToolButton::clicked, this,
            guarded([this] { SpeedButton2Click(SpeedButton2); }));
    connect(SpeedButton3, &QToolButton::clicked, this,
            guarded([this] { SpeedButton3Click(SpeedButton3); }));
    connect(SpeedButton4, &QToolButton::clicked, this,
            guarded([this] { SpeedButton4Click(SpeedButton4); }));
    connect(SpeedButton5, &QToolButton::clicked, this,
            guarded([this] { SpeedButton5Click(SpeedButton5); }));
    connect(SpeedButton6, &QToolButton::clicked, this,
            guarded([this] { SpeedButton6Click(SpeedButton6); }));
    OnClose = guarded([this] { FormClose(this); });
}

// Wipes the cell to its background and draws a check box in it, ticked or empty.
void TEdittest::DrawGridCheckBox(toolkit::TCanvas* Canvas, toolkit::TRect& Rect, bool Ticked) {
    toolkit::TRect DrawRect = Rect;
    Canvas->TextRect(DrawRect, DrawRect.Left + 1, DrawRect.Top + 1, QStringLiteral(" "));
    toolkit::DrawFrameControl(Canvas->Handle(), DrawRect, toolkit::DFC_BUTTON,
                              toolkit::DFCS_BUTTONCHECK | toolkit::DFCS_ADJUSTRECT |
                                  (Ticked ? toolkit::DFCS_CHECKED : 0));
}

// The stripes of the question grid, and a check box instead of text in a flag column.
void TEdittest::DBGrid2DrawColumnCell(QObject* Sender, const toolkit::TRect& Rect, int DataCol,
                                      toolkit::TColumn* Column, toolkit::TGridDrawState State) {
    DBGrid1DrawColumnCell(Sender, Rect, DataCol, Column, State);
    data::Field* field = Column->Field();
    if (!field || field->fieldName() != kFlagField)
        return;
    auto* grid = static_cast<toolkit::TDBGrid*>(Sender);
    toolkit::TRect rect = Rect;
    DrawGridCheckBox(grid->Canvas(), rect, field->asBoolean());
}

// A flag column is never edited as text: editing follows the current column.
void TEdittest::DBGrid2ColEnter(QObject* Sender) {
    auto* grid = static_cast<toolkit::TDBGrid*>(Sender);
    const data::Field* field = grid->SelectedField();
    if (field && field->fieldName() == kFlagField)
        grid->setOptions(grid->Options() & ~toolkit::dgEditing);
    else
        grid->setOptions(grid->Options() | toolkit::dgEditing);
}

void TEdittest::DBGrid2MouseUp(QObject* Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X,
                               int Y) {
    toggleFlag(static_cast<toolkit::TDBGrid*>(Sender), DataModule2->Variant, X, Y);
}

// Rows striped by their record number (-1, lilac, for every row while a new row is pending);
// the current cell in the window's colours, focused or not.
void TEdittest::DBGrid1DrawColumnCell(QObject* Sender, const toolkit::TRect& Rect, int DataCol,
                                      toolkit::TColumn* Column, toolkit::TGridDrawState State) {
    auto* grid = static_cast<toolkit::TDBGrid*>(Sender);
    toolkit::TCanvas* canvas = grid->Canvas();
    const int recNo = grid->DataSource()->dataSet().recNo();
    if (recNo % 2 == 1)
        canvas->Brush.Color = QColor(198, 198, 255);
    else
        canvas->Brush.Color = QColor(235, 215, 255);
    if (State & toolkit::gdSelected) {
        canvas->Brush.Color = toolkit::clWindow();
        canvas->Font.Color = toolkit::clWindowText();
    }
    grid->DefaultDrawColumnCell(Rect, DataCol, Column, State);
}

// Adds an answer option to the current question: the link comes from the question, the flag
// starts false and the text empty.
void TEdittest::SpeedButton1Click(QObject*) {
    DataModule2->Variant.append();
    DataModule2->Variant.setFieldValue(data::kCorrectColumn, false);
    DataModule2->Variant.post();
}

// Adds a question whose text is one space, stored at once.
void TEdittest::SpeedButton2Click(QObject*) {
    DataModule2->Vopros.append();
    DataModule2->Vopros.setFieldValue(data::kQuestionColumn, QStringLiteral(" "));
    DataModule2->Vopros.post();
}

// Deletes the current question only: its answer options and explanations stay in their tables.
void TEdittest::SpeedButton3Click(QObject*) {
    if (toolkit::MessageDlg(kDeleteQuestion, toolkit::mbYes | toolkit::mbNo) ==
        toolkit::ModalResult::Yes)
        DataModule2->Vopros.remove();
}

void TEdittest::SpeedButton4Click(QObject*) {
    if (toolkit::MessageDlg(kDeleteQuestion, toolkit::mbYes | toolkit::mbNo) ==
        toolkit::ModalResult::Yes)
        DataModule2->Variant.remove();
}

// Leaves an edit in progress pending in its table: the next post on that table stores it.
void TEdittest::FormClose(QObject*) {
    showMainMenu();
}

void TEdittest::SpeedButton5Click(QObject*) {
    DataModule2->Obyasnenie.append();
    DataModule2->Obyasnenie.setFieldValue(data::kCorrectColumn, false);
    DataModule2->Obyasnenie.post();
}

void TEdittest::SpeedButton6Click(QObject*) {
    if (toolkit::MessageDlg(kDeleteQuestion, toolkit::mbYes | toolkit::mbNo) ==
        toolkit::ModalResult::Yes)
        DataModule2->Obyasnenie.remove();
}

void TEdittest::DBGrid3MouseUp(QObject* Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X,
                               int Y) {
    toggleFlag(static_cast<toolkit::TDBGrid*>(Sender), DataModule2->Obyasnenie, X, Y);
}

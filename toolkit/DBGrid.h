#pragma once

#include "toolkit/Canvas.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>
#include <functional>
#include <memory>
#include <vector>

namespace data {
class DataSource;
class Field;
} // namespace data

namespace toolkit {

class DBGridModel;
class TDBGrid;

// The grid's options; a set of them is an or of these values.
enum TDBGridOption : int {
    dgEditing = 1 << 0,
    dgAlwaysShowEditor = 1 << 1,
    dgTitles = 1 << 2,
    dgIndicator = 1 << 3,
    dgColumnResize = 1 << 4,
    dgColLines = 1 << 5,
    dgRowLines = 1 << 6,
    dgTabs = 1 << 7,
    dgRowSelect = 1 << 8,
    dgAlwaysShowSelection = 1 << 9,
    dgConfirmDelete = 1 << 10,
    dgCancelOnExit = 1 << 11,
    dgMultiSelect = 1 << 12,
};
using TDBGridOptions = int;

// The state of a painted cell; a set of them is an or of these values.
enum TGridDrawStateFlag : int { gdSelected = 1, gdFocused = 2, gdFixed = 4 };
using TGridDrawState = int;

// One column of a grid, bound to a field of the grid's table by the field's name, which the
// grid's model keeps.
class TColumn {
public:
    // width -1: the default for the field.
    TColumn(TDBGrid& grid, const DBGridModel& model, int index, int width);

    // The bound field, or null while the grid has no open table with such a field.
    data::Field* Field() const;
    // The title: the field's display label.
    QString Title() const;
    // In pixels; a column whose width was never set has the default for its field.
    int Width() const;
    // Kept for as long as the grid lives, whatever its rows do; dragging the column's separator
    // sets it too.
    void setWidth(int width);
    // The width set, or -1 for the field's default.
    int wantedWidth() const { return width_; }
    // Position among the columns as the user sees them (titles can be dragged to reorder).
    int VisualIndex() const;
    // Position in the grid's list of columns, which never changes.
    int Index() const { return index_; }
    int DefaultWidth() const;

private:
    TDBGrid& grid_;
    const DBGridModel& model_;
    int index_;
    int width_;

public:
    const QString FieldName;
};

// A data-aware grid: the rows of a data source's table, one column per bound field, with the
// current cell and the table's current row kept in step, in-place editing on demand and the
// keyboard of a database grid. The rows come from a DBGridModel, which follows the table and
// reads the rows shown on demand, so the grid costs the same at any number of rows; the model
// is the grid's only door to the table: it reads, edits and moves through it. While the grid
// cannot be seen, its model stops following the table and catches up when the grid is shown
// again.
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    void setDataSource(data::DataSource* source);
    data::DataSource* DataSource() const;

    // Columns in their fixed order. Width -1 leaves the default for the field.
    TColumn* addColumn(const QString& fieldName, int width = -1);
    int columnCount() const;
    TColumn* column(int index) const;
    // The column the user sees at a position.
    TColumn* visualColumn(int visualIndex) const;

    TDBGridOptions Options() const { return options_; }
    void setOptions(TDBGridOptions options);

    // The current cell's column and its field.
    TColumn* SelectedColumn() const;
    data::Field* SelectedField() const;

    // Whether the in-place editor is open, and its text.
    bool EditorMode() const;
    QLineEdit* inplaceEditor() const { return editor_; }

    // The cell under a point of the grid's client area (the title row included): the row
    // among those shown (-1 on the title row or outside), the column's index (-1 outside).
    struct TGridCoord {
        int X = -1; // column index
        int Y = -1; // shown row, -1 for the title row or below the rows
    };
    TGridCoord MouseCoord(int X, int Y) const;
    // The cell where the mouse button now being released was pressed (X -1 when the press was
    // not on a data cell, or did not act on one: see viewportEvent).
    TGridCoord PressCoord() const { return pressCoord_; }

    // The height of a row, the line below it included.
    int rowHeight() const;

    // The drawing surface, valid while OnDrawColumnCell runs.
    TCanvas* Canvas() { return &canvas_; }
    // Paints a data cell the grid's own way with the canvas's brush and font colours: fills the
    // rectangle and writes the field's display text 2 pixels in from the left and top.
    void DefaultDrawColumnCell(const TRect& rect, int dataCol, TColumn* column,
                               TGridDrawState state);

    // Events. Called with the table's active row set to the painted row.
    std::function<void(const TRect& rect, int dataCol, TColumn* column, TGridDrawState state)>
        OnDrawColumnCell;
    std::function<void()> OnColEnter;
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>
        OnMouseUp;

    using QTableView::edit;

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyboardSearch(const QString& search) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

public:
    void doItemsLayout() override;

private:
    class Delegate;

    void followModel();
    void applyOptions();
    // Gives the columns the widths and the order they were given, after Qt's title bar forgot
    // them (a reset of the rows).
    void restoreColumns();
    void rememberOrder();
    // Keeps the top visible row whole at the end of the rows as everywhere else.
    void alignTopRow();
    // Puts the current row's position into the view without moving the table.
    void syncFromTable();
    void setCurrentCell(int row, int column);
    int currentColumn() const;
    // Puts text typed into the in-place editor into the row (the row goes into editing).
    void updateData();
    // Closes the in-place editor; its text is given up unless it was put into the row.
    void hideEditor();
    bool editorModified() const;
    bool canModify() const;
    bool editingAllowed() const;
    void focusLeft();
    // The keys of the grid, with the in-place editor open or not.
    bool handleKey(QKeyEvent* event);
    bool editorKey(QKeyEvent* event);
    // Typing into the editor puts the row into editing, or is given up when it cannot.
    void editorTextEdited();
    void tab(bool forward);
    void nextRow();
    void priorRow();
    void escape();
    void deleteRecord();
    void reportMouseUp(QMouseEvent* event, QWidget* from);
    void paintCell(QPainter* painter, const QRect& rect, const QModelIndex& index);

    TDBGridOptions options_ = dgEditing | dgTitles | dgColumnResize | dgColLines | dgRowLines |
                              dgTabs | dgConfirmDelete | dgCancelOnExit;
    DBGridModel* model_;
    std::vector<std::unique_ptr<TColumn>> columns_;
    Delegate* delegate_;
    TCanvas canvas_;

    QPointer<QLineEdit> editor_;
    QPersistentModelIndex editIndex_;
    int lastColumn_ = -1;
    int syncing_ = 0;
    int modelChanging_ = 0;
    // The columns' order as the user dragged it (logical index by visual position); empty while
    // never dragged.
    std::vector<int> order_;
    bool restoringColumns_ = false;

    // The click rule: a press acts on a cell only when the rows shown are those that were on
    // screen when the button went down. A press that brings the focus reaches the grid first as
    // the focus arriving, before whatever the focus leaving another control does to the rows.
    // A later press that went down before the replaced rows were painted, or within the
    // double-click interval of the press that replaced them (the same gesture: no person aims
    // at rows painted a few milliseconds before), acts no more than that press.
    bool wentDownUnseen(const QMouseEvent& press) const;
    TGridCoord pressCoord_;
    bool pressOnCurrent_ = false;
    bool focusedByPress_ = false;
    quint64 focusGeneration_ = 0;
    // The timestamp of the press that replaced the rows (-1 once a press acted), the clock
    // started when it was handled, and the nanoseconds until the new rows were painted (-1
    // until then).
    qint64 replacedAt_ = -1;
    QElapsedTimer sinceReplaced_;
    qint64 unseenFor_ = -1;
    // After a press that did not act, typing does not go into a row until the user acts on a
    // cell again.
    bool typingHeld_ = false;
};

} // namespace toolkit

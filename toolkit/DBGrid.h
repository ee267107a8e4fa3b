#pragma once

#include "data/DataSource.h"
#include "toolkit/Canvas.h"

#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>
#include <functional>
#include <memory>
#include <vector>

namespace data {
class Field;
class Table;
} // namespace data

namespace toolkit {

class DBGridModel;
class DBGridDelegate;
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

// One column of a grid, bound to a field of the grid's table by the field's name.
class TColumn {
public:
    TColumn(TDBGrid& grid, const QString& fieldName) : grid_(grid), FieldName(fieldName) {}

    // The bound field, or null while the grid has no open table with such a field.
    data::Field* Field() const;
    // The title: the field's display label.
    QString Title() const;
    // In pixels; a column whose width was never set has the default for its field.
    int Width() const;
    void setWidth(int width);
    // Position among the columns as the user sees them (titles can be dragged to reorder).
    int VisualIndex() const;
    // Position in the grid's list of columns, which never changes.
    int Index() const { return index_; }
    int DefaultWidth() const;

private:
    friend class TDBGrid;
    TDBGrid& grid_;
    int index_ = -1;

public:
    const QString FieldName;
};

// A data-aware grid: the rows of a data source's table, one column per bound field, with the
// current cell and the table's current row kept in step, in-place editing on demand and the
// keyboard of a database grid. Rows are read from the table as they are painted, so the grid
// costs the same at any number of rows.
class TDBGrid : public QTableView, private data::DataLink {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    void setDataSource(data::DataSource* source);
    data::DataSource* DataSource() const { return source_; }
    data::Table* table() const;

    // Columns in their fixed order. Width -1 leaves the default for the field.
    TColumn* addColumn(const QString& fieldName, int width = -1);
    int columnCount() const { return int(columns_.size()); }
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
    // not on a data cell).
    TGridCoord PressCoord() const { return pressCoord_; }

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

    // Internal to the model and delegate.
    void paintCell(QPainter* painter, const QRect& rect, const QModelIndex& index);
    void editorCreated(QLineEdit* editor, const QModelIndex& index);
    bool editorKey(QKeyEvent* event);
    void editorTextEdited();
    // Puts the editor's text into the row, showing a failure in the error box: for Qt's own
    // commits, which must not see an exception.
    void commitEditor();
    int rowHeight() const;

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyboardSearch(const QString& search) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    friend class TColumn;
    friend class DBGridModel;

    void dataEvent(data::DataEvent event, int row, data::Field* field) override;
    void applyOptions();
    void applyColumnWidths();
    void rebind();
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
    void tab(bool forward);
    void nextRow();
    void priorRow();
    void escape();
    void deleteRecord();
    void reportMouseUp(QMouseEvent* event, QWidget* from);

    data::DataSource* source_ = nullptr;
    std::vector<std::unique_ptr<TColumn>> columns_;
    std::vector<int> widths_; // -1: the default
    TDBGridOptions options_ = dgEditing | dgTitles | dgColumnResize | dgColLines | dgRowLines |
                              dgTabs | dgConfirmDelete | dgCancelOnExit;
    DBGridModel* model_;
    DBGridDelegate* delegate_;
    TCanvas canvas_;

    QPointer<QLineEdit> editor_;
    QPersistentModelIndex editIndex_;
    int lastColumn_ = -1;
    int syncing_ = 0;
    int modelChanging_ = 0;
    bool blankReplaced_ = false;
    TGridCoord pressCoord_;
    bool pressOnCurrent_ = false;
    bool focusedByPress_ = false;
};

} // namespace toolkit

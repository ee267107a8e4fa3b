#include "toolkit/DBGrid.h"

#include "data/Field.h"
#include "data/Table.h"
#include "toolkit/DBGridModel.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace toolkit {

using data::DataEvent;
using data::DataSetState;

// ---- columns -------------------------------------------------------------------------------

data::Field* TColumn::Field() const {
    const data::Table* table = grid_.table();
    return table ? table->findField(FieldName) : nullptr;
}

QString TColumn::Title() const {
    const data::Field* field = Field();
    return field ? field->displayLabel() : FieldName;
}

int TColumn::Width() const {
    return grid_.horizontalHeader()->sectionSize(index_);
}

void TColumn::setWidth(int width) {
    grid_.widths_[index_] = width;
    grid_.applyColumnWidths();
}

int TColumn::VisualIndex() const {
    return grid_.horizontalHeader()->visualIndex(index_);
}

// The width a column gets from its field: the display width in digits of the column's font,
// and never narrower than its title.
int TColumn::DefaultWidth() const {
    const QFontMetrics metrics(grid_.font());
    const data::Field* field = Field();
    if (!field)
        return 64;
    const int byDigits = field->displayWidth() * metrics.horizontalAdvance(QLatin1Char('0')) + 4;
    const int byTitle = metrics.horizontalAdvance(Title()) + 4;
    return std::max(byDigits, byTitle);
}

// ---- grid ----------------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent)
    : QTableView(parent), model_(new DBGridModel(*this)), delegate_(new DBGridDelegate(*this)) {
    setModel(model_);
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    // The keys that open the editor are the grid's own (see handleKey); the mouse opens it on
    // a double click or a click on the current cell (see viewportEvent: Qt's own delayed
    // "selected clicked" editing would refuse typing for a double-click interval).
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAutoScroll(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->viewport()->installEventFilter(this);
    applyOptions();

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const auto inside = [this](const QWidget* w) {
            return w && (w == this || isAncestorOf(w));
        };
        // Moving to another window (a message box, another form) is not leaving the grid.
        if (inside(old) && !inside(now) && now && now->window() == window())
            runHandler([this] { focusLeft(); });
    });
}

TDBGrid::~TDBGrid() {
    if (source_)
        source_->removeLink(this);
}

data::Table* TDBGrid::table() const {
    return source_ ? &source_->dataSet() : nullptr;
}

void TDBGrid::setDataSource(data::DataSource* source) {
    if (source == source_)
        return;
    hideEditor();
    if (source_)
        source_->removeLink(this);
    model_->beginReset();
    source_ = source;
    if (source_)
        source_->addLink(this);
    model_->endReset();
    rebind();
}

void TDBGrid::rebind() {
    model_->titlesChanged();
    applyColumnWidths();
    syncFromTable();
}

TColumn* TDBGrid::addColumn(const QString& fieldName, int width) {
    const int index = columnCount();
    model_->beginAddColumn(index);
    auto column = std::make_unique<TColumn>(*this, fieldName);
    column->index_ = index;
    columns_.push_back(std::move(column));
    widths_.push_back(width);
    model_->endAddColumn();
    applyColumnWidths();
    syncFromTable();
    return columns_.back().get();
}

TColumn* TDBGrid::column(int index) const {
    return index >= 0 && index < columnCount() ? columns_[index].get() : nullptr;
}

TColumn* TDBGrid::visualColumn(int visualIndex) const {
    return column(horizontalHeader()->logicalIndex(visualIndex));
}

void TDBGrid::applyColumnWidths() {
    for (const auto& column : columns_) {
        const int wanted = widths_[column->index_];
        setColumnWidth(column->index_, wanted >= 0 ? wanted : column->DefaultWidth());
    }
}

int TDBGrid::rowHeight() const {
    // The text's height, 3 pixels of margin and the line between rows.
    return fontMetrics().height() + 3 + ((options_ & dgRowLines) ? 1 : 0);
}

void TDBGrid::setOptions(TDBGridOptions options) {
    if (options == options_)
        return;
    const bool editingOff = (options_ & dgEditing) && !(options & dgEditing);
    options_ = options;
    if (editingOff) {
        updateData();
        hideEditor();
    }
    applyOptions();
}

void TDBGrid::applyOptions() {
    QHeaderView* titles = horizontalHeader();
    titles->setVisible(options_ & dgTitles);
    const bool resizable = options_ & dgColumnResize;
    titles->setSectionResizeMode(resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
    titles->setSectionsMovable(resizable);
    setShowGrid(options_ & (dgColLines | dgRowLines));
    setTabKeyNavigation(options_ & dgTabs);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(rowHeight());
    titles->setFixedHeight(rowHeight() + 2);
    viewport()->update();
}

void TDBGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        applyOptions();
        applyColumnWidths();
    }
}

TColumn* TDBGrid::SelectedColumn() const {
    return column(currentColumn());
}

data::Field* TDBGrid::SelectedField() const {
    const TColumn* selected = SelectedColumn();
    return selected ? selected->Field() : nullptr;
}

int TDBGrid::currentColumn() const {
    const QModelIndex current = currentIndex();
    if (current.isValid())
        return current.column();
    if (lastColumn_ >= 0 && lastColumn_ < columnCount())
        return lastColumn_;
    return columnCount() > 0 ? horizontalHeader()->logicalIndex(0) : -1;
}

bool TDBGrid::EditorMode() const {
    return editor_ != nullptr;
}

bool TDBGrid::canModify() const {
    const data::Table* t = table();
    return t && t->active() && source_->enabled;
}

bool TDBGrid::editingAllowed() const {
    if (!canModify() || !(options_ & dgEditing))
        return false;
    const data::Field* field = SelectedField();
    return field && !field->readOnly();
}

// ---- following the table -------------------------------------------------------------------

void TDBGrid::dataEvent(DataEvent event, int row, data::Field*) {
    data::Table* t = table();
    switch (event) {
    case DataEvent::RowsAboutToBeReset:
        hideEditor();
        lastColumn_ = currentColumn();
        ++modelChanging_;
        model_->beginReset();
        break;
    case DataEvent::RowsReset:
        model_->endReset();
        --modelChanging_;
        rebind();
        break;
    case DataEvent::RowAboutToBeInserted:
        // The blank row of an empty table becomes the new row: no row is added.
        if (t->shownCount() == 0) {
            blankReplaced_ = true;
        } else {
            ++modelChanging_;
            model_->beginInsertRow(row);
        }
        break;
    case DataEvent::RowInserted:
        if (blankReplaced_) {
            blankReplaced_ = false;
            model_->rowChanged(0);
        } else {
            model_->endInsertRow();
            --modelChanging_;
        }
        break;
    case DataEvent::RowAboutToBeRemoved:
        if (editor_ && editIndex_.row() == row)
            hideEditor();
        if (t->shownCount() == 1) {
            blankReplaced_ = true;
        } else {
            ++modelChanging_;
            model_->beginRemoveRow(row);
        }
        break;
    case DataEvent::RowRemoved:
        if (blankReplaced_) {
            blankReplaced_ = false;
            model_->rowChanged(0);
        } else {
            model_->endRemoveRow();
            --modelChanging_;
        }
        break;
    case DataEvent::RecordMoved:
        syncFromTable();
        break;
    case DataEvent::RecordChanged:
        if (row >= 0)
            model_->rowChanged(row);
        else
            model_->allRowsChanged();
        break;
    case DataEvent::StateChanged:
        // Painting may depend on the state (record numbers while a new row is pending).
        viewport()->update();
        break;
    case DataEvent::UpdateRecord:
        updateData();
        break;
    }
}

void TDBGrid::syncFromTable() {
    const data::Table* t = table();
    if (!t || !t->active() || model_->rowCount() == 0 || columnCount() == 0)
        return;
    const int row = std::max(0, t->currentPosition());
    const int col = currentColumn();
    const QModelIndex wanted = model_->index(row, col);
    if (editor_ && editIndex_.row() != row)
        hideEditor(); // its text went into its row before the table moved
    if (wanted != currentIndex()) {
        ++syncing_;
        selectionModel()->setCurrentIndex(wanted, QItemSelectionModel::ClearAndSelect);
        --syncing_;
    }
    scrollTo(wanted);
}

void TDBGrid::setCurrentCell(int row, int column) {
    const QModelIndex wanted = model_->index(row, column);
    if (wanted.isValid())
        selectionModel()->setCurrentIndex(wanted, QItemSelectionModel::ClearAndSelect);
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    // Commits and closes an editor open on the previous cell.
    QTableView::currentChanged(current, previous);
    if (!current.isValid() || modelChanging_)
        return;
    data::Table* t = table();
    if (!syncing_ && t && t->active() && current.row() < t->shownCount() &&
        current.row() != t->currentPosition()) {
        runHandler([&] { t->moveTo(current.row()); });
        // A move that failed (a post refused) leaves the table where it was: show it there.
        if (t->currentPosition() != current.row())
            QTimer::singleShot(0, this, [this] { syncFromTable(); });
    }
    if (current.column() != lastColumn_) {
        lastColumn_ = current.column();
        if (OnColEnter)
            runHandler(OnColEnter);
    }
}

// ---- the in-place editor -------------------------------------------------------------------

bool TDBGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Every way of opening the editor comes here.
    if (!index.isValid() || !(options_ & dgEditing) || !canModify())
        return false;
    const TColumn* col = column(index.column());
    const data::Field* field = col ? col->Field() : nullptr;
    if (!field || field->readOnly())
        return false;
    if (trigger == AnyKeyPressed) {
        // Typing changes the row: it goes into editing first, or the key does nothing.
        bool editing = false;
        runHandler([&] { editing = source_->edit(); });
        if (!editing)
            return false;
    }
    return QTableView::edit(index, trigger, event);
}

void TDBGrid::editorCreated(QLineEdit* editor, const QModelIndex& index) {
    editor_ = editor;
    editIndex_ = index;
}

void TDBGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (editor == editor_) {
        editor_ = nullptr;
        editIndex_ = QPersistentModelIndex();
    }
    QTableView::closeEditor(editor, hint);
}

void TDBGrid::hideEditor() {
    if (editor_)
        closeEditor(editor_, QAbstractItemDelegate::NoHint);
}

bool TDBGrid::editorModified() const {
    return editor_ && editor_->isModified();
}

void TDBGrid::editorTextEdited() {
    bool editing = false;
    runHandler([&] { editing = source_ && source_->edit(); });
    if (!editing && editor_) {
        editor_->setText(editIndex_.data(Qt::EditRole).toString());
        editor_->setModified(false);
    }
}

void TDBGrid::updateData() {
    if (!editorModified() || !source_)
        return;
    data::Table* t = table();
    const TColumn* col = column(editIndex_.column());
    data::Field* field = col ? col->Field() : nullptr;
    if (!field || editIndex_.row() != std::max(0, t->currentPosition()))
        return;
    if (!source_->edit())
        return;
    const QString text = editor_->text();
    // An empty text clears a field that is not text.
    if (text.isEmpty() && field->dataType() != data::FieldType::String &&
        field->dataType() != data::FieldType::WideString)
        field->setValue(QVariant());
    else
        field->setValue(text);
    if (editor_)
        editor_->setModified(false);
}

void TDBGrid::commitEditor() {
    runHandler([this] { updateData(); });
}

// ---- keys ----------------------------------------------------------------------------------

void TDBGrid::keyboardSearch(const QString&) {
    // Typing edits; it never jumps to a row.
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    bool handled = false;
    runHandler([&] { handled = handleKey(event); });
    if (handled)
        event->accept();
    else
        QTableView::keyPressEvent(event);
}

bool TDBGrid::editorKey(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    bool grids = false;
    switch (key) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        grids = true;
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        grids = options_ & dgTabs;
        break;
    case Qt::Key_Insert:
        grids = mods == Qt::NoModifier;
        break;
    case Qt::Key_Delete:
        grids = mods == Qt::ControlModifier;
        break;
    case Qt::Key_Left:
        // At the start of the text the arrow moves to the previous cell.
        grids = editor_ && editor_->cursorPosition() == 0 && !editor_->hasSelectedText();
        break;
    case Qt::Key_Right:
        grids = editor_ && editor_->cursorPosition() == editor_->text().size() &&
                !editor_->hasSelectedText();
        break;
    default:
        break;
    }
    if (!grids)
        return false;
    keyPressEvent(event);
    return true;
}

bool TDBGrid::handleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    data::Table* t = table();
    if (!t || !t->active())
        return false;
    switch (event->key()) {
    case Qt::Key_Delete:
        if (mods != Qt::ControlModifier)
            return false;
        deleteRecord();
        return true;
    case Qt::Key_Escape:
        escape();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (EditorMode()) {
            updateData();
            hideEditor();
        } else if (editingAllowed()) {
            edit(currentIndex(), EditKeyPressed, event);
        }
        return true; // never on to a default button
    case Qt::Key_F2:
        if (!EditorMode() && editingAllowed())
            edit(currentIndex(), EditKeyPressed, event);
        return true;
    case Qt::Key_Insert:
        if (mods != Qt::NoModifier)
            return false;
        if ((options_ & dgEditing) && canModify()) {
            updateData();
            hideEditor();
            t->insert();
        }
        return true;
    case Qt::Key_Down:
        if (mods & (Qt::ShiftModifier | Qt::ControlModifier))
            return false;
        updateData();
        hideEditor();
        nextRow();
        return true;
    case Qt::Key_Up:
        if (mods & (Qt::ShiftModifier | Qt::ControlModifier))
            return false;
        updateData();
        hideEditor();
        priorRow();
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (!(options_ & dgTabs) || (mods & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        updateData();
        hideEditor();
        tab(event->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier));
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Left:
    case Qt::Key_Right:
        // Qt's own moves, with the editor's text put into the row first.
        if (EditorMode()) {
            updateData();
            hideEditor();
        }
        return false;
    default:
        return false;
    }
}

// Down: to the next row; past the last row a new row, while editing is on. An unchanged new
// row is dropped instead of moving on.
void TDBGrid::nextRow() {
    data::Table* t = table();
    if (t->state() == DataSetState::Insert && !t->modified()) {
        if (t->currentPosition() == t->shownCount() - 1)
            return;
        t->cancel();
        return;
    }
    t->next();
    if (t->eof() && (options_ & dgEditing) && canModify())
        t->append();
}

// Up: to the previous row; an unchanged new row at the end is dropped.
void TDBGrid::priorRow() {
    data::Table* t = table();
    if (t->state() == DataSetState::Insert && !t->modified() &&
        t->currentPosition() == t->shownCount() - 1) {
        t->cancel();
        return;
    }
    t->prior();
}

// Tab and Shift+Tab: column by column as the user sees them, on across the rows.
void TDBGrid::tab(bool forward) {
    const int count = columnCount();
    if (count == 0)
        return;
    QHeaderView* titles = horizontalHeader();
    const int original = titles->visualIndex(currentColumn());
    int next = forward ? original + 1 : original - 1;
    if (next >= count) {
        nextRow();
        next = 0;
    } else if (next < 0) {
        priorRow();
        next = count - 1;
    }
    if (next == original)
        return;
    setCurrentCell(std::max(0, table()->currentPosition()), titles->logicalIndex(next));
}

// Esc: first gives up the text typed into the cell; with none, all changes of the row.
void TDBGrid::escape() {
    if (editorModified()) {
        hideEditor();
        return;
    }
    hideEditor();
    table()->cancel();
}

void TDBGrid::deleteRecord() {
    data::Table* t = table();
    if (!canModify() || t->isEmpty())
        return;
    hideEditor();
    if ((options_ & dgConfirmDelete) &&
        MessageDlg(QStringLiteral("Delete record?"), mbOK | mbCancel) == ModalResult::Cancel)
        return;
    t->remove();
}

// Leaving the grid: an unchanged new row goes; otherwise the editor's text is put into the
// row, which stays in editing.
void TDBGrid::focusLeft() {
    data::Table* t = table();
    if (!t || !t->active())
        return;
    if ((options_ & dgCancelOnExit) && t->state() == DataSetState::Insert && !t->modified() &&
        !editorModified()) {
        hideEditor();
        t->cancel();
        return;
    }
    updateData();
    hideEditor();
}

void TDBGrid::focusInEvent(QFocusEvent* event) {
    focusedByPress_ = event->reason() == Qt::MouseFocusReason;
    QTableView::focusInEvent(event);
    syncFromTable();
}

// ---- mouse ---------------------------------------------------------------------------------

TDBGrid::TGridCoord TDBGrid::MouseCoord(int X, int Y) const {
    TGridCoord coord;
    const QPoint point(X, Y);
    const QHeaderView* titles = horizontalHeader();
    if (titles->isVisible() && titles->geometry().contains(point)) {
        coord.X = titles->logicalIndexAt(titles->viewport()->mapFrom(this, point));
        return coord;
    }
    if (!viewport()->geometry().contains(point))
        return coord;
    const QPoint inside = viewport()->mapFrom(this, point);
    coord.X = columnAt(inside.x());
    coord.Y = rowAt(inside.y());
    return coord;
}

bool TDBGrid::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const QPoint at =
            viewport()->mapTo(this, static_cast<QMouseEvent*>(event)->position().toPoint());
        pressCoord_ = MouseCoord(at.x(), at.y());
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // Not when this press is what brought the focus into the grid.
        pressOnCurrent_ = event->type() == QEvent::MouseButtonPress && !focusedByPress_ &&
                          mouse->button() == Qt::LeftButton && currentIndex().isValid() &&
                          indexAt(mouse->position().toPoint()) == currentIndex();
        focusedByPress_ = false;
        break;
    }
    case QEvent::MouseButtonRelease: {
        // The grid's own handling of the release comes first, then the handler's.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool result = QTableView::viewportEvent(event);
        // A click on the cell that was already current opens the editor.
        if (pressOnCurrent_ && mouse->button() == Qt::LeftButton && !EditorMode() &&
            indexAt(mouse->position().toPoint()) == currentIndex())
            edit(currentIndex(), EditKeyPressed, nullptr);
        pressOnCurrent_ = false;
        reportMouseUp(static_cast<QMouseEvent*>(event), viewport());
        return result;
    }
    default:
        break;
    }
    return QTableView::viewportEvent(event);
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonDblClick)
            pressCoord_ = TGridCoord();
        else if (event->type() == QEvent::MouseButtonRelease)
            reportMouseUp(static_cast<QMouseEvent*>(event), horizontalHeader()->viewport());
    }
    return QTableView::eventFilter(watched, event);
}

void TDBGrid::hideEvent(QHideEvent* event) {
    // Typed text stays with the row while the window is hidden, in editing like the row.
    runHandler([this] {
        updateData();
        hideEditor();
    });
    QTableView::hideEvent(event);
}

void TDBGrid::reportMouseUp(QMouseEvent* event, QWidget* from) {
    if (!OnMouseUp)
        return;
    const QPoint at = from->mapTo(this, event->position().toPoint());
    const Qt::MouseButton button = event->button();
    const Qt::KeyboardModifiers shift = event->modifiers();
    runHandler([&] { OnMouseUp(button, shift, at.x(), at.y()); });
}

// ---- painting ------------------------------------------------------------------------------

void TDBGrid::paintCell(QPainter* painter, const QRect& rect, const QModelIndex& index) {
    const data::Table* t = table();
    TColumn* col = column(index.column());
    if (!t || !col)
        return;
    const bool selected = index == currentIndex();
    const bool focused = selected && hasFocus();
    const TGridDrawState state = (selected ? gdSelected : 0) | (focused ? gdFocused : 0);
    const TRect cell = TRect::fromQRect(rect);
    canvas_.setHandle(painter);
    runHandler([&] {
        const data::Table::ActiveRow painted(*t, index.row());
        canvas_.Brush.Color = focused ? clHighlight() : clWindow();
        canvas_.Font.Color = focused ? clHighlightText() : clWindowText();
        DefaultDrawColumnCell(cell, index.column(), col, state);
        if (OnDrawColumnCell)
            OnDrawColumnCell(cell, index.column(), col, state);
    });
    if (focused) {
        // The dotted focus rectangle of the platform, just inside the cell.
        painter->save();
        QPen dots(clWindowText(), 1, Qt::CustomDashLine);
        dots.setDashPattern({1, 1});
        painter->setPen(dots);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
    canvas_.setHandle(nullptr);
}

void TDBGrid::DefaultDrawColumnCell(const TRect& rect, int, TColumn* column, TGridDrawState) {
    const data::Field* field = column ? column->Field() : nullptr;
    canvas_.TextRect(rect, rect.Left + 2, rect.Top + 2, field ? field->displayText() : QString());
}

} // namespace toolkit

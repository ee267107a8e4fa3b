#include "toolkit/DBGrid.h"

#include "toolkit/DBGridModel.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QStyledItemDelegate>
#include <QTimer>

namespace toolkit {

// ---- columns -------------------------------------------------------------------------------

TColumn::TColumn(TDBGrid& grid, const DBGridModel& model, int index, int width)
    : grid_(grid), model_(model), index_(index), width_(width), FieldName(model.fieldName(index)) {}

data::Field* TColumn::Field() const {
    return model_.field(index_);
}

QString TColumn::Title() const {
    return model_.headerData(index_, Qt::Horizontal).toString();
}

int TColumn::Width() const {
    return grid_.horizontalHeader()->sectionSize(index_);
}

void TColumn::setWidth(int width) {
    width_ = width;
    grid_.setColumnWidth(index_, width >= 0 ? width : DefaultWidth());
}

int TColumn::VisualIndex() const {
    return grid_.horizontalHeader()->visualIndex(index_);
}

// The width a column gets from its field: the display width in digits of the column's font,
// and never narrower than its title.
int TColumn::DefaultWidth() const {
    const QFontMetrics metrics(grid_.font());
    const int digits = model_.displayWidth(index_);
    if (digits < 0)
        return 64;
    const int byDigits = digits * metrics.horizontalAdvance(QLatin1Char('0')) + 4;
    const int byTitle = metrics.horizontalAdvance(Title()) + 4;
    return std::max(byDigits, byTitle);
}

// ---- delegate ------------------------------------------------------------------------------

// Paints every data cell through the grid and gives the in-place editor the keys of a
// database grid.
class TDBGrid::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(TDBGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        grid_.paintCell(painter, option.rect, index);
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        auto* editor = new QLineEdit(parent);
        editor->setFrame(false);
        // A text column takes no more characters than its field holds.
        if (const int most = grid_.model_->maxLength(index.column()); most > 0)
            editor->setMaxLength(most);
        TDBGrid& grid = grid_;
        connect(editor, &QLineEdit::textEdited, &grid_, [&grid] { grid.editorTextEdited(); });
        grid_.editor_ = editor;
        grid_.editIndex_ = index;
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        // Text typed and not yet put into the row stays until it is put there or given up.
        if (!line || line->isModified())
            return;
        const QString text = index.data(Qt::EditRole).toString();
        if (line->text() != text)
            line->setText(text);
        line->selectAll();
    }

    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {
        // Qt's own commits must not see an exception: a failure goes to the error box.
        runHandler([this] { grid_.updateData(); });
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        editor->setGeometry(option.rect);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
            return grid_.editorKey(static_cast<QKeyEvent*>(event));
        case QEvent::ShortcutOverride:
            // Esc belongs to the editor, not to a shortcut of the window.
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::FocusOut:
            // The grid decides what leaving it means; Qt's commit-and-close on focus loss is
            // not the grid's behaviour.
            return false;
        default:
            return QStyledItemDelegate::eventFilter(watched, event);
        }
    }

private:
    TDBGrid& grid_;
};

// ---- grid ----------------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent)
    : QTableView(parent), model_(new DBGridModel(this)), delegate_(new Delegate(*this)) {
    // Before the view's own connections: the view moves its current cell while a row goes,
    // and that move must not move the table.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        hideEditor();
        lastColumn_ = currentColumn();
        ++modelChanging_;
    });
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] { ++modelChanging_; });
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first) {
                if (editor_ && editIndex_.row() == first)
                    hideEditor();
                ++modelChanging_;
            });
    setModel(model_);
    // After the view's own: Qt's title bar forgets widths and order on a reset.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        --modelChanging_;
        restoreColumns();
        syncFromTable();
    });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { --modelChanging_; });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this] { --modelChanging_; });
    connect(model_, &DBGridModel::currentRowMoved, this, [this] { syncFromTable(); });
    // Painting may depend on the state (record numbers while a new row is pending).
    connect(model_, &DBGridModel::tableStateChanged, viewport(), qOverload<>(&QWidget::update));
    connect(model_, &DBGridModel::postComing, this, [this] { updateData(); });
    model_->setFollowing(false); // until shown

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
    QHeaderView* titles = horizontalHeader();
    titles->setSectionsClickable(false);
    titles->setHighlightSections(false);
    titles->setStretchLastSection(false);
    titles->setMinimumSectionSize(1);
    titles->setDefaultAlignment(Qt::AlignCenter);
    titles->viewport()->installEventFilter(this);
    // What the user drags is kept: see restoreColumns.
    connect(titles, &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        TColumn* c = column(logical);
        if (!c || restoringColumns_)
            return;
        // Not the width the grid gave the column: the user dragged it.
        const int given = c->wantedWidth() >= 0 ? c->wantedWidth() : c->DefaultWidth();
        if (size != given)
            c->setWidth(size);
    });
    connect(titles, &QHeaderView::sectionMoved, this, [this] {
        if (!restoringColumns_)
            rememberOrder();
    });
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

TDBGrid::~TDBGrid() = default;

data::DataSource* TDBGrid::DataSource() const {
    return model_->dataSource();
}

void TDBGrid::setDataSource(data::DataSource* source) {
    if (source == DataSource())
        return;
    hideEditor();
    model_->setDataSource(source);
}

TColumn* TDBGrid::addColumn(const QString& fieldName, int width) {
    const int index = columnCount();
    model_->addField(fieldName);
    columns_.push_back(std::make_unique<TColumn>(*this, *model_, index, width));
    TColumn* added = column(index);
    added->setWidth(width);
    syncFromTable();
    return added;
}

int TDBGrid::columnCount() const {
    return int(columns_.size());
}

TColumn* TDBGrid::column(int index) const {
    return index >= 0 && index < columnCount() ? columns_[size_t(index)].get() : nullptr;
}

TColumn* TDBGrid::visualColumn(int visualIndex) const {
    return column(horizontalHeader()->logicalIndex(visualIndex));
}

void TDBGrid::rememberOrder() {
    const QHeaderView* titles = horizontalHeader();
    order_.clear();
    for (int visual = 0; visual < titles->count(); ++visual)
        order_.push_back(titles->logicalIndex(visual));
}

void TDBGrid::restoreColumns() {
    restoringColumns_ = true;
    QHeaderView* titles = horizontalHeader();
    for (int i = 0; i < columnCount(); ++i)
        column(i)->setWidth(column(i)->wantedWidth());
    if (int(order_.size()) == titles->count())
        for (int visual = 0; visual < int(order_.size()); ++visual)
            titles->moveSection(titles->visualIndex(order_[size_t(visual)]), visual);
    restoringColumns_ = false;
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
        restoreColumns();
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
    return model_->canModify();
}

bool TDBGrid::editingAllowed() const {
    return canModify() && (options_ & dgEditing) && model_->editable(currentColumn());
}

// ---- following the table -------------------------------------------------------------------

void TDBGrid::showEvent(QShowEvent* event) {
    QTableView::showEvent(event);
    model_->setFollowing(true);
}

void TDBGrid::syncFromTable() {
    if (!model_->active() || model_->rowCount() == 0 || columnCount() == 0)
        return;
    const int row = std::max(0, model_->currentRow());
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
    if (!syncing_ && current.row() < model_->shownRows() && current.row() != model_->currentRow()) {
        runHandler([&] { model_->moveTo(current.row()); });
        // A move that failed (a post refused) leaves the table where it was: show it there.
        if (model_->currentRow() != current.row())
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
    if (!model_->editable(index.column()))
        return false;
    if (trigger == AnyKeyPressed) {
        if (typingHeld_)
            return false;
        // Typing changes the row: it goes into editing first, or the key does nothing.
        bool editing = false;
        runHandler([&] { editing = model_->startEditing(); });
        if (!editing)
            return false;
    }
    return QTableView::edit(index, trigger, event);
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
    runHandler([&] { editing = model_->startEditing(); });
    if (!editing && editor_) {
        editor_->setText(editIndex_.data(Qt::EditRole).toString());
        editor_->setModified(false);
    }
}

void TDBGrid::updateData() {
    if (!editorModified())
        return;
    if (model_->setData(editIndex_, editor_->text()) && editor_)
        editor_->setModified(false);
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
    if (!model_->active())
        return false;
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F2:
    case Qt::Key_Insert:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Left:
    case Qt::Key_Right:
        // The user acts on a cell of the rows now shown.
        typingHeld_ = false;
        break;
    default:
        break;
    }
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
            model_->insert();
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
    if (model_->newRowUntouched()) {
        if (model_->currentRow() == model_->shownRows() - 1)
            return;
        model_->cancel();
        return;
    }
    model_->next();
    if (model_->atEnd() && (options_ & dgEditing) && canModify())
        model_->append();
}

// Up: to the previous row; an unchanged new row at the end is dropped.
void TDBGrid::priorRow() {
    if (model_->newRowUntouched() && model_->currentRow() == model_->shownRows() - 1) {
        model_->cancel();
        return;
    }
    model_->prior();
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
    setCurrentCell(std::max(0, model_->currentRow()), titles->logicalIndex(next));
}

// Esc: first gives up the text typed into the cell; with none, all changes of the row.
void TDBGrid::escape() {
    if (editorModified()) {
        hideEditor();
        return;
    }
    hideEditor();
    model_->cancel();
}

void TDBGrid::deleteRecord() {
    if (!canModify() || model_->shownRows() == 0)
        return;
    hideEditor();
    if ((options_ & dgConfirmDelete) &&
        MessageDlg(QStringLiteral("Delete record?"), mbOK | mbCancel) == ModalResult::Cancel)
        return;
    model_->remove();
}

// Leaving the grid: an unchanged new row goes; otherwise the editor's text is put into the
// row, which stays in editing.
void TDBGrid::focusLeft() {
    typingHeld_ = false;
    if (!model_->active())
        return;
    if ((options_ & dgCancelOnExit) && model_->newRowUntouched() && !editorModified()) {
        hideEditor();
        model_->cancel();
        return;
    }
    updateData();
    hideEditor();
}

void TDBGrid::focusInEvent(QFocusEvent* event) {
    focusedByPress_ = event->reason() == Qt::MouseFocusReason;
    focusGeneration_ = model_->rowsGeneration();
    // The press that brought the focus is handled before the event loop turns again; one that
    // went to the titles or a scroll bar leaves nothing behind for a later press.
    if (focusedByPress_)
        QTimer::singleShot(0, this, [this] { focusedByPress_ = false; });
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
        // The rows shown when the button went down: for a press that brought the focus, those
        // shown when the focus arrived.
        const auto* press = static_cast<QMouseEvent*>(event);
        const quint64 shownAtPress = focusedByPress_ ? focusGeneration_ : model_->rowsGeneration();
        const bool replacing = shownAtPress != model_->rowsGeneration();
        if (replacing) {
            replacedAt_ = qint64(press->timestamp());
            sinceReplaced_.start();
            unseenFor_ = -1;
        }
        if (replacing || wentDownUnseen(*press)) {
            // The rows were replaced on the way (leaving another grid dropped its new row, and
            // this one followed), or this press went down before the new rows were painted:
            // the user aimed at a row no longer there. The press only makes the grid current.
            pressCoord_ = TGridCoord();
            pressOnCurrent_ = false;
            focusedByPress_ = false;
            typingHeld_ = true;
            event->accept();
            return true;
        }
        replacedAt_ = -1;
        typingHeld_ = false;
        const QPoint at = viewport()->mapTo(this, press->position().toPoint());
        pressCoord_ = MouseCoord(at.x(), at.y());
        // Not when this press is what brought the focus into the grid.
        pressOnCurrent_ = event->type() == QEvent::MouseButtonPress && !focusedByPress_ &&
                          press->button() == Qt::LeftButton && currentIndex().isValid() &&
                          indexAt(press->position().toPoint()) == currentIndex();
        focusedByPress_ = false;
        break;
    }
    case QEvent::Paint: {
        const bool result = QTableView::viewportEvent(event);
        if (replacedAt_ >= 0 && unseenFor_ < 0)
            unseenFor_ = sinceReplaced_.nsecsElapsed();
        return result;
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

// A press's timestamp is the window system's and shares no clock with a paint, so the time the
// new rows took to reach the screen is measured on the monotonic clock from handling the press
// that replaced them (T), and laid after T. Until they are painted, the time gone so far is the
// least it took. Rows painted a few milliseconds after T are still not seen by a person: a press
// within the double-click interval of T belongs to the same gesture (its double-click event is
// the same press again, with the same timestamp).
bool TDBGrid::wentDownUnseen(const QMouseEvent& press) const {
    if (replacedAt_ < 0)
        return false;
    const qint64 unseen = unseenFor_ >= 0 ? unseenFor_ : sinceReplaced_.nsecsElapsed();
    const qint64 gesture =
        qint64(QGuiApplication::styleHints()->mouseDoubleClickInterval()) * 1000000;
    return (qint64(press.timestamp()) - replacedAt_) * 1000000 < std::max(unseen, gesture);
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonDblClick) {
            pressCoord_ = TGridCoord();
            focusedByPress_ = false; // this was the press that brought the focus
        } else if (event->type() == QEvent::MouseButtonRelease)
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
    // Nobody sees the rows: the model need not follow every move of the table (the draw moves
    // the questions thousands of times while the editor is hidden).
    if (!isVisible())
        model_->setFollowing(false);
}

// ---- scrolling -----------------------------------------------------------------------------

// Qt scrolls by whole rows except at the end, where it puts the last row against the bottom
// edge and cuts the top row. The grid keeps the top row whole there too; the rows then end
// above the bottom edge.
void TDBGrid::alignTopRow() {
    if (verticalScrollMode() != ScrollPerItem)
        return;
    const QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() <= 0 || bar->value() != bar->maximum())
        return;
    QHeaderView* rows = verticalHeader();
    const int whole = rows->sectionPosition(rows->logicalIndex(bar->value()));
    if (rows->offset() == whole)
        return;
    rows->setOffset(whole);
    viewport()->update();
    updateEditorGeometries();
}

void TDBGrid::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    if (dy)
        alignTopRow();
}

void TDBGrid::updateGeometries() {
    QTableView::updateGeometries();
    alignTopRow();
}

void TDBGrid::doItemsLayout() {
    QTableView::doItemsLayout();
    alignTopRow();
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
    TColumn* col = column(index.column());
    if (!model_->active() || !col)
        return;
    const bool selected = index == currentIndex();
    const bool focused = selected && hasFocus();
    const TGridDrawState state = (selected ? gdSelected : 0) | (focused ? gdFocused : 0);
    const TRect cell = TRect::fromQRect(rect);
    canvas_.setHandle(painter);
    runHandler([&] {
        model_->withActiveRow(index.row(), [&] {
            canvas_.Brush.Color = focused ? clHighlight() : clWindow();
            canvas_.Font.Color = focused ? clHighlightText() : clWindowText();
            DefaultDrawColumnCell(cell, index.column(), col, state);
            if (OnDrawColumnCell)
                OnDrawColumnCell(cell, index.column(), col, state);
        });
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
    canvas_.TextRect(rect, rect.Left + 2, rect.Top + 2,
                     column ? model_->displayText(column->Index()) : QString());
}

} // namespace toolkit

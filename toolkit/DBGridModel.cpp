#include "toolkit/DBGridModel.h"

#include "data/Field.h"
#include "data/Table.h"
#include "toolkit/DBGrid.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace toolkit {

DBGridModel::DBGridModel(TDBGrid& grid) : QAbstractTableModel(&grid), grid_(grid) {}

int DBGridModel::rowCount(const QModelIndex& parent) const {
    const data::Table* table = grid_.table();
    if (parent.isValid() || !table || !table->active())
        return 0;
    return std::max(1, table->shownCount());
}

int DBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.columnCount();
}

QVariant DBGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    const data::Table* table = grid_.table();
    const TColumn* column = grid_.column(index.column());
    data::Field* field = column ? column->Field() : nullptr;
    if (!table || !field)
        return QVariant();
    const data::Table::ActiveRow painted(*table, index.row());
    return field->displayText();
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QVariant();
    const TColumn* column = grid_.column(section);
    if (!column)
        return QVariant();
    if (role == Qt::DisplayRole)
        return column->Title();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return QVariant();
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const TColumn* column = grid_.column(index.column());
    const data::Field* field = column ? column->Field() : nullptr;
    if (field && !field->readOnly())
        flags |= Qt::ItemIsEditable;
    return flags;
}

void DBGridModel::rowChanged(int row) {
    if (row < 0 || row >= rowCount() || columnCount() == 0)
        return;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1), {Qt::DisplayRole, Qt::EditRole});
}

void DBGridModel::allRowsChanged() {
    if (rowCount() == 0 || columnCount() == 0)
        return;
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                     {Qt::DisplayRole, Qt::EditRole});
}

void DBGridModel::titlesChanged() {
    if (columnCount() > 0)
        emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

// ---- delegate ------------------------------------------------------------------------------

DBGridDelegate::DBGridDelegate(TDBGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

void DBGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    grid_.paintCell(painter, option.rect, index);
}

QWidget* DBGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                      const QModelIndex& index) const {
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    const TColumn* column = grid_.column(index.column());
    const data::Field* field = column ? column->Field() : nullptr;
    // A text column takes no more characters than its field holds.
    if (field && field->size() > 0)
        editor->setMaxLength(field->size());
    connect(editor, &QLineEdit::textEdited, &grid_, [this] { grid_.editorTextEdited(); });
    grid_.editorCreated(editor, index);
    return editor;
}

void DBGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* line = qobject_cast<QLineEdit*>(editor);
    // Text typed and not yet put into the row stays until it is put there or given up.
    if (!line || line->isModified())
        return;
    const QString text = index.data(Qt::EditRole).toString();
    if (line->text() != text)
        line->setText(text);
    line->selectAll();
}

void DBGridDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {
    grid_.commitEditor();
}

void DBGridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                          const QModelIndex&) const {
    editor->setGeometry(option.rect);
}

bool DBGridDelegate::eventFilter(QObject* watched, QEvent* event) {
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
        // The grid decides what leaving it means; Qt's commit-and-close on focus loss is not
        // the grid's behaviour.
        return false;
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace toolkit

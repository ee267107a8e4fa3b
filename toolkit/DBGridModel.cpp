#include "toolkit/DBGridModel.h"

#include "data/Field.h"
#include "data/Table.h"

namespace toolkit {

using data::DataEvent;
using data::DataSetState;

DBGridModel::DBGridModel(QObject* parent) : QAbstractTableModel(parent) {}

DBGridModel::~DBGridModel() = default;

void DBGridModel::setDataSource(data::DataSource* source) {
    if (source == dataSource())
        return;
    beginResetModel();
    link(source);
    stale_ = false;
    blankReplaced_ = false;
    ++rowsGeneration_;
    endResetModel();
    // Titles come from the fields of the new table.
    if (columnTotal() > 0)
        emit headerDataChanged(Qt::Horizontal, 0, columnTotal() - 1);
    emit currentRowMoved();
}

void DBGridModel::addField(const QString& name) {
    const int index = columnTotal();
    beginInsertColumns(QModelIndex(), index, index);
    fieldNames_.push_back(name);
    endInsertColumns();
}

data::Field* DBGridModel::field(int column) const {
    return column >= 0 && column < columnTotal() ? SourceLink::field(fieldNames_[column]) : nullptr;
}

int DBGridModel::displayWidth(int column) const {
    const data::Field* f = field(column);
    return f ? f->displayWidth() : -1;
}

int DBGridModel::maxLength(int column) const {
    const data::Field* f = field(column);
    return f ? f->size() : 0;
}

bool DBGridModel::editable(int column) const {
    const data::Field* f = field(column);
    return f && !f->readOnly();
}

QString DBGridModel::displayText(int column) const {
    const data::Field* f = field(column);
    return f ? f->displayText() : QString();
}

// ---- the table -----------------------------------------------------------------------------

bool DBGridModel::active() const {
    const data::Table* t = table();
    return t && t->active();
}

bool DBGridModel::canModify() const {
    return active() && dataSource()->enabled;
}

int DBGridModel::shownRows() const {
    return active() ? table()->shownCount() : 0;
}

int DBGridModel::currentRow() const {
    return active() ? table()->currentPosition() : -1;
}

bool DBGridModel::newRowUntouched() const {
    return active() && table()->state() == DataSetState::Insert && !table()->modified();
}

bool DBGridModel::atEnd() const {
    return active() && table()->eof();
}

void DBGridModel::moveTo(int row) {
    table()->moveTo(row);
}

void DBGridModel::next() {
    table()->next();
}

void DBGridModel::prior() {
    table()->prior();
}

void DBGridModel::append() {
    table()->append();
}

void DBGridModel::insert() {
    table()->insert();
}

void DBGridModel::cancel() {
    table()->cancel();
}

void DBGridModel::remove() {
    table()->remove();
}

bool DBGridModel::startEditing() {
    return dataSource() && dataSource()->edit();
}

void DBGridModel::withActiveRow(int row, const std::function<void()>& f) const {
    const data::Table::ActiveRow shown(*table(), row);
    f();
}

// ---- following the table -------------------------------------------------------------------

void DBGridModel::setFollowing(bool following) {
    if (following == following_)
        return;
    following_ = following;
    if (following_ && stale_) {
        beginResetModel();
        stale_ = false;
        blankReplaced_ = false;
        ++rowsGeneration_;
        endResetModel();
        emit currentRowMoved();
    }
}

// The first change seen while not following: from now on the model shows no rows and keeps
// still, whatever the table does, until it follows again.
void DBGridModel::goStale() {
    beginResetModel();
    stale_ = true;
    blankReplaced_ = false;
    ++rowsGeneration_;
    endResetModel();
}

bool DBGridModel::showsRows() const {
    return !stale_ && active();
}

// ---- Qt's model ----------------------------------------------------------------------------

int DBGridModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !showsRows())
        return 0;
    return std::max(1, table()->shownCount());
}

int DBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnTotal();
}

QVariant DBGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !checkIndex(index) || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    const data::Field* f = field(index.column());
    if (!f || index.row() >= table()->shownCount())
        return QVariant();
    const data::Table::ActiveRow shown(*table(), index.row());
    return f->displayText();
}

bool DBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !checkIndex(index) || role != Qt::EditRole)
        return false;
    data::Field* f = field(index.column());
    if (!f || f->readOnly() || index.row() != std::max(0, currentRow()))
        return false;
    if (!startEditing())
        return false;
    const bool text =
        f->dataType() == data::FieldType::String || f->dataType() == data::FieldType::WideString;
    if (!text && value.toString().isEmpty())
        f->setValue(QVariant());
    else
        f->setValue(value);
    return true;
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnTotal())
        return QVariant();
    if (role == Qt::DisplayRole) {
        const data::Field* f = field(section);
        return f ? f->displayLabel() : fieldNames_[section];
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return QVariant();
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || !checkIndex(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable(index.column()))
        flags |= Qt::ItemIsEditable;
    return flags;
}

void DBGridModel::rowChanged(int row) {
    if (row < 0 || row >= rowCount() || columnTotal() == 0)
        return;
    emit dataChanged(index(row, 0), index(row, columnTotal() - 1), {Qt::DisplayRole, Qt::EditRole});
}

void DBGridModel::allRowsChanged() {
    if (rowCount() == 0 || columnTotal() == 0)
        return;
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnTotal() - 1),
                     {Qt::DisplayRole, Qt::EditRole});
}

void DBGridModel::dataEvent(DataEvent event, int row, data::Field*) {
    if (stale_)
        return;
    // A post must still get the typed text; anything else waits until the model follows.
    if (!following_ && event != DataEvent::UpdateRecord) {
        goStale();
        return;
    }
    const data::Table* t = table();
    switch (event) {
    case DataEvent::RowsAboutToBeReset:
        beginResetModel();
        break;
    case DataEvent::RowsReset:
        blankReplaced_ = false;
        ++rowsGeneration_;
        endResetModel();
        break;
    case DataEvent::RowAboutToBeInserted:
        // The blank row of an empty table becomes the new row: no row is added.
        blankReplaced_ = t->shownCount() == 0;
        if (!blankReplaced_)
            beginInsertRows(QModelIndex(), row, row);
        break;
    case DataEvent::RowInserted:
        ++rowsGeneration_;
        if (blankReplaced_)
            rowChanged(0);
        else
            endInsertRows();
        blankReplaced_ = false;
        break;
    case DataEvent::RowAboutToBeRemoved:
        // The last row gives its place back to the blank row.
        blankReplaced_ = t->shownCount() == 1;
        if (!blankReplaced_)
            beginRemoveRows(QModelIndex(), row, row);
        break;
    case DataEvent::RowRemoved:
        ++rowsGeneration_;
        if (blankReplaced_)
            rowChanged(0);
        else
            endRemoveRows();
        blankReplaced_ = false;
        break;
    case DataEvent::RecordChanged:
        if (row >= 0)
            rowChanged(row);
        else
            allRowsChanged();
        break;
    case DataEvent::RecordMoved:
        emit currentRowMoved();
        break;
    case DataEvent::StateChanged:
        emit tableStateChanged();
        break;
    case DataEvent::UpdateRecord:
        emit postComing();
        break;
    }
}

} // namespace toolkit

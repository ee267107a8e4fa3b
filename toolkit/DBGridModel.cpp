#include "toolkit/DBGridModel.h"

#include "data/Field.h"
#include "data/Table.h"
#include "toolkit/DBGrid.h"

namespace toolkit {

using data::DataEvent;

namespace {

// A field's value as a grid shows it: empty for null, "True"/"False" for Booleans.
QString displayText(const data::Field& field, const QVariant& value) {
    if (value.isNull())
        return QString();
    if (field.dataType() == data::FieldType::Boolean && value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return value.toString();
}

} // namespace

DBGridModel::DBGridModel(QObject* parent) : QAbstractTableModel(parent) {}

DBGridModel::~DBGridModel() {
    if (source_)
        source_->removeLink(this);
}

void DBGridModel::setDataSource(data::DataSource* source) {
    if (source == source_)
        return;
    beginResetModel();
    if (source_)
        source_->removeLink(this);
    source_ = source;
    if (source_)
        source_->addLink(this);
    stale_ = false;
    blankReplaced_ = false;
    ++rowsGeneration_;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, std::max(0, columnTotal() - 1));
    emit currentRowMoved();
}

data::Table* DBGridModel::table() const {
    return source_ ? &source_->dataSet() : nullptr;
}

void DBGridModel::addColumn(std::unique_ptr<TColumn> column) {
    const int index = columnTotal();
    beginInsertColumns(QModelIndex(), index, index);
    columns_.push_back(std::move(column));
    endInsertColumns();
}

TColumn* DBGridModel::column(int index) const {
    return index >= 0 && index < columnTotal() ? columns_[size_t(index)].get() : nullptr;
}

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
    const data::Table* t = table();
    return !stale_ && t && t->active();
}

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
    const data::Field* field = columns_[size_t(index.column())]->Field();
    if (!field)
        return QVariant();
    return displayText(*field, table()->valueAt(index.row(), *field));
}

bool DBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !checkIndex(index) || role != Qt::EditRole)
        return false;
    data::Table* t = table();
    data::Field* field = columns_[size_t(index.column())]->Field();
    if (!field || field->readOnly() || index.row() != std::max(0, t->currentPosition()))
        return false;
    if (!source_->edit())
        return false;
    const bool text = field->dataType() == data::FieldType::String ||
                      field->dataType() == data::FieldType::WideString;
    if (!text && value.toString().isEmpty())
        field->setValue(QVariant());
    else
        field->setValue(value);
    return true;
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const TColumn* c = orientation == Qt::Horizontal ? column(section) : nullptr;
    if (!c)
        return QVariant();
    if (role == Qt::DisplayRole)
        return c->Title();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return QVariant();
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || !checkIndex(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const data::Field* field = columns_[size_t(index.column())]->Field();
    if (field && !field->readOnly())
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

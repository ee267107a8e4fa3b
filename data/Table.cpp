#include "data/Table.h"

#include "data/Connection.h"
#include "data/Errors.h"

#include <QStringList>
#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <unordered_set>

namespace data {

Table::Table(Connection& connection, const QString& objectName, const QString& tableName)
    : connection_(connection), objectName_(objectName), tableName_(tableName) {}

Table::~Table() {
    if (master_) {
        master_->removeLink(this);
        auto& details = master_->dataSet().details_;
        details.erase(std::remove(details.begin(), details.end(), this), details.end());
    }
}

Field* Table::addField(const QString& name, FieldType type, int displayWidth, bool readOnly,
                       int size) {
    auto field = std::make_unique<Field>(*this, name, type, displayWidth, readOnly, size);
    field->index_ = int(fields_.size());
    fields_.push_back(std::move(field));
    return fields_.back().get();
}

void Table::setMaster(DataSource& master, const QString& masterField, const QString& linkField) {
    master_ = &master;
    masterField_ = master.dataSet().findField(masterField);
    linkField_ = findField(linkField);
    linkIndex_ = linkField_ ? linkField_->index() : -1;
    master_->addLink(this);
    master.dataSet().details_.push_back(this);
}

Field* Table::findField(const QString& name) const {
    for (const auto& field : fields_)
        if (field->fieldName() == name)
            return field.get();
    return nullptr;
}

Field* Table::fieldByName(const QString& name) const {
    Field* field = findField(name);
    if (!field)
        raise(QStringLiteral("Field '%1' not found").arg(name));
    return field;
}

void Table::raise(const QString& message) const {
    throw EDatabaseError(objectName_ + QStringLiteral(": ") + message);
}

void Table::checkActive() const {
    if (state_ == DataSetState::Inactive)
        raise(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

// ---- opening -------------------------------------------------------------------------------

void Table::open() {
    if (active())
        return;
    if (master_ && (!masterField_ || !linkField_))
        raise(QStringLiteral("Master or link field not declared"));
    readRows();
    state_ = DataSetState::Browse;
    notify(DataEvent::RowsAboutToBeReset);
    viewKey_ = master_ ? masterKey() : LinkKey{};
    view_ = &groupOf(groups_, finger_, viewKey_);
    current_ = view_->empty() ? -1 : 0;
    bof_ = true;
    eof_ = view_->empty();
    notify(DataEvent::RowsReset);
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
}

void Table::readRows() {
    TableShape shape{objectName_, tableName_, &fields_, linkField_};
    std::unique_ptr<TableWriter> writer = connection_.engine().openTable(shape);
    Groups groups;
    std::size_t finger = 0;
    Rows* group = &groupOf(groups, finger, LinkKey{});
    LinkKey groupKey{};
    writer->readAll([&](qint64 id, RowData&& data) {
        Row row;
        row.rowid = id;
        row.data = std::move(data);
        if (linkField_) {
            const LinkKey key = linkKeyOf(row.data);
            if (!(key == groupKey)) {
                groupKey = key;
                group = &groupOf(groups, finger, key);
            }
        }
        group->push_back(std::move(row));
    });
    writer_ = std::move(writer);
    groups_ = std::move(groups);
    finger_ = 0;
}

Table::Rows& Table::groupOf(Groups& groups, std::size_t& finger, const LinkKey& key) {
    for (std::size_t i : {finger, finger + 1})
        if (i < groups.size() && groups[i].key == key) {
            finger = i;
            return groups[i].rows;
        }
    auto it = std::lower_bound(groups.begin(), groups.end(), key,
                               [](const Group& group, const LinkKey& k) { return group.key < k; });
    if (it == groups.end() || !(it->key == key))
        it = groups.insert(it, Group{key, Rows()});
    finger = std::size_t(it - groups.begin());
    return it->rows;
}

// ---- master-detail -------------------------------------------------------------------------

// Only an integer is a question's id: a text "01" or a float belongs to no question, as the
// engine's own comparison with the id would say.
Table::LinkKey Table::linkKeyOf(const RowData& row) const {
    switch (row.type(linkIndex_)) {
    case CellType::Null:
        return LinkKey{};
    case CellType::Integer:
        return LinkKey{false, row.integer(linkIndex_)};
    default:
        return LinkKey{false, std::numeric_limits<qint64>::min()};
    }
}

Table::LinkKey Table::masterKey() const {
    const Table& master = master_->dataSet();
    if (!master.active() || master.current_ < 0)
        return LinkKey{};
    const RowData& row = (*master.view_)[master.current_].data;
    const int id = masterField_->index();
    return row.type(id) == CellType::Integer ? LinkKey{false, row.integer(id)} : LinkKey{};
}

void Table::postDetails() {
    for (Table* detail : details_)
        if (detail->active())
            detail->checkBrowseMode();
}

void Table::dataEvent(DataEvent event, int, Field*) {
    // Events of the master's data source. The master has posted this table's pending change
    // before it moved (postDetails), so the checkBrowseMode here finds nothing to do.
    if (!active())
        return;
    switch (event) {
    case DataEvent::RecordMoved:
        checkBrowseMode();
        applyMasterKey();
        break;
    case DataEvent::RecordChanged:
    case DataEvent::RowsReset:
        if (!(masterKey() == viewKey_)) {
            checkBrowseMode();
            applyMasterKey();
        }
        break;
    default:
        break;
    }
}

void Table::applyMasterKey() {
    const LinkKey key = masterKey();
    if (key == viewKey_)
        return;
    notify(DataEvent::RowsAboutToBeReset);
    viewKey_ = key;
    view_ = &groupOf(groups_, finger_, key);
    current_ = view_->empty() ? -1 : 0;
    bof_ = true;
    eof_ = view_->empty();
    notify(DataEvent::RowsReset);
    notify(DataEvent::RecordMoved, current_);
}

// A posted row whose link no longer matches the filter leaves the rows shown.
void Table::regroup(int position) {
    const LinkKey key = linkKeyOf((*view_)[position].data);
    if (key == viewKey_)
        return;
    notify(DataEvent::RowAboutToBeRemoved, position);
    Row moved = std::move((*view_)[position]);
    view_->erase(view_->begin() + position);
    groupOf(groups_, finger_, key).push_back(std::move(moved));
    view_ = &groupOf(groups_, finger_, viewKey_);
    notify(DataEvent::RowRemoved, position);
    current_ = std::min(position, shownCount() - 1);
    notify(DataEvent::RecordMoved, current_);
}

// ---- moving --------------------------------------------------------------------------------

const Table::Row* Table::activeRow() const {
    const int position = activeOverride_ >= 0 ? activeOverride_ : current_;
    if (!view_ || position < 0 || position >= shownCount())
        return nullptr;
    return &(*view_)[position];
}

void Table::setCurrent(int position) {
    if (position == current_)
        return;
    current_ = position;
    notify(DataEvent::RecordMoved, current_);
}

void Table::first() {
    checkActive();
    postDetails();
    checkBrowseMode();
    setCurrent(isEmpty() ? -1 : 0);
    bof_ = true;
    eof_ = isEmpty();
}

void Table::last() {
    checkActive();
    postDetails();
    checkBrowseMode();
    setCurrent(shownCount() - 1);
    eof_ = true;
    bof_ = isEmpty();
}

void Table::next() {
    checkActive();
    postDetails();
    checkBrowseMode();
    bof_ = false;
    if (current_ + 1 < shownCount()) {
        setCurrent(current_ + 1);
        eof_ = false;
    } else {
        eof_ = true;
    }
}

void Table::prior() {
    checkActive();
    postDetails();
    checkBrowseMode();
    eof_ = false;
    if (current_ > 0) {
        setCurrent(current_ - 1);
        bof_ = false;
    } else {
        bof_ = true;
    }
}

void Table::moveTo(int position) {
    checkActive();
    if (position == current_ || position < 0 || position >= shownCount())
        return;
    // Found again by its rowid: dropping a new row before it shifts it up. Only the pending new
    // row has no rowid, and it is the current one.
    const qint64 target = (*view_)[position].rowid;
    postDetails();
    checkBrowseMode();
    const auto it = std::find_if(view_->begin(), view_->end(),
                                 [&](const Row& r) { return !r.isNew && r.rowid == target; });
    if (it == view_->end())
        return;
    setCurrent(int(it - view_->begin()));
    bof_ = eof_ = false;
}

bool Table::locate(const QString& fieldName, const QVariant& value) {
    checkActive();
    // The name and the value are checked before anything is posted.
    const Field* field = fieldByName(fieldName);
    RowData wanted(1);
    wanted.setValue(0, field->toStored(value));
    postDetails();
    checkBrowseMode();
    // Equal means the same storage class and the same value: the number 1 does not find the
    // text "01", nor the number 2^32 + 1.
    const int index = field->index();
    for (int i = 0; i < shownCount(); ++i) {
        if ((*view_)[i].data.sameCell(index, wanted, 0)) {
            setCurrent(i);
            bof_ = eof_ = false;
            return true;
        }
    }
    return false;
}

// ---- changing ------------------------------------------------------------------------------

void Table::edit() {
    checkActive();
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert)
        return;
    if (isEmpty()) {
        append();
        return;
    }
    original_ = (*view_)[current_].data;
    modified_ = false;
    state_ = DataSetState::Edit;
    notify(DataEvent::StateChanged);
}

void Table::append() {
    checkActive();
    postDetails();
    checkBrowseMode();
    startNewRow(shownCount());
}

void Table::insert() {
    checkActive();
    postDetails();
    checkBrowseMode();
    startNewRow(std::max(current_, 0));
}

void Table::startNewRow(int position) {
    Row row;
    row.isNew = true;
    row.data = RowData(int(fields_.size()));
    // The link comes first, before anything else is set, and does not count as a change. It is
    // the master's current row now, whatever this table shows.
    if (linkField_) {
        const LinkKey key = masterKey();
        if (!key.null)
            row.data.setValue(linkIndex_, QVariant(key.value));
    }
    notify(DataEvent::RowAboutToBeInserted, position);
    view_->insert(view_->begin() + position, std::move(row));
    beforeInsert_ = current_ >= position ? current_ + 1 : current_;
    current_ = position;
    state_ = DataSetState::Insert;
    modified_ = false;
    notify(DataEvent::RowInserted, position);
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
}

void Table::dropNewRow() {
    const int position = current_;
    notify(DataEvent::RowAboutToBeRemoved, position);
    view_->erase(view_->begin() + position);
    state_ = DataSetState::Browse;
    modified_ = false;
    notify(DataEvent::RowRemoved, position);
    int back = beforeInsert_ > position ? beforeInsert_ - 1 : beforeInsert_;
    if (back < 0 || back >= shownCount())
        back = std::min(position, shownCount() - 1);
    current_ = back;
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
}

void Table::post() {
    checkActive();
    notify(DataEvent::UpdateRecord);
    writePending();
}

// Writes the pending row; the controls have already put their editors' text into it.
void Table::writePending() {
    if (state_ == DataSetState::Browse)
        raise(QStringLiteral("Dataset not in edit or insert mode"));
    if (state_ == DataSetState::Insert) {
        // Posting gives the row its id, which the details follow.
        postDetails();
    }
    Row& row = (*view_)[current_];
    connection_.beforeWrite();
    const bool gather = gathering_ && state_ == DataSetState::Edit;
    try {
        if (state_ == DataSetState::Insert) {
            row.rowid = writer_->insert(row.data);
            row.isNew = false;
        } else if (!row.data.sameAs(original_)) {
            // An unchanged row (a bank numbered already, in the draw) is not written at all.
            if (gather)
                gathered_.push_back(Gathered{row.rowid, current_, original_});
            else
                writer_->update(row.rowid, row.data, original_);
        }
    } catch (...) {
        connection_.afterFailedWrite();
        throw;
    }
    if (!gather)
        connection_.written(*this, row.rowid);
    state_ = DataSetState::Browse;
    modified_ = false;
    original_ = RowData();
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordChanged, current_);
    if (linkField_)
        regroup(current_);
}

void Table::cancel() {
    checkActive();
    if (state_ == DataSetState::Insert) {
        postDetails();
        dropNewRow();
        return;
    }
    if (state_ == DataSetState::Edit) {
        (*view_)[current_].data = original_;
        original_ = RowData();
        state_ = DataSetState::Browse;
        modified_ = false;
        notify(DataEvent::StateChanged);
        notify(DataEvent::RecordChanged, current_);
    }
}

void Table::remove() {
    checkActive();
    if (state_ == DataSetState::Insert) {
        postDetails();
        dropNewRow();
        return;
    }
    if (isEmpty())
        raise(QStringLiteral("Cannot perform this operation on an empty dataset"));
    postDetails();
    // An edit in progress is given up with the row; the check uses the values as read.
    const Row& row = (*view_)[current_];
    connection_.beforeWrite();
    try {
        writer_->remove(row.rowid, state_ == DataSetState::Edit ? original_ : row.data);
    } catch (...) {
        connection_.afterFailedWrite();
        throw;
    }
    connection_.written(*this, row.rowid);
    const bool wasEditing = state_ == DataSetState::Edit;
    state_ = DataSetState::Browse;
    modified_ = false;
    original_ = RowData();
    dropRow(current_);
    if (wasEditing)
        notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
}

// Takes a row that is gone from the file out of the rows shown; the following row becomes
// current, else the preceding one.
void Table::dropRow(int position) {
    notify(DataEvent::RowAboutToBeRemoved, position);
    view_->erase(view_->begin() + position);
    current_ = std::min(position, shownCount() - 1);
    notify(DataEvent::RowRemoved, position);
}

void Table::checkBrowseMode() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        return;
    notify(DataEvent::UpdateRecord);
    if (modified_)
        writePending();
    else
        cancel();
}

void Table::refreshRow() {
    checkActive();
    if (state_ == DataSetState::Insert) {
        cancel();
        return;
    }
    if (current_ < 0)
        return;
    postDetails();
    std::optional<RowData> fresh = writer_->readOne((*view_)[current_].rowid);
    const bool found = fresh.has_value();
    const bool wasEditing = state_ == DataSetState::Edit;
    state_ = DataSetState::Browse;
    modified_ = false;
    original_ = RowData();
    if (wasEditing)
        notify(DataEvent::StateChanged);
    if (!found) {
        dropRow(current_);
        notify(DataEvent::RecordMoved, current_);
        return;
    }
    (*view_)[current_].data = std::move(*fresh);
    notify(DataEvent::RecordChanged, current_);
    if (linkField_)
        regroup(current_);
}

void Table::takeStoredValues(const QString& fieldName,
                             const std::vector<std::pair<qint64, QVariant>>& values) {
    checkActive();
    checkBrowseMode();
    const int index = fieldByName(fieldName)->index();
    std::unordered_map<qint64, const QVariant*> byRowid;
    for (const auto& [rowid, value] : values)
        byRowid.emplace(rowid, &value);
    for (Group& group : groups_)
        for (Row& row : group.rows)
            if (const auto found = byRowid.find(row.rowid); !row.isNew && found != byRowid.end())
                row.data.setValue(index, *found->second);
    notify(DataEvent::RecordChanged, current_);
}

void Table::takeRowsFromFile(const std::vector<qint64>& rowids) {
    checkActive();
    std::unordered_map<qint64, std::optional<RowData>> fresh; // nullopt: gone from the bank
    for (const qint64 rowid : rowids)
        if (!fresh.count(rowid))
            fresh.emplace(rowid, writer_->readOne(rowid));

    notify(DataEvent::RowsAboutToBeReset);
    const int wasCurrent = current_;
    const Row* currentRow = current_ >= 0 ? &(*view_)[current_] : nullptr;
    const bool currentIsNew = currentRow && currentRow->isNew;
    const qint64 currentRowid = currentRow ? currentRow->rowid : 0;
    if (state_ == DataSetState::Edit && fresh.count(currentRowid)) {
        state_ = DataSetState::Browse;
        modified_ = false;
        original_ = RowData();
    }
    // Rows are updated where they are; those whose question changed, or that are back in the
    // file, are put in their place after, in the order of their rowids.
    std::unordered_set<qint64> seen;
    std::vector<Row> toPlace;
    for (Group& group : groups_) {
        for (auto it = group.rows.begin(); it != group.rows.end();) {
            const auto found = it->isNew ? fresh.end() : fresh.find(it->rowid);
            if (found == fresh.end()) {
                ++it;
                continue;
            }
            seen.insert(it->rowid);
            if (!found->second) {
                it = group.rows.erase(it);
                continue;
            }
            it->data = *found->second;
            if (linkField_ && !(linkKeyOf(it->data) == group.key)) {
                toPlace.push_back(std::move(*it));
                it = group.rows.erase(it);
                continue;
            }
            ++it;
        }
    }
    for (auto& [rowid, data] : fresh)
        if (data && !seen.count(rowid))
            toPlace.push_back(Row{std::move(*data), rowid, false});
    for (Row& row : toPlace) {
        Rows& rows = groupOf(groups_, finger_, linkField_ ? linkKeyOf(row.data) : LinkKey{});
        const auto at = std::find_if(rows.begin(), rows.end(),
                                     [&](const Row& r) { return !r.isNew && r.rowid > row.rowid; });
        rows.insert(at, std::move(row));
    }

    view_ = &groupOf(groups_, finger_, viewKey_);
    const auto still = std::find_if(view_->begin(), view_->end(), [&](const Row& r) {
        return currentIsNew ? r.isNew : !r.isNew && r.rowid == currentRowid;
    });
    current_ = still != view_->end() ? int(still - view_->begin())
                                     : std::min(wasCurrent, shownCount() - 1);
    beforeInsert_ = std::min(beforeInsert_, shownCount() - 1);
    bof_ = current_ <= 0;
    eof_ = isEmpty();
    notify(DataEvent::RowsReset);
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
}

// ---- gathered posts ------------------------------------------------------------------------

Table::PostBatch::PostBatch(Table& table) : table_(table), scope_(table.connection_) {
    table_.gathering_ = true;
}

Table::PostBatch::~PostBatch() {
    table_.giveUpGathered();
}

bool Table::PostBatch::commit() {
    Table& t = table_;
    t.gathering_ = false;
    std::vector<RowUpdate> updates;
    for (Gathered& g : t.gathered_) {
        Row* row = t.findRow(g.rowid, g.position);
        if (!row) {
            t.giveUpGathered();
            return false;
        }
        updates.push_back(RowUpdate{g.rowid, &row->data, &g.asRead});
    }
    bool written = false;
    try {
        written = updates.empty() || t.writer_->updateAll(updates);
    } catch (...) {
        // The engine ended the transaction: the bank holds none of the rows as gathered, and
        // those posted earlier in the scope are read again.
        t.giveUpGathered();
        t.connection_.afterFailedWrite();
        throw;
    }
    if (!written) {
        t.giveUpGathered();
        return false;
    }
    for (const Gathered& g : t.gathered_)
        t.connection_.written(t, g.rowid);
    t.gathered_.clear();
    return true;
}

Table::Row* Table::findRow(qint64 rowid, int position) {
    if (view_ && position >= 0 && position < shownCount() && !(*view_)[position].isNew &&
        (*view_)[position].rowid == rowid)
        return &(*view_)[position];
    for (Group& group : groups_)
        for (Row& row : group.rows)
            if (!row.isNew && row.rowid == rowid)
                return &row;
    return nullptr;
}

// The gathered rows as read again, the last post of a row first undone last.
void Table::giveUpGathered() {
    gathering_ = false;
    if (gathered_.empty())
        return;
    for (auto g = gathered_.rbegin(); g != gathered_.rend(); ++g)
        if (Row* row = findRow(g->rowid, g->position))
            row->data = std::move(g->asRead);
    gathered_.clear();
    notify(DataEvent::RowsAboutToBeReset);
    notify(DataEvent::RowsReset);
    notify(DataEvent::RecordMoved, current_);
}

// ---- reading -------------------------------------------------------------------------------

int Table::recordCount() const {
    return shownCount() - (state_ == DataSetState::Insert ? 1 : 0);
}

int Table::recNo() const {
    if (state_ == DataSetState::Insert)
        return -1;
    const int position = activeOverride_ >= 0 ? activeOverride_ : current_;
    return position < 0 || position >= shownCount() ? -1 : position + 1;
}

QVariant Table::fieldValue(const QString& name) const {
    return fieldByName(name)->value();
}

void Table::setFieldValue(const QString& name, const QVariant& value) {
    fieldByName(name)->setValue(value);
}

QVariant Table::storedValue(const Field& field) const {
    const Row* row = activeRow();
    return row ? row->data.value(field.index()) : QVariant();
}

void Table::setStoredValue(Field& field, const QVariant& stored) {
    checkActive();
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        raise(QStringLiteral("Dataset not in edit or insert mode"));
    if (field.readOnly())
        raise(QStringLiteral("Field '%1' cannot be modified").arg(field.fieldName()));
    RowData& row = (*view_)[current_].data;
    if (!row.holds(field.index(), stored))
        row.setValue(field.index(), stored);
    modified_ = true;
    notify(DataEvent::RecordChanged, current_, &field);
}

Table::ActiveRow::ActiveRow(const Table& table, int position)
    : table_(table), saved_(table.activeOverride_) {
    table_.activeOverride_ = position;
}

Table::ActiveRow::~ActiveRow() {
    table_.activeOverride_ = saved_;
}

// ---- notifications -------------------------------------------------------------------------

void Table::addDataSource(DataSource* source) {
    sources_.push_back(source);
}

void Table::removeDataSource(DataSource* source) {
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

void Table::disableControls() {
    ++controlsDisabled_;
}

void Table::enableControls() {
    if (controlsDisabled_ == 0 || --controlsDisabled_ > 0 || !missedEvents_)
        return;
    missedEvents_ = false;
    // Everything may have changed: the controls and the detail tables take it all anew.
    notify(DataEvent::RowsAboutToBeReset);
    notify(DataEvent::RowsReset);
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
}

Table::ControlsDisabled::ControlsDisabled(Table& table) : table_(table) {
    table_.disableControls();
}

Table::ControlsDisabled::~ControlsDisabled() {
    table_.enableControls();
}

void Table::notify(DataEvent event, int row, Field* field) {
    if (controlsDisabled_ > 0) {
        missedEvents_ = true;
        return;
    }
    const std::vector<DataSource*> sources = sources_;
    for (DataSource* source : sources)
        source->notify(event, row, field);
}

} // namespace data

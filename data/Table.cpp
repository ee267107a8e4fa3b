#include "data/Table.h"

#include "data/Connection.h"
#include "data/Errors.h"
#include "data/Sqlite.h"

#include <QStringList>
#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <unordered_set>

namespace data {

using sqlite::quoted;
using sqlite::Statement;

namespace {

// The kind of a column from its declared type, as the bank's creators write them.
FieldType columnType(const QString& declared, bool autoIncrementKey) {
    QString type = declared.trimmed().toUpper();
    const qsizetype paren = type.indexOf(QLatin1Char('('));
    if (paren >= 0)
        type = type.left(paren).trimmed();
    if (type == "INTEGER" || type == "INT" || type == "LONG")
        return autoIncrementKey ? FieldType::AutoInc : FieldType::Integer;
    if (type == "SMALLINT")
        return FieldType::SmallInt;
    if (type == "NVARCHAR" || type == "NCHAR" || type == "NTEXT")
        return FieldType::WideString;
    if (type == "VARCHAR" || type == "CHAR" || type == "TEXT")
        return FieldType::String;
    if (type == "BOOLEAN" || type == "BIT")
        return FieldType::Boolean;
    if (type == "REAL" || type == "FLOAT" || type == "DOUBLE")
        return FieldType::Float;
    if (type == "BLOB")
        return FieldType::Blob;
    return FieldType::Other;
}

const char* kConflictMessage =
    "Row cannot be located for updating. Some values may have been changed since it was last "
    "read";

// Names compare as the engine compares them: ASCII letters without regard to case, every other
// character exactly ("номер" is not the column "Номер").
bool sameNameAsEngine(const QString& a, const QString& b) {
    const QByteArray x = a.toUtf8(), y = b.toUtf8();
    if (x.size() != y.size())
        return false;
    for (qsizetype i = 0; i < x.size(); ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (fold(x[i]) != fold(y[i]))
            return false;
    }
    return true;
}

} // namespace

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
    checkColumns();
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

// The program and the bank tool's check both come here (the tool by opening the bank as the
// program does), so they can never disagree about a bank.
void Table::checkColumns() {
    const sqlite::Database& db = connection_.database();
    {
        // Only a plain table of the file holds rows: a view or a virtual table under the
        // name would run the file's code on every read or write.
        Statement list(db, QStringLiteral("PRAGMA main.table_list(%1)").arg(quoted(tableName_)));
        if (list.step()) {
            const QString kind = list.columnText(2);
            if (kind == QLatin1String("view"))
                raise(QStringLiteral("«%1» в этом файле — представление (VIEW), а не таблица; "
                                     "программа открывает только таблицы банка")
                          .arg(tableName_));
            if (kind != QLatin1String("table"))
                raise(QStringLiteral("«%1» в этом файле — виртуальная таблица (%2), а не "
                                     "обычная таблица банка; программа такую не открывает")
                          .arg(tableName_, kind));
            // Rows are told apart by their rowid, which such a table lacks.
            if (list.columnInt(4) != 0)
                raise(QStringLiteral("Table '%1' is a WITHOUT ROWID table, which this program "
                                     "cannot open")
                          .arg(tableName_));
        }
    }
    // The engine's own message for a missing table or a file that is not a database.
    Statement probe(db, QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(quoted(tableName_)));

    bool autoIncrement = false;
    {
        Statement sql(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                         "name = ?"));
        sql.bindText(1, tableName_);
        if (sql.step())
            autoIncrement =
                sql.columnText(0).contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    }
    struct Column {
        QString name;
        QString type;
        bool key;
        bool generated;
    };
    std::vector<Column> columns;
    // table_xinfo, unlike table_info, lists generated columns, with 2 or 3 in "hidden".
    Statement info(db, QStringLiteral("PRAGMA main.table_xinfo(%1)").arg(quoted(tableName_)));
    while (info.step())
        columns.push_back({info.columnText(1), info.columnText(2), info.columnInt(5) == 1,
                           info.columnInt(6) >= 2});

    keptAsBound_.assign(fields_.size(), 0);
    for (const auto& field : fields_) {
        auto column = std::find_if(columns.begin(), columns.end(), [&](const Column& c) {
            return sameNameAsEngine(c.name, field->fieldName());
        });
        if (column == columns.end())
            raise(QStringLiteral("Field '%1' not found").arg(field->fieldName()));
        // Its value is computed by the file's expression: a write to it fails, and the value
        // shown is not what was written.
        if (column->generated)
            raise(QStringLiteral("поле «%1» в этом файле вычисляемое (GENERATED ALWAYS), а не "
                                 "хранимое; программа открывает только хранимые поля")
                      .arg(field->fieldName()));
        keptAsBound_[field->index()] = storageClassesKeptAsBound(column->type);
        const FieldType actual = columnType(column->type, column->key && autoIncrement);
        if (!sameKind(field->dataType(), actual)) {
            QString actualName = fieldTypeName(actual);
            if (actual == FieldType::Other)
                actualName = column->type.isEmpty() ? QStringLiteral("Unknown") : column->type;
            raise(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                      .arg(field->fieldName(), fieldTypeName(field->dataType()), actualName));
        }
    }
}

namespace {

constexpr std::uint8_t bitOf(CellType type) {
    return std::uint8_t(1u << unsigned(type));
}

} // namespace

// The engine converts a value to the column's affinity as it stores it (an integer written to
// a REAL column becomes a float, a text that looks like a number written to a NUMERIC column
// becomes a number). The affinity follows from the declared type by the engine's documented
// rules, in this order. Texts are left out altogether: a file kept in UTF-16 would change
// bytes that are not valid UTF-8.
std::uint8_t Table::storageClassesKeptAsBound(const QString& declaredType) {
    const QString type = declaredType.toUpper();
    const std::uint8_t always = bitOf(CellType::Null) | bitOf(CellType::Blob);
    if (type.contains(QLatin1String("INT")))
        return always | bitOf(CellType::Integer);
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("CLOB")) ||
        type.contains(QLatin1String("TEXT")))
        return always;
    if (type.contains(QLatin1String("BLOB")) || type.isEmpty())
        return always | bitOf(CellType::Integer) | bitOf(CellType::Float);
    if (type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("FLOA")) ||
        type.contains(QLatin1String("DOUB")))
        return always | bitOf(CellType::Float);
    return always | bitOf(CellType::Integer); // NUMERIC: a float may become an integer
}

QString Table::columnList() const {
    QStringList names;
    for (const auto& field : fields_)
        names << quoted(field->fieldName());
    return names.join(", ");
}

void Table::readRows() {
    QString sql = QStringLiteral("SELECT rowid, %1 FROM %2").arg(columnList(), quoted(tableName_));
    sql += linkField_ ? QStringLiteral(" ORDER BY %1, rowid").arg(quoted(linkField_->fieldName()))
                      : QStringLiteral(" ORDER BY rowid");
    Statement select(connection_.database(), sql);
    Groups groups;
    std::size_t finger = 0;
    Rows* group = &groupOf(groups, finger, LinkKey{});
    LinkKey groupKey{};
    const int count = int(fields_.size());
    while (select.step()) {
        Row row;
        row.rowid = select.columnInt(0);
        row.data = RowData::fromStatement(select, 1, count);
        if (linkField_) {
            const LinkKey key = linkKeyOf(row.data);
            if (!(key == groupKey)) {
                groupKey = key;
                group = &groupOf(groups, finger, key);
            }
        }
        group->push_back(std::move(row));
    }
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
    try {
        if (state_ == DataSetState::Insert)
            writeInsert(row);
        else
            writeUpdate(row);
    } catch (...) {
        connection_.afterFailedWrite();
        throw;
    }
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
        writeDelete(row, state_ == DataSetState::Edit ? original_ : row.data);
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
    Statement select(
        connection_.database(),
        QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(columnList(), quoted(tableName_)));
    select.bindInt(1, (*view_)[current_].rowid);
    const bool found = select.step();
    RowData fresh;
    if (found)
        fresh = RowData::fromStatement(select, 0, int(fields_.size()));
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
    (*view_)[current_].data = std::move(fresh);
    notify(DataEvent::RecordChanged, current_);
    if (linkField_)
        regroup(current_);
}

void Table::takeRowsFromFile(const std::vector<qint64>& rowids) {
    checkActive();
    const int count = int(fields_.size());
    std::unordered_map<qint64, std::optional<RowData>> fresh; // nullopt: gone from the file
    {
        Statement select(connection_.database(), QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?")
                                                     .arg(columnList(), quoted(tableName_)));
        for (const qint64 rowid : rowids) {
            if (fresh.count(rowid))
                continue;
            select.reset();
            select.bindInt(1, rowid);
            std::optional<RowData> data;
            if (select.step())
                data = RowData::fromStatement(select, 0, count);
            fresh.emplace(rowid, std::move(data));
        }
    }

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

// ---- writing -------------------------------------------------------------------------------

Statement& Table::prepared(std::uint64_t key, const std::function<QString()>& sql) {
    std::unique_ptr<Statement>& slot = statements_[key];
    if (!slot)
        slot = std::make_unique<Statement>(connection_.database(), sql());
    return *slot;
}

namespace {

// Readies a kept statement for its next use however this use ends, so that it holds no lock.
struct ResetAfterUse {
    Statement& statement;
    ~ResetAfterUse() { statement.reset(); }
};

// Keys of the kept statements: the kind in the top bits, the set of written cells below.
constexpr std::uint64_t kInsertKey = 1ull << 62;
constexpr std::uint64_t kUpdateKey = 2ull << 62;
constexpr std::uint64_t kDeleteKey = 3ull << 62;
// An update that reads the written row back.
constexpr std::uint64_t kReadBackKey = 1ull << 61;

} // namespace

// One statement writes the row and gives back what the store holds, its id first: the row is
// written once, or not at all, and the cursor takes the result only when the statement is done.
void Table::writeInsert(Row& row) {
    std::uint64_t cells = 0;
    for (const auto& field : fields_) {
        const int i = field->index();
        // The store fills the key, and its defaults where nothing was set.
        if (!field->readOnly() && row.data.type(i) != CellType::Null)
            cells |= 1ull << i;
    }
    Statement& insert = prepared(kInsertKey | cells, [&] {
        QStringList names, marks;
        for (const auto& field : fields_)
            if (cells & (1ull << field->index())) {
                names << quoted(field->fieldName());
                marks << QStringLiteral("?");
            }
        const QString returning = QStringLiteral(" RETURNING rowid, ") + columnList();
        return (names.isEmpty()
                    ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(tableName_))
                    : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(quoted(tableName_), names.join(", "), marks.join(", "))) +
               returning;
    });
    ResetAfterUse reset{insert};
    int parameter = 1;
    for (int i = 0; i < int(fields_.size()); ++i)
        if (cells & (1ull << i))
            row.data.bind(insert, parameter++, i);
    if (!insert.step())
        raise(QStringLiteral("The new row was not written"));
    const qint64 rowid = insert.columnInt(0);
    RowData stored = RowData::fromStatement(insert, 1, int(fields_.size()));
    insert.run();
    row.rowid = rowid;
    row.data = std::move(stored);
    row.isNew = false;
}

// The optimistic check: the row must still hold every value it had when it was read, compared
// byte for byte whatever the column's collation.
QString Table::rowUnchangedCondition() const {
    QString where = QStringLiteral(" WHERE rowid = ?");
    for (const auto& field : fields_)
        where += QStringLiteral(" AND %1 IS ? COLLATE BINARY").arg(quoted(field->fieldName()));
    return where;
}

// The row is written once, or not at all: the statement changes one row, or none when another
// program has changed or deleted it since it was read. Where the store may convert a written
// value, the statement gives the row back as stored and the cursor takes that; otherwise the
// cursor's row already holds exactly what is stored, and reading it back (which costs the
// engine more than the update itself) is skipped.
void Table::writeUpdate(Row& row) {
    if (row.data.sameAs(original_))
        return; // nothing changed: nothing is written (a bank numbered already, in the draw)
    std::uint64_t cells = 0;
    bool readBack = false;
    for (int i = 0; i < int(fields_.size()); ++i)
        if (!row.data.sameCell(i, original_, i)) {
            cells |= 1ull << i;
            if (!(keptAsBound_[i] & bitOf(row.data.type(i))))
                readBack = true;
        }
    if (!cells)
        return; // nothing changed: nothing is written
    Statement& update = prepared(kUpdateKey | (readBack ? kReadBackKey : 0) | cells, [&] {
        QStringList sets;
        for (const auto& field : fields_)
            if (cells & (1ull << field->index()))
                sets << QStringLiteral("%1 = ?").arg(quoted(field->fieldName()));
        return QStringLiteral("UPDATE %1 SET %2").arg(quoted(tableName_), sets.join(", ")) +
               rowUnchangedCondition() +
               (readBack ? QStringLiteral(" RETURNING ") + columnList() : QString());
    });
    ResetAfterUse reset{update};
    int parameter = 1;
    for (int i = 0; i < int(fields_.size()); ++i)
        if (cells & (1ull << i))
            row.data.bind(update, parameter++, i);
    update.bindInt(parameter++, row.rowid);
    for (int i = 0; i < int(fields_.size()); ++i)
        original_.bind(update, parameter++, i);
    if (!readBack) {
        update.run();
        if (connection_.database().changes() != 1)
            throw EEngineError(QString::fromLatin1(kConflictMessage), 0);
        return;
    }
    if (!update.step())
        throw EEngineError(QString::fromLatin1(kConflictMessage), 0);
    RowData stored = RowData::fromStatement(update, 0, int(fields_.size()));
    update.run();
    row.data = std::move(stored);
}

void Table::writeDelete(const Row& row, const RowData& asRead) {
    Statement& remove = prepared(kDeleteKey, [&] {
        return QStringLiteral("DELETE FROM %1").arg(quoted(tableName_)) + rowUnchangedCondition() +
               QStringLiteral(" RETURNING rowid");
    });
    ResetAfterUse reset{remove};
    int parameter = 1;
    remove.bindInt(parameter++, row.rowid);
    for (int i = 0; i < int(fields_.size()); ++i)
        asRead.bind(remove, parameter++, i);
    if (!remove.step())
        throw EEngineError(QStringLiteral("Row cannot be located for deletion. Some values may "
                                          "have been changed since it was last read"),
                           0);
    remove.run();
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

#include "data/Table.h"

#include "data/Connection.h"
#include "data/Errors.h"
#include "data/Sqlite.h"

#include <QStringList>
#include <algorithm>
#include <limits>

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

// Compares a stored cell with a wanted value of the field's kind.
bool sameValue(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    if (a.typeId() == b.typeId())
        return a == b;
    bool okA = false, okB = false;
    const qint64 na = a.toLongLong(&okA), nb = b.toLongLong(&okB);
    if (okA && okB)
        return na == nb;
    return a.toString() == b.toString();
}

} // namespace

Table::Table(Connection& connection, const QString& objectName, const QString& tableName)
    : connection_(connection), objectName_(objectName), tableName_(tableName) {}

Table::~Table() {
    if (master_)
        master_->removeLink(this);
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
    view_ = &groups_[viewKey_];
    current_ = view_->empty() ? -1 : 0;
    bof_ = true;
    eof_ = view_->empty();
    notify(DataEvent::RowsReset);
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
}

void Table::checkColumns() {
    const sqlite::Database& db = connection_.database();
    // The engine's own message for a missing table or a file that is not a database.
    Statement probe(db, QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(quoted(tableName_)));

    {
        // Rows are told apart by their rowid, which such a table lacks.
        Statement list(db, QStringLiteral("PRAGMA table_list(%1)").arg(quoted(tableName_)));
        if (list.step() && list.columnInt(4) != 0)
            raise(QStringLiteral("Table '%1' is a WITHOUT ROWID table, which this program "
                                 "cannot open")
                      .arg(tableName_));
    }

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
    };
    std::vector<Column> columns;
    Statement info(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(tableName_)));
    while (info.step())
        columns.push_back({info.columnText(1), info.columnText(2), info.columnInt(5) == 1});

    for (const auto& field : fields_) {
        auto column = std::find_if(columns.begin(), columns.end(), [&](const Column& c) {
            return c.name.compare(field->fieldName(), Qt::CaseInsensitive) == 0;
        });
        if (column == columns.end())
            raise(QStringLiteral("Field '%1' not found").arg(field->fieldName()));
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

void Table::readRows() {
    QStringList names;
    for (const auto& field : fields_)
        names << quoted(field->fieldName());
    QString sql =
        QStringLiteral("SELECT rowid, %1 FROM %2").arg(names.join(", "), quoted(tableName_));
    sql += linkField_ ? QStringLiteral(" ORDER BY %1, rowid").arg(quoted(linkField_->fieldName()))
                      : QStringLiteral(" ORDER BY rowid");
    Statement select(connection_.database(), sql);
    groups_.clear();
    Rows* group = &groups_[LinkKey{}];
    LinkKey groupKey{};
    while (select.step()) {
        auto row = std::make_unique<Row>();
        row->rowid = select.columnInt(0);
        row->values.reserve(fields_.size());
        for (int i = 0; i < int(fields_.size()); ++i)
            row->values.push_back(select.columnValue(i + 1));
        if (linkField_) {
            const LinkKey key = linkKeyOf(*row);
            if (!(key == groupKey)) {
                groupKey = key;
                group = &groups_[key];
            }
        }
        group->push_back(std::move(row));
    }
}

// ---- master-detail -------------------------------------------------------------------------

Table::LinkKey Table::linkKeyOf(const Row& row) const {
    const QVariant& link = row.values[linkIndex_];
    if (link.isNull())
        return LinkKey{};
    bool ok = false;
    const qint64 value = link.toLongLong(&ok);
    // A link that is no number belongs to no question: it gets a key no question has.
    return ok ? LinkKey{false, value} : LinkKey{false, std::numeric_limits<qint64>::min()};
}

Table::LinkKey Table::masterKey() const {
    const Table& master = master_->dataSet();
    if (!master.active() || master.current_ < 0)
        return LinkKey{};
    const Row& row = *(*master.view_)[master.current_];
    const QVariant& id = row.values[masterField_->index()];
    bool ok = false;
    const qint64 value = id.toLongLong(&ok);
    return id.isNull() || !ok ? LinkKey{} : LinkKey{false, value};
}

void Table::dataEvent(DataEvent event, int, Field*) {
    // Events of the master's data source.
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
    view_ = &groups_[key];
    current_ = view_->empty() ? -1 : 0;
    bof_ = true;
    eof_ = view_->empty();
    notify(DataEvent::RowsReset);
    notify(DataEvent::RecordMoved, current_);
}

// A posted row whose link no longer matches the filter leaves the rows shown.
void Table::regroup(Row* row) {
    const LinkKey key = linkKeyOf(*row);
    if (key == viewKey_)
        return;
    const auto it = std::find_if(view_->begin(), view_->end(),
                                 [&](const std::unique_ptr<Row>& r) { return r.get() == row; });
    const int position = int(it - view_->begin());
    notify(DataEvent::RowAboutToBeRemoved, position);
    std::unique_ptr<Row> moved = std::move(*it);
    view_->erase(it);
    groups_[key].push_back(std::move(moved));
    notify(DataEvent::RowRemoved, position);
    current_ = std::min(position, shownCount() - 1);
    notify(DataEvent::RecordMoved, current_);
}

// ---- moving --------------------------------------------------------------------------------

Table::Row* Table::activeRow() const {
    const int position = activeOverride_ >= 0 ? activeOverride_ : current_;
    if (!view_ || position < 0 || position >= shownCount())
        return nullptr;
    return (*view_)[position].get();
}

void Table::setCurrent(int position) {
    if (position == current_)
        return;
    current_ = position;
    notify(DataEvent::RecordMoved, current_);
}

void Table::first() {
    checkActive();
    checkBrowseMode();
    setCurrent(isEmpty() ? -1 : 0);
    bof_ = true;
    eof_ = isEmpty();
}

void Table::last() {
    checkActive();
    checkBrowseMode();
    setCurrent(shownCount() - 1);
    eof_ = true;
    bof_ = isEmpty();
}

void Table::next() {
    checkActive();
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
    const Row* target = (*view_)[position].get();
    checkBrowseMode();
    // Dropping a new row before the target shifts it up.
    const auto it = std::find_if(view_->begin(), view_->end(),
                                 [&](const std::unique_ptr<Row>& r) { return r.get() == target; });
    if (it == view_->end())
        return;
    setCurrent(int(it - view_->begin()));
    bof_ = eof_ = false;
}

bool Table::locate(const QString& fieldName, const QVariant& value) {
    checkActive();
    checkBrowseMode();
    const Field* field = fieldByName(fieldName);
    for (int i = 0; i < shownCount(); ++i) {
        if (sameValue(field->fromStored((*view_)[i]->values[field->index()]), value)) {
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
    original_ = (*view_)[current_]->values;
    modified_ = false;
    state_ = DataSetState::Edit;
    notify(DataEvent::StateChanged);
}

void Table::append() {
    checkActive();
    checkBrowseMode();
    startNewRow(shownCount());
}

void Table::insert() {
    checkActive();
    checkBrowseMode();
    startNewRow(std::max(current_, 0));
}

void Table::startNewRow(int position) {
    auto row = std::make_unique<Row>();
    row->isNew = true;
    row->values.resize(fields_.size());
    // The link comes first, before anything else is set, and does not count as a change.
    if (linkField_ && !viewKey_.null)
        row->values[linkIndex_] = QVariant(viewKey_.value);
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
    Row& row = *(*view_)[current_];
    if (state_ == DataSetState::Insert)
        writeInsert(row);
    else
        writeUpdate(row);
    state_ = DataSetState::Browse;
    modified_ = false;
    original_.clear();
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordChanged, current_);
    if (linkField_)
        regroup(&row);
}

void Table::cancel() {
    checkActive();
    if (state_ == DataSetState::Insert) {
        dropNewRow();
        return;
    }
    if (state_ == DataSetState::Edit) {
        (*view_)[current_]->values = original_;
        original_.clear();
        state_ = DataSetState::Browse;
        modified_ = false;
        notify(DataEvent::StateChanged);
        notify(DataEvent::RecordChanged, current_);
    }
}

void Table::remove() {
    checkActive();
    if (state_ == DataSetState::Insert) {
        dropNewRow();
        return;
    }
    if (isEmpty())
        raise(QStringLiteral("Cannot perform this operation on an empty dataset"));
    const Row& row = *(*view_)[current_];
    // An edit in progress is given up with the row; the check uses the values as read.
    writeDelete(row.rowid, state_ == DataSetState::Edit ? original_ : row.values);
    const bool wasEditing = state_ == DataSetState::Edit;
    state_ = DataSetState::Browse;
    modified_ = false;
    original_.clear();
    const int position = current_;
    notify(DataEvent::RowAboutToBeRemoved, position);
    view_->erase(view_->begin() + position);
    current_ = std::min(position, shownCount() - 1);
    notify(DataEvent::RowRemoved, position);
    if (wasEditing)
        notify(DataEvent::StateChanged);
    notify(DataEvent::RecordMoved, current_);
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

// ---- writing -------------------------------------------------------------------------------

void Table::writeInsert(Row& row) {
    QStringList names, marks;
    std::vector<QVariant> values;
    for (const auto& field : fields_) {
        const QVariant& value = row.values[field->index()];
        if (field->readOnly() || value.isNull())
            continue; // the store fills the key, and its defaults where nothing was set
        names << quoted(field->fieldName());
        marks << QStringLiteral("?");
        values.push_back(value);
    }
    const QString sql =
        names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(tableName_))
                        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                              .arg(quoted(tableName_), names.join(", "), marks.join(", "));
    sqlite::Database& db = connection_.database();
    Statement insert(db, sql);
    for (int i = 0; i < int(values.size()); ++i)
        insert.bind(i + 1, values[i]);
    insert.run();
    row.rowid = db.lastInsertRowId();
    row.isNew = false;
    rereadRow(row);
}

void Table::rereadRow(Row& row) {
    QStringList names;
    for (const auto& field : fields_)
        names << quoted(field->fieldName());
    Statement select(connection_.database(), QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?")
                                                 .arg(names.join(", "), quoted(tableName_)));
    select.bindInt(1, row.rowid);
    if (select.step())
        for (int i = 0; i < int(fields_.size()); ++i)
            row.values[i] = select.columnValue(i);
}

// The optimistic check: the row must still hold every value it had when it was read.
static QString rowUnchangedCondition(const std::vector<std::unique_ptr<Field>>& fields) {
    QString where = QStringLiteral(" WHERE rowid = ?");
    for (const auto& field : fields)
        where += QStringLiteral(" AND %1 IS ?").arg(quoted(field->fieldName()));
    return where;
}

void Table::writeUpdate(Row& row) {
    QStringList sets;
    std::vector<QVariant> values;
    for (const auto& field : fields_) {
        const int i = field->index();
        if (sameValue(row.values[i], original_[i]) &&
            row.values[i].typeId() == original_[i].typeId())
            continue;
        sets << QStringLiteral("%1 = ?").arg(quoted(field->fieldName()));
        values.push_back(row.values[i]);
    }
    if (sets.isEmpty())
        return; // nothing changed: nothing is written
    sqlite::Database& db = connection_.database();
    Statement update(db,
                     QStringLiteral("UPDATE %1 SET %2").arg(quoted(tableName_), sets.join(", ")) +
                         rowUnchangedCondition(fields_));
    int index = 1;
    for (const QVariant& value : values)
        update.bind(index++, value);
    update.bindInt(index++, row.rowid);
    for (const QVariant& value : original_)
        update.bind(index++, value);
    update.run();
    if (db.changes() == 0)
        throw EEngineError(QString::fromLatin1(kConflictMessage), 0);
}

void Table::writeDelete(qint64 rowid, const std::vector<QVariant>& values) {
    sqlite::Database& db = connection_.database();
    Statement remove(db, QStringLiteral("DELETE FROM %1").arg(quoted(tableName_)) +
                             rowUnchangedCondition(fields_));
    int index = 1;
    remove.bindInt(index++, rowid);
    for (const QVariant& value : values)
        remove.bind(index++, value);
    remove.run();
    if (db.changes() == 0)
        throw EEngineError(QStringLiteral("Row cannot be located for deletion. Some values may "
                                          "have been changed since it was last read"),
                           0);
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
    return row ? row->values[field.index()] : QVariant();
}

void Table::setStoredValue(Field& field, const QVariant& stored) {
    checkActive();
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        raise(QStringLiteral("Dataset not in edit or insert mode"));
    if (field.readOnly())
        raise(QStringLiteral("Field '%1' cannot be modified").arg(field.fieldName()));
    (*view_)[current_]->values[field.index()] = stored;
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

void Table::notify(DataEvent event, int row, Field* field) {
    const std::vector<DataSource*> sources = sources_;
    for (DataSource* source : sources)
        source->notify(event, row, field);
}

} // namespace data

#pragma once

#include "data/Connection.h"
#include "data/DataSource.h"
#include "data/Engine.h"
#include "data/Field.h"
#include "data/Row.h"

#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace data {

class Connection;

enum class DataSetState { Inactive, Browse, Edit, Insert };

// A cursor over one whole table of the bank: the rows are read when the table opens (a static
// cursor: what other programs change later is not seen), one row is current, and at most one
// change is pending, an edited row or a new one. Every posted change is written at once, one
// row at a time (or into the transaction of a CommitOnUnwindScope); an update or delete checks that
// nobody changed the row since it was read.
//
// Every operation either completes or throws and leaves the cursor, its detail tables and the
// file as they were: a master posts its details' pending changes before its current row can
// change, and each write is one statement whose result is taken into the cursor only once the
// statement has succeeded.
//
// A detail table shows only the rows whose link field equals the key field of its master's
// current row; rows are kept grouped by link value, so following the master costs time in
// proportion to one question's rows.
class Table : private DataLink {
public:
    // objectName names the table in error messages ("Vopros: ..."); tableName is the table
    // of the file.
    Table(Connection& connection, const QString& objectName, const QString& tableName);
    ~Table() override;
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Declaration, before open(). The fields are used in the order declared.
    Field* addField(const QString& name, FieldType type, int displayWidth, bool readOnly = false,
                    int size = 0);
    // Makes this a detail of the master's table: it shows the rows whose linkField equals the
    // master's current masterField, ordered by the link field.
    void setMaster(DataSource& master, const QString& masterField, const QString& linkField);

    // Checks the declared fields against the bank's columns and reads every row.
    void open();
    bool active() const { return state_ != DataSetState::Inactive; }

    const QString& objectName() const { return objectName_; }
    const QString& tableName() const { return tableName_; }
    DataSetState state() const { return state_; }
    const std::vector<std::unique_ptr<Field>>& fields() const { return fields_; }
    // Throws "Field '%s' not found" for a name that is not declared.
    Field* fieldByName(const QString& name) const;
    Field* findField(const QString& name) const;

    // Moving. Each posts a pending change first (an untouched new row is dropped instead).
    void first();
    void next();
    void prior();
    void last();
    // Makes the row at the 0-based position current (positions count a pending new row).
    void moveTo(int position);
    // Makes the first row whose field equals the value current; false when none does.
    bool locate(const QString& fieldName, const QVariant& value);

    // Changing.
    void edit();
    void append();
    // A new row before the current one.
    void insert();
    void post();
    void cancel();
    void remove();
    // Posts an edited row that was changed, drops one that was not, drops an untouched new row.
    void checkBrowseMode();
    // Gives up the pending change of the current row and reads the row again from the file.
    // A row that another program deleted leaves the rows shown.
    void refreshRow();
    // Takes these rows as the file holds them now, after the engine undid writes this cursor had
    // taken for done: a row gone from the file leaves the rows shown, one back in the file comes
    // back, a pending edit of one of them is given up. Reads everything before it changes
    // anything, so a failed read leaves the cursor as it was.
    void takeRowsFromFile(const std::vector<qint64>& rowids);
    // Takes the values the bank stored by itself into one field of the rows named by their
    // engine's id (the draw's numbers, given by the server's function): as if read again.
    void takeStoredValues(const QString& fieldName,
                          const std::vector<std::pair<qint64, QVariant>>& values);

    // Reading.
    bool isEmpty() const { return shownCount() == 0; }
    // Rows shown, without a pending new row.
    int recordCount() const;
    // 1-based position of the active row; -1 for an empty table or while a new row is pending.
    int recNo() const;
    // Rows shown, with a pending new row: what a grid lists.
    int shownCount() const { return int(view_ ? view_->size() : 0); }
    // 0-based position of the current row among the shown rows; -1 with none.
    int currentPosition() const { return current_; }
    bool modified() const { return modified_; }
    bool bof() const { return bof_; }
    bool eof() const { return eof_; }

    QVariant fieldValue(const QString& name) const;
    void setFieldValue(const QString& name, const QVariant& value);

    // Reads another shown row through the field objects while it lives, then restores the
    // active row: for painting every row of a grid.
    class ActiveRow {
    public:
        ActiveRow(const Table& table, int position);
        ~ActiveRow();
        ActiveRow(const ActiveRow&) = delete;
        ActiveRow& operator=(const ActiveRow&) = delete;

    private:
        const Table& table_;
        int saved_;
    };

    // While controls are disabled the data sources tell neither their controls nor the detail
    // tables anything; enabling them again tells them once that everything may have changed.
    // For a loop over many rows, such as the draw's renumbering. Calls nest.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return controlsDisabled_ > 0; }
    class ControlsDisabled {
    public:
        explicit ControlsDisabled(Table& table);
        ~ControlsDisabled();
        ControlsDisabled(const ControlsDisabled&) = delete;
        ControlsDisabled& operator=(const ControlsDisabled&) = delete;

    private:
        Table& table_;
    };

    // Posts of edited rows gathered while it lives and written together by commit(): on a
    // server one round trip for them all instead of three each. They are written all or none:
    // when one is refused (another program changed or deleted its row, or the engine refused
    // it), commit() returns false with every gathered row as read again, in the cursor and in
    // the bank, and the caller posts them one by one to meet the refusal where it happens. New
    // rows and deletes are written at once as ever. Without commit() the gathered posts are
    // given up the same way. Opens a write scope of its own (joining an open one).
    class PostBatch {
    public:
        explicit PostBatch(Table& table);
        ~PostBatch();
        PostBatch(const PostBatch&) = delete;
        PostBatch& operator=(const PostBatch&) = delete;
        bool commit();

    private:
        Table& table_;
        CommitOnUnwindScope scope_;
    };

    // Internal to fields and data sources.
    QVariant storedValue(const Field& field) const;
    void setStoredValue(Field& field, const QVariant& stored);
    void addDataSource(DataSource* source);
    void removeDataSource(DataSource* source);
    [[noreturn]] void raise(const QString& message) const;

private:
    struct Row {
        RowData data;     // the cells in the order of fields_
        qint64 rowid = 0; // the engine's id of the row (TableWriter)
        bool isNew = false;
    };
    using Rows = std::vector<Row>;

    // The link value of a detail table's rows: a question's id, or null.
    struct LinkKey {
        bool null = true;
        qint64 value = 0;
        bool operator==(const LinkKey&) const = default;
        auto operator<=>(const LinkKey&) const = default;
    };
    // The rows of one link value, kept sorted by key in one array: following the master row by
    // row reads the array in order. Adding a group moves the others, so view_ is set again
    // after every call of groupOf.
    struct Group {
        LinkKey key;
        Rows rows;
    };
    using Groups = std::vector<Group>;
    // Finds or adds the group of a key. Following the master row by row asks for the group
    // next to the one found last (finger), which is checked first: the cost of a move does not
    // grow with the bank.
    static Rows& groupOf(Groups& groups, std::size_t& finger, const LinkKey& key);

    void dataEvent(DataEvent event, int row, Field* field) override;
    void notify(DataEvent event, int row = -1, Field* field = nullptr);
    void checkActive() const;
    void writePending();
    const Row* activeRow() const;
    void setCurrent(int position);
    void startNewRow(int position);
    void dropNewRow();
    void dropRow(int position);
    void readRows();
    // A master posts the pending changes of its details before its current row may change.
    void postDetails();
    // Detail tables: follow the master's current row.
    LinkKey masterKey() const;
    LinkKey linkKeyOf(const RowData& row) const;
    void applyMasterKey();
    void regroup(int position);

    Connection& connection_;
    QString objectName_;
    QString tableName_;
    std::vector<std::unique_ptr<Field>> fields_;

    DataSetState state_ = DataSetState::Inactive;
    // A master table keeps all its rows in one group; a detail table one group per link value.
    Groups groups_;
    std::size_t finger_ = 0;
    Rows* view_ = nullptr;
    LinkKey viewKey_;
    int current_ = -1;
    int beforeInsert_ = -1; // the row to return to when a new row is dropped
    mutable int activeOverride_ = -1;
    bool bof_ = true;
    bool eof_ = true;

    // The pending change.
    RowData original_; // the edited row as read
    bool modified_ = false;

    // Master-detail.
    DataSource* master_ = nullptr;
    Field* masterField_ = nullptr;
    Field* linkField_ = nullptr;
    int linkIndex_ = -1;
    std::vector<Table*> details_;

    std::vector<DataSource*> sources_;
    int controlsDisabled_ = 0;
    bool missedEvents_ = false;
    // The posts a PostBatch gathers: the row by its rowid and where it was shown, as read.
    struct Gathered {
        qint64 rowid;
        int position;
        RowData asRead;
    };
    Row* findRow(qint64 rowid, int position);
    void giveUpGathered();
    bool gathering_ = false;
    std::vector<Gathered> gathered_;

    // The engine's statements for this table, from open() on.
    std::unique_ptr<TableWriter> writer_;
};

} // namespace data

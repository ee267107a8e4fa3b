#pragma once

#include <vector>

namespace data {

class Field;
class Table;

// What a table tells the controls bound to it.
enum class DataEvent {
    RecordMoved,          // another row became current
    RecordChanged,        // values of the current row changed (field, or null for all)
    StateChanged,         // browse, edit or insert began
    UpdateRecord,         // a post is coming: put pending editor text into the row now
    RowsAboutToBeReset,   // the rows shown are about to be replaced (opening, filter)
    RowsReset,            //
    RowAboutToBeInserted, // row: the position of a new row about to be shown
    RowInserted,          //
    RowAboutToBeRemoved,  // row: the position of a row about to go
    RowRemoved,           //
};

// A control's connection to a data source (a grid, a data-bound label, a detail table).
class DataLink {
public:
    virtual ~DataLink() = default;
    virtual void dataEvent(DataEvent event, int row, Field* field) = 0;
};

// Binds controls to a table. With automatic editing on, a control that the user starts typing
// into puts the table into editing by itself.
class DataSource {
public:
    explicit DataSource(Table& table);
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;
    ~DataSource();

    Table& dataSet() const { return table_; }
    bool enabled = true;
    bool autoEdit = true;

    // Called by a control about to change the current row: starts editing when allowed.
    // Returns whether the table is now editing or inserting.
    bool edit();

    void addLink(DataLink* link);
    void removeLink(DataLink* link);
    void notify(DataEvent event, int row, Field* field);

private:
    Table& table_;
    std::vector<DataLink*> links_;
};

} // namespace data

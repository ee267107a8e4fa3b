#pragma once

#include "data/DataSource.h"

#include <QAbstractTableModel>
#include <memory>
#include <vector>

namespace data {
class Field;
class Table;
} // namespace data

namespace toolkit {

class TColumn;

// The rows of a data source's table as Qt's views see them: one row per shown row of the table
// (one blank row while it shows none), one column per bound field, values read from the table
// by position. The model follows the table by itself and tells the view exactly what changed:
// dataChanged for a changed row, rowsInserted/rowsRemoved for a row added or dropped, a reset
// only when the table's rows are replaced (a detail table following another question).
//
// A model whose view cannot be seen need not follow: while it does not, the first change of
// the table makes it show no rows, and nothing more is done until it follows again and catches
// up in one reset.
class DBGridModel : public QAbstractTableModel, private data::DataLink {
    Q_OBJECT
public:
    explicit DBGridModel(QObject* parent = nullptr);
    ~DBGridModel() override;

    void setDataSource(data::DataSource* source);
    data::DataSource* dataSource() const { return source_; }
    // The table of the data source, or null without one.
    data::Table* table() const;

    // The columns, in their fixed order; the model owns them.
    void addColumn(std::unique_ptr<TColumn> column);
    TColumn* column(int index) const;
    int columnTotal() const { return int(columns_.size()); }

    // Whether the model follows the table; see the class comment.
    void setFollowing(bool following);
    bool following() const { return following_; }
    // Counts every change of the rows shown (reset, insert, remove): a view compares two counts
    // to learn whether the rows it showed are still those rows.
    quint64 rowsGeneration() const { return rowsGeneration_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Puts a value into the current row, starting editing when the data source allows it; an
    // empty text clears a field that is not text. False for another row, a read-only field or a
    // table that cannot edit. The table's own errors are thrown.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // Another row of the table became current.
    void currentRowMoved();
    // Browse, edit or insert began.
    void tableStateChanged();
    // A post is coming: text typed and not yet put into the row must go there now.
    void postComing();

private:
    void dataEvent(data::DataEvent event, int row, data::Field* field) override;
    bool showsRows() const;
    void goStale();
    void rowChanged(int row);
    void allRowsChanged();

    data::DataSource* source_ = nullptr;
    std::vector<std::unique_ptr<TColumn>> columns_;
    bool following_ = true;
    bool stale_ = false;
    // The blank row of an empty table is taken by a new row, or given back by its last row.
    bool blankReplaced_ = false;
    quint64 rowsGeneration_ = 0;
};

} // namespace toolkit

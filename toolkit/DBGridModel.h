#pragma once

#include "toolkit/SourceLink.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>

namespace toolkit {

// The rows of a data source's table as Qt's views see them, and a grid's only door to that
// table: one row per shown row of the table (one blank row while it shows none), one column per
// field name given, values shown by the field's own display rule. The model follows the table
// by itself and tells the view exactly what changed: dataChanged for a changed row,
// rowsInserted/rowsRemoved for a row added or dropped, a reset only when the table's rows are
// replaced (a detail table following another question). The cursor commands a grid's keys
// need go through it too.
//
// A model whose view cannot be seen need not follow: while it does not, the first change of
// the table makes it show no rows, and nothing more is done until it follows again and catches
// up in one reset.
class DBGridModel : public QAbstractTableModel, private SourceLink {
    Q_OBJECT
public:
    explicit DBGridModel(QObject* parent = nullptr);
    ~DBGridModel() override;

    void setDataSource(data::DataSource* source);
    data::DataSource* dataSource() const { return source(); }

    // A column for the field of that name, after the others.
    void addField(const QString& name);
    const QString& fieldName(int column) const { return fieldNames_[column]; }
    // The column's field, or null while the table has no field of that name.
    data::Field* field(int column) const;
    int columnTotal() const { return int(fieldNames_.size()); }
    // The field's display width in digits, or -1 without a field.
    int displayWidth(int column) const;
    // How many characters the field takes, or 0 for no limit.
    int maxLength(int column) const;
    // The column has a field that may be written.
    bool editable(int column) const;
    // The column's text in the table's active row.
    QString displayText(int column) const;

    // The table's state. A table that is not open shows no rows and takes no command.
    bool active() const;
    // Open, with its controls enabled.
    bool canModify() const;
    // Rows shown, with a pending new row (the model shows a blank row for none).
    int shownRows() const;
    // The current row among the shown rows, -1 with none.
    int currentRow() const;
    // A new row is pending, and nothing has been put into it.
    bool newRowUntouched() const;
    // The last move went past the last row.
    bool atEnd() const;

    // The cursor commands. The table's own errors are thrown.
    void moveTo(int row);
    void next();
    void prior();
    void append();
    void insert();
    void cancel();
    void remove();
    // Puts the table into editing when the data source allows it; whether it now edits.
    bool startEditing();
    // Runs f with the row shown at that position as the table's active row, as a painter of
    // the rows' cells needs.
    void withActiveRow(int row, const std::function<void()>& f) const;

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
    // The title of a column: its field's display label, or the name given.
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

    QStringList fieldNames_;
    bool following_ = true;
    bool stale_ = false;
    // The blank row of an empty table is taken by a new row, or given back by its last row.
    bool blankReplaced_ = false;
    quint64 rowsGeneration_ = 0;
};

} // namespace toolkit

#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

namespace toolkit {

class TDBGrid;

// The rows of a grid's table as Qt's views see them: read from the table cursor on demand,
// with one blank row while the table shows none. The grid forwards the table's changes.
class DBGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DBGridModel(TDBGrid& grid);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The grid's side of the model's change notifications.
    void beginReset() { beginResetModel(); }
    void endReset() { endResetModel(); }
    void beginInsertRow(int row) { beginInsertRows(QModelIndex(), row, row); }
    void endInsertRow() { endInsertRows(); }
    void beginRemoveRow(int row) { beginRemoveRows(QModelIndex(), row, row); }
    void endRemoveRow() { endRemoveRows(); }
    void beginAddColumn(int column) { beginInsertColumns(QModelIndex(), column, column); }
    void endAddColumn() { endInsertColumns(); }
    void rowChanged(int row);
    void allRowsChanged();
    void titlesChanged();

private:
    TDBGrid& grid_;
};

// Paints every data cell through the grid and gives the in-place editor the keys of a
// database grid.
class DBGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit DBGridDelegate(TDBGrid& grid);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TDBGrid& grid_;
};

} // namespace toolkit

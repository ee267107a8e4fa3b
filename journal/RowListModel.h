#pragma once

#include <QAbstractTableModel>
#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace journal {

// A table whose rows are re-read while the teacher looks at them. The fresh rows replace the old
// ones through the model's insert, remove and change signals, row by row, so that the views keep
// the selection, the current row and the scroll position on the same runs.
class RowListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

protected:
    // Rows are told apart by idOf; same(a, b) says whether a row's shown values are unchanged.
    template <typename Row, typename IdOf, typename Same>
    void mergeRows(std::vector<Row>& rows, std::vector<Row> fresh, IdOf idOf, Same same) {
        std::unordered_set<qint64> freshIds, oldIds;
        for (const Row& row : fresh)
            freshIds.insert(idOf(row));
        for (const Row& row : rows)
            oldIds.insert(idOf(row));
        for (int last = int(rows.size()) - 1; last >= 0; --last) {
            if (freshIds.count(idOf(rows[size_t(last)])))
                continue;
            int first = last;
            while (first > 0 && !freshIds.count(idOf(rows[size_t(first - 1)])))
                --first;
            beginRemoveRows(QModelIndex(), first, last);
            rows.erase(rows.begin() + first, rows.begin() + last + 1);
            endRemoveRows();
            last = first;
        }
        if (!keepOrder(rows, fresh, idOf, oldIds))
            reorder(rows, fresh, idOf);
        size_t at = 0;
        for (size_t i = 0; i < fresh.size();) {
            if (at < rows.size() && idOf(rows[at]) == idOf(fresh[i])) {
                if (!same(rows[at], fresh[i])) {
                    rows[at] = std::move(fresh[i]);
                    emit dataChanged(index(int(at), 0), index(int(at), columnCount() - 1));
                }
                ++at;
                ++i;
                continue;
            }
            size_t end = i;
            while (end < fresh.size() && !oldIds.count(idOf(fresh[end])))
                ++end;
            beginInsertRows(QModelIndex(), int(at), int(at + (end - i)) - 1);
            rows.insert(rows.begin() + qsizetype(at),
                        std::make_move_iterator(fresh.begin() + qsizetype(i)),
                        std::make_move_iterator(fresh.begin() + qsizetype(end)));
            endInsertRows();
            at += end - i;
            i = end;
        }
    }

private:
    // Whether the old rows, all of them still there, come in the fresh list's order.
    template <typename Row, typename IdOf>
    static bool keepOrder(const std::vector<Row>& rows, const std::vector<Row>& fresh, IdOf idOf,
                          const std::unordered_set<qint64>& oldIds) {
        size_t j = 0;
        for (const Row& row : rows) {
            while (j < fresh.size() && !oldIds.count(idOf(fresh[j])))
                ++j;
            if (j == fresh.size() || idOf(fresh[j]) != idOf(row))
                return false;
            ++j;
        }
        return true;
    }

    // Puts the old rows in the fresh list's order (the questions' flags changed); persistent
    // indexes, and so the selection, follow their rows.
    template <typename Row, typename IdOf>
    void reorder(std::vector<Row>& rows, const std::vector<Row>& fresh, IdOf idOf) {
        emit layoutAboutToBeChanged();
        std::unordered_map<qint64, size_t> rank;
        for (size_t i = 0; i < fresh.size(); ++i)
            rank.emplace(idOf(fresh[i]), i);
        std::vector<size_t> order(rows.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return rank.at(idOf(rows[a])) < rank.at(idOf(rows[b]));
        });
        std::vector<int> newRow(rows.size());
        std::vector<Row> sorted;
        sorted.reserve(rows.size());
        for (size_t i = 0; i < order.size(); ++i) {
            newRow[order[i]] = int(i);
            sorted.push_back(std::move(rows[order[i]]));
        }
        rows = std::move(sorted);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        for (const QModelIndex& old : before)
            after.append(createIndex(newRow[size_t(old.row())], old.column()));
        changePersistentIndexList(before, after);
        emit layoutChanged();
    }
};

} // namespace journal

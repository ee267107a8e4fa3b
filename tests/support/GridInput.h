#pragma once

#include "toolkit/DBGrid.h"

#include <QApplication>
#include <QEvent>
#include <QTest>

// Driving a data grid as a user does.
namespace testsupport {

// The visible part of a cell, scrolled into view: a wide column may reach past the grid's edge.
inline QRect cellRect(toolkit::TDBGrid* grid, int row, int column) {
    const QModelIndex index = grid->model()->index(row, column);
    grid->scrollTo(index);
    return grid->visualRect(index).intersected(grid->viewport()->rect());
}

inline QPoint cellCentre(toolkit::TDBGrid* grid, int row, int column) {
    return cellRect(grid, row, column).center();
}

inline void clickCell(toolkit::TDBGrid* grid, int row, int column,
                      Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(grid->viewport(), button, {}, cellCentre(grid, row, column));
}

// A key as the user presses it: to the grid's editor when it is open, else to the grid.
inline void press(toolkit::TDBGrid* grid, Qt::Key key,
                  Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = grid->EditorMode() ? static_cast<QWidget*>(grid->inplaceEditor()) : grid;
    QTest::keyClick(target, key, mods);
}

inline int currentRow(toolkit::TDBGrid* grid) {
    return grid->currentIndex().row();
}

// Types text into whatever has the focus (the grid, then its editor), a key at a time.
inline void typeText(const QString& text) {
    for (const QChar c : text) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY(target);
        QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace testsupport

#include "toolkit/DrawFrameControl.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace toolkit {

namespace {

// The size of the platform's check box.
constexpr int kCheckBoxSize = 13;
// The edge that DFCS_ADJUSTRECT takes off the rectangle.
constexpr int kEdge = 2;

} // namespace

bool DrawFrameControl(QPainter* dc, TRect& rect, unsigned type, unsigned state) {
    if (!dc || type != DFC_BUTTON || (state & 0xFF) != DFCS_BUTTONCHECK)
        return false;
    const QRect area = rect.toQRect();
    // At least a pixel of the cell on every side, so the box never touches the grid's lines.
    const int size = std::min({kCheckBoxSize, area.width() - 2, area.height() - 2});
    if (size <= 0)
        return false;
    QStyleOptionButton option;
    option.state = QStyle::State_Enabled | QStyle::State_Active |
                   ((state & DFCS_CHECKED) ? QStyle::State_On : QStyle::State_Off);
    option.rect = QRect(area.left() + (area.width() - size) / 2,
                        area.top() + (area.height() - size) / 2, size, size);
    option.palette = QApplication::palette();
    QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, dc);
    if (state & DFCS_ADJUSTRECT) {
        rect.Left += kEdge;
        rect.Top += kEdge;
        rect.Right -= kEdge;
        rect.Bottom -= kEdge;
    }
    return true;
}

} // namespace toolkit

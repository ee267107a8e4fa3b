#pragma once

#include "toolkit/Canvas.h"

class QPainter;

namespace toolkit {

// Frame control types and states, with the platform's values.
inline constexpr unsigned DFC_BUTTON = 4;
inline constexpr unsigned DFCS_BUTTONCHECK = 0x0000;
inline constexpr unsigned DFCS_CHECKED = 0x0400;
inline constexpr unsigned DFCS_ADJUSTRECT = 0x2000;

// Draws a standard control frame into the rectangle on the device context. Of the types only
// DFC_BUTTON with DFCS_BUTTONCHECK is drawn: the style's check box, ticked with DFCS_CHECKED,
// centred in the rectangle. DFCS_ADJUSTRECT shrinks the rectangle by the control's edge.
// Returns false when nothing was drawn.
bool DrawFrameControl(QPainter* dc, TRect& rect, unsigned type, unsigned state);

} // namespace toolkit

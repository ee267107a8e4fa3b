#pragma once

#include <QColor>
#include <QRect>
#include <QString>

class QPainter;

namespace toolkit {

// A rectangle as the painting handlers see it: right and bottom lie just outside.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    static TRect fromQRect(const QRect& r) {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    QRect toQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    bool operator==(const TRect&) const = default;
};

// System colours by their role.
QColor clWindow();
QColor clWindowText();
QColor clHighlight();
QColor clHighlightText();

// A drawing surface with a current brush and font colour over a QPainter, the way the grid
// painting handlers use it. The painter belongs to whoever paints; the canvas only borrows it.
class TCanvas {
public:
    struct TBrush {
        QColor Color = Qt::white;
    };
    struct TFont {
        QColor Color = Qt::black;
    };

    TBrush Brush;
    TFont Font;

    // The device context the platform's drawing functions take.
    QPainter* Handle() const { return painter_; }
    void setHandle(QPainter* painter) { painter_ = painter; }

    // Fills the rectangle with the brush colour.
    void FillRect(const TRect& rect);
    // Opaque text: fills the rectangle with the brush colour, then writes the text with its
    // top-left corner at (X, Y), clipped to the rectangle.
    void TextRect(const TRect& rect, int X, int Y, const QString& text);

private:
    QPainter* painter_ = nullptr;
};

} // namespace toolkit

#include "toolkit/Canvas.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

namespace toolkit {

QColor clWindow() {
    return QApplication::palette().color(QPalette::Active, QPalette::Base);
}

QColor clWindowText() {
    return QApplication::palette().color(QPalette::Active, QPalette::Text);
}

QColor clHighlight() {
    return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

QColor clHighlightText() {
    return QApplication::palette().color(QPalette::Active, QPalette::HighlightedText);
}

void TCanvas::FillRect(const TRect& rect) {
    if (!painter_)
        return;
    painter_->fillRect(rect.toQRect(), Brush.Color);
}

void TCanvas::TextRect(const TRect& rect, int X, int Y, const QString& text) {
    if (!painter_)
        return;
    const QRect area = rect.toQRect();
    painter_->save();
    painter_->setClipRect(area, Qt::IntersectClip);
    painter_->fillRect(area, Brush.Color);
    painter_->setPen(Font.Color);
    const QRect textArea(X, Y, std::max(0, rect.Right - X), std::max(0, rect.Bottom - Y));
    painter_->drawText(textArea, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter_->restore();
}

} // namespace toolkit

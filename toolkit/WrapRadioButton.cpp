#include "toolkit/WrapRadioButton.h"

#include <QAbstractButton>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QTextLayout>

namespace toolkit {

namespace {

// The caption without its access-key markers: "&&" stands for one ampersand, "&x" underlines x.
QString stripMnemonic(const QString& caption, int* underlined) {
    QString plain;
    plain.reserve(caption.size());
    *underlined = -1;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) {
            ++i;
            if (caption[i] != QLatin1Char('&') && *underlined < 0)
                *underlined = int(plain.size());
        }
        plain += caption[i];
    }
    return plain;
}

// Lays the caption out in lines of the given width: at word boundaries, and inside a word only
// where one word alone is wider than the line. Returns the number of lines.
int layOut(QTextLayout& layout, int width) {
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    int count = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(qMax(1, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
        ++count;
    }
    layout.endLayout();
    return count;
}

// Lines of the layout that fit into the height, whole lines only, and at least the first.
int fittingLines(const QTextLayout& layout, int height) {
    int fit = 0;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (line.y() + line.height() > height + 0.01 && fit > 0)
            break;
        ++fit;
        if (line.y() + line.height() > height + 0.01)
            break;
    }
    return fit;
}

} // namespace

WrapRadioButton::WrapRadioButton(const QString& text, QWidget* parent)
    : QRadioButton(text, parent) {}

WrapRadioButton::WrapRadioButton(QWidget* parent) : QRadioButton(parent) {}

QRect WrapRadioButton::textRect() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
}

int WrapRadioButton::visibleLineCount() const {
    return int(visibleLines().size());
}

QStringList WrapRadioButton::visibleLines() const {
    const QRect area = textRect();
    int underlined = -1;
    const QString plain = stripMnemonic(text(), &underlined);
    if (plain.isEmpty())
        return {};
    QTextLayout layout(plain, font());
    layOut(layout, area.width());
    const int fit = fittingLines(layout, area.height());
    QStringList lines;
    for (int i = 0; i < fit; ++i) {
        const QTextLine line = layout.lineAt(i);
        lines << plain.mid(line.textStart(), line.textLength());
    }
    return lines;
}

QSize WrapRadioButton::sizeHint() const {
    const QSize oneLine = QRadioButton::sizeHint();
    return QSize(oneLine.width(), qMax(oneLine.height(), heightForWidth(oneLine.width())));
}

QSize WrapRadioButton::minimumSizeHint() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return QSize(style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, &option, this),
                 style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, &option, this));
}

int WrapRadioButton::heightForWidth(int width) const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const int indicator = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, &option, this) +
                          style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, &option, this);
    int underlined = -1;
    QTextLayout layout(stripMnemonic(text(), &underlined), font());
    layOut(layout, width - indicator);
    const int textHeight = int(layout.boundingRect().height() + 0.99);
    return qMax(textHeight,
                style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, &option, this));
}

bool WrapRadioButton::hitButton(const QPoint& pos) const {
    // The whole rectangle answers the mouse, caption lines included.
    return rect().contains(pos);
}

void WrapRadioButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);

    QStyleOptionButton indicator = option;
    indicator.rect = style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, this);
    style()->drawPrimitive(QStyle::PE_IndicatorRadioButton, &indicator, &painter, this);

    const QRect area = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
    int underlined = -1;
    const QString plain = stripMnemonic(option.text, &underlined);
    if (plain.isEmpty())
        return;
    QTextLayout layout(plain, font());
    if (underlined >= 0 && style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this)) {
        QTextLayout::FormatRange range;
        range.start = underlined;
        range.length = 1;
        range.format.setFontUnderline(true);
        layout.setFormats({range});
    }
    layOut(layout, area.width());
    const int fit = fittingLines(layout, area.height());
    const QTextLine last = layout.lineAt(fit - 1);
    const int blockHeight = int(last.y() + last.height() + 0.99);
    qreal blockWidth = 0;
    for (int i = 0; i < fit; ++i)
        blockWidth = qMax(blockWidth, layout.lineAt(i).naturalTextWidth());

    // The lines that fit, centred vertically beside the indicator; the rest is cut off.
    const int top = area.top() + qMax(0, (area.height() - blockHeight) / 2);
    const QRect block(area.left(), top, qMin(area.width(), int(blockWidth + 0.99)),
                      qMin(area.height(), blockHeight));
    painter.save();
    painter.setClipRect(block.intersected(area));
    painter.setPen(option.palette.color(QPalette::WindowText));
    for (int i = 0; i < fit; ++i)
        layout.lineAt(i).draw(&painter, QPointF(area.left(), top));
    painter.restore();

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = block.adjusted(-1, 0, 1, 0).intersected(rect());
        focus.backgroundColor = option.palette.color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void uncheck(QAbstractButton* button) {
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}

} // namespace toolkit

#include "cli/Screen.h"

#include "formats/Csv.h"
#include "testing/Geometry.h"
#include "toolkit/Form.h"
#include "toolkit/WrapRadioButton.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>

namespace bank {

namespace {

using testwindow::kExplanationHeight;
using testwindow::kOptionHeight;
using testwindow::kQuestionLabelWidth;
constexpr int kUnboundedHeight = 100000;

std::unique_ptr<toolkit::WrapRadioButton> makeButton(const QFont& font, int height) {
    auto button = std::make_unique<toolkit::WrapRadioButton>();
    button->setFont(font);
    button->resize(testwindow::kChoiceWidth, height);
    return button;
}

// The text without its last n characters (code points).
QString cutEnd(const QString& text, int n) {
    qsizetype end = text.size();
    for (int k = 0; k < n && end > 0; ++k) {
        --end;
        if (end > 0 && text.at(end).isLowSurrogate() && text.at(end - 1).isHighSurrogate())
            --end;
    }
    return text.left(end);
}

} // namespace

ScreenFit::ScreenFit() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw EToolError(QStringLiteral("измерение текстов требует QApplication"));
    toolkit::registerFonts();
    font_ = toolkit::windowFont();
    option_ = makeButton(font_, kOptionHeight);
    explanation_ = makeButton(font_, kExplanationHeight);
    unbounded_ = makeButton(font_, kUnboundedHeight);
}

ScreenFit::~ScreenFit() = default;

bool ScreenFit::fontFound() const {
    return QFontInfo(font_).family() == font_.family();
}

int ScreenFit::questionWidth(const QString& text) const {
    // The label draws one line, as drawText with TextSingleLine lays it out.
    const QRect box = QFontMetrics(font_).boundingRect(QRect(0, 0, kUnboundedHeight, 100),
                                                       Qt::AlignLeft | Qt::TextSingleLine, text);
    return box.width();
}

int ScreenFit::questionLabelWidth() {
    return testwindow::kQuestionLabelWidth;
}

toolkit::WrapRadioButton& ScreenFit::button(Place place) const {
    return place == Place::Option ? *option_ : *explanation_;
}

int ScreenFit::linesNeeded(const QString& text) const {
    unbounded_->setText(text);
    return unbounded_->visibleLineCount();
}

int ScreenFit::linesShown(Place place, const QString& text) const {
    toolkit::WrapRadioButton& shown = button(place);
    shown.setText(text);
    return shown.visibleLineCount();
}

bool ScreenFit::fits(Place place, const QString& text) const {
    if (place == Place::Question)
        return questionWidth(text) <= kQuestionLabelWidth;
    // The button shows whole lines only; what it cannot show is cut off.
    return linesNeeded(text) <= linesShown(place, text);
}

int ScreenFit::excess(Place place, const QString& text) const {
    int cut = 0;
    while (cut < text.size() && !fits(place, cutEnd(text, cut)))
        ++cut;
    return cut;
}

} // namespace bank

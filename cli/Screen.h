#pragma once

#include <QFont>
#include <QString>
#include <memory>

namespace toolkit {
class WrapRadioButton;
}

namespace bank {

// Where the testing window shows a text of the bank.
enum class Place {
    Question,   // the one-line label above the groups, cut off at its width
    Option,     // an answer button, one line beside its indicator
    Explanation // an explanation button, three lines beside its indicator
};

// Measures texts as the testing window shows them: in the windows' font, registered the way the
// program registers it, on the program's own wrapping radio buttons of the window's sizes.
// Needs a QApplication.
class ScreenFit {
public:
    ScreenFit();
    ~ScreenFit();
    ScreenFit(const ScreenFit&) = delete;
    ScreenFit& operator=(const ScreenFit&) = delete;

    // Whether the windows' font was found; measuring in another would prove nothing.
    bool fontFound() const;
    bool fits(Place place, const QString& text) const;
    // The question label: pixels the text needs, and the label's width.
    int questionWidth(const QString& text) const;
    static int questionLabelWidth();
    // A button: lines the text needs, and the lines of it the button shows.
    int linesNeeded(const QString& text) const;
    int linesShown(Place place, const QString& text) const;
    // How many characters to cut from the end of a text that does not fit for it to fit.
    int excess(Place place, const QString& text) const;

private:
    toolkit::WrapRadioButton& button(Place place) const;

    QFont font_;
    std::unique_ptr<toolkit::WrapRadioButton> option_;
    std::unique_ptr<toolkit::WrapRadioButton> explanation_;
    std::unique_ptr<toolkit::WrapRadioButton> unbounded_; // as wide, tall enough for any text
};

} // namespace bank

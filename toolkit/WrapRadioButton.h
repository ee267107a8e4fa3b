#pragma once

#include <QRadioButton>

class QAbstractButton;

namespace toolkit {

// A radio button whose caption wraps at word boundaries inside the button's own rectangle, as
// many whole lines as the height holds; what does not fit is cut off (a button one line high
// shows only the first line). It keeps everything else of a radio button: exclusivity among
// its siblings, mouse anywhere in the rectangle, Space, arrow keys, focus and the caption's
// access key.
class WrapRadioButton : public QRadioButton {
    Q_OBJECT
public:
    explicit WrapRadioButton(const QString& text, QWidget* parent = nullptr);
    explicit WrapRadioButton(QWidget* parent = nullptr);

    // A number the program attaches to the button (the test run marks correct choices with 1).
    int Tag = 0;

    // How many lines of the caption the button shows at its present size.
    int visibleLineCount() const;
    // The caption laid out as the button paints it, one entry per visible line.
    QStringList visibleLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QRect textRect() const;
};

// Unchecks a radio button, also the checked one of an auto-exclusive group, which refuses a
// plain setChecked(false); the group stays exclusive.
void uncheck(QAbstractButton* button);

} // namespace toolkit

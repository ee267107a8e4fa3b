#pragma once

#include <QPalette>
#include <QSize>
#include <QWidget>
#include <functional>

class QLabel;

namespace toolkit {

// The windows' font: Tahoma 11 pixels (registered from the bundled files where fontconfig
// knows none), and the headings' font: Tahoma 13 pixels bold.
QFont windowFont();
QFont headingFont();
// Purple (128, 0, 128), the headings' colour.
QColor headingColor();
// Gives a label the headings' font and colour. The label draws in its own foreground role
// whatever the window's background role is (on a button-face or window background a label
// would otherwise draw in the button-text or text colour).
void setHeadingStyle(QLabel* label);
// Makes Tahoma available to the application; call once after the QApplication exists.
void registerFonts();

// The nominal frame a window manager adds: 8 pixels each side and a 31-pixel caption. Windows
// whose outer size is given are sized by their client area, the outer size less this frame.
inline constexpr int kFrameWidth = 8;
inline constexpr int kCaptionHeight = 31;
QSize clientSizeForOuter(QSize outer);

// A top-level window: ordinary, resizable, hidden until shown. It is centred on the desktop
// the first time it is shown and keeps its position afterwards. Closing it only hides it and
// runs OnClose (a window's FormClose, connected through guarded()).
class TForm : public QWidget {
    Q_OBJECT
public:
    TForm(const QString& caption, QSize clientSize, QPalette::ColorRole background,
          QWidget* parent = nullptr);

    std::function<void()> OnClose;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool placed_ = false;
};

} // namespace toolkit

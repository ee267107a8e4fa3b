#pragma once

#include <QMargins>
#include <QPalette>
#include <QRect>
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

// The frame a window manager draws around a window, as the windows' outer sizes count it:
// 4-pixel borders and a 30-pixel title bar. Windows whose outer size is given are sized by their
// client area, the outer size less this frame; it is also the frame taken for placing a window
// until the window manager has drawn the real one.
inline constexpr QMargins kNominalFrame{4, 30, 4, 4};
QSize clientSizeForOuter(QSize outer);

// The top-left corner of the client area that centres a window, its frame included, on the
// available area of a screen.
QPoint centredClientPos(const QRect& available, QSize client, const QMargins& frame);

// Centres a top-level window, frame included, on its screen's available area: at once with the
// nominal frame, and again with the real frame as soon as the window manager has framed the
// window (its native window is exposed). Call it from the window's first showEvent.
void centreOnScreen(QWidget* window);

// A top-level window: ordinary, resizable, hidden until shown, with the application title as
// its icon text. It is centred on the desktop the first time it is shown and keeps its
// position afterwards. Closing it only hides it and runs OnClose (a window's FormClose,
// connected through guarded()).
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

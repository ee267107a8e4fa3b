#include "toolkit/Form.h"

#include "toolkit/MessageBox.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWindow>

namespace toolkit {

namespace {

const QString kTahoma = QStringLiteral("Tahoma");

} // namespace

void registerFonts() {
    if (QFontDatabase::families().contains(kTahoma))
        return;
    for (const char* file :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
        if (QFile::exists(QString::fromLatin1(file)))
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
}

QFont windowFont() {
    QFont font(kTahoma);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

QFont headingFont() {
    QFont font = windowFont();
    font.setPixelSize(13);
    // The bold Tahoma face is hardly heavier than the regular one: emboldening the regular
    // face gives the bold heading the windows need.
    font.setStyleName(QStringLiteral("Regular"));
    font.setBold(true);
    return font;
}

QColor headingColor() {
    return QColor(128, 0, 128);
}

void setHeadingStyle(QLabel* label) {
    label->setFont(headingFont());
    label->setForegroundRole(QPalette::WindowText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, headingColor());
    label->setPalette(palette);
}

QSize clientSizeForOuter(QSize outer) {
    return outer.shrunkBy(kNominalFrame);
}

QPoint centredClientPos(const QRect& available, QSize client, const QMargins& frame) {
    const QSize outer = client.grownBy(frame);
    return QPoint(available.x() + (available.width() - outer.width()) / 2 + frame.left(),
                  available.y() + (available.height() - outer.height()) / 2 + frame.top());
}

namespace {

void placeCentred(QWidget* window, const QMargins& frame) {
    const QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window->setGeometry(QRect(centredClientPos(screen->availableGeometry(), window->size(), frame),
                              window->size()));
}

// A window manager frames a window when it maps it, and only then can the platform tell the
// frame; by the time the native window is first exposed it can. This places the window again
// with that frame, once, and goes.
class RealFramePlacer : public QObject {
public:
    explicit RealFramePlacer(QWidget* window) : QObject(window), window_(window) {
        window->windowHandle()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QWindow* handle = window_->windowHandle();
        if (watched == handle && event->type() == QEvent::Expose && handle->isExposed()) {
            handle->removeEventFilter(this);
            const QMargins frame = handle->frameMargins();
            if (frame != kNominalFrame)
                placeCentred(window_, frame);
            deleteLater();
        }
        return false;
    }

private:
    QWidget* window_;
};

} // namespace

void centreOnScreen(QWidget* window) {
    placeCentred(window, kNominalFrame);
    if (window->windowHandle())
        new RealFramePlacer(window);
}

TForm::TForm(const QString& caption, QSize clientSize, QPalette::ColorRole background,
             QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(caption);
    // What a taskbar shows for the window: the program's name, the same for all its windows.
    setWindowIconText(applicationTitle());
    setFont(windowFont());
    setBackgroundRole(background);
    setAutoFillBackground(true);
    resize(clientSize);
}

void TForm::showEvent(QShowEvent* event) {
    // Later showings keep the place the window then has, wherever the user moved it.
    if (!placed_) {
        placed_ = true;
        centreOnScreen(this);
    }
    QWidget::showEvent(event);
}

void TForm::closeEvent(QCloseEvent* event) {
    // The window is only hidden; it keeps its state for the next time it is shown.
    event->accept();
    if (OnClose)
        OnClose();
}

} // namespace toolkit

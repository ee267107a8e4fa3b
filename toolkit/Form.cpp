#include "toolkit/Form.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

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
    return QSize(outer.width() - 2 * kFrameWidth, outer.height() - kFrameWidth - kCaptionHeight);
}

TForm::TForm(const QString& caption, QSize clientSize, QPalette::ColorRole background,
             QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(caption);
    setFont(windowFont());
    setBackgroundRole(background);
    setAutoFillBackground(true);
    resize(clientSize);
}

void TForm::showEvent(QShowEvent* event) {
    if (!placed_) {
        placed_ = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect desktop = screen->availableGeometry();
            // Centre the whole window, frame included, as the window manager will draw it.
            const QSize outer(width() + 2 * kFrameWidth, height() + kFrameWidth + kCaptionHeight);
            move(desktop.x() + (desktop.width() - outer.width()) / 2,
                 desktop.y() + (desktop.height() - outer.height()) / 2);
        }
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

#include "help/Unit3.h"

#include "app/Unit1.h"
#include "help/Instructions.h"
#include "toolkit/Guard.h"

#include <QLabel>
#include <QPixmap>

Tabout* about = nullptr;

Tabout::Tabout(QWidget* parent)
    // The system's window colour, white in the usual scheme, is the palette's Base; Qt's Window
    // role is the grey of dialogs.
    : TForm(QStringLiteral("Справка"), QSize(642, 452), QPalette::Base, parent) {
    setObjectName(QStringLiteral("about"));
    // No layout: the controls keep their places and sizes however the window is resized.
    Label1 = new QLabel(QStringLiteral("Инструкция по работе с программой."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    toolkit::setHeadingStyle(Label1);
    Label1->move(8, 8);
    Label1->adjustSize();

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 30, 626, 411);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setScaledContents(false);
    Image1->setPixmap(QPixmap::fromImage(help::instructionPicture()));

    OnClose = toolkit::guarded([this] { FormClose(this); });
}

void Tabout::FormClose(QObject*) {
    showMainMenu();
}

#include "help/Unit3.h"

#include "app/Unit1.h"
#include "toolkit/Guard.h"

Tabout* about = nullptr;

Tabout::Tabout(QWidget* parent)
    : TForm(QStringLiteral("Справка"), QSize(642, 452), QPalette::Base, parent) {
    OnClose = toolkit::guarded([this] { FormClose(this); });
}

void Tabout::FormClose(QObject*) { showMainMenu(); }

#include "testing/testirovanie.h"

#include "app/Unit1.h"
#include "toolkit/Guard.h"

Ttesti* testi = nullptr;

Ttesti::Ttesti(QWidget* parent)
    : TForm(QStringLiteral("Тестирование"), toolkit::clientSizeForOuter(QSize(655, 467)),
            QPalette::Button, parent) {
    OnClose = toolkit::guarded([this] { FormClose(this); });
}

void Ttesti::Button2Click(QObject*) {}

void Ttesti::FormClose(QObject*) { showMainMenu(); }

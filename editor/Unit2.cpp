#include "editor/Unit2.h"

#include "app/Unit1.h"
#include "toolkit/Guard.h"

TEdittest* Edittest = nullptr;

TEdittest::TEdittest(QWidget* parent)
    : TForm(QStringLiteral("Редактирование тестов"), toolkit::clientSizeForOuter(QSize(702, 615)),
            QPalette::Button, parent) {
    OnClose = toolkit::guarded([this] { FormClose(this); });
}

void TEdittest::FormClose(QObject*) { showMainMenu(); }

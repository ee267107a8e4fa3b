#include "app/Unit1.h"

#include "data/DM.h"
#include "editor/Unit2.h"
#include "help/Unit3.h"
#include "testing/testirovanie.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QRadioButton>

TForm1* Form1 = nullptr;

namespace {

// Showing a window makes it visible and brings it to the front.
void showInFront(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

QRadioButton* entry(const QString& name, const QString& caption, int top, int width,
                    QWidget* parent) {
    auto* button = new QRadioButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(16, top, width, 17);
    return button;
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : TForm(QStringLiteral("Тесты по информатике"), toolkit::clientSizeForOuter(QSize(391, 180)),
            QPalette::Button, parent) {
    setObjectName(QStringLiteral("Form1"));
    GroupBox1 = new QGroupBox(QStringLiteral("Выберите действие"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 369, 129);
    // Created in tab order; siblings in one parent form one exclusive group.
    RadioButton1 =
        entry(QStringLiteral("RadioButton1"), QStringLiteral("Начать тест"), 24, 113, GroupBox1);
    RadioButton2 = entry(QStringLiteral("RadioButton2"), QStringLiteral("Редактирование теста"), 63,
                         161, GroupBox1);
    RadioButton3 =
        entry(QStringLiteral("RadioButton3"), QStringLiteral("Справка"), 103, 161, GroupBox1);

    // An entry is chosen when its button becomes checked, by mouse or keyboard, and only then:
    // clicking the entry that is already checked does nothing.
    connect(RadioButton1, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            toolkit::runHandler([this] { RadioButton1Click(RadioButton1); });
    });
    connect(RadioButton2, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            toolkit::runHandler([this] { RadioButton2Click(RadioButton2); });
    });
    connect(RadioButton3, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            toolkit::runHandler([this] { RadioButton3Click(RadioButton3); });
    });
}

void TForm1::RadioButton1Click(QObject*) {
    showInFront(testi);
    testi->Button2Click(RadioButton1);
    // Only after the draw: a failed draw leaves the main menu up, and so does a refused one,
    // which has hidden the testing window again.
    if (testi->isVisible())
        hide();
}

void TForm1::RadioButton2Click(QObject*) {
    // On a school's server the pupils' role reads no marks: the editor could show nothing true.
    if (DataModule2 && DataModule2->ADOConnection1.connected() &&
        !DataModule2->ADOConnection1.engine().mayEditBank()) {
        toolkit::ShowMessage(QStringLiteral("Изменять банк вопросов может только учитель: у этой "
                                            "учётной записи сервера нет на это прав. Вопросы "
                                            "теста редактирует учитель."));
        return;
    }
    showInFront(Edittest);
    hide();
}

void TForm1::RadioButton3Click(QObject*) {
    showInFront(about);
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->accept();
    // exit() rather than quit(): quit() would first close every other window and so run their
    // close handlers, which bring the main menu back.
    QCoreApplication::exit(0);
}

void showMainMenu() {
    Form1->setVisible(true);
    showInFront(Form1);
}

#include "app/Unit1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QRadioButton>

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent)
    : TForm(QStringLiteral("Тесты по информатике"), toolkit::clientSizeForOuter(QSize(391, 180)),
            QPalette::Button, parent) {
    GroupBox1 = new QGroupBox(QStringLiteral("Выберите действие"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 369, 129);
    RadioButton1 = new QRadioButton(QStringLiteral("Начать тест"), GroupBox1);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setGeometry(16, 24, 113, 17);
    RadioButton2 = new QRadioButton(QStringLiteral("Редактирование теста"), GroupBox1);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    RadioButton2->setGeometry(16, 63, 161, 17);
    RadioButton3 = new QRadioButton(QStringLiteral("Справка"), GroupBox1);
    RadioButton3->setObjectName(QStringLiteral("RadioButton3"));
    RadioButton3->setGeometry(16, 103, 161, 17);
}

void TForm1::RadioButton1Click(QObject*) {}
void TForm1::RadioButton2Click(QObject*) {}
void TForm1::RadioButton3Click(QObject*) {}

void TForm1::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::quit();
}

void showMainMenu() {
    Form1->setVisible(true);
    Form1->show();
    Form1->raise();
    Form1->activateWindow();
}

#pragma once

#include "toolkit/Form.h"

class QGroupBox;
class QRadioButton;

// The main menu, the program's main window: start a test, edit the tests, read the help.
class TForm1 : public toolkit::TForm {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;

    void RadioButton1Click(QObject* Sender);
    void RadioButton2Click(QObject* Sender);
    void RadioButton3Click(QObject* Sender);

protected:
    void closeEvent(QCloseEvent* event) override;
};

extern TForm1* Form1;

// Brings the main menu back: makes it visible and shows it in front. The close handlers of the
// other windows call this.
void showMainMenu();

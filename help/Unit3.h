#pragma once

#include "toolkit/Form.h"

class QLabel;

// The help window: a heading and the picture with the instructions.
class Tabout : public toolkit::TForm {
    Q_OBJECT
public:
    explicit Tabout(QWidget* parent = nullptr);

    QLabel* Label1;
    // Shows the instruction picture unscaled from its top-left corner; the control is five
    // rows shorter than the picture, whose bottom rows are blank.
    QLabel* Image1;

    void FormClose(QObject* Sender);
};

extern Tabout* about;

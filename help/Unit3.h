#pragma once

#include "toolkit/Form.h"

// The help window: a heading and the picture with the instructions.
class Tabout : public toolkit::TForm {
    Q_OBJECT
public:
    explicit Tabout(QWidget* parent = nullptr);

    void FormClose(QObject* Sender);
};

extern Tabout* about;

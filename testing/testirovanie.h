#pragma once

#include "toolkit/Form.h"

#include <QtGlobal>
#include <vector>

// The testing window: takes the pupil through the ten questions of one test run.
class Ttesti : public toolkit::TForm {
    Q_OBJECT
public:
    explicit Ttesti(QWidget* parent = nullptr);

    // The question draw: starts a new run.
    void Button2Click(QObject* Sender);
    void FormClose(QObject* Sender);
};

extern Ttesti* testi;

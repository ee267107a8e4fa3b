#pragma once

#include "toolkit/Form.h"

// The editor window: the question bank in three linked grids.
class TEdittest : public toolkit::TForm {
    Q_OBJECT
public:
    explicit TEdittest(QWidget* parent = nullptr);

    void FormClose(QObject* Sender);
};

extern TEdittest* Edittest;

#pragma once

#include "toolkit/DBGrid.h"
#include "toolkit/Form.h"

class QLabel;
class QToolButton;

// The editor window: the question bank in three linked grids, the questions above their
// answer options and explanations, with a pair of add and delete buttons beside each heading.
class TEdittest : public toolkit::TForm {
    Q_OBJECT
public:
    explicit TEdittest(QWidget* parent = nullptr);

    toolkit::TDBGrid* DBGrid1;
    QLabel* Label1;
    toolkit::TDBGrid* DBGrid2;
    QLabel* Label2;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    toolkit::TDBGrid* DBGrid3;
    QToolButton* SpeedButton5;
    QToolButton* SpeedButton6;
    QLabel* Label3;

    void SpeedButton1Click(QObject* Sender);
    void SpeedButton2Click(QObject* Sender);
    void SpeedButton3Click(QObject* Sender);
    void SpeedButton4Click(QObject* Sender);
    void FormClose(QObject* Sender);
    void SpeedButton5Click(QObject* Sender);
    void SpeedButton6Click(QObject* Sender);
};

extern TEdittest* Edittest;

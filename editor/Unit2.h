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

    void DrawGridCheckBox(toolkit::TCanvas* Canvas, toolkit::TRect& Rect, bool Ticked);
    void DBGrid2DrawColumnCell(QObject* Sender, const toolkit::TRect& Rect, int DataCol,
                               toolkit::TColumn* Column, toolkit::TGridDrawState State);
    void DBGrid2ColEnter(QObject* Sender);
    void DBGrid2MouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                        int Y);
    void DBGrid1DrawColumnCell(QObject* Sender, const toolkit::TRect& Rect, int DataCol,
                               toolkit::TColumn* Column, toolkit::TGridDrawState State);
    void SpeedButton1Click(QObject* Sender);
    void SpeedButton2Click(QObject* Sender);
    void SpeedButton3Click(QObject* Sender);
    void SpeedButton4Click(QObject* Sender);
    void FormClose(QObject* Sender);
    void SpeedButton5Click(QObject* Sender);
    void SpeedButton6Click(QObject* Sender);
    void DBGrid3MouseUp(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                        int Y);
};

extern TEdittest* Edittest;

#pragma once

#include "testing/RunRecorder.h"
#include "toolkit/Form.h"

#include <QtGlobal>
#include <cstdint>
#include <vector>

namespace data {
class Connection;
class Table;
} // namespace data

class QGroupBox;
class QLabel;
class QPushButton;

namespace toolkit {
class DBText;
class WrapRadioButton;
} // namespace toolkit

// The testing window: takes the pupil through the ten questions of one test run. The run's
// state lives in the window's controls: the hidden Label2 holds the question counter (the
// index of the next entry of QuestionOrder to load), the hidden Label1 the points so far, and
// each radio button's Tag is 1 when the row it shows is flagged correct.
class Ttesti : public toolkit::TForm {
    Q_OBJECT
public:
    explicit Ttesti(QWidget* parent = nullptr);

    toolkit::DBText* DBText1;
    QGroupBox* GroupBox1;
    toolkit::WrapRadioButton* RadioButton1;
    toolkit::WrapRadioButton* RadioButton2;
    toolkit::WrapRadioButton* RadioButton3;
    toolkit::WrapRadioButton* RadioButton4;
    QPushButton* Button2;
    QPushButton* Button1;
    QGroupBox* GroupBox2;
    toolkit::WrapRadioButton* RadioButton5;
    toolkit::WrapRadioButton* RadioButton6;
    toolkit::WrapRadioButton* RadioButton7;
    toolkit::WrapRadioButton* RadioButton8;
    QLabel* Label2;
    QLabel* Label1;

    // The question draw: renumbers the bank, draws the run's order and shows question 1.
    void Button2Click(QObject* Sender);
    // "Далее -->>": scores the choices and moves on, or grades the run after the tenth.
    void Button1Click(QObject* Sender);
    void FormClose(QObject* Sender);

    // The journal of this window's runs.
    RunRecorder Recorder;

    // Loads the question of entry k of QuestionOrder into the window and advances the counter.
    void ShowQuestion(int32_t k);

private:
    void uncheckAll();
    // For each question, in the question table's order: whether ShowQuestion can show it.
    std::vector<bool> showableQuestions();
    // The rows each question of the run will show, by their ids, in the order asked.
    std::vector<data::journal::DrawnQuestion> drawnQuestions();
};

extern Ttesti* testi;

// The drawn order of the current run: entries 1 to 10 are the question numbers (Номер) in
// the order they are asked. Entry 0 is unused. Empty until the first draw.
extern std::vector<int32_t> QuestionOrder;

// Shuffles a[0..n] into a random cyclic permutation of 0..n (Sattolo's algorithm), drawing
// n + 1 values from the process-wide generator. With n < 0 the array is not touched.
void MakeRandomOrder(int32_t* a, int32_t n);

// Fills QuestionOrder from entry 1 on with those of the question numbers 1..N that can be shown
// (showable[k - 1] for number k, N its size), in random order, every order equally likely.
void FillQuestionOrder(const std::vector<bool>& showable);

// The draw's database work: gives the questions the numbers 1 to N in the table's order, all in
// one transaction. A question another program changed since it was read is numbered as it is
// now; one that is gone, or any other failure, ends the numbering with the error, and the rows
// numbered before it keep their numbers.
void NumberQuestions(data::Table& questions, data::Connection& connection);

// The process-wide pseudo-random generator: a 32-bit linear congruential generator.
extern uint32_t RandSeed;
// A number from 0 to range - 1 (0 for a range of 0); advances the seed once.
int32_t Random(int32_t range);
// Reseeds from the clock: the low 32 bits of the monotonic high-resolution clock in
// nanoseconds, or of the milliseconds since start-up where that clock is unavailable.
void Randomize();

#pragma once

#include <QString>
#include <exception>
#include <vector>

namespace toolkit {

// Buttons of the confirmation box; a set of them is an or of these values.
enum MsgDlgBtn : int { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
using MsgDlgButtons = int;

// What a box returned: the button pressed (Cancel for the close box and Alt+F4).
enum class ModalResult { None, Yes, No, OK, Cancel };

// The application title: the program file's name without its folder and without everything
// from its first dot on, every character after the first in lower case.
QString applicationTitle();
// The same rule for a given program file.
QString applicationTitle(const QString& programFile);

// The plain message box: application title, no icon, one "OK" that is default and cancel.
void ShowMessage(const QString& text);

// The confirmation box: titled "Confirm", question icon, the given buttons in the order
// Yes, No, OK, Cancel. A lone carriage return separates lines.
ModalResult MessageDlg(const QString& text, MsgDlgButtons buttons);

// The error box for an error caught in an event handler: application title, stop icon, one
// "OK"; a full stop is added when the message is not empty and its last character has a
// higher code than the full stop.
void ShowErrorBox(const QString& message);
void ShowException(const std::exception& error);

// The message as the error box shows it (the full-stop rule).
QString errorBoxText(const QString& message);

// The start-up error box ("Application Error", task-modal, no owner) for an error raised
// before the event loop runs.
void ShowStartupError(const std::exception& error);
QString startupErrorText(const std::exception& error);

// What Ctrl+C in a box puts on the clipboard: title, text and button captions (without their
// ampersands, each followed by three spaces), each set off by a line of 27 dashes.
QString clipboardText(const QString& title, const QString& text,
                      const std::vector<QString>& captions);

// Test seam: lets an in-process test answer the boxes the program opens and read what they
// showed. While answers are queued, each box that opens records itself, pops one answer and
// returns it without showing (a box with one button takes any answer as its OK); a box that opens
// with the seam armed but no answer queued fails the test (it records itself and returns
// ModalResult::None). Never used by the program.
struct ShownBox {
    enum class Kind { Message, Confirmation, Error, StartupError } kind;
    QString title;
    QString text;                 // as the box shows it (an error box's with its full stop), before
                                  // a lone carriage return becomes a line break
    std::vector<QString> buttons; // captions, left to right, with their ampersands
};
namespace seam {
void arm();    // from now on, boxes are answered from the queue
void disarm(); // boxes show for real again; clears queue and record
void pushAnswer(ModalResult answer);
int pendingAnswers();
const std::vector<ShownBox>& shown();
void clearShown();
// A box that opened with no answer queued (a test failure).
int unexpectedBoxes();
} // namespace seam

} // namespace toolkit

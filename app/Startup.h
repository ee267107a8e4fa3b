#pragma once

#include <QApplication>

// The program's application object. Handlers catch their own errors (toolkit::guarded); its
// notify() is only the last net for an error that escapes an event handler anyway, so that it
// is reported in the error box and the program goes on.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override;
};

// The program: creates the windows and the data module in their order, shows the main menu and
// runs the event loop. Returns the exit code: 0 when the main menu closed, 1 when start-up
// failed.
int runProgram(int argc, char** argv);

// The steps of runProgram, for a QApplication that already exists.
//
// Sets up the application object: only closing the main menu ends the program; the windows'
// fonts; the names by which a desktop groups the program's windows and finds its desktop entry.
void setUpApplication();
//
// Creates Form1, DataModule2, testi, Edittest and about, all hidden. When the question bank
// cannot be opened, shows the start-up error box, leaves nothing created and returns false.
bool createProgram();
// The same without the box: throws what went wrong, leaving nothing created.
void createWindows();
// Shows the main menu and runs the event loop until the main menu closes; returns its code.
int runEventLoop();
// The end of the program: posts each table's pending change (a failure shows the error box),
// then destroys the windows and the data module. The other windows' close handlers do not run.
void destroyProgram();
// Destroys the windows, then the data module, and clears their globals; posts nothing.
void destroyWindows();

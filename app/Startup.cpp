#include "app/Startup.h"

#include "app/Unit1.h"
#include "data/DM.h"
#include "editor/Unit2.h"
#include "help/Unit3.h"
#include "testing/testirovanie.h"
#include "toolkit/Form.h"
#include "toolkit/Guard.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <exception>

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        toolkit::ShowException(error);
    } catch (...) {
        toolkit::ShowErrorBox(QString());
    }
    return false;
}

namespace {

template <typename T> void destroy(T*& instance) {
    T* doomed = instance;
    instance = nullptr;
    delete doomed;
}

} // namespace

void createWindows() {
    try {
        Form1 = new TForm1;
        // The first window created is the main window: its native window exists from now on,
        // but stays hidden until the bank is open.
        Form1->winId();
        DataModule2 = new TDataModule2;
        testi = new Ttesti;
        Edittest = new TEdittest;
        about = new Tabout;
    } catch (...) {
        destroyWindows();
        throw;
    }
}

void destroyWindows() {
    // The windows first: they show the data module's tables.
    destroy(about);
    destroy(Edittest);
    destroy(testi);
    destroy(Form1);
    destroy(DataModule2);
}

bool createProgram() {
    try {
        createWindows();
        // Records a program ended before storing (killed after the tenth answer) go in now.
        testi->Recorder.retryQueued();
    } catch (const std::exception& error) {
        // Before the event loop runs there is no handler to return to: report and give up.
        toolkit::ShowStartupError(error);
        destroyWindows();
        return false;
    }
    return true;
}

int runEventLoop() {
    Form1->show();
    return QApplication::exec();
}

void destroyProgram() {
    // A teacher who typed an answer and closed the main menu keeps it: the pending changes are
    // posted while the windows still exist, so that their open editors are flushed first.
    toolkit::runHandler([] { DataModule2->postPendingChanges(); });
    // A run still open is recorded unfinished; records the journal did not take stay queued,
    // and only here does the pupil's screen say so.
    toolkit::runHandler([] { testi->Recorder.programEnds(); });
    // Deleting a window does not close it, so no close handler runs.
    destroyWindows();
}

void setUpApplication() {
    // Only closing the main menu ends the program, never the last visible window closing.
    QApplication::setQuitOnLastWindowClosed(false);
    toolkit::registerFonts();
    QApplication::setApplicationName(toolkit::applicationTitle());
    // The installed desktop entry is infotest.desktop, whatever the program file is called.
    QGuiApplication::setDesktopFileName(QStringLiteral("infotest"));
}

int runProgram(int argc, char** argv) {
    Application application(argc, argv);
    setUpApplication();
    if (!createProgram())
        return 1;
    const int code = runEventLoop();
    destroyProgram();
    return code;
}

#include "journal/Startup.h"

#include "journal/JournalLocation.h"
#include "journal/JournalWindow.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <QIcon>

namespace journal {

int runJournal(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("infotest-journal"));
    QApplication::setDesktopFileName(QStringLiteral("infotest-journal"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/journal/infotest-journal.png")));
    const QStringList arguments = QApplication::arguments().mid(1);
    const QString bank = arguments.isEmpty() ? defaultBank() : arguments.first();
    if (const QString why = serverRefusal(bank); !why.isEmpty()) {
        toolkit::ShowErrorBox(why);
        return 1;
    }
    JournalWindow window;
    window.openJournal(journalPathFor(bank));
    window.show();
    return app.exec();
}

} // namespace journal

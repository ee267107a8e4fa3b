#include "journal/Startup.h"

#include "data/Errors.h"
#include "journal/JournalLocation.h"
#include "journal/JournalWindow.h"
#include "toolkit/MessageBox.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace journal {

int runJournal(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("infotest-journal"));
    QApplication::setDesktopFileName(QStringLiteral("infotest-journal"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/journal/infotest-journal.png")));
    // Qt's own dialogs (the file dialogs of open and export) in Russian like the window, whatever
    // the desktop's language; without Debian's translations of Qt they stay in English.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    const QStringList arguments = QApplication::arguments().mid(1);
    const QString bank = arguments.isEmpty() ? defaultBank() : arguments.first();
    try {
        if (!askPasswordIfWanted(nullptr, bank))
            return 1;
    } catch (const Exception& error) {
        toolkit::ShowErrorBox(error.message());
        return 1;
    }
    JournalWindow window;
    window.openJournal(journalPathFor(bank));
    window.show();
    return app.exec();
}

} // namespace journal

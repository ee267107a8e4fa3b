#include "cli/Cli.h"

#include <QApplication>
#include <QFile>
#include <cstdio>

namespace {

QtMessageHandler qtHandler = nullptr;

// Qt warns when run without a session's runtime folder (as root, in a container, from cron);
// the tool uses no such folder, and the warning would only muddle its own messages.
void filterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: ")))
        return;
    qtHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    qtHandler = qInstallMessageHandler(filterMessages);
    // The tool shows no window. It needs the windowing layer only to measure texts in the
    // testing window's font and to lay out printed tests, and both work without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFile out, err;
    // Unbuffered, so that messages and output keep their order on a terminal.
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return bank::runBankTool(QCoreApplication::arguments().mid(1), out, err);
}

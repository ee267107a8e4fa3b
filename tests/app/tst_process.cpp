// The installed program as a user starts it: its own process on an X display (Xvfb), driven
// with xdotool, checked by what windows appear and by its exit code.
#include "tests/support/BadBanks.h"
#include "tests/support/BankFixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

#ifdef INFOTEST_HAVE_X11
#include "tests/app/CloseBox.h"
#endif

using testsupport::BankFixture;

namespace {

const QString kMainMenu = QStringLiteral("Тесты по информатике");
// The program shows its windows in a fraction of a second; the long waits are for a machine
// busy with other work, and cost nothing when all goes well.
const int kPatienceMs = 60000;

QByteArray checksum(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestProcess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed (scripts/deps installs it)");
        xdotool_ = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        QVERIFY2(!xdotool_.isEmpty(), "xdotool is not installed (scripts/deps installs it)");
        QVERIFY2(QFileInfo::exists(QStringLiteral(INFOTEST_PROGRAM)), INFOTEST_PROGRAM);
        QVERIFY(startXvfb(xvfb));
    }

    void cleanupTestCase() {
        if (xvfb_) {
            xvfb_->terminate();
            if (!xvfb_->waitForFinished(5000))
                xvfb_->kill();
            xvfb_->waitForFinished(2000);
        }
    }

    // The cheap cases of a bad bank are tried in-process (tst_mainmenu); these are the ones
    // that need the real process: its exit code, a program file elsewhere, another user.
    void startupFailureShowsOnlyTheStartupErrorBox_data() {
        QTest::addColumn<QString>("recipe");
        QTest::addColumn<bool>("bankBesideProgram");
        QTest::addColumn<bool>("unprivileged");
        for (const char* name :
             {"no bank", "folder named db.mdb", "corrupted", "unreadable bank"}) {
            const testsupport::BadBank& bank = testsupport::badBank(name);
            QTest::newRow(name) << bank.recipe << false << bank.refusedOnlyToUsers;
        }
        // The bank is looked for in the working directory, not beside the program file.
        QTest::newRow("bank beside the program")
            << testsupport::badBank("no bank").recipe << true << false;
    }
    void startupFailureShowsOnlyTheStartupErrorBox() {
        QFETCH(QString, recipe);
        QFETCH(bool, bankBesideProgram);
        QFETCH(bool, unprivileged);
        QTemporaryDir work;
        QVERIFY(testsupport::makeBadBank(work.path(), recipe));
        const QByteArray before = checksum(work.filePath(QStringLiteral("db.mdb")));
        QString program = QStringLiteral(INFOTEST_PROGRAM);
        std::unique_ptr<BankFixture> besideBank;
        if (bankBesideProgram) {
            besideBank = std::make_unique<BankFixture>();
            besideBank->addStandardQuestions(12);
            const QString copy = besideBank->dir() + QStringLiteral("/infotest");
            QVERIFY(QFile::copy(program, copy));
            program = copy;
        }
        QProcess infotest;
        QVERIFY(start(infotest, work.path(), unprivileged, program));

        bool menuSeen = false;
        QString box;
        QElapsedTimer clock;
        clock.start();
        while (box.isEmpty() && clock.elapsed() < kPatienceMs &&
               infotest.state() == QProcess::Running) {
            menuSeen = menuSeen || !visibleWindows(kMainMenu).isEmpty();
            const QStringList boxes = visibleWindows(QStringLiteral("Application Error"));
            if (!boxes.isEmpty())
                box = boxes.first();
            else
                QTest::qWait(50);
        }
        QVERIFY2(!box.isEmpty(), "the start-up error box did not appear");
        // It is the only window on the screen.
        QCOMPARE(visibleWindows(QStringLiteral(".")), QStringList{box});
        QVERIFY(pressEnter(box));
        QVERIFY2(waitForEnd(infotest, &menuSeen), "Enter did not end the program");
        QCOMPARE(infotest.exitStatus(), QProcess::NormalExit);
        QCOMPARE(infotest.exitCode(), 1);
        QVERIFY(!menuSeen);
        QCOMPARE(checksum(work.filePath(QStringLiteral("db.mdb"))), before);
    }

    void closingTheMainMenuEndsWithCodeZero_data() {
        QTest::addColumn<bool>("helpOpen");
        QTest::newRow("main menu alone") << false;
        QTest::newRow("help window open") << true;
    }
    void closingTheMainMenuEndsWithCodeZero() {
#ifndef INFOTEST_HAVE_X11
        QSKIP("built without Xlib: cannot press the close box");
#else
        QFETCH(bool, helpOpen);
        BankFixture bank;
        bank.addStandardQuestions(12);
        QProcess infotest;
        QVERIFY(start(infotest, bank.dir()));
        QString menu;
        QTRY_VERIFY_WITH_TIMEOUT(!(menu = firstOf(visibleWindows(kMainMenu))).isEmpty(),
                                 kPatienceMs);
        QCOMPARE(visibleWindows(QStringLiteral(".")), QStringList{menu});
        if (helpOpen) {
            QVERIFY(chooseEntry(menu, 103)); // "Справка"
            QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(QStringLiteral("^Справка$")).isEmpty(),
                                     kPatienceMs);
            QVERIFY(!visibleWindows(kMainMenu).isEmpty());
        }
        QVERIFY(pressCloseBox(menu));
        QVERIFY2(waitForEnd(infotest), "closing the main menu did not end the program");
        QCOMPARE(infotest.exitStatus(), QProcess::NormalExit);
        QCOMPARE(infotest.exitCode(), 0);
        QCOMPARE(bank.count(QStringLiteral("Т_Вопросы")), 12);
#endif
    }

    // A bank the user may read but not write, as on a write-protected class share. Run as an
    // ordinary user, since root writes to write-protected files.
    void readOnlyBankReportsEveryWriteAndKeepsRunning() {
#ifndef INFOTEST_HAVE_X11
        QSKIP("built without Xlib: cannot press the close box");
#else
        BankFixture bank;
        bank.addStandardQuestions(12); // Номер left empty: the draw must write
        QVERIFY(QFile::setPermissions(bank.bankPath(), QFileDevice::ReadOwner |
                                                           QFileDevice::ReadGroup |
                                                           QFileDevice::ReadOther));
        const QByteArray before = checksum(bank.bankPath());
        QProcess infotest;
        QVERIFY(start(infotest, bank.dir(), true));
        QString menu;
        QTRY_VERIFY_WITH_TIMEOUT(!(menu = firstOf(visibleWindows(kMainMenu))).isEmpty(),
                                 kPatienceMs);

        // "Начать тест": the draw's renumbering fails; the main menu stays up.
        QVERIFY(chooseEntry(menu, 24));
        QVERIFY(dismissErrorBox());
        QVERIFY(!visibleWindows(kMainMenu).isEmpty());

        // "Редактирование теста", then its first add button: the new question's post fails.
        QVERIFY(chooseEntry(menu, 63));
        QString editor;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(editor = firstOf(visibleWindows(QStringLiteral("^Редактирование тестов$"))))
                 .isEmpty(),
            kPatienceMs);
        const QPoint origin = windowOrigin(editor);
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(origin.x() + 8 + 11),
                         QString::number(origin.y() + 8 + 11), QStringLiteral("click"),
                         QStringLiteral("1")}));
        QVERIFY(dismissErrorBox());

        QVERIFY(infotest.state() == QProcess::Running);
        QVERIFY(pressCloseBox(menu));
        // The refused question is still pending: posting it at the end fails the same way.
        QVERIFY(dismissErrorBox());
        QVERIFY2(waitForEnd(infotest), "closing the main menu did not end the program");
        QCOMPARE(infotest.exitStatus(), QProcess::NormalExit);
        QCOMPARE(infotest.exitCode(), 0);
        QCOMPARE(checksum(bank.bankPath()), before);
#endif
    }

private:
    bool startXvfb(const QString& xvfb) {
        // The server picks a free display itself and tells its number (-displayfd): choosing
        // one here and starting the server after would race with other servers started at the
        // same time, and two test runs would end up sharing, and closing, one display.
        auto server = std::make_unique<QProcess>();
        server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The server goes with the test, even when the test is killed.
        server->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        server->start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                             QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                             QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (!server->waitForStarted(kPatienceMs))
            return false;
        QElapsedTimer clock;
        clock.start();
        QByteArray number;
        while (!number.endsWith('\n') && clock.elapsed() < kPatienceMs &&
               server->state() == QProcess::Running) {
            server->waitForReadyRead(100);
            number += server->readAllStandardOutput();
        }
        if (!number.endsWith('\n')) {
            server->kill();
            server->waitForFinished(2000);
            return false;
        }
        display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
        xvfb_ = std::move(server);
        return true;
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.remove(QStringLiteral("XAUTHORITY"));
        return env;
    }

    // Starts the program in folder; unprivileged runs it as the user "nobody" when the test
    // runs as root (the folder is then opened to other users).
    bool start(QProcess& process, const QString& folder, bool unprivileged = false,
               const QString& program = QStringLiteral(INFOTEST_PROGRAM)) {
        QProcessEnvironment env = environment();
        QString command = program;
        QStringList arguments;
        if (unprivileged && geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (!nobody || setpriv.isEmpty()) {
                qWarning("no user nobody or no setpriv");
                return false;
            }
            QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ExeOther |
                                              QFileDevice::ReadOther);
            command = setpriv;
            arguments = {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                         QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                         QStringLiteral("--clear-groups"), QStringLiteral("--"), program};
            env.insert(QStringLiteral("HOME"), folder);
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        }
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(command, arguments);
        return process.waitForStarted(kPatienceMs);
    }

    // Waits for the program to end; notes whether the main menu showed meanwhile.
    bool waitForEnd(QProcess& process, bool* menuSeen = nullptr) {
        QElapsedTimer clock;
        clock.start();
        while (process.state() == QProcess::Running && clock.elapsed() < kPatienceMs) {
            if (menuSeen)
                *menuSeen = *menuSeen || !visibleWindows(kMainMenu).isEmpty();
            process.waitForFinished(50);
        }
        return process.state() == QProcess::NotRunning;
    }

    bool xdotool(const QStringList& arguments, QString* output = nullptr) const {
        QProcess tool;
        tool.setProcessEnvironment(environment());
        tool.start(xdotool_, arguments);
        if (!tool.waitForFinished(kPatienceMs))
            return false;
        if (output)
            *output = QString::fromUtf8(tool.readAllStandardOutput());
        return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    }

    // Ids of the mapped windows whose name matches the pattern.
    QStringList visibleWindows(const QString& pattern) const {
        QString output;
        xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--name"), pattern},
                &output);
        return output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static QString firstOf(const QStringList& list) {
        return list.isEmpty() ? QString() : list[0];
    }

    QPoint windowOrigin(const QString& window) const {
        QString output;
        xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window}, &output);
        QPoint origin;
        for (const QString& line : output.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("X=")))
                origin.setX(line.mid(2).toInt());
            else if (line.startsWith(QLatin1String("Y=")))
                origin.setY(line.mid(2).toInt());
        }
        return origin;
    }

    // Clicks the main menu's radio button whose top is the given number of pixels down its
    // group box (8 pixels down the window, the button 16 across).
    bool chooseEntry(const QString& menu, int top) const {
        // No window manager here: a window shown later may lie over the main menu.
        if (!xdotool({QStringLiteral("windowraise"), menu}))
            return false;
        const QPoint origin = windowOrigin(menu);
        return xdotool({QStringLiteral("mousemove"), QString::number(origin.x() + 8 + 16 + 8),
                        QString::number(origin.y() + 8 + top + 8), QStringLiteral("click"),
                        QStringLiteral("1")});
    }

    bool pressEnter(const QString& window) const {
        return xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}) &&
               xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    }

    // Waits for the program's error box (titled with the program's name), then closes it.
    bool dismissErrorBox() const {
        QElapsedTimer clock;
        clock.start();
        QString box;
        while (box.isEmpty() && clock.elapsed() < kPatienceMs) {
            box = firstOf(visibleWindows(QStringLiteral("^Infotest$")));
            if (box.isEmpty())
                QTest::qWait(50);
        }
        if (box.isEmpty() || !pressEnter(box))
            return false;
        while (!visibleWindows(QStringLiteral("^Infotest$")).isEmpty()) {
            if (clock.elapsed() > kPatienceMs)
                return false;
            QTest::qWait(50);
        }
        return true;
    }

#ifdef INFOTEST_HAVE_X11
    bool pressCloseBox(const QString& window) const {
        return testsupport::pressCloseBox(display_, window.toULong());
    }
#endif

    std::unique_ptr<QProcess> xvfb_;
    QString display_;
    QString xdotool_;
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"

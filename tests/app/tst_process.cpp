// The installed program as a user starts it: its own process on an X display (Xvfb), driven
// with xdotool, checked by what windows appear and by its exit code.
#include "tests/support/BankFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef INFOTEST_HAVE_X11
#include "tests/app/CloseBox.h"
#endif

using testsupport::BankFixture;

namespace {

const QString kMainMenu = QStringLiteral("Тесты по информатике");

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

    void missingBankShowsOnlyTheStartupErrorBox_data() {
        QTest::addColumn<bool>("bankBesideProgram");
        QTest::newRow("no bank") << false;
        // The bank is looked for in the working directory, not beside the program file.
        QTest::newRow("bank beside the program") << true;
    }
    void missingBankShowsOnlyTheStartupErrorBox() {
        QFETCH(bool, bankBesideProgram);
        QTemporaryDir work;
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
        start(infotest, program, work.path());

        bool menuSeen = false;
        QString box;
        QElapsedTimer clock;
        clock.start();
        while (box.isEmpty() && clock.elapsed() < 15000 && infotest.state() == QProcess::Running) {
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
        QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), box}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
        while (infotest.state() == QProcess::Running && clock.elapsed() < 20000) {
            menuSeen = menuSeen || !visibleWindows(kMainMenu).isEmpty();
            infotest.waitForFinished(50);
        }
        QVERIFY2(infotest.state() == QProcess::NotRunning, "Enter did not end the program");
        QCOMPARE(infotest.exitStatus(), QProcess::NormalExit);
        QCOMPARE(infotest.exitCode(), 1);
        QVERIFY(!menuSeen);
        QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("db.mdb"))));
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
        start(infotest, QStringLiteral(INFOTEST_PROGRAM), bank.dir());
        QString menu;
        QTRY_VERIFY_WITH_TIMEOUT(!(menu = firstOf(visibleWindows(kMainMenu))).isEmpty(), 15000);
        QCOMPARE(visibleWindows(QStringLiteral(".")), QStringList{menu});
        if (helpOpen) {
            // "Справка": the third entry, 8 + 103 pixels down the window, 8 + 16 across.
            const QPoint origin = windowOrigin(menu);
            QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(origin.x() + 8 + 16 + 8),
                             QString::number(origin.y() + 8 + 103 + 8), QStringLiteral("click"),
                             QStringLiteral("1")}));
            QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(QStringLiteral("^Справка$")).isEmpty(), 5000);
            QVERIFY(!visibleWindows(kMainMenu).isEmpty());
        }
        QVERIFY(pressCloseBox(menu));
        QVERIFY2(infotest.waitForFinished(10000), "closing the main menu did not end the program");
        QCOMPARE(infotest.exitStatus(), QProcess::NormalExit);
        QCOMPARE(infotest.exitCode(), 0);
        QCOMPARE(bank.count(QStringLiteral("Т_Вопросы")), 12);
#endif
    }

private:
    bool startXvfb(const QString& xvfb) {
        // A display of our own: the first number from 41 on that no server holds.
        for (int n = 41; n < 100; ++n) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            auto server = std::make_unique<QProcess>();
            server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            server->start(xvfb, {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                                 QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                 QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!server->waitForStarted(5000))
                return false;
            display_ = QStringLiteral(":%1").arg(n);
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 10000 && server->state() == QProcess::Running) {
                if (xdotool({QStringLiteral("getdisplaygeometry")})) {
                    xvfb_ = std::move(server);
                    return true;
                }
                QTest::qWait(100);
            }
            server->kill();
            server->waitForFinished(2000);
        }
        return false;
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

    void start(QProcess& process, const QString& program, const QString& folder) {
        process.setProcessEnvironment(environment());
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, {});
        QVERIFY(process.waitForStarted(5000));
    }

    bool xdotool(const QStringList& arguments, QString* output = nullptr) const {
        QProcess tool;
        tool.setProcessEnvironment(environment());
        tool.start(xdotool_, arguments);
        if (!tool.waitForFinished(10000))
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

// The menu entry's launcher as the desktop starts it, from a copy of the installed layout: the
// real bank tool and sample beside it, stand-ins for the program and the dialog tool that note
// what they were given. "@" in the tables stands for that layout's folder.
#include "data/Schema.h"
#include "data/Sqlite.h"
#include "tests/support/BankFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using testsupport::BankFixture;

namespace {

constexpr int kPatienceMs = 120000;

void writeFile(const QString& path, const QByteArray& text, bool executable = false) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(text);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Lays the installed files out in the fixture's folder and starts launchers there.
class Layout {
public:
    Layout() : root_(fixture_.dir()) {
        const QString bin = root_ + QStringLiteral("/usr/bin");
        const QString data = bin + QStringLiteral("/" INFOTEST_BIN_TO_DATA);
        for (const QString& folder : {data, stubs(), root_ + QStringLiteral("/shared"),
                                      root_ + QStringLiteral("/with space")})
            QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(QStringLiteral(INFOTEST_LAUNCHER), launcher()));
        QVERIFY(QFile::setPermissions(launcher(),
                                      QFile::permissions(launcher()) | QFileDevice::ExeOwner));
        QVERIFY(QFile::link(QStringLiteral(INFOTEST_BANK_TOOL), bin + "/infotest-bank"));
        QVERIFY(QFile::copy(QStringLiteral(INFOTEST_SAMPLE), data + "/informatics.csv"));
        writeFile(bin + "/infotest",
                  "#!/bin/sh\nprintf '%s|pupil=%s|url=%s\\n' \"$PWD\" \"${INFOTEST_PUPIL-}\" "
                  "\"${INFOTEST_BANK_URL-}\" >>\"$LAUNCH_RECORD\"\n",
                  true);
        writeFile(stubs() + "/zenity",
                  "#!/bin/sh\nprintf '%s\\n' \"$*\" >>\"$LAUNCH_BOXES\"\n"
                  "[ \"$1\" != --entry ] || printf '%s\\n' \"$PUPIL_ANSWER\"\n",
                  true);
        for (const QString& folder : {QStringLiteral("/shared"), QStringLiteral("/with space")})
            writeFile(root_ + folder + "/db.mdb", "");
    }

    QString root() const { return root_; }
    QString stubs() const { return root_ + QStringLiteral("/stubs"); }
    QString launcher() const { return root_ + QStringLiteral("/usr/bin/infotest-launcher"); }
    QString record() const { return readFile(root_ + "/record").replace(root_, "@"); }
    QString boxes() const { return readFile(root_ + "/boxes").replace(root_, "@"); }

    void start(QProcess& process, const QString& home, const QStringList& settings = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys())
            if (name.startsWith(QStringLiteral("INFOTEST_")) || name.startsWith("XDG_"))
                env.remove(name);
        env.insert("HOME", home);
        env.insert("DISPLAY", ":99"); // seen by the launcher only; the stand-ins need no server
        env.insert("PATH", stubs() + ":" + env.value("PATH"));
        env.insert("INFOTEST_CONFIG_FILE", root_ + "/infotest");
        env.insert("LAUNCH_RECORD", root_ + "/record");
        env.insert("LAUNCH_BOXES", root_ + "/boxes");
        for (const QString& setting : settings)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(root_);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(launcher(), {});
        QVERIFY(process.waitForStarted(kPatienceMs));
    }

private:
    BankFixture fixture_{false};
    QString root_;
};

qint64 questionCount(const QString& bank) {
    data::sqlite::Database db(bank, data::sqlite::Database::Mode::ReadOnly);
    data::sqlite::Statement count(db, QStringLiteral("SELECT count(*) FROM \"Т_Вопросы\""));
    return count.step() ? count.columnValue(0).toLongLong() : -1;
}

} // namespace

class tst_launcher : public QObject {
    Q_OBJECT

private slots:
    void settings_data() {
        QTest::addColumn<QByteArray>("file"); // no file at all when null
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("answer");     // to the name's question; "-" for none asked
        QTest::addColumn<QString>("fileSystem"); // of every folder, when not the real one
        QTest::addColumn<QString>("started");    // the program's record, empty when it must not
        QTest::addColumn<QStringList>("shown");  // in the boxes, in order

        const QString own = "@/home/.local/share/infotest|pupil=|url=\n";
        const QString shared = "@/shared|pupil=|url=\n";
        const QString refused = "Ошибка в файле настроек @/infotest, строка ";
        QTest::newRow("no file") << QByteArray() << QStringList() << "-"
                                 << "" << own << QStringList();
        QTest::newRow("quoted space")
            << QByteArray("INFOTEST_BANK_DIR=\"@/with space\"\n") << QStringList() << "-"
            << ""
            << "@/with space|pupil=|url=\n"
            << QStringList();
        QTest::newRow("unquoted space")
            << QByteArray("INFOTEST_BANK_DIR=@/with space\n") << QStringList() << "-"
            << ""
            << "" << QStringList{"--error", refused + "1", "space"};
        QTest::newRow("byte order mark, CRLF, export, comments, single quotes")
            << QByteArray("\xEF\xBB\xBF# Общий банк класса\r\n\r\n"
                          "export INFOTEST_BANK_DIR='@/shared' # 7А\r\n")
            << QStringList() << "-"
            << "" << shared << QStringList();
        QTest::newRow("unset variable")
            << QByteArray("INFOTEST_BANK_DIR=$SCHOOL/bank\n") << QStringList() << "-"
            << ""
            << "" << QStringList{refused + "1", "$SCHOOL/bank"};
        QTest::newRow("command in quotes")
            << QByteArray("\nINFOTEST_BANK_DIR=\"$(touch @/ran)\"\n") << QStringList() << "-"
            << ""
            << "" << QStringList{refused + "2"};
        QTest::newRow("command after a value")
            << QByteArray("INFOTEST_BANK_DIR=@/shared;touch @/ran\n") << QStringList() << "-"
            << ""
            << "" << QStringList{refused + "1"};
        QTest::newRow("unknown key")
            << QByteArray("INFOTEST_BANK_DIR=@/shared\nINFOTEST_BANKDIR=@/shared\n")
            << QStringList() << "-"
            << ""
            << "" << QStringList{refused + "2", "INFOTEST_BANKDIR"};
        QTest::newRow("missing folder")
            << QByteArray("# 1\n# 2\nINFOTEST_BANK_DIR=@/nowhere\n") << QStringList() << "-"
            << ""
            << "" << QStringList{"@/nowhere", "INFOTEST_BANK_DIR в файле @/infotest, строка 3"};
        QTest::newRow("environment first") << QByteArray("INFOTEST_BANK_DIR=@/nowhere\n")
                                           << QStringList{"INFOTEST_BANK_DIR=@/shared"} << "-"
                                           << "" << shared << QStringList();
        QTest::newRow("server")
            << QByteArray("INFOTEST_BANK_URL='postgresql://school/infotest?sslmode=require&a=1'\n")
            << QStringList() << "-"
            << ""
            << "@|pupil=|url=postgresql://school/infotest?sslmode=require&a=1\n"
            << QStringList();
        QTest::newRow("network folder")
            << QByteArray("INFOTEST_BANK_DIR=@/shared\n") << QStringList() << "-"
            << "nfs4" << shared
            << QStringList{"--warning", "(nfs4): @/shared", "INFOTEST_BANK_URL"};
        QTest::newRow("pupil's name") << QByteArray("INFOTEST_ASK_NAME=yes\n")
                                      << QStringList{"INFOTEST_BANK_DIR=@/shared"} << "Петрова Анна"
                                      << ""
                                      << "@/shared|pupil=Петрова Анна|url=\n"
                                      << QStringList{"--entry"};
        QTest::newRow("no name given")
            << QByteArray("INFOTEST_ASK_NAME=yes\nINFOTEST_BANK_DIR=@/shared\n") << QStringList()
            << ""
            << "" << shared << QStringList{"--entry"};
        QTest::newRow("asking, not understood")
            << QByteArray("INFOTEST_ASK_NAME=да\n") << QStringList() << "-"
            << ""
            << "" << QStringList{"INFOTEST_ASK_NAME в файле @/infotest, строка 1"};
    }

    void settings() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, environment);
        QFETCH(QString, answer);
        QFETCH(QString, fileSystem);
        QFETCH(QString, started);
        QFETCH(QStringList, shown);

        Layout layout;
        const QString root = layout.root();
        if (!file.isNull())
            writeFile(root + "/infotest", file.replace("@", root.toUtf8()));
        if (!fileSystem.isEmpty())
            writeFile(layout.stubs() + "/findmnt", "#!/bin/sh\necho " + fileSystem.toUtf8(), true);
        environment.replaceInStrings("@", root);
        if (answer != "-")
            environment << "PUPIL_ANSWER=" + answer;

        QProcess launcher;
        layout.start(launcher, root + "/home", environment);
        QVERIFY(launcher.waitForFinished(kPatienceMs));
        QCOMPARE(layout.record(), started);
        QCOMPARE(launcher.exitCode(), started.isEmpty() ? 1 : 0);
        QVERIFY2(!QFile::exists(root + "/ran"), "the settings file ran a command");
        const QString boxes = layout.boxes();
        qsizetype at = 0;
        for (const QString& text : shown) {
            at = boxes.indexOf(text, at);
            QVERIFY2(at >= 0, qPrintable(text + " not shown in: " + boxes));
        }
        if (shown.isEmpty())
            QCOMPARE(boxes, QString());
    }

    // A new user's first start twice at once (a double click) or soon after: one bank, the
    // whole sample in it, nothing else left in the folder, both programs started on it.
    void firstStart_data() {
        QTest::addColumn<int>("apartMs");
        QTest::newRow("together") << 0;
        QTest::newRow("50 ms apart") << 50;
    }

    void firstStart() {
        QFETCH(int, apartMs);
        Layout layout;
        for (int round = 0; round < 3; ++round) {
            const QString home = layout.root() + QStringLiteral("/home%1").arg(round);
            QFile::remove(layout.root() + "/record");
            QProcess first, second;
            layout.start(first, home);
            if (apartMs > 0)
                QTest::qWait(apartMs);
            layout.start(second, home);
            QVERIFY(first.waitForFinished(kPatienceMs));
            QVERIFY(second.waitForFinished(kPatienceMs));
            QCOMPARE(first.exitCode(), 0);
            QCOMPARE(second.exitCode(), 0);
            const QString own = QStringLiteral("@/home%1/.local/share/infotest").arg(round);
            QCOMPARE(layout.record(), QString(own + "|pupil=|url=\n").repeated(2));
            const QString folder = home + "/.local/share/infotest";
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{data::kBankFileName});
            QCOMPARE(questionCount(folder + "/" + data::kBankFileName), qint64(51));
        }
    }
};

QTEST_GUILESS_MAIN(tst_launcher)
#include "tst_launcher.moc"

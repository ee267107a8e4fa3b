// The menu entry's launcher in a copy of the installed layout, beside the real bank tool and
// sample, with stand-ins for the program and the dialog tools that note what they were given.
// "@" in the tables stands for the layout's folder.
#include "data/Schema.h"
#include "data/sqlite/Sqlite.h"
#include "tests/support/BankFixture.h"

#include <QProcess>
#include <QTest>

namespace {

constexpr int kPatienceMs = 120000;

QString read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void write(const QString& path, const QByteArray& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

struct Layout {
    testsupport::BankFixture fixture{false};
    QString root = fixture.dir();

    Layout() {
        const QString bin = root + "/usr/bin", stubs = root + "/stubs/";
        for (const QString& folder :
             {bin + "/" INFOTEST_BIN_TO_DATA, stubs, root + "/shared", root + "/with space"})
            QDir().mkpath(folder);
        write(bin + "/infotest-launcher", read(INFOTEST_LAUNCHER).toUtf8());
        QFile::link(INFOTEST_BANK_TOOL, bin + "/infotest-bank");
        QFile::copy(INFOTEST_SAMPLE, bin + "/" INFOTEST_BIN_TO_DATA "/informatics.csv");
        write(bin + "/infotest", "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$PWD\" \"${INFOTEST_PUPIL-}\" "
                                 "\"${INFOTEST_BANK_URL-}\" >>'" +
                                     root.toUtf8() + "/record'\n");
        write(stubs + "zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + root.toUtf8() +
                                    "/boxes'\n[ \"$1\" != --entry ] || echo \"${ANSWER-}\"\n");
        write(stubs + "findmnt", "#!/bin/sh\n[ -n \"${FSTYPE-}\" ] && echo \"$FSTYPE\"\n");
        write(root + "/shared/db.mdb", "");
        write(root + "/with space/db.mdb", "");
    }

    QString log(const char* name) const { return read(root + "/" + name).replace(root, "@"); }

    void start(QProcess& process, const QString& home, const QStringList& settings = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys())
            if (name.startsWith("INFOTEST_") || name.startsWith("XDG_"))
                env.remove(name);
        // The display is only looked at by the launcher; the stand-ins need no server.
        for (const QString& setting : QStringList{"HOME=" + home, "DISPLAY=:99",
                                                  "PATH=" + root + "/stubs:" + env.value("PATH"),
                                                  "INFOTEST_CONFIG_FILE=" + root + "/infotest"} +
                                          settings)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(root);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(root + "/usr/bin/infotest-launcher", {});
        QVERIFY(process.waitForStarted(kPatienceMs));
    }
};

void row(const char* name, const char* file, const QStringList& environment, const QString& started,
         const QStringList& shown = {}) {
    QTest::newRow(name) << QByteArray(file) << environment << started << shown;
}

} // namespace

class tst_launcher : public QObject {
    Q_OBJECT

private slots:
    // started: the program's folder|pupil|server, empty when it must not start.
    void settings_data() {
        QTest::addColumn<QByteArray>("file"); // none at all when null
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("started");
        QTest::addColumn<QStringList>("shown");
        const QString shared = "@/shared||", line = "@/infotest, строка ";
        row("unquoted space", "INFOTEST_BANK_DIR=@/with space\n", {}, "", {line + "1", "space"});
        row("byte order mark, CRLF, export, comments, quoted space",
            "\xEF\xBB\xBF# 7А\r\n\r\n export INFOTEST_BANK_DIR=\"@/with space\" # общий\r\n", {},
            "@/with space||");
        row("unset variable", "INFOTEST_BANK_DIR=$SCHOOL/bank", {}, "", {line + "1"});
        row("command in quotes", "\nINFOTEST_BANK_DIR=\"$(touch @/ran)\"", {}, "", {line + "2"});
        row("command after a value", "INFOTEST_BANK_DIR=@/shared;touch @/ran", {}, "",
            {line + "1"});
        row("unknown key", "INFOTEST_BANK_DIR=@/shared\nINFOTEST_BANKDIR=@/shared", {}, "",
            {line + "2", "INFOTEST_BANKDIR"});
        row("missing folder", "#\n#\nINFOTEST_BANK_DIR=@/nowhere", {}, "",
            {"@/nowhere", line + "3"});
        row("server", "INFOTEST_BANK_URL='postgresql://school/infotest?sslmode=require&a=1'", {},
            "@||postgresql://school/infotest?sslmode=require&a=1");
        row("network folder", "INFOTEST_BANK_DIR=@/shared", {"FSTYPE=nfs4"}, shared,
            {"--warning", "(nfs4): @/shared", "INFOTEST_BANK_URL"});
        row("pupil's name, environment first", "INFOTEST_ASK_NAME=yes\nINFOTEST_BANK_DIR=@/nowhere",
            {"INFOTEST_BANK_DIR=@/shared", "ANSWER=Петрова Анна"}, "@/shared|Петрова Анна|",
            {"--entry"});
        row("no name given", "INFOTEST_ASK_NAME=yes\nINFOTEST_BANK_DIR=@/shared", {}, shared,
            {"--entry"});
        row("asking, not understood", "INFOTEST_ASK_NAME=да", {}, "",
            {"INFOTEST_ASK_NAME в файле " + line + "1"});
    }

    void settings() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, environment);
        QFETCH(QString, started);
        QFETCH(QStringList, shown);
        Layout layout;
        if (!file.isNull())
            write(layout.root + "/infotest", file.replace("@", layout.root.toUtf8()));
        QProcess launcher;
        layout.start(launcher, layout.root + "/home",
                     environment.replaceInStrings("@", layout.root));
        QVERIFY(launcher.waitForFinished(kPatienceMs));
        QCOMPARE(layout.log("record"), started.isEmpty() ? started : started + "\n");
        QCOMPARE(launcher.exitCode(), started.isEmpty() ? 1 : 0);
        QVERIFY2(!QFile::exists(layout.root + "/ran"), "the settings file ran a command");
        const QString boxes = layout.log("boxes");
        for (const QString& text : shown)
            QVERIFY2(boxes.contains(text), qPrintable(boxes));
        if (shown.isEmpty())
            QCOMPARE(boxes, QString());
    }

    // A new user's first start twice at once (a double click) or soon after: one whole sample
    // bank and nothing else in the folder, both programs started on it.
    void firstStart_data() {
        QTest::addColumn<int>("apartMs");
        QTest::newRow("together") << 0;
        QTest::newRow("50 ms apart") << 50;
    }

    void firstStart() {
        QFETCH(int, apartMs);
        Layout layout;
        for (int round = 0; round < 3; ++round) {
            const QString home = layout.root + QString("/home%1").arg(round);
            const QString folder = home + "/.local/share/infotest";
            QFile::remove(layout.root + "/record");
            QProcess first, second;
            layout.start(first, home);
            QTest::qWait(apartMs);
            layout.start(second, home);
            QVERIFY(first.waitForFinished(kPatienceMs) && second.waitForFinished(kPatienceMs));
            QCOMPARE(QList<int>({first.exitCode(), second.exitCode()}), QList<int>({0, 0}));
            QCOMPARE(layout.log("record"),
                     QString(folder + "||\n").replace(layout.root, "@").repeated(2));
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{data::kBankFileName});
            data::sqlite::Database bank(folder + "/" + data::kBankFileName,
                                        data::sqlite::Database::Mode::ReadOnly);
            data::sqlite::Statement count(bank, "SELECT count(*) FROM \"Т_Вопросы\"");
            QVERIFY(count.step());
            QCOMPARE(count.columnValue(0).toInt(), 51); // the sample's questions
        }
    }
};

QTEST_GUILESS_MAIN(tst_launcher)
#include "tst_launcher.moc"

#include "data/journal/JournalStore.h"
#include "tests/support/JournalRuns.h"
#include "tests/support/PgServer.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result {
    int code = -1;
    QString out;
    QString err;
    QByteArray bytes; // standard output as written, a byte-order mark included
};

Result run(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(INFOTEST_BANK_EXE), args);
    Result result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.code = process.exitCode();
    result.bytes = process.readAllStandardOutput();
    result.out = QString::fromUtf8(result.bytes);
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// A name that, printed raw, erases the line above, retitles the window and turns the text round.
const QString kHostile = QStringLiteral("\x1B[1A\x1B[2K\x1B]0;pwned\aFAKE\u009B2J\u202E");

} // namespace

// The executable as a teacher runs it: exit codes and the streams its output goes to.
class TestCli : public QObject {
    Q_OBJECT

private slots:
    void sampleBankChecksOut();
    void exitCodes();
    void printedTestOfTheSample();
    void journalCommands_data();
    void journalCommands();
    void journalXlsxTypes();
};

void TestCli::sampleBankChecksOut() {
    QTemporaryDir dir;
    const QString bank = dir.filePath(QStringLiteral("db.mdb"));
    QCOMPARE(run({"create", bank}).code, 0);
    const Result imported = run({"import", bank, QStringLiteral(INFOTEST_SAMPLE_CSV)});
    QVERIFY2(imported.code == 0, qPrintable(imported.err));
    const Result checked = run({"check", bank});
    QVERIFY2(checked.code == 0, qPrintable(checked.out + checked.err));
    QVERIFY2(checked.out.startsWith(QStringLiteral("Банк исправен: ")), qPrintable(checked.out));
    QCOMPARE(checked.err, QString());

    // Export to standard output is the CSV alone, the same as the file.
    const QString csv = dir.filePath(QStringLiteral("out.csv"));
    QCOMPARE(run({"export", bank, csv}).code, 0);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(run({"export", bank}).bytes, file.readAll());
}

void TestCli::exitCodes() {
    QTemporaryDir dir;
    const QString bank = dir.filePath(QStringLiteral("db.mdb"));
    QCOMPARE(run({"create", bank}).code, 0);
    const Result empty = run({"check", bank});
    QCOMPARE(empty.code, 1);
    QVERIFY(empty.out.contains(QStringLiteral("В банке 0 вопросов")));
    const Result again = run({"create", bank});
    QCOMPARE(again.code, 2);
    QVERIFY(again.err.startsWith(QStringLiteral("infotest-bank: ")));
    QCOMPARE(run({"--help"}).code, 0);
    QCOMPARE(run({}).code, 2);
    QCOMPARE(run({"check"}).code, 2);
    // Options belong to their command and take their values.
    QCOMPARE(run({"check", bank, "--key"}).code, 2);
    QCOMPARE(run({"print", bank, dir.filePath("t.pdf"), "--seed"}).code, 2);
    const Result zero = run({"print", bank, dir.filePath("t.pdf"), "--questions", "0"});
    QCOMPARE(zero.code, 2);
    QVERIFY2(zero.err.contains(QStringLiteral("--questions «0»")), qPrintable(zero.err));
    const Result few = run({"print", bank, dir.filePath("t.pdf")});
    QCOMPARE(few.code, 2);
    QVERIFY2(few.err.contains(QStringLiteral("исправных вопросов 0, а тест просит 10")),
             qPrintable(few.err));
    QVERIFY(!QFile::exists(dir.filePath("t.pdf")));
}

namespace {

// The text of a PDF, and the number of its pages as rendered to images.
struct Printed {
    QString text;
    int pages = 0;
};

Printed readPdf(const QString& pdf, const QString& folder) {
    Printed printed;
    QProcess render;
    render.start(QStringLiteral("pdftoppm"),
                 {"-r", "30", "-png", pdf, folder + QStringLiteral("/page")});
    if (!render.waitForFinished(60000) || render.exitCode() != 0)
        return printed;
    printed.pages = int(QDir(folder).entryList({"page*.png"}, QDir::Files).size());
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    if (text.waitForFinished(60000) && text.exitCode() == 0)
        printed.text = QString::fromUtf8(text.readAllStandardOutput());
    return printed;
}

} // namespace

void TestCli::printedTestOfTheSample() {
    QTemporaryDir dir;
    const QString bank = dir.filePath(QStringLiteral("informatics.mdb"));
    QCOMPARE(run({"create", bank}).code, 0);
    QCOMPARE(run({"import", bank, QStringLiteral(INFOTEST_SAMPLE_CSV)}).code, 0);
    const QString pdf = dir.filePath(QStringLiteral("test.pdf"));
    const Result printed = run({"print", bank, pdf, "--seed", "7", "--key"});
    QVERIFY2(printed.code == 0, qPrintable(printed.err));

    QDir(dir.path()).mkdir(QStringLiteral("a"));
    const Printed first = readPdf(pdf, dir.filePath(QStringLiteral("a")));
    QVERIFY2(first.pages >= 2, "pdftoppm (poppler-utils) rendered no pages");
    const QString& text = first.text;
    QVERIFY(text.contains(QStringLiteral("Банк «informatics» · вариант 7")));
    QVERIFY(text.contains(QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));
    QVERIFY(text.contains(QStringLiteral("Страница %1 из %1").arg(first.pages)));
    QVERIFY(text.contains(QStringLiteral("Ключ ответов")));
    QVERIFY(text.contains(QStringLiteral("от 14 до 16")));
    for (const char* number : {"1. ", "10. "})
        QVERIFY(text.contains(QString::fromLatin1(number)));
    QVERIFY(!text.contains(QStringLiteral("11. ")));
    // Ten questions of the bank, each with four options and four explanations to tick.
    QCOMPARE(text.count(QStringLiteral("Пояснение к ответу:")), 10);
    QCOMPARE(text.count(QChar(0x25A1)), 10 * 8); // the boxes to tick

    // The same seed prints the same test; another draws other questions.
    const QString again = dir.filePath(QStringLiteral("again.pdf"));
    QCOMPARE(run({"print", bank, again, "--seed", "7", "--key"}).code, 0);
    QDir(dir.path()).mkdir(QStringLiteral("b"));
    QCOMPARE(readPdf(again, dir.filePath(QStringLiteral("b"))).text, text);
    const QString other = dir.filePath(QStringLiteral("other.pdf"));
    QCOMPARE(run({"print", bank, other, "--seed", "8", "--questions", "3"}).code, 0);
    QDir(dir.path()).mkdir(QStringLiteral("c"));
    const Printed three = readPdf(other, dir.filePath(QStringLiteral("c")));
    QCOMPARE(three.text.count(QStringLiteral("Пояснение к ответу:")), 3);
    QVERIFY(!three.text.contains(QStringLiteral("Ключ ответов")));
}

void TestCli::journalCommands_data() {
    QTest::addColumn<QStringList>("args"); // BANK and OUT stand for the files
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected"); // in the output, or in the file OUT
    QTest::addColumn<bool>("onServer");    // the bank and its journal copied to a server
    for (const bool onServer : {false, true}) {
        const QString where = onServer ? QStringLiteral(", on a server") : QString();
        QTest::newRow(qPrintable(QStringLiteral("results for a name in any case") + where))
            << QStringList{"results", "BANK", "--who", "ИВАНОВ"} << 0
            << QStringLiteral("Иванов Пётр") << onServer;
        QTest::newRow(qPrintable(QStringLiteral("a typed formula stays text in CSV") + where))
            << QStringList{"results", "BANK", "--csv", "OUT"} << 0
            << QStringLiteral("Начало;Компьютер;") << onServer;
        QTest::newRow(qPrintable(QStringLiteral("stats name the wrong key") + where))
            << QStringList{"stats", "BANK", "--from", "2026-05-01"} << 0
            << QStringLiteral("ПРОВЕРЬТЕ: вероятно, неверно отмечен правильный ответ") << onServer;
        QTest::newRow(qPrintable(QStringLiteral("report") + where))
            << QStringList{"report", "BANK", "OUT", "--to", "31.12.2026"} << 0
            << QStringLiteral("%PDF") << onServer;
        QTest::newRow(qPrintable(QStringLiteral("clearing counts first") + where))
            << QStringList{"journal-clear", "BANK", "--before", "2027-01-01", "--dry-run"} << 0
            << QStringLiteral("до 01.01.2027: 28 (--dry-run") << onServer;
        QTest::newRow(qPrintable(QStringLiteral("clearing") + where))
            << QStringList{"journal-clear", "BANK", "--before", "2027-01-01"} << 0
            << QStringLiteral("Удалено прохождений, начатых до 01.01.2027: 28.") << onServer;
        QTest::newRow(
            qPrintable(QStringLiteral("results escape a pupil's control characters") + where))
            << QStringList{"results", "BANK", "--who", "FAKE"} << 0
            << QStringLiteral("\\x1B[1A\\x1B[2K\\x1B]0;pwned\\x07FAKE\\x9B2J\\u202E") << onServer;
        QTest::newRow(qPrintable(QStringLiteral("a date that does not exist") + where))
            << QStringList{"results", "BANK", "--from", "31.02.2026"} << 2
            << QStringLiteral("--from «31.02.2026»: ожидается дата") << onServer;
    }
}

void TestCli::journalCommands() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, expected);
    QFETCH(bool, onServer);
    if (onServer && !testsupport::PgServer::unavailableReason().isEmpty())
        QSKIP(qPrintable(testsupport::PgServer::unavailableReason()));
    QTemporaryDir dir;
    const QString bank = dir.filePath(QStringLiteral("db.mdb"));
    QCOMPARE(run({"create", bank}).code, 0);
    {
        // Strong pupils choose option 3 where the bank marks option 1.
        data::journal::JournalStore journal(data::journal::journalPathForBank(bank),
                                            data::journal::JournalStore::Mode::Record);
        for (int i = 0; i < 25; ++i)
            journal.store(testsupport::knownRun(i % 10, 1, i % 10 > 6 ? 3 : 1));
        journal.store(testsupport::knownRun(2, 1, 2, QStringLiteral("=1+2")));
        journal.store(testsupport::knownRun(2, 1, 2, QStringLiteral("Иванов Пётр")));
        data::journal::RunRecord hostile = testsupport::knownRun(2, 1, 2, kHostile);
        hostile.host = kHostile;
        hostile.answers.back().question = kHostile;
        journal.store(hostile);
    }
    QString at = bank;
    if (onServer) {
        static int made = 0;
        const QString database = QStringLiteral("cli_%1").arg(++made);
        testsupport::PgServer::shared().psql(QStringLiteral("CREATE DATABASE %1").arg(database));
        at = testsupport::PgServer::shared().url(QStringLiteral("postgres"), database);
        QCOMPARE(run({"server-init", at, "--teachers", "t", "--pupils", "p"}).code, 0);
        QCOMPARE(run({"copy", bank, at, "--replace"}).code, 0);
    }
    const QString out = dir.filePath(QStringLiteral("out"));
    args.replaceInStrings(QStringLiteral("BANK"), at).replaceInStrings(QStringLiteral("OUT"), out);
    const Result result = run(args);
    QVERIFY2(result.code == code, qPrintable(result.err));
    QFile file(out);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QString text = bytes.isEmpty() ? result.out + result.err : QString::fromUtf8(bytes);
    QVERIFY2(text.contains(expected), qPrintable(text.left(2000)));
    // Nothing printed as text can steer the teacher's terminal.
    static const QRegularExpression obeyed(
        QStringLiteral("[\\x00-\\x09\\x0B-\\x1F\\x7F-\\x9F"
                       "\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]"));
    QVERIFY(!(result.out + result.err).contains(obeyed));
    if (args.contains(QStringLiteral("--csv")))
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF") && text.contains(QStringLiteral(";'=1+2;")));
}

void TestCli::journalXlsxTypes() {
    QTemporaryDir dir;
    const QString bank = dir.filePath(QStringLiteral("db.mdb"));
    QCOMPARE(run({"create", bank}).code, 0);
    data::journal::JournalStore(data::journal::journalPathForBank(bank),
                                data::journal::JournalStore::Mode::Record)
        .store(testsupport::knownRun(9, 1, 1, QStringLiteral("=1+2")));
    const QString xlsx = dir.filePath(QStringLiteral("5А.xlsx"));
    QCOMPARE(run({"results", bank, "--xlsx", xlsx}).code, 0);
    // Readable by whoever may read the other exports, not by the teacher alone.
    const QString csv = dir.filePath(QStringLiteral("5А.csv"));
    QCOMPARE(run({"results", bank, "--csv", csv}).code, 0);
    QCOMPARE(QFileInfo(xlsx).permissions(), QFileInfo(csv).permissions());
    // Read back as a spreadsheet would: a time, text (never a formula), numbers; the header
    // frozen and filtered.
    QProcess python;
    // Debian's interpreter, which has Debian's openpyxl.
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, openpyxl\n"
                                 "s = openpyxl.load_workbook(sys.argv[1]).active\n"
                                 "print(s.freeze_panes, s.auto_filter.ref, *(type(c.value).__name__"
                                 " + ':' + str(c.value) for c in s[2]))"),
                  xlsx});
    QVERIFY(python.waitForFinished(60000));
    const QString cells = QString::fromUtf8(python.readAllStandardOutput()).trimmed();
    QVERIFY2(
        QRegularExpression(
            QStringLiteral("^A2 A1:J2 datetime:2026-05-\\S+ \\S+ str:pc\\d+ "
                           "str:user\\d+ str:=1\\+2 int:7 int:20 int:5 str:да str:нет str:нет$"))
            .match(cells)
            .hasMatch(),
        qPrintable(cells));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

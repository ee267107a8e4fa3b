#include <QFile>
#include <QProcess>
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

} // namespace

// The executable as a teacher runs it: exit codes and the streams its output goes to.
class TestCli : public QObject {
    Q_OBJECT

private slots:
    void sampleBankChecksOut();
    void exitCodes();
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
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

#pragma once

#include "data/sqlite/Sqlite.h"
#include "tests/support/PgBouncer.h"
#include "tests/support/PgServer.h"

#include <QCoreApplication>
#include <QTest>

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>
#include <utility>
#include <vector>

namespace testsupport {

// A question with its answer options and explanations, each with its correctness flag.
struct QuestionRows {
    QString text;
    std::vector<std::pair<QString, bool>> options;
    std::vector<std::pair<QString, bool>> explanations;
};

// Where the bank is kept: db.mdb in the folder, or the tests' own PostgreSQL server
// (PgServer), reached directly or through the tests' pooler (PgBouncer, a pool of one server
// connection), named to the program by INFOTEST_BANK_URL while the fixture lives.
enum class BankEngine { File, Server, Pooled };

// A fresh bank in a temporary folder that is the working directory while the fixture lives;
// the previous working directory comes back when it goes.
class BankFixture {
public:
    // With withSchema false the folder holds no db.mdb (a server bank has no tables).
    explicit BankFixture(bool withSchema = true, BankEngine engine = BankEngine::File);
    ~BankFixture();
    BankFixture(const BankFixture&) = delete;
    BankFixture& operator=(const BankFixture&) = delete;

    QString dir() const { return dir_.path(); }
    QString bankPath() const;

    BankEngine engine() const { return engine_; }
    bool onServer() const { return engine_ != BankEngine::File; }

    // A second connection to the same file, for writing seeds and reading back (file only).
    data::sqlite::Database& db();
    // Runs SQL, one statement or several, on the bank's engine.
    void exec(const QString& sql);

    // Adds a question with its rows and returns its id; Номер is left as given (null by -1).
    qint64 addQuestion(const QuestionRows& question, int number = -1);
    // Adds count questions "Вопрос k" each with 4 options and 4 explanations, the first of
    // each correct.
    std::vector<qint64> addStandardQuestions(int count);
    static QuestionRows standardQuestion(int k);

    // One value read straight from the bank; ? marks the binds on both engines. Integers and
    // flags come as qint64, texts as QString.
    QVariant scalar(const QString& sql, const std::vector<QVariant>& binds = {});
    qint64 count(const QString& table);
    // A table's rows in the order of their ids, each cell quoted as SQL writes it: for
    // comparing a table before and after.
    QString dump(const QString& table);

private:
    BankEngine engine_;
    struct Server;
    std::unique_ptr<Server> server_;
    QTemporaryDir dir_;
    QString previousDir_;
    QByteArray previousDataHome_;
    std::unique_ptr<data::sqlite::Database> db_;
};

// Runs a suite once on a file, once on the tests' server and once through the tests' pooler, the
// engine given to the suite's constructor. Where PostgreSQL or PgBouncer is not installed their
// runs are skipped, and say why.
template <typename Suite> int runOnEachEngine(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    {
        Suite onFile(BankEngine::File);
        failures += QTest::qExec(&onFile, argc, argv);
    }
    if (const QString why = PgServer::unavailableReason(); !why.isEmpty()) {
        qWarning("SKIP on the server: %s", qPrintable(why));
        return failures;
    }
    {
        Suite onServer(BankEngine::Server);
        failures += QTest::qExec(&onServer, argc, argv);
    }
    if (const QString why = PgBouncer::unavailableReason(); !why.isEmpty()) {
        qWarning("SKIP through the pooler: %s", qPrintable(why));
        return failures;
    }
    Suite throughPooler(BankEngine::Pooled);
    failures += QTest::qExec(&throughPooler, argc, argv);
    return failures;
}

// Counts the rows a connection writes, updates that change nothing included, through the
// engine's update hook on that connection: the bank itself carries no code.
class WriteCounter {
public:
    explicit WriteCounter(data::sqlite::Database& db);
    ~WriteCounter();
    WriteCounter(const WriteCounter&) = delete;
    WriteCounter& operator=(const WriteCounter&) = delete;
    int count() const { return count_; }

private:
    data::sqlite::Database& db_;
    int count_ = 0;
};

// SQL or a message with the bank's names in place of {questions}, {options} and {explanations}
// (the tables), {id}, {number}, {question}, {option}, {explanation} and {correct} (the
// columns), and {limit} (the text limit).
QString withBankNames(QString text);

} // namespace testsupport

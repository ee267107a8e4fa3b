#pragma once

#include "data/Sqlite.h"

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

// A fresh bank in a temporary folder that is the working directory while the fixture lives;
// the previous working directory comes back when it goes.
class BankFixture {
public:
    // With withSchema false the folder holds no db.mdb.
    explicit BankFixture(bool withSchema = true);
    ~BankFixture();
    BankFixture(const BankFixture&) = delete;
    BankFixture& operator=(const BankFixture&) = delete;

    QString dir() const { return dir_.path(); }
    QString bankPath() const;

    // A second connection to the same file, for writing seeds and reading back.
    data::sqlite::Database& db();
    void exec(const QString& sql);

    // Adds a question with its rows and returns its id; Номер is left as given (null by -1).
    qint64 addQuestion(const QuestionRows& question, int number = -1);
    // Adds count questions "Вопрос k" each with 4 options and 4 explanations, the first of
    // each correct.
    std::vector<qint64> addStandardQuestions(int count);
    static QuestionRows standardQuestion(int k);

    // One value read straight from the file.
    QVariant scalar(const QString& sql, const std::vector<QVariant>& binds = {});
    qint64 count(const QString& table);

private:
    QTemporaryDir dir_;
    QString previousDir_;
    QByteArray previousDataHome_;
    std::unique_ptr<data::sqlite::Database> db_;
};

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

} // namespace testsupport

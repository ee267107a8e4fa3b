#include "tests/support/BankFixture.h"

#include "data/Schema.h"

#include <QDir>
#include <QFile>
#include <sqlite3.h>
#include <stdexcept>

namespace testsupport {

using data::sqlite::Database;
using data::sqlite::Statement;

BankFixture::BankFixture(bool withSchema) : previousDir_(QDir::currentPath()) {
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
    QDir::setCurrent(dir_.path());
    // The journal's queue goes to the user's data folder: a test keeps its own.
    previousDataHome_ = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("home-data"))));
    if (withSchema) {
        db().exec(data::bankSchema().constData());
    }
}

BankFixture::~BankFixture() {
    db_.reset();
    QDir::setCurrent(previousDir_);
    if (previousDataHome_.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", previousDataHome_);
}

QString BankFixture::bankPath() const {
    return dir_.filePath(QStringLiteral("db.mdb"));
}

Database& BankFixture::db() {
    if (!db_) {
        db_ = std::make_unique<Database>(bankPath(), Database::Mode::ReadWriteCreate);
        db_->setBusyTimeout(5000);
    }
    return *db_;
}

void BankFixture::exec(const QString& sql) {
    db().exec(sql.toUtf8().constData());
}

qint64 BankFixture::addQuestion(const QuestionRows& question, int number) {
    using data::sqlite::quoted;
    Statement q(db(), QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (?, ?)")
                          .arg(quoted(data::kQuestionTable), quoted(data::kNumberColumn),
                               quoted(data::kQuestionColumn)));
    if (number >= 0)
        q.bindInt(1, number);
    else
        q.bindNull(1);
    q.bind(2, question.text.isNull() ? QVariant() : QVariant(question.text));
    q.run();
    const qint64 id = db().lastInsertRowId();
    auto addRows = [&](const QString& table, const QString& textColumn,
                       const std::vector<std::pair<QString, bool>>& rows) {
        Statement r(db(), QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES (?, ?, ?)")
                              .arg(quoted(table), quoted(data::kQuestionColumn), quoted(textColumn),
                                   quoted(data::kCorrectColumn)));
        for (const auto& [text, correct] : rows) {
            r.reset();
            r.bindInt(1, id);
            r.bind(2, text.isNull() ? QVariant() : QVariant(text));
            r.bindInt(3, correct ? 1 : 0);
            r.run();
        }
    };
    addRows(data::kOptionTable, data::kOptionColumn, question.options);
    addRows(data::kExplanationTable, data::kExplanationColumn, question.explanations);
    return id;
}

QuestionRows BankFixture::standardQuestion(int k) {
    QuestionRows question;
    question.text = QStringLiteral("Вопрос %1").arg(k);
    for (int i = 1; i <= 4; ++i) {
        question.options.push_back({QStringLiteral("Ответ %1.%2").arg(k).arg(i), i == 1});
        question.explanations.push_back({QStringLiteral("Пояснение %1.%2").arg(k).arg(i), i == 1});
    }
    return question;
}

std::vector<qint64> BankFixture::addStandardQuestions(int count) {
    std::vector<qint64> ids;
    db().exec("BEGIN");
    for (int k = 1; k <= count; ++k)
        ids.push_back(addQuestion(standardQuestion(k)));
    db().exec("COMMIT");
    return ids;
}

QVariant BankFixture::scalar(const QString& sql, const std::vector<QVariant>& binds) {
    Statement s(db(), sql);
    for (int i = 0; i < int(binds.size()); ++i)
        s.bind(i + 1, binds[i]);
    return s.step() ? s.columnValue(0) : QVariant();
}

qint64 BankFixture::count(const QString& table) {
    return scalar(QStringLiteral("SELECT count(*) FROM %1").arg(data::sqlite::quoted(table)))
        .toLongLong();
}

WriteCounter::WriteCounter(Database& db) : db_(db) {
    sqlite3_update_hook(
        db_.handle(),
        [](void* self, int, const char*, const char*, sqlite3_int64) {
            ++static_cast<WriteCounter*>(self)->count_;
        },
        this);
}

WriteCounter::~WriteCounter() {
    sqlite3_update_hook(db_.handle(), nullptr, nullptr);
}

} // namespace testsupport

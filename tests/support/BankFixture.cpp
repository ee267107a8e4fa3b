#include "tests/support/BankFixture.h"

#include "data/Schema.h"
#include "tests/support/PgBouncer.h"
#include "tests/support/PgServer.h"

#include <QDir>
#include <QFile>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdexcept>
#include <tuple>

namespace testsupport {

using data::sqlite::Database;
using data::sqlite::Statement;

namespace {

constexpr const char* kUrlVariable = "INFOTEST_BANK_URL";

// The server's result as the fixture's values: see scalar().
QVariant valueOf(const PGresult* result, int row, int column) {
    if (PQgetisnull(result, row, column))
        return QVariant();
    const char* text = PQgetvalue(result, row, column);
    switch (PQftype(result, column)) {
    case 16: // bool
        return QVariant(qint64(text[0] == 't' ? 1 : 0));
    case 20: // int8
    case 21: // int2
    case 23: // int4
        return QVariant(QByteArray(text).toLongLong());
    case 700: // float4
    case 701: // float8
        return QVariant(QByteArray(text).toDouble());
    default:
        return QVariant(QString::fromUtf8(text, PQgetlength(result, row, column)));
    }
}

} // namespace

// The fixture's own connection to the tests' server, as the superuser.
struct BankFixture::Server {
    PGconn* conn = nullptr;
    ~Server() { PQfinish(conn); }

    PGresult* run(const QString& sql, const std::vector<QVariant>& binds = {}) {
        if (!conn || PQstatus(conn) != CONNECTION_OK) {
            PQfinish(conn);
            conn = PQconnectdb(PgServer::shared().url().toUtf8().constData());
            if (PQstatus(conn) != CONNECTION_OK)
                throw std::runtime_error(PQerrorMessage(conn));
        }
        // The binds are marked ? as on a file; the server numbers them.
        QString text;
        int n = 0;
        for (const QChar c : sql)
            text += c == QLatin1Char('?') ? QStringLiteral("$%1").arg(++n) : QString(c);
        std::vector<QByteArray> values;
        std::vector<const char*> pointers;
        for (const QVariant& bind : binds)
            values.push_back(bind.typeId() == QMetaType::Bool
                                 ? QByteArray(bind.toBool() ? "1" : "0")
                                 : bind.toString().toUtf8());
        for (std::size_t i = 0; i < binds.size(); ++i)
            pointers.push_back(binds[i].isNull() ? nullptr : values[i].constData());
        const auto send = [&] {
            return binds.empty() ? PQexec(conn, text.toUtf8().constData())
                                 : PQexecParams(conn, text.toUtf8().constData(), int(binds.size()),
                                                nullptr, pointers.data(), nullptr, nullptr, 0);
        };
        PGresult* result = send();
        // libpq may report a connection the server dropped with a failed result without a
        // SQLSTATE and still call the connection OK.
        if (PQstatus(conn) == CONNECTION_BAD || (PQresultStatus(result) == PGRES_FATAL_ERROR &&
                                                 !PQresultErrorField(result, PG_DIAG_SQLSTATE))) {
            // The server was restarted by the case: once more on a new connection.
            PQclear(result);
            PQfinish(conn);
            conn = PQconnectdb(PgServer::shared().url().toUtf8().constData());
            result = send();
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string message = PQresultErrorMessage(result);
            PQclear(result);
            throw std::runtime_error(message);
        }
        return result;
    }
};

BankFixture::BankFixture(bool withSchema, BankEngine engine)
    : engine_(engine), previousDir_(QDir::currentPath()) {
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
    QDir::setCurrent(dir_.path());
    // The journal's queue goes to the user's data folder: a test keeps its own.
    previousDataHome_ = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("home-data"))));
    if (engine_ != BankEngine::File) {
        server_ = std::make_unique<Server>();
        // A fresh bank: the previous case's tables and whatever it left go.
        PQclear(server_->run(QStringLiteral("DROP SCHEMA public CASCADE; CREATE SCHEMA public")));
        if (withSchema)
            PQclear(server_->run(QString::fromUtf8(data::serverBankSchema())));
        qputenv(kUrlVariable, (engine_ == BankEngine::Pooled ? PgBouncer::shared().url()
                                                             : PgServer::shared().url())
                                  .toUtf8());
        return;
    }
    if (withSchema) {
        db().exec(data::bankSchema().constData());
    }
}

BankFixture::~BankFixture() {
    if (server_)
        qunsetenv(kUrlVariable);
    server_.reset();
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
    if (server_) {
        PQclear(server_->run(sql));
        return;
    }
    db().exec(sql.toUtf8().constData());
}

qint64 BankFixture::addQuestion(const QuestionRows& question, int number) {
    using data::sqlite::quoted;
    if (server_) {
        const auto text = [](const QString& t) { return t.isNull() ? QVariant() : QVariant(t); };
        const qint64 id =
            scalar(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (?, ?) RETURNING %4")
                       .arg(quoted(data::kQuestionTable), quoted(data::kNumberColumn),
                            quoted(data::kQuestionColumn), quoted(data::kIdColumn)),
                   {number >= 0 ? QVariant(number) : QVariant(), text(question.text)})
                .toLongLong();
        for (const auto& [table, column, rows] :
             {std::tuple{data::kOptionTable, data::kOptionColumn, &question.options},
              std::tuple{data::kExplanationTable, data::kExplanationColumn,
                         &question.explanations}})
            for (const auto& [rowText, correct] : *rows)
                scalar(QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES (?, ?, ?)")
                           .arg(quoted(table), quoted(data::kQuestionColumn), quoted(column),
                                quoted(data::kCorrectColumn)),
                       {id, text(rowText), QVariant(correct)});
        return id;
    }
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
    exec(QStringLiteral("BEGIN"));
    for (int k = 1; k <= count; ++k)
        ids.push_back(addQuestion(standardQuestion(k)));
    exec(QStringLiteral("COMMIT"));
    return ids;
}

QVariant BankFixture::scalar(const QString& sql, const std::vector<QVariant>& binds) {
    if (server_) {
        PGresult* result = server_->run(sql, binds);
        const QVariant value = PQntuples(result) > 0 ? valueOf(result, 0, 0) : QVariant();
        PQclear(result);
        return value;
    }
    Statement s(db(), sql);
    for (int i = 0; i < int(binds.size()); ++i)
        s.bind(i + 1, binds[i]);
    return s.step() ? s.columnValue(0) : QVariant();
}

qint64 BankFixture::count(const QString& table) {
    return scalar(QStringLiteral("SELECT count(*) FROM %1").arg(data::sqlite::quoted(table)))
        .toLongLong();
}

QString BankFixture::dump(const QString& table) {
    const QString sql = QStringLiteral("SELECT * FROM \"%1\" ORDER BY id").arg(table);
    const auto quote = [](const QVariant& value) {
        if (value.isNull())
            return QStringLiteral("NULL");
        if (value.typeId() == QMetaType::QString)
            return QLatin1Char('\'') + value.toString() + QLatin1Char('\'');
        if (value.typeId() == QMetaType::QByteArray)
            return QStringLiteral("X'%1'").arg(QString::fromLatin1(value.toByteArray().toHex()));
        return value.toString();
    };
    QStringList rows;
    if (server_) {
        PGresult* result = server_->run(sql);
        for (int r = 0; r < PQntuples(result); ++r) {
            QStringList cells;
            for (int c = 0; c < PQnfields(result); ++c)
                cells << quote(valueOf(result, r, c));
            rows << cells.join(QLatin1Char(','));
        }
        PQclear(result);
    } else {
        Statement s(db(), sql);
        while (s.step()) {
            QStringList cells;
            for (int c = 0; c < s.columnCount(); ++c)
                cells << quote(s.columnValue(c));
            rows << cells.join(QLatin1Char(','));
        }
    }
    return rows.join(QLatin1Char(' '));
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

QString withBankNames(QString text) {
    const std::pair<const char*, QString> names[] = {
        {"{questions}", QString::fromUtf8(data::kQuestionTable)},
        {"{options}", QString::fromUtf8(data::kOptionTable)},
        {"{explanations}", QString::fromUtf8(data::kExplanationTable)},
        {"{id}", QString::fromUtf8(data::kIdColumn)},
        {"{number}", QString::fromUtf8(data::kNumberColumn)},
        {"{question}", QString::fromUtf8(data::kQuestionColumn)},
        {"{option}", QString::fromUtf8(data::kOptionColumn)},
        {"{explanation}", QString::fromUtf8(data::kExplanationColumn)},
        {"{correct}", QString::fromUtf8(data::kCorrectColumn)},
        {"{limit}", QString::number(data::kMaxTextLength)},
    };
    for (const auto& [placeholder, name] : names)
        text.replace(QLatin1String(placeholder), name);
    return text;
}

} // namespace testsupport

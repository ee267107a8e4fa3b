#include "bank/Pg.h"

#include <libpq-fe.h>

namespace bank::pg {

namespace {

// On one line: libpq breaks its own messages with a newline and a tab.
QString serverMessage(const char* text) {
    return QString::fromUtf8(text).simplified();
}

// Throws on a URI that libpq cannot read.
bool carriesPassword(const QString& url) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? serverMessage(error) : QStringLiteral("нет памяти");
        PQfreemem(error);
        throw EToolError(QStringLiteral("адрес сервера «%1» не читается: %2").arg(url, why));
    }
    bool found = false;
    for (PQconninfoOption* option = options; option->keyword; ++option)
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            found = true;
    PQconninfoFree(options);
    return found;
}

} // namespace

bool isServerUrl(const QString& bank) {
    return bank.startsWith(QLatin1String("postgresql://")) ||
           bank.startsWith(QLatin1String("postgres://"));
}

EServerError::EServerError(const QString& message, const QString& sqlState)
    : EToolError(message), sqlState_(sqlState) {}

void Result::Clear::operator()(pg_result* result) const {
    PQclear(result);
}

int Result::rows() const {
    return PQntuples(result_.get());
}

bool Result::isNull(int row, int column) const {
    return PQgetisnull(result_.get(), row, column) == 1;
}

QByteArray Result::bytes(int row, int column) const {
    return QByteArray(PQgetvalue(result_.get(), row, column),
                      PQgetlength(result_.get(), row, column));
}

QString Result::text(int row, int column) const {
    return QString::fromUtf8(bytes(row, column));
}

qint64 Result::integer(int row, int column) const {
    return bytes(row, column).toLongLong();
}

bool Result::flag(int row, int column) const {
    return bytes(row, column) == "t";
}

QByteArray Result::binary(int row, int column) const {
    // Text form of bytea: "\x" and the bytes in hexadecimal.
    return QByteArray::fromHex(bytes(row, column).mid(2));
}

void Result::check(pg_conn* conn) const {
    const ExecStatusType status = PQresultStatus(result_.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return;
    // No result or no SQLSTATE: the connection broke before the server answered.
    const char* state = PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE);
    const char* primary = PQresultErrorField(result_.get(), PG_DIAG_MESSAGE_PRIMARY);
    throw EServerError(serverMessage(primary ? primary : PQerrorMessage(conn)),
                       QString::fromLatin1(state ? state : "08000"));
}

int Result::affected() const {
    return QByteArray(PQcmdTuples(result_.get())).toInt();
}

void Connection::Finish::operator()(pg_conn* conn) const {
    PQfinish(conn);
}

Connection::Connection(const QString& url) {
    if (carriesPassword(url))
        throw EToolError(QStringLiteral("адрес «%1» содержит пароль, а командную строку видят "
                                        "все пользователи компьютера: уберите пароль из адреса "
                                        "и запишите его в ~/.pgpass (или в файл, названный в "
                                        "PGPASSFILE)")
                             .arg(url));
    const QByteArray uri = url.toUtf8();
    // Before the URI, so that its own settings win; a dead network then fails in seconds.
    // The texts always travel as UTF-8, whatever the URI says.
    const char* keywords[] = {"connect_timeout",  "keepalives_idle",  "keepalives_interval",
                              "keepalives_count", "tcp_user_timeout", "application_name",
                              "dbname",           "client_encoding",  nullptr};
    const char* values[] = {"10",   "10",   "5", "3", "15000", "infotest-bank", uri.constData(),
                            "UTF8", nullptr};
    conn_.reset(PQconnectdbParams(keywords, values, 1));
    if (!conn_)
        throw EToolError(QStringLiteral("нет памяти для соединения с сервером"));
    if (PQstatus(conn_.get()) != CONNECTION_OK)
        throw EServerError(serverMessage(PQerrorMessage(conn_.get())), {});
}

void Connection::execScript(const char* sql) const {
    Result result;
    result.result_.reset(PQexec(conn_.get(), sql));
    result.check(conn_.get());
}

Result Connection::exec(const QString& sql, const std::vector<QVariant>& params) const {
    std::vector<QByteArray> held(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    std::vector<int> lengths(params.size(), 0), formats(params.size(), 0);
    std::vector<unsigned> types(params.size(), 0);
    for (size_t i = 0; i < params.size(); ++i) {
        const QVariant& p = params[i];
        if (p.isNull())
            continue;
        switch (p.typeId()) {
        case QMetaType::QByteArray:
            held[i] = p.toByteArray();
            formats[i] = 1;
            types[i] = 17; // bytea
            break;
        case QMetaType::Bool:
            held[i] = p.toBool() ? "t" : "f";
            break;
        case QMetaType::QString:
            held[i] = p.toString().toUtf8();
            break;
        default:
            held[i] = QByteArray::number(p.toLongLong());
        }
        values[i] = held[i].constData();
        lengths[i] = int(held[i].size());
    }
    Result result;
    result.result_.reset(PQexecParams(conn_.get(), sql.toUtf8().constData(), int(params.size()),
                                      types.data(), values.data(), lengths.data(), formats.data(),
                                      0));
    result.check(conn_.get());
    return result;
}

QString Connection::quotedName(const QString& name) const {
    const QByteArray utf8 = name.toUtf8();
    char* quoted = PQescapeIdentifier(conn_.get(), utf8.constData(), size_t(utf8.size()));
    if (!quoted)
        throw EToolError(serverMessage(PQerrorMessage(conn_.get())));
    const QString result = QString::fromUtf8(quoted);
    PQfreemem(quoted);
    return result;
}

Transaction::Transaction(const Connection& connection) : connection_(connection) {
    connection_.exec(QStringLiteral("BEGIN"));
}

Transaction::~Transaction() {
    if (done_)
        return;
    try {
        connection_.exec(QStringLiteral("ROLLBACK"));
    } catch (const EServerError&) {
        // The connection is gone: the server has rolled the transaction back itself.
    }
}

void Transaction::commit() {
    done_ = true;
    connection_.exec(QStringLiteral("COMMIT"));
}

QString explainServerError(const EServerError& e, const QString& bank) {
    const QString state = e.sqlState();
    QString lead, advice;
    if (state.isEmpty()) {
        lead = QStringLiteral("Нет связи с сервером банка «%1»: %2");
        advice = QStringLiteral("Проверьте адрес, что сервер запущен и пускает этот компьютер, и "
                                "пароль в ~/.pgpass.");
    } else if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P"))) {
        lead = QStringLiteral("Связь с сервером банка «%1» прервалась: %2");
        advice = QStringLiteral("Ничего не записано; повторите команду.");
    } else if (state.startsWith(QLatin1String("28"))) {
        lead = QStringLiteral("Сервер банка «%1» не пускает: %2");
        advice = QStringLiteral("Проверьте имя роли и пароль в ~/.pgpass.");
    } else if (state == QLatin1String("42501")) {
        lead = QStringLiteral("У роли нет на это прав в банке «%1»: %2");
        advice = QStringLiteral("Банк меняет и переносит учитель: войдите ролью учителя.");
    } else if (state == QLatin1String("42P01") || state == QLatin1String("42703")) {
        lead = QStringLiteral("В базе «%1» нет таблиц банка: %2");
        advice = QStringLiteral("Создайте их: infotest-bank server-init АДРЕС --teachers РОЛЬ "
                                "--pupils РОЛЬ.");
    } else if (state == QLatin1String("3D000")) {
        lead = QStringLiteral("На сервере нет базы «%1»: %2");
        advice = QStringLiteral("Создайте её (createdb) и выполните infotest-bank server-init.");
    } else if (state == QLatin1String("55P03") || state == QLatin1String("40P01") ||
               state == QLatin1String("40001")) {
        lead = QStringLiteral("Банк «%1» сейчас занят другой программой: %2");
        advice = QStringLiteral("Повторите команду, когда она закончит запись.");
    } else if (state == QLatin1String("53100")) {
        lead = QStringLiteral("На сервере банка «%1» не хватает места на диске: %2");
        advice = QStringLiteral("Ничего не записано.");
    } else {
        lead = QStringLiteral("Ошибка сервера в банке «%1»: %2");
        advice = QStringLiteral("Ничего не записано.");
    }
    const QString message = e.message();
    const bool ended = message.endsWith(u'.') || message.endsWith(u'?') || message.endsWith(u'!');
    return lead.arg(bank, message) + (ended ? QStringLiteral(" ") : QStringLiteral(". ")) + advice;
}

} // namespace bank::pg

#include "data/pg/Pg.h"

#include <cerrno>
#include <chrono>
#include <future>
#include <libpq-fe.h>
#include <mutex>
#include <poll.h>
#include <thread>

namespace data::pg {

namespace {

// On one line: libpq breaks its own messages with a newline and a tab.
QString oneLine(const char* text) {
    return QString::fromUtf8(text).simplified();
}

// A dead network shows within seconds: the connection gives up after connect_timeout, and an
// unanswered connection is dropped by the keepalives or tcp_user_timeout, not after the
// system's two hours. The texts always travel as UTF-8. The URI may set any of these itself.
constexpr const char* kConnectionDefaults[][2] = {
    {"connect_timeout", "5"},     {"keepalives", "1"},       {"keepalives_idle", "5"},
    {"keepalives_interval", "2"}, {"keepalives_count", "3"}, {"tcp_user_timeout", "10000"},
    {"client_encoding", "UTF8"},
};

// libpq's arguments from the parameters; they point into parameters, which must outlive them.
struct Arguments {
    explicit Arguments(const Parameters& parameters)
        : count(int(parameters.values.size())), values(std::size_t(count)),
          lengths(std::size_t(count)), formats(std::size_t(count)) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = parameters.isNull[i] ? nullptr : parameters.values[i].constData();
            lengths[i] = int(parameters.values[i].size());
            formats[i] = parameters.binary[i] ? 1 : 0;
        }
    }
    int count;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
};

// The bank tool's parameters' types: bytea for binary values; the server infers the rest.
std::vector<unsigned> byteaTyped(const Parameters& parameters) {
    std::vector<unsigned> types(parameters.values.size(), 0);
    for (std::size_t i = 0; i < types.size(); ++i)
        if (parameters.binary[i])
            types[i] = 17; // bytea
    return types;
}

// How long a cancel request is waited for before the connection is closed anyway.
constexpr int kCancelWaitMs = 500;

// libpq's cancel opens a connection of its own and blocks on it, which a dead network would
// hold for minutes: it is sent from a thread of its own, waited for a moment and then left to
// finish alone. It frees the server's backend at once rather than at its statement_timeout.
void cancelAside(pg_conn* conn) {
    PGcancel* cancel = PQgetCancel(conn);
    if (!cancel)
        return;
    auto sent = std::make_shared<std::promise<void>>();
    std::future<void> done = sent->get_future();
    std::thread([cancel, sent] {
        char error[256];
        PQcancel(cancel, error, int(sizeof error));
        PQfreeCancel(cancel);
        sent->set_value();
    }).detach();
    done.wait_for(std::chrono::milliseconds(kCancelWaitMs));
}

} // namespace

EServerError::EServerError(const QString& message, const QString& sqlState)
    : Exception(message), sqlState_(sqlState) {}

QString quoted(const QString& identifier) {
    QString text = identifier;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

namespace {

// The journal window connects again off its own thread while the user may be typing a new
// password: the one kept is read and written under a lock.
std::mutex& passwordLock() {
    static std::mutex lock;
    return lock;
}

QString& typedPassword() {
    static QString password;
    return password;
}

QString currentPassword() {
    const std::lock_guard lock(passwordLock());
    return typedPassword();
}

} // namespace

void usePassword(const QString& password) {
    const std::lock_guard lock(passwordLock());
    typedPassword() = password;
}

bool passwordWanted(const QString& url) {
    if (carriesPassword(url))
        return false;
    const Connection probe(url);
    return probe && !probe.ok() && PQconnectionNeedsPassword(probe.get()) != 0;
}

bool carriesPassword(const QString& url) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? oneLine(error) : QStringLiteral("нет памяти");
        PQfreemem(error);
        throw EServerError(QStringLiteral("адрес сервера «%1» не читается: %2").arg(url, why), {});
    }
    bool found = false;
    for (PQconninfoOption* option = options; option->keyword; ++option)
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            found = true;
    PQconninfoFree(options);
    return found;
}

Parameters Parameters::of(const std::vector<QVariant>& values) {
    Parameters out;
    for (const QVariant& p : values) {
        if (p.isNull()) {
            out.add(QByteArray(), true);
            continue;
        }
        switch (p.typeId()) {
        case QMetaType::QByteArray:
            out.add(p.toByteArray(), false, true);
            break;
        case QMetaType::Bool:
            out.add(p.toBool() ? "t" : "f");
            break;
        case QMetaType::QString:
            out.add(p.toString().toUtf8());
            break;
        default:
            out.add(QByteArray::number(p.toLongLong()));
        }
    }
    return out;
}

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

int Result::affected() const {
    return QByteArray(PQcmdTuples(result_.get())).toInt();
}

bool Result::succeeded() const {
    const ExecStatusType status = result_ ? PQresultStatus(result_.get()) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

const char* Result::sqlState() const {
    return result_ ? PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE) : nullptr;
}

void Connection::Finish::operator()(pg_conn* conn) const {
    PQfinish(conn);
}

Connection::Connection(const QString& url, const char* applicationName) {
    // The defaults first, the URI last: what the URI sets wins.
    const QByteArray uri = url.toUtf8();
    std::vector<const char*> keys, values;
    for (const auto& setting : kConnectionDefaults) {
        keys.push_back(setting[0]);
        values.push_back(setting[1]);
    }
    keys.insert(keys.end(), {"application_name", "dbname"});
    values.insert(values.end(), {applicationName, uri.constData()});
    // After the URI, so that it counts; a URI that names a password keeps its own.
    const QByteArray password = currentPassword().toUtf8();
    bool own = false;
    try {
        own = !password.isEmpty() && carriesPassword(url);
    } catch (const EServerError&) {
        // libpq reports the unreadable URI itself, as the connection's failure.
    }
    if (!password.isEmpty() && !own) {
        keys.push_back("password");
        values.push_back(password.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_.reset(PQconnectdbParams(keys.data(), values.data(), 1));
}

bool Connection::ok() const {
    return conn_ && PQstatus(conn_.get()) == CONNECTION_OK;
}

QString Connection::lastError() const {
    return conn_ ? QString::fromUtf8(PQerrorMessage(conn_.get())).trimmed()
                 : QStringLiteral("нет памяти для соединения с сервером");
}

void Connection::close() {
    conn_.reset();
}

int Connection::socket() const {
    return conn_ ? PQsocket(conn_.get()) : -1;
}

std::vector<QString> Connection::takeNotifications() const {
    if (!conn_ || PQconsumeInput(conn_.get()) == 0 || PQstatus(conn_.get()) != CONNECTION_OK)
        throw EServerError(conn_ ? oneLine(PQerrorMessage(conn_.get()))
                                 : QStringLiteral("нет соединения с сервером"),
                           {});
    std::vector<QString> channels;
    while (PGnotify* notify = PQnotifies(conn_.get())) {
        channels.push_back(QString::fromUtf8(notify->relname));
        PQfreemem(notify);
    }
    return channels;
}

Result Connection::run(const QByteArray& sql) const {
    return Result(conn_ ? PQexec(conn_.get(), sql.constData()) : nullptr);
}

// Named statements would outlive the transaction on the server's connection, where another
// program behind the same pooler may prepare its own of the same name: each is sent unnamed.
Result Connection::run(const QByteArray& sql, const Parameters& parameters,
                       const std::vector<unsigned>& types) const {
    const Arguments a(parameters);
    return Result(conn_ ? PQexecParams(conn_.get(), sql.constData(), a.count,
                                       types.empty() ? nullptr : types.data(), a.values.data(),
                                       a.lengths.data(), a.formats.data(), 0)
                        : nullptr);
}

std::optional<Result> Connection::runBy(const QByteArray& sql, const Parameters* parameters,
                                        QDeadlineTimer deadline) {
    pg_conn* conn = conn_.get();
    if (!conn)
        return Result();
    const int sent =
        parameters ? [&] {
            const Arguments a(*parameters);
            return PQsendQueryParams(conn, sql.constData(), a.count, nullptr, a.values.data(),
                                     a.lengths.data(), a.formats.data(), 0);
        }()
                   : PQsendQuery(conn, sql.constData());
    if (sent != 1)
        return Result(); // the connection broke: lastError() says how
    // As PQexec: the last result, but an error wins over what follows it.
    Result last;
    for (;;) {
        while (PQisBusy(conn)) {
            const qint64 left = deadline.remainingTime();
            if (left == 0) {
                cancelAside(conn);
                close();
                return std::nullopt;
            }
            pollfd socket{PQsocket(conn), POLLIN, 0};
            const int ready = ::poll(&socket, 1, left < 0 ? -1 : int(std::min<qint64>(left, 1000)));
            if (ready < 0 && errno != EINTR)
                break; // PQgetResult reports the broken connection
            if (ready > 0 && PQconsumeInput(conn) == 0)
                break;
        }
        pg_result* next = PQgetResult(conn);
        if (!next)
            return last;
        if (last && !last.succeeded())
            PQclear(next);
        else
            last = Result(next);
    }
}

bool Connection::send(const QByteArray& sql, const Parameters& parameters) const {
    const Arguments a(parameters);
    return conn_ && PQsendQueryParams(conn_.get(), sql.constData(), a.count, nullptr,
                                      a.values.data(), a.lengths.data(), a.formats.data(), 0) == 1;
}

Result checked(Result result, const Connection& connection) {
    if (result.succeeded())
        return result;
    // No result or no SQLSTATE: the connection broke before the server answered.
    const char* state = result.sqlState();
    const char* primary =
        result ? PQresultErrorField(result.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    throw EServerError(primary ? oneLine(primary) : connection.lastError().simplified(),
                       QString::fromLatin1(state ? state : "08000"));
}

Result Connection::exec(const QString& sql, const std::vector<QVariant>& params) const {
    const Parameters parameters = Parameters::of(params);
    return checked(run(sql.toUtf8(), parameters, byteaTyped(parameters)), *this);
}

void Connection::execScript(const char* sql) const {
    checked(run(sql), *this);
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

Pipeline::Pipeline(Connection& connection) : connection_(connection) {
    if (!connection_.get() || PQenterPipelineMode(connection_.get()) != 1)
        throw EServerError(connection_.lastError().simplified(), {});
}

Pipeline::~Pipeline() {
    pg_conn* conn = connection_.get();
    if (!conn || PQpipelineStatus(conn) == PQ_PIPELINE_OFF)
        return;
    if (PQexitPipelineMode(conn) == 1)
        return;
    // Answers are still due: a sync ends what was sent, and everything up to it is dropped.
    // Two nulls in a row, or a broken connection, mean that no more answers come.
    if (PQstatus(conn) == CONNECTION_OK)
        PQpipelineSync(conn);
    bool lastWasNull = false;
    while (PQexitPipelineMode(conn) != 1) {
        if (PQstatus(conn) != CONNECTION_OK) {
            connection_.close();
            return;
        }
        PGresult* result = PQgetResult(conn);
        if (!result) {
            if (lastWasNull) {
                // Nothing more comes, and libpq still holds the mode: the connection is not
                // usable for plain statements, so it goes.
                connection_.close();
                return;
            }
            lastWasNull = true;
            continue;
        }
        lastWasNull = false;
        PQclear(result);
    }
}

} // namespace data::pg

#include "data/journal/JournalReader.h"

#include "data/Engine.h"
#include "data/Errors.h"
#include "data/Location.h"
#include "data/Row.h"
#include "data/pg/Pg.h"

#include <QDir>
#include <QFileInfo>
#include <sqlite3.h>

namespace data::journal {

namespace {

// Folds the case of Russian letters as of Latin ones: the engine's own LIKE and lower() know
// only ASCII. Deterministic, so that the engine may use it in ORDER BY and WHERE alike.
void foldFunction(sqlite3_context* context, int, sqlite3_value** values) {
    if (sqlite3_value_type(values[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
    const QByteArray folded =
        QString::fromUtf8(text, sqlite3_value_bytes(values[0])).toCaseFolded().toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

// The same folding for a server, as translate()'s two lists: every letter of the alphabets a
// name is written in whose folding is one letter. A server's lower() follows its locale, which
// the program does not choose.
const std::pair<QString, QString>& serverFolding() {
    static const std::pair<QString, QString> lists = [] {
        std::pair<QString, QString> result;
        for (const auto& [from, to] : {std::pair{0x41, 0x24f}, {0x370, 0x3ff}, {0x400, 0x52f}})
            for (char16_t c = char16_t(from); c <= to; ++c) {
                const QString folded = QString(QChar(c)).toCaseFolded();
                if (folded.size() == 1 && folded[0] != QChar(c)) {
                    result.first += QChar(c);
                    result.second += folded;
                }
            }
        return result;
    }();
    return lists;
}

// The days of a filter are local calendar days, both ends included, as JournalStore reads them.
QString utcText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

// The runs a server started and has not recorded, as rows of the runs: a negative id of their
// own, the start for the end, and whether the answering time is past.
constexpr const char* kStartedRuns =
    R"sql( UNION ALL SELECT -('x' || substr(md5(s."Код"::text), 1, 15))::bit(60)::bigint, s."Код"::text, to_char(s."Начало" AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"'), to_char(s."Начало" AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"'), s."Компьютер", s."Логин", s."ФИО", s."Ученик", 0, NULL::integer, false, 0, s."ЛогинСообщён", CASE WHEN s."Начало" < now() - make_interval(secs => %1) THEN %2 ELSE %3 END FROM "Т_НачатыйТест" s WHERE NOT s."Записан")sql";

qint64 integerOf(const RowData& row, int i) {
    return row.type(i) == CellType::Integer ? row.integer(i) : 0;
}

double realOf(const RowData& row, int i) {
    switch (row.type(i)) {
    case CellType::Integer:
        return double(row.integer(i));
    case CellType::Float:
        return row.real(i);
    default:
        return 0;
    }
}

} // namespace

JournalReader::JournalReader(const QString& location)
    : store_(location, JournalStore::Mode::ReadOnly, kBusyTimeoutMs),
      server_(Location(location).isServer()) {
    Engine& engine = store_.engine();
    if (server_) {
        bool mayRead = false;
        engine.query(QStringLiteral("SELECT has_table_privilege(to_regclass($1), 'SELECT')"),
                     {QStringLiteral("public.\"%1\"").arg(QString::fromUtf8(kRunTable))},
                     [&](const RowData& row) { mayRead = integerOf(row, 0) != 0; });
        if (!mayRead)
            throw EDatabaseError(
                QStringLiteral("Журнал результатов на сервере читают только учителя: войдите "
                               "под ролью учителей (роль учеников его не видит)."));
        engine.query(QStringLiteral("SELECT coalesce(has_table_privilege(to_regclass($1), "
                                    "'SELECT'), false)"),
                     {QStringLiteral("public.\"%1\"").arg(QString::fromUtf8(kStartedRunTable))},
                     [&](const RowData& row) { startedRuns_ = integerOf(row, 0) != 0; });
        // A direct connection: LISTEN stays with its session, which a pooler would hand on.
        listener_ = std::make_unique<pg::Connection>(location, "infotest-journal");
        if (!listener_->ok())
            throw pg::EServerError(listener_->lastError(), {});
        pg::checked(
            listener_->run("LISTEN " + pg::quoted(QString::fromUtf8(kJournalChannel)).toUtf8()),
            *listener_);
        return;
    }
    sqlite::Database& db = *store_.file();
    db.exec("PRAGMA query_only = 1");
    // Direct only: no view or trigger a file might carry can call it.
    if (sqlite3_create_function_v2(db.handle(), "infotest_fold", 1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY, nullptr,
                                   foldFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
        db.raise();
    // A journal of version 1, which this reader does not upgrade, has no flag of the login.
    engine.query(QStringLiteral("PRAGMA user_version"), {},
                 [&](const RowData& row) { reportedLoginStored_ = integerOf(row, 0) >= 2; });
    changed();
}

JournalReader::~JournalReader() = default;

QString JournalReader::title() const {
    return server_ ? Location(path()).name() : QFileInfo(path()).absoluteDir().dirName();
}

QString JournalReader::runsSource() const {
    QString source =
        QStringLiteral(R"sql((SELECT %1, %2 AS "ЛогинСообщён", %3 AS "Состояние" FROM "%4")sql")
            .arg(QString::fromUtf8(kStoredRunColumns),
                 reportedLoginStored_
                     ? QStringLiteral("\"%1\"").arg(QString::fromUtf8(kReportedLoginColumn))
                     : QStringLiteral("0"))
            .arg(int(RunState::Recorded))
            .arg(QString::fromUtf8(kRunTable));
    if (startedRuns_)
        source += QString::fromUtf8(kStartedRuns)
                      .arg(kAnsweringLimitSeconds)
                      .arg(int(RunState::Abandoned))
                      .arg(int(RunState::InProgress));
    return source + QStringLiteral(") AS r");
}

QString JournalReader::filterSql(const RunFilter& filter, std::vector<QVariant>& values) const {
    const auto bind = [&](const QVariant& value) {
        values.push_back(value);
        return QStringLiteral("$%1").arg(values.size());
    };
    // Texts compare by their code points on both engines: the file's own way.
    const QString c = server_ ? QStringLiteral(" COLLATE \"C\"") : QString();
    QString where = QStringLiteral(" WHERE \"Начало\"%1 >= %2 AND \"Начало\"%1 < %3")
                        .arg(c, bind(filter.from ? utcText(filter.from->startOfDay()) : QString()),
                             bind(filter.to ? utcText(filter.to->addDays(1).startOfDay())
                                            : QStringLiteral("9999")));
    if (filter.finished)
        where += QStringLiteral(" AND \"Завершён\" = %1").arg(bind(*filter.finished));
    const QString who = filter.who.toCaseFolded();
    if (!who.isEmpty()) {
        // The program folds the pattern; each engine folds the stored texts the same way.
        const QString pattern = bind(who);
        const QString fold = server_ ? QStringLiteral("strpos(translate(%1, %2, %3), %4) > 0")
                                           .arg(QStringLiteral("%1"), bind(serverFolding().first),
                                                bind(serverFolding().second), pattern)
                                     : QStringLiteral("instr(infotest_fold(%1), %2) > 0")
                                           .arg(QStringLiteral("%1"), pattern);
        QStringList any;
        for (const char* column : {"Ученик", "ФИО", "Логин", "Компьютер"})
            any << fold.arg(QStringLiteral("\"%1\"").arg(QString::fromUtf8(column)));
        where += QStringLiteral(" AND (%1)").arg(any.join(QLatin1String(" OR ")));
    }
    return where;
}

std::vector<Run> JournalReader::runs(const RunFilter& filter, const RunOrder& order, qint64 offset,
                                     qint64 limit) const {
    // What each column sorts by: the stored texts as they are, so that sorting a school year's
    // runs costs no conversion per row.
    const QString c = server_ ? QStringLiteral(" COLLATE \"C\"") : QString();
    QString key;
    switch (order.column) {
    case RunColumn::Started:
        key = QStringLiteral("\"Начало\"") + c;
        break;
    case RunColumn::Host:
        key = QStringLiteral("\"Компьютер\"") + c;
        break;
    case RunColumn::Login:
        key = QStringLiteral("\"Логин\"") + c;
        break;
    case RunColumn::Name:
        key =
            QStringLiteral("coalesce(nullif(\"Ученик\", ''), nullif(\"ФИО\", ''), \"Логин\")") + c;
        break;
    case RunColumn::Duration:
        key = server_ ? QStringLiteral(
                            "extract(epoch FROM \"Конец\"::timestamptz - \"Начало\"::timestamptz)")
                      : QStringLiteral("strftime('%s', \"Конец\") - strftime('%s', \"Начало\")");
        break;
    case RunColumn::Points:
        key = QStringLiteral("\"Баллы\"");
        break;
    case RunColumn::Grade:
        key = QStringLiteral("coalesce(\"Оценка\", 0)");
        break;
    case RunColumn::Finished:
        key = QStringLiteral("\"Завершён\"");
        break;
    case RunColumn::LoginReported:
        key = QStringLiteral("\"ЛогинСообщён\"");
        break;
    }
    const QString direction = order.descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    std::vector<QVariant> values;
    QString sql = QStringLiteral("SELECT * FROM ") + runsSource() + filterSql(filter, values) +
                  QStringLiteral(" ORDER BY ") + key + direction + QStringLiteral(", \"id\"") +
                  direction;
    values.emplace_back(limit);
    sql += QStringLiteral(" LIMIT $%1").arg(values.size());
    values.emplace_back(offset);
    sql += QStringLiteral(" OFFSET $%1").arg(values.size());
    ++reads_;
    std::vector<Run> result;
    store_.engine().query(sql, values, [&](const RowData& row) {
        Run run = runOfRow(row);
        run.loginReported = integerOf(row, 12) != 0;
        run.state = RunState(std::clamp<qint64>(integerOf(row, 13), 0, 2));
        result.push_back(std::move(run));
    });
    return result;
}

RunSummary JournalReader::summary(const RunFilter& filter) const {
    // The mean of finished runs only: an abandoned run's points stop where it stopped.
    std::vector<QVariant> values;
    const QString sql =
        QStringLiteral(
            "SELECT count(*), CAST(avg(CASE WHEN \"Завершён\" THEN \"Баллы\" END) AS DOUBLE "
            "PRECISION), count(CASE WHEN \"Оценка\" = 5 THEN 1 END), count(CASE WHEN \"Оценка\" "
            "= 4 THEN 1 END), count(CASE WHEN \"Оценка\" = 3 THEN 1 END), count(CASE WHEN "
            "\"Оценка\" = 2 THEN 1 END) FROM ") +
        runsSource() + filterSql(filter, values);
    ++reads_;
    RunSummary summary;
    store_.engine().query(sql, values, [&](const RowData& row) {
        summary.runs = integerOf(row, 0);
        summary.meanPoints = realOf(row, 1);
        for (size_t i = 0; i < summary.grades.size(); ++i)
            summary.grades[i] = integerOf(row, int(i) + 2);
    });
    return summary;
}

bool JournalReader::changed() {
    if (listener_)
        return !listener_->takeNotifications().empty();
    sqlite::Statement read(*store_.file(), QStringLiteral("PRAGMA data_version"));
    const qint64 version = read.step() ? read.columnInt(0) : 0;
    const bool result = dataVersion_ >= 0 && version != dataVersion_;
    dataVersion_ = version;
    return result;
}

int JournalReader::changeSocket() const {
    return listener_ ? listener_->socket() : -1;
}

} // namespace data::journal

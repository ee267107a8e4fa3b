#include "data/journal/JournalStore.h"

#include "data/Errors.h"
#include "data/Location.h"
#include "data/Row.h"
#include "data/Schema.h"
#include "data/journal/ShownRun.h"
#include "data/pg/PgEngine.h"
#include "data/sqlite/SqliteEngine.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <libpq-fe.h>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace data::journal {

using sqlite::Database;
using sqlite::Statement;

namespace {

// The share of runs, by points, that counts as the strongest pupils (Kelley's upper group).
constexpr double kStrongShare = 0.27;

QString utcText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

QDateTime fromUtcText(const QString& text) {
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// The UTC bounds of local calendar days: [from, to + 1 day).
std::pair<QString, QString> bounds(const RunFilter& filter) {
    const QString low = filter.from ? utcText(filter.from->startOfDay()) : QString();
    const QString high =
        filter.to ? utcText(filter.to->addDays(1).startOfDay()) : QStringLiteral("9999");
    return {low, high};
}

void configureUntrusted(Database& db) {
    // A journal may come from another computer: nothing it carries may run on our statements.
    db.distrustContents();
    db.disableDoubleQuotedStrings();
}

qint64 scalar(const Database& db, const QString& sql) {
    Statement statement(db, sql);
    return statement.step() ? statement.columnInt(0) : 0;
}

QByteArray fingerprint(const Answer& answer) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << answer.questionId << answer.question;
    for (const auto* choices : {&answer.options, &answer.explanations})
        for (const ShownChoice& choice : *choices)
            out << choice.text << choice.correct;
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// A cell as an integer or a text, whatever a journal file from elsewhere stored in it (its
// columns may be declared without a type): a number's text, a text's number where it is one.
qint64 integerOf(const RowData& row, int i) {
    // The cell found once: the statistics read a million rows.
    const CellView cell = row.cellView(i);
    switch (cell.type) {
    case CellType::Integer:
        return cell.integer;
    case CellType::Float:
        return qint64(std::clamp(cell.real, -9.2e18, 9.2e18));
    case CellType::Text:
    case CellType::Blob:
        return cell.bytes.toByteArray().trimmed().toLongLong();
    case CellType::Null:
        break;
    }
    return 0;
}

QString textOf(const RowData& row, int i) {
    switch (row.type(i)) {
    case CellType::Integer:
        return QString::number(row.integer(i));
    case CellType::Float:
        return QString::number(row.real(i));
    case CellType::Text:
    case CellType::Blob:
        return QString::fromUtf8(row.bytes(i));
    case CellType::Null:
        break;
    }
    return QString();
}

// A new journal gets the bank's permissions and group, so that every pupil who may write the
// bank may write the journal too; the engine alone would make it writable by its creator only.
void createLikeBank(const QString& path) {
    struct stat bank {};
    const QByteArray bankPath = QFile::encodeName(
        QFileInfo(path).absoluteDir().filePath(QString::fromLatin1(kBankFileName)));
    if (QFileInfo::exists(path) || ::stat(bankPath.constData(), &bank) != 0)
        return;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, bank.st_mode & 0666);
    if (fd < 0)
        return; // made by another program meanwhile, or not at all: the engine's open tells
    // Either may be refused (a group the user is not in): the file then stays as the umask made it.
    [[maybe_unused]] const int owned = ::fchown(fd, uid_t(-1), bank.st_gid);
    [[maybe_unused]] const int moded = ::fchmod(fd, bank.st_mode & 0666);
    ::close(fd);
}

} // namespace

QString journalPathForBank(const QString& bankPath) {
    return QFileInfo(bankPath).absoluteDir().filePath(QString::fromLatin1(kJournalFileName));
}

namespace {

// The one reading of a stored run's row, from either kind of row.
template <typename Integer, typename Text, typename IsNull>
Run runFrom(Integer integer, Text text, IsNull isNull) {
    Run run;
    RunRecord& r = run.record;
    run.id = integer(0);
    r.uuid = text(1);
    r.started = fromUtcText(text(2));
    r.ended = fromUtcText(text(3));
    r.host = text(4);
    r.login = text(5);
    r.fullName = text(6);
    r.pupil = text(7);
    r.points = int(integer(8));
    if (!isNull(9))
        r.grade = int(integer(9));
    r.finished = integer(10) != 0;
    run.answered = int(integer(11));
    return run;
}

} // namespace

Run runOfRow(const Statement& read) {
    return runFrom([&](int i) { return read.columnInt(i); },
                   [&](int i) { return read.columnText(i); },
                   [&](int i) { return read.isNull(i); });
}

Run runOfRow(const RowData& row) {
    return runFrom([&](int i) { return integerOf(row, i); }, [&](int i) { return textOf(row, i); },
                   [&](int i) { return row.type(i) == CellType::Null; });
}

JournalStore::JournalStore(const QString& path, Mode mode, int busyTimeoutMs) : path_(path) {
    if (Location(path).isServer())
        openServer(busyTimeoutMs);
    else
        openFile(mode, busyTimeoutMs);
}

void JournalStore::openServer(int busyTimeoutMs) {
    auto server = std::make_unique<PgEngine>(path_, busyTimeoutMs);
    server_ = server.get();
    engine_ = std::move(server);
    // The tables server-init makes, in the schema the program reads.
    for (const char* table : kJournalTables) {
        bool present = false;
        engine_->query(QStringLiteral("SELECT to_regclass($1) IS NOT NULL"),
                       {QStringLiteral("public.\"%1\"").arg(QString::fromUtf8(table))},
                       [&](const RowData& row) { present = integerOf(row, 0) != 0; });
        if (!present)
            throw EDatabaseError(QStringLiteral("В базе «%1» нет журнала результатов: создайте "
                                                "его таблицы командой infotest-bank server-init")
                                     .arg(path_));
    }
}

void JournalStore::openFile(Mode mode, int busyTimeoutMs) {
    const QString& path = path_;
    if (mode != Mode::Record && !QFileInfo::exists(path))
        throw EDatabaseError(
            QStringLiteral("Журнала результатов «%1» нет: ещё ни один тест не записан").arg(path));
    if (mode == Mode::Record)
        createLikeBank(path);
    auto file = std::make_unique<SqliteEngine>(
        Database(path, mode == Mode::Record ? Database::Mode::ReadWriteCreate
                       : mode == Mode::Edit ? Database::Mode::ReadWrite
                                            : Database::Mode::ReadOnly));
    db_ = &file->database();
    engine_ = std::move(file);
    db_->setBusyTimeout(busyTimeoutMs);
    configureUntrusted(*db_);
    const qint64 objects = scalar(*db_, QStringLiteral("SELECT count(*) FROM sqlite_schema"));
    if (objects == 0 && mode == Mode::Record) {
        createTables();
        return;
    }
    const QString notJournal =
        QStringLiteral("Файл «%1» не является журналом результатов infotest").arg(path);
    if (scalar(*db_, QStringLiteral("PRAGMA application_id")) != kJournalApplicationId)
        throw EDatabaseError(notJournal);
    const qint64 version = scalar(*db_, QStringLiteral("PRAGMA user_version"));
    if (version > kJournalUserVersion)
        throw EDatabaseError(QStringLiteral("Журнал результатов «%1» записан более новой "
                                            "версией infotest (версия журнала %2, эта программа "
                                            "знает версию %3)")
                                 .arg(path)
                                 .arg(version)
                                 .arg(kJournalUserVersion));
    Statement kind(*db_, QStringLiteral("SELECT \"type\" FROM sqlite_schema WHERE name = ?1"));
    for (const char* table : kJournalTables) {
        kind.reset();
        kind.bindText(1, QString::fromUtf8(table));
        if (!kind.step() || kind.columnText(0) != QLatin1String("table"))
            throw EDatabaseError(notJournal);
    }
    if (version < kJournalUserVersion && mode != Mode::ReadOnly)
        upgrade();
}

void JournalStore::upgrade() {
    sqlite::Transaction transaction(*db_);
    // Another program may have upgraded it while this one waited for the write lock.
    if (scalar(*db_, QStringLiteral("PRAGMA user_version")) < 2)
        db_->exec(QStringLiteral("ALTER TABLE \"Т_Прохождение\" ADD COLUMN %1 BOOLEAN NOT NULL "
                                 "DEFAULT 0; PRAGMA user_version = 2")
                      .arg(sqlite::quoted(QString::fromUtf8(kReportedLoginColumn)))
                      .toUtf8()
                      .constData());
    transaction.commit();
}

JournalStore::~JournalStore() = default;

void JournalStore::createTables() {
    sqlite::Transaction transaction(*db_);
    // Another program may have made them while this one waited for the write lock.
    if (scalar(*db_, QStringLiteral("SELECT count(*) FROM sqlite_schema")) == 0) {
        db_->exec(journalSchema().constData());
        db_->exec(QStringLiteral("PRAGMA application_id = %1")
                      .arg(kJournalApplicationId)
                      .toUtf8()
                      .constData());
        db_->exec(QStringLiteral("PRAGMA user_version = %1")
                      .arg(kJournalUserVersion)
                      .toUtf8()
                      .constData());
    }
    transaction.commit();
}

qint64 JournalStore::shownQuestionId(const Answer& answer) {
    const QByteArray print = fingerprint(answer);
    Statement find(
        *db_, QStringLiteral("SELECT \"id\" FROM \"Т_ПоказанныйВопрос\" WHERE \"Отпечаток\" = ?1"));
    find.bindBlob(1, print);
    if (find.step())
        return find.columnInt(0);
    Statement insert(*db_, QStringLiteral("INSERT INTO \"Т_ПоказанныйВопрос\" (\"Отпечаток\", "
                                          "\"ВопросБанка\", \"Вопрос\") VALUES (?1, ?2, ?3)"));
    insert.bindBlob(1, print);
    insert.bindInt(2, answer.questionId);
    insert.bindText(3, answer.question);
    insert.run();
    const qint64 id = db_->lastInsertRowId();
    for (const auto& [table, column, choices] :
         {std::tuple{"Т_ПоказанныйВариант", "Ответ", &answer.options},
          std::tuple{"Т_ПоказанноеОбъяснение", "Объяснение", &answer.explanations}}) {
        Statement row(*db_, QStringLiteral("INSERT INTO %1 (\"Вопрос\", \"Номер\", %2, "
                                           "\"Правильный\") VALUES (?1, ?2, ?3, ?4)")
                                .arg(sqlite::quoted(QString::fromUtf8(table)),
                                     sqlite::quoted(QString::fromUtf8(column))));
        for (size_t i = 0; i < choices->size(); ++i) {
            row.reset();
            row.bindInt(1, id);
            row.bindInt(2, qint64(i + 1));
            row.bindText(3, (*choices)[i].text);
            row.bindInt(4, (*choices)[i].correct ? 1 : 0);
            row.run();
        }
    }
    return id;
}

QByteArray runToServerJson(const RunRecord& run) {
    const auto choices = [](const ShownChoices& shown) {
        QJsonArray out;
        for (const ShownChoice& choice : shown)
            out.append(QJsonArray{choice.text, choice.correct});
        return out;
    };
    QJsonArray answers;
    for (const Answer& a : run.answers)
        answers.append(
            QJsonObject{{QStringLiteral("Отпечаток"), QString::fromLatin1(fingerprint(a).toHex())},
                        {QStringLiteral("ВопросБанка"), a.questionId},
                        {QStringLiteral("Вопрос"), a.question},
                        {QStringLiteral("Варианты"), choices(a.options)},
                        {QStringLiteral("Объяснения"), choices(a.explanations)},
                        {QStringLiteral("Вариант"), a.chosenOption},
                        {QStringLiteral("Объяснение"), a.chosenExplanation}});
    return QJsonDocument(QJsonObject{{QStringLiteral("Код"), run.uuid},
                                     {QStringLiteral("Начало"), utcText(run.started)},
                                     {QStringLiteral("Конец"), utcText(run.ended)},
                                     {QStringLiteral("Компьютер"), run.host},
                                     {QStringLiteral("Логин"), run.login},
                                     {QStringLiteral("ФИО"), run.fullName},
                                     {QStringLiteral("Ученик"), run.pupil},
                                     {QStringLiteral("Баллы"), run.points},
                                     {QStringLiteral("Оценка"),
                                      run.grade ? QJsonValue(*run.grade) : QJsonValue()},
                                     {QStringLiteral("Завершён"), run.finished},
                                     {QStringLiteral("Ответы"), answers}})
        .toJson(QJsonDocument::Compact);
}

bool storeOnServer(PgEngine& server, const RunRecord& run) {
    if (!run.serverToken.isEmpty()) {
        finishOnServer(server, run);
        return true;
    }
    // Inside a write scope the run would share the fate of the bank's transaction.
    if (server.inTransaction())
        throw EDatabaseError(QStringLiteral("банк вопросов ещё записывается"));
    PgEngine::Parameters parameters;
    parameters.add(runToServerJson(run));
    const PgEngine::Result result =
        server.execParams("SELECT \"Записать_прохождение\"($1::jsonb)", parameters);
    return PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 0)[0] == 't';
}

bool JournalStore::store(const RunRecord& run) {
    if (server_)
        return storeOnServer(*server_, run);
    for (const Answer& answer : run.answers)
        if (answer.chosenOption < 1 || answer.chosenOption > kChoicesPerQuestion ||
            answer.chosenExplanation < 1 || answer.chosenExplanation > kChoicesPerQuestion)
            throw EDatabaseError(
                QStringLiteral("Прохождение %1: выбран несуществующий вариант").arg(run.uuid));
    sqlite::Transaction transaction(*db_);
    Statement insertRun(
        *db_, QStringLiteral("INSERT INTO \"Т_Прохождение\" (\"Код\", \"Начало\", \"Конец\", "
                             "\"Компьютер\", \"Логин\", \"ФИО\", \"Ученик\", \"Баллы\", "
                             "\"Оценка\", \"Завершён\", \"Отвечено\") VALUES (?1, ?2, ?3, ?4, "
                             "?5, ?6, ?7, ?8, ?9, ?10, ?11) ON CONFLICT (\"Код\") DO NOTHING"));
    insertRun.bindText(1, run.uuid);
    insertRun.bindText(2, utcText(run.started));
    insertRun.bindText(3, utcText(run.ended));
    insertRun.bindText(4, run.host);
    insertRun.bindText(5, run.login);
    insertRun.bindText(6, run.fullName);
    insertRun.bindText(7, run.pupil);
    insertRun.bindInt(8, run.points);
    if (run.grade)
        insertRun.bindInt(9, *run.grade);
    else
        insertRun.bindNull(9);
    insertRun.bindInt(10, run.finished ? 1 : 0);
    insertRun.bindInt(11, qint64(run.answers.size()));
    insertRun.run();
    if (db_->changes() == 0)
        return false; // stored before: the commit whose outcome was unknown had gone through
    const qint64 runId = db_->lastInsertRowId();
    Statement insertAnswer(
        *db_, QStringLiteral("INSERT INTO \"Т_Ответ\" (\"Прохождение\", \"Номер\", \"Вопрос\", "
                             "\"Вариант\", \"Объяснение\", \"ВариантВерен\", "
                             "\"ОбъяснениеВерно\") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)"));
    for (size_t i = 0; i < run.answers.size(); ++i) {
        const Answer& answer = run.answers[i];
        const qint64 shown = shownQuestionId(answer);
        insertAnswer.reset();
        insertAnswer.bindInt(1, runId);
        insertAnswer.bindInt(2, qint64(i + 1));
        insertAnswer.bindInt(3, shown);
        insertAnswer.bindInt(4, answer.chosenOption);
        insertAnswer.bindInt(5, answer.chosenExplanation);
        insertAnswer.bindInt(6, answer.optionRight() ? 1 : 0);
        insertAnswer.bindInt(7, answer.explanationRight() ? 1 : 0);
        insertAnswer.run();
    }
    transaction.commit();
    return true;
}

std::unordered_map<qint64, JournalStore::ShownCopy>
JournalStore::readShown(const std::vector<qint64>& shownIds) const {
    // A few statements for many copies rather than three a copy: each is a round trip to a
    // server. Lists of a bounded length, which every engine takes.
    constexpr size_t kListLength = 500;
    std::unordered_map<qint64, ShownCopy> copies;
    for (size_t first = 0; first < shownIds.size(); first += kListLength) {
        std::vector<QVariant> ids;
        QStringList marks;
        for (size_t i = first; i < std::min(shownIds.size(), first + kListLength); ++i) {
            ids.emplace_back(shownIds[i]);
            marks << QStringLiteral("$%1").arg(ids.size());
        }
        const QString list = marks.join(QStringLiteral(", "));
        engine_->query(QStringLiteral("SELECT \"id\", \"ВопросБанка\", \"Вопрос\" FROM "
                                      "\"Т_ПоказанныйВопрос\" WHERE \"id\" IN (%1)")
                           .arg(list),
                       ids, [&](const RowData& row) {
                           ShownCopy& copy = copies[integerOf(row, 0)];
                           copy.questionId = integerOf(row, 1);
                           copy.question = textOf(row, 2);
                       });
        for (const auto& [table, column, choicesOf] :
             {std::tuple{kShownOptionTable, "Ответ", &ShownCopy::options},
              std::tuple{kShownExplanationTable, "Объяснение", &ShownCopy::explanations}}) {
            engine_->query(
                QStringLiteral("SELECT \"Вопрос\", \"Номер\", \"%1\", \"Правильный\" FROM \"%2\" "
                               "WHERE \"Вопрос\" IN (%3)")
                    .arg(QString::fromUtf8(column), QString::fromUtf8(table), list),
                // The member passed by name: clang 14 cannot capture a structured binding.
                ids, [&, choices = choicesOf](const RowData& row) {
                    const qint64 number = integerOf(row, 1);
                    if (number >= 1 && number <= kChoicesPerQuestion)
                        (copies[integerOf(row, 0)].*
                         choices)[size_t(number - 1)] = {textOf(row, 2), integerOf(row, 3) != 0};
                });
        }
    }
    return copies;
}

bool JournalStore::hasReportedLogin() const {
    const QString sql =
        server_ ? QStringLiteral("SELECT count(*) FROM pg_catalog.pg_attribute WHERE attrelid = "
                                 "to_regclass('public.\"Т_Прохождение\"') AND attname = $1 AND "
                                 "NOT attisdropped")
                : QStringLiteral("SELECT count(*) FROM pragma_table_info('Т_Прохождение') WHERE "
                                 "name = $1");
    qint64 found = 0;
    engine_->query(sql, {QString::fromUtf8(kReportedLoginColumn)},
                   [&](const RowData& row) { found = integerOf(row, 0); });
    return found > 0;
}

std::vector<Run> JournalStore::runs(const RunFilter& filter) const {
    const auto [low, high] = bounds(filter);
    // Only the values the query names: a server cannot type a value it is not told the use of.
    QString sql =
        QStringLiteral("SELECT %1, %2 FROM \"Т_Прохождение\" WHERE \"Начало\" >= $1 "
                       "AND \"Начало\" < $2")
            .arg(QString::fromUtf8(kStoredRunColumns),
                 hasReportedLogin()
                     ? QStringLiteral("\"%1\"").arg(QString::fromUtf8(kReportedLoginColumn))
                     : QStringLiteral("0 = 1"));
    std::vector<QVariant> values{low, high};
    if (filter.finished) {
        sql += QStringLiteral(" AND \"Завершён\" = $3");
        values.emplace_back(*filter.finished);
    }
    sql += QStringLiteral(" ORDER BY \"Начало\", \"id\"");
    // Case folding in the program, not in the engine, whose LIKE folds only ASCII letters.
    const QString who = filter.who.toCaseFolded();
    std::vector<Run> result;
    engine_->query(sql, values, [&](const RowData& row) {
        Run run = runOfRow(row);
        run.loginReported = integerOf(row, kStoredRunColumnCount) != 0;
        const RunRecord& r = run.record;
        if (!who.isEmpty() && !r.pupil.toCaseFolded().contains(who) &&
            !r.fullName.toCaseFolded().contains(who) && !r.login.toCaseFolded().contains(who) &&
            !r.host.toCaseFolded().contains(who))
            return;
        result.push_back(std::move(run));
    });
    return result;
}

std::vector<Answer> JournalStore::answers(qint64 runId) const {
    std::vector<Answer> result;
    std::vector<qint64> shown;
    engine_->query(QStringLiteral("SELECT q.\"id\", q.\"ВопросБанка\", q.\"Вопрос\", "
                                  "a.\"Вариант\", a.\"Объяснение\" FROM \"Т_Ответ\" a JOIN "
                                  "\"Т_ПоказанныйВопрос\" q ON q.\"id\" = a.\"Вопрос\" "
                                  "WHERE a.\"Прохождение\" = $1 ORDER BY a.\"Номер\""),
                   {runId}, [&](const RowData& row) {
                       Answer answer;
                       answer.questionId = integerOf(row, 1);
                       answer.question = textOf(row, 2);
                       // A file from elsewhere may hold anything: a choice out of range reads
                       // as the first.
                       answer.chosenOption =
                           int(std::clamp<qint64>(integerOf(row, 3), 1, kChoicesPerQuestion));
                       answer.chosenExplanation =
                           int(std::clamp<qint64>(integerOf(row, 4), 1, kChoicesPerQuestion));
                       shown.push_back(integerOf(row, 0));
                       result.push_back(std::move(answer));
                   });
    std::unordered_map<qint64, ShownCopy> copies = readShown(shown);
    for (size_t i = 0; i < result.size(); ++i) {
        result[i].options = copies[shown[i]].options;
        result[i].explanations = copies[shown[i]].explanations;
    }
    return result;
}

namespace {

// The finished runs of a filter, as a condition on the runs' table "r", with its values.
struct RunCondition {
    QString sql;
    std::vector<QVariant> values;
};

RunCondition finishedRuns(const RunFilter& filter) {
    // Only the bounds the filter sets: a bound that covers every run would still make the engine
    // read the runs through the index of start times, one random read a run.
    const auto [low, high] = bounds(filter);
    RunCondition runs{QStringLiteral("r.\"Завершён\""), {}};
    if (filter.from) {
        runs.values.emplace_back(low);
        runs.sql += QStringLiteral(" AND r.\"Начало\" >= $%1").arg(runs.values.size());
    }
    if (filter.to) {
        runs.values.emplace_back(high);
        runs.sql += QStringLiteral(" AND r.\"Начало\" < $%1").arg(runs.values.size());
    }
    return runs;
}

// The points from which a run belongs to the strongest pupils.
qint64 strongPoints(Engine& engine, const RunCondition& runs) {
    qint64 runCount = 0;
    engine.query(QStringLiteral("SELECT count(*) FROM \"Т_Прохождение\" r WHERE %1").arg(runs.sql),
                 runs.values, [&](const RowData& row) { runCount = integerOf(row, 0); });
    if (runCount == 0)
        return 0;
    std::vector<QVariant> values = runs.values;
    values.emplace_back(
        std::max<qint64>(0, qint64(std::ceil(kStrongShare * double(runCount))) - 1));
    qint64 points = 0;
    engine.query(QStringLiteral("SELECT r.\"Баллы\" FROM \"Т_Прохождение\" r WHERE %1 "
                                "ORDER BY r.\"Баллы\" DESC LIMIT 1 OFFSET $%2")
                     .arg(runs.sql)
                     .arg(values.size()),
                 values, [&](const RowData& row) { points = integerOf(row, 0); });
    return points;
}

// The sums of one shown question's answers, from which its figures follow.
struct QuestionSums {
    QuestionStats stats;
    // x: a right option; y: the points of the run's other questions.
    double sy = 0, sxy = 0, syy = 0;
};

// Pearson's r over the sums; x is 0 or 1, so the sum of x² is the sum of x.
std::optional<double> itemRestCorrelation(const QuestionSums& sums) {
    const double n = double(sums.stats.drawn);
    const double sx = double(sums.stats.rightOptions);
    const double varX = n * sx - sx * sx;
    const double varY = n * sums.syy - sums.sy * sums.sy;
    if (varX > 0 && varY > 0)
        return (n * sums.sxy - sx * sums.sy) / std::sqrt(varX * varY);
    return std::nullopt;
}

// The file's engine would sort every answer for a GROUP BY, which costs it twice as much as
// summing them here as they come. CROSS JOIN makes it read the runs in their stored order, each
// run's answers next to one another; it would rather go through the questions' index and read
// the runs at random.
std::unordered_map<qint64, QuestionSums> sumAnswersHere(Engine& engine, const RunCondition& runs,
                                                        qint64 strongFrom) {
    std::unordered_map<qint64, QuestionSums> byShown;
    engine.query(
        QStringLiteral("SELECT a.\"Вопрос\", a.\"Вариант\", a.\"Объяснение\", CASE WHEN "
                       "a.\"ВариантВерен\" THEN 1 ELSE 0 END, CASE WHEN a.\"ОбъяснениеВерно\" "
                       "THEN 1 ELSE 0 END, r.\"Баллы\" FROM \"Т_Прохождение\" r CROSS JOIN "
                       "\"Т_Ответ\" a WHERE a.\"Прохождение\" = r.\"id\" AND %1")
            .arg(runs.sql),
        runs.values, [&](const RowData& row) {
            QuestionSums& sums = byShown[integerOf(row, 0)];
            QuestionStats& s = sums.stats;
            const qint64 option = integerOf(row, 1);
            const qint64 explanation = integerOf(row, 2);
            const qint64 x = integerOf(row, 3);
            const qint64 ex = integerOf(row, 4);
            const qint64 points = integerOf(row, 5);
            ++s.drawn;
            s.rightOptions += x;
            s.rightExplanations += ex;
            if (option >= 1 && option <= kChoicesPerQuestion) {
                ++s.optionChosen[size_t(option - 1)];
                if (points >= strongFrom)
                    ++s.optionChosenByStrong[size_t(option - 1)];
            }
            if (explanation >= 1 && explanation <= kChoicesPerQuestion)
                ++s.explanationChosen[size_t(explanation - 1)];
            const double y = double(points) - double(x + ex);
            sums.sy += y;
            sums.sxy += double(x) * y;
            sums.syy += y * y;
        });
    return byShown;
}

// A column of counts for each choice a pupil may make in the column, among the answers that
// also meet the condition.
QString choiceCounts(const char* column, const QString& condition) {
    QStringList counts;
    for (int choice = 1; choice <= kChoicesPerQuestion; ++choice)
        counts << QStringLiteral("count(*) FILTER (WHERE %1 = %2%3)")
                      .arg(QString::fromLatin1(column))
                      .arg(choice)
                      .arg(condition);
    return counts.join(QStringLiteral(", "));
}

// The same sums made by a server, which would otherwise send every answer over the network:
// only a row a question travels.
std::unordered_map<qint64, QuestionSums>
sumAnswersOnServer(Engine& engine, const RunCondition& runs, qint64 strongFrom) {
    std::vector<QVariant> values = runs.values;
    values.emplace_back(strongFrom);
    const QString sql =
        QStringLiteral(
            "SELECT q, count(*), sum(x), sum(ex), %1, %2, %3, sum(y), sum(x * y), sum(y * y) "
            "FROM (SELECT a.\"Вопрос\" AS q, a.\"Вариант\" AS o, a.\"Объяснение\" AS e, "
            "a.\"ВариантВерен\"::integer AS x, a.\"ОбъяснениеВерно\"::integer AS ex, "
            "r.\"Баллы\" AS p, r.\"Баллы\"::double precision - a.\"ВариантВерен\"::integer - "
            "a.\"ОбъяснениеВерно\"::integer AS y FROM \"Т_Прохождение\" r JOIN \"Т_Ответ\" a "
            "ON a.\"Прохождение\" = r.\"id\" WHERE %4) AS answer GROUP BY q")
            .arg(choiceCounts("o", QString()), choiceCounts("e", QString()),
                 choiceCounts("o", QStringLiteral(" AND p >= $%1").arg(values.size())), runs.sql);
    std::unordered_map<qint64, QuestionSums> byShown;
    engine.query(sql, values, [&](const RowData& row) {
        int column = 0;
        const auto next = [&] { return integerOf(row, column++); };
        QuestionSums& sums = byShown[next()];
        QuestionStats& s = sums.stats;
        s.drawn = next();
        s.rightOptions = next();
        s.rightExplanations = next();
        for (auto* counts : {&s.optionChosen, &s.explanationChosen, &s.optionChosenByStrong})
            for (qint64& count : *counts)
                count = next();
        for (double* sum : {&sums.sy, &sums.sxy, &sums.syy})
            *sum = row.real(column++);
    });
    return byShown;
}

// Each question's figures from its sums.
std::vector<QuestionStats> statsOf(std::unordered_map<qint64, QuestionSums>&& byShown) {
    std::vector<QuestionStats> result;
    result.reserve(byShown.size());
    for (auto& [shownId, sums] : byShown) {
        sums.stats.shownId = shownId;
        sums.stats.discrimination = itemRestCorrelation(sums);
        result.push_back(std::move(sums.stats));
    }
    return result;
}

} // namespace

std::vector<QuestionStats> JournalStore::questionStats(const RunFilter& filter) const {
    const RunCondition runs = finishedRuns(filter);
    const qint64 strongFrom = strongPoints(*engine_, runs);
    std::vector<QuestionStats> result =
        statsOf(server_ ? sumAnswersOnServer(*engine_, runs, strongFrom)
                        : sumAnswersHere(*engine_, runs, strongFrom));
    addShownTexts(result);
    // The bank's order, and a mended question after the one it replaced.
    std::sort(result.begin(), result.end(), [](const QuestionStats& a, const QuestionStats& b) {
        return std::pair(a.questionId, a.shownId) < std::pair(b.questionId, b.shownId);
    });
    return result;
}

void JournalStore::addShownTexts(std::vector<QuestionStats>& stats) const {
    std::vector<qint64> shownIds;
    for (const QuestionStats& s : stats)
        shownIds.push_back(s.shownId);
    std::unordered_map<qint64, ShownCopy> copies = readShown(shownIds);
    for (QuestionStats& s : stats) {
        ShownCopy& copy = copies[s.shownId];
        s.questionId = copy.questionId;
        s.question = std::move(copy.question);
        s.options = std::move(copy.options);
        s.explanations = std::move(copy.explanations);
    }
}

qint64 JournalStore::removeBefore(const QDate& day, bool dryRun) {
    const QString bound = utcText(day.startOfDay());
    const QString old =
        QStringLiteral("SELECT \"id\" FROM \"Т_Прохождение\" WHERE \"Начало\" < $1");
    engine_->begin();
    try {
        // On a server, in the order its recording function takes them, so that a run being
        // recorded meanwhile either is stored before or finds no copy of a question removed
        // under it. The file's writer holds the whole file.
        if (server_)
            engine_->query(QStringLiteral("LOCK TABLE \"Т_Прохождение\", \"Т_ПоказанныйВопрос\", "
                                          "\"Т_Ответ\" IN SHARE ROW EXCLUSIVE MODE"),
                           {});
        qint64 runs = 0;
        engine_->query(QStringLiteral("SELECT count(*) FROM (%1) AS old").arg(old), {bound},
                       [&](const RowData& row) { runs = integerOf(row, 0); });
        if (dryRun || runs == 0) {
            engine_->rollback();
            return runs;
        }
        engine_->query(
            QStringLiteral("DELETE FROM \"Т_Ответ\" WHERE \"Прохождение\" IN (%1)").arg(old),
            {bound});
        engine_->query(QStringLiteral("DELETE FROM \"Т_Прохождение\" WHERE \"Начало\" < $1"),
                       {bound});
        for (const char* sql : kRemoveUnansweredCopies)
            engine_->query(QString::fromUtf8(sql), {});
        // A server that scores its runs keeps those it started; the old ones go with the rest.
        if (server_) {
            const QString started =
                QStringLiteral("public.\"%1\"").arg(QString::fromUtf8(kStartedRunTable));
            bool present = false;
            engine_->query(QStringLiteral("SELECT to_regclass($1) IS NOT NULL"), {started},
                           [&](const RowData& row) { present = integerOf(row, 0) != 0; });
            if (present)
                engine_->query(QStringLiteral("DELETE FROM %1 WHERE \"Начало\" < $1::timestamptz")
                                   .arg(started),
                               {bound});
            // Delivered at the commit: the teachers' windows read their runs again.
            engine_->query(QStringLiteral("SELECT pg_notify($1, '')"),
                           {QString::fromUtf8(kJournalChannel)});
        }
        engine_->commit();
        return runs;
    } catch (...) {
        engine_->rollback();
        throw;
    }
}

std::vector<Flag> flagsOf(const QuestionStats& s) {
    std::vector<Flag> flags;
    if (s.drawn < kFlagMinimumDraws)
        return flags;
    // The key is suspect when the strongest pupils prefer a wrong option to every right one,
    // or when the pupils who chose the key did worse on the rest of the test.
    qint64 keyByStrong = 0;
    qint64 wrongByStrong = 0;
    for (size_t i = 0; i < s.options.size(); ++i) {
        qint64& most = s.options[i].correct ? keyByStrong : wrongByStrong;
        most = std::max(most, s.optionChosenByStrong[i]);
    }
    if (wrongByStrong > keyByStrong || (s.discrimination && *s.discrimination < 0))
        flags.push_back(Flag::LikelyWrongKey);
    if (s.facility() >= kTooEasyFacility)
        flags.push_back(Flag::TooEasy);
    else if (s.facility() <= kTooHardFacility)
        flags.push_back(Flag::TooHard);
    return flags;
}

QString flagText(Flag flag) {
    switch (flag) {
    case Flag::LikelyWrongKey:
        return QStringLiteral("вероятно, неверно отмечен правильный ответ");
    case Flag::TooEasy:
        return QStringLiteral("слишком лёгкий (верно отвечают %1 % и больше)")
            .arg(qRound(kTooEasyFacility * 100));
    case Flag::TooHard:
        return QStringLiteral("слишком трудный (верно отвечают %1 % и меньше)")
            .arg(qRound(kTooHardFacility * 100));
    }
    return QString();
}

} // namespace data::journal

#include "data/journal/JournalReader.h"

#include <QTimeZone>
#include <sqlite3.h>

namespace data::journal {

using sqlite::Statement;

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

// The days of a filter are local calendar days, both ends included, as JournalStore reads them.
QString utcText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

constexpr const char* kWhere =
    R"sql( WHERE "Начало" >= ?1 AND "Начало" < ?2 AND (?3 IS NULL OR "Завершён" = ?3) AND (?4 = '' OR instr(infotest_fold("Ученик"), ?4) OR instr(infotest_fold("ФИО"), ?4) OR instr(infotest_fold("Логин"), ?4) OR instr(infotest_fold("Компьютер"), ?4)))sql";

void bindFilter(Statement& statement, const RunFilter& filter) {
    statement.bindText(1, filter.from ? utcText(filter.from->startOfDay()) : QString());
    statement.bindText(2, filter.to ? utcText(filter.to->addDays(1).startOfDay())
                                    : QStringLiteral("9999"));
    if (filter.finished)
        statement.bindInt(3, *filter.finished ? 1 : 0);
    else
        statement.bindNull(3);
    statement.bindText(4, filter.who.toCaseFolded());
}

// What each column sorts by: the stored texts as they are, so that sorting a school year's runs
// costs no conversion per row.
const char* sortKey(RunColumn column) {
    switch (column) {
    case RunColumn::Started:
        return R"sql("Начало")sql";
    case RunColumn::Host:
        return R"sql("Компьютер")sql";
    case RunColumn::Login:
        return R"sql("Логин")sql";
    case RunColumn::Name:
        return R"sql(coalesce(nullif("Ученик", ''), nullif("ФИО", ''), "Логин"))sql";
    case RunColumn::Duration:
        return R"sql(strftime('%s', "Конец") - strftime('%s', "Начало"))sql";
    case RunColumn::Points:
        return R"sql("Баллы")sql";
    case RunColumn::Grade:
        return R"sql(coalesce("Оценка", 0))sql";
    case RunColumn::Finished:
        return R"sql("Завершён")sql";
    }
    return R"sql("Начало")sql";
}

} // namespace

JournalReader::JournalReader(const QString& path)
    : store_(path, JournalStore::Mode::ReadOnly), db_(path, sqlite::Database::Mode::ReadOnly) {
    sqlite3* h = db_.handle();
    // The file may come from another computer: nothing it carries may run on our statements.
    db_.distrustContents();
    db_.disableDoubleQuotedStrings();
    db_.exec("PRAGMA query_only = 1");
    // Direct only: no view or trigger a file might carry can call it.
    if (sqlite3_create_function_v2(h, "infotest_fold", 1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY, nullptr,
                                   foldFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
        db_.raise();
    changed();
}

JournalReader::~JournalReader() = default;

std::vector<Run> JournalReader::runs(const RunFilter& filter, const RunOrder& order, qint64 offset,
                                     qint64 limit) const {
    const QString direction = order.descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    Statement read(db_, QStringLiteral(R"sql(SELECT %1 FROM "Т_Прохождение")sql")
                                .arg(QString::fromUtf8(kStoredRunColumns)) +
                            QString::fromUtf8(kWhere) + QStringLiteral(" ORDER BY ") +
                            QString::fromUtf8(sortKey(order.column)) + direction +
                            QStringLiteral(R"sql(, "id")sql") + direction +
                            QStringLiteral(" LIMIT ?5 OFFSET ?6"));
    bindFilter(read, filter);
    read.bindInt(5, limit);
    read.bindInt(6, offset);
    std::vector<Run> result;
    while (read.step())
        result.push_back(runOfRow(read));
    return result;
}

RunSummary JournalReader::summary(const RunFilter& filter) const {
    // The mean of finished runs only: an abandoned run's points stop where it stopped.
    Statement read(
        db_,
        QStringLiteral(
            R"sql(SELECT count(*), avg(CASE WHEN "Завершён" THEN "Баллы" END), total("Оценка" = 5), total("Оценка" = 4), total("Оценка" = 3), total("Оценка" = 2) FROM "Т_Прохождение")sql") +
            QString::fromUtf8(kWhere));
    bindFilter(read, filter);
    RunSummary summary;
    if (read.step()) {
        summary.runs = read.columnInt(0);
        summary.meanPoints = read.columnDouble(1);
        for (size_t i = 0; i < summary.grades.size(); ++i)
            summary.grades[i] = qint64(read.columnDouble(int(i) + 2));
    }
    return summary;
}

bool JournalReader::changed() {
    Statement read(db_, QStringLiteral("PRAGMA data_version"));
    const qint64 version = read.step() ? read.columnInt(0) : 0;
    const bool result = dataVersion_ >= 0 && version != dataVersion_;
    dataVersion_ = version;
    return result;
}

} // namespace data::journal

#include "cli/JournalCommands.h"

#include "cli/BankFile.h"
#include "cli/Cli.h"
#include "data/Location.h"
#include "data/journal/JournalStore.h"
#include "reports/JournalExport.h"
#include "reports/JournalReport.h"

#include <QLocale>

namespace bank {

using data::journal::JournalStore;
using data::journal::QuestionStats;
using data::journal::RunFilter;

namespace {

// A date as the commands take it: 2026-09-01 or 01.09.2026; throws EToolError naming the option.
QDate parseDate(const QString& option, const QString& text);

// What journal-clear says it removed, or would remove with --dry-run, of the runs begun before
// the day.
QString clearedRunsText(const QDate& day, qint64 removed, bool dryRun);

// The teacher's commands may wait for a pupil's program that is writing a run.
constexpr int kBusyTimeoutMs = 5000;

const QString kFrom = QStringLiteral("--from");
const QString kTo = QStringLiteral("--to");
const QString kWho = QStringLiteral("--who");
const QString kJournal = QStringLiteral("--journal");
const QString kCsv = QStringLiteral("--csv");
const QString kXlsx = QStringLiteral("--xlsx");
const QString kBefore = QStringLiteral("--before");

std::optional<QString> value(const Context& c, const QString& name) {
    const auto found = c.values.find(name);
    return found == c.values.end() ? std::nullopt : std::optional(found->second);
}

QString journalPath(const Context& c) {
    if (const auto journal = value(c, kJournal))
        return *journal;
    // A bank on a server keeps its journal in the same database.
    if (data::Location(c.args[0]).isServer())
        return c.args[0];
    return data::journal::journalPathForBank(c.args[0]);
}

// Opens the journal, telling a busy or broken journal from a bank in the message.
template <typename F> auto withJournal(const Context& c, JournalStore::Mode mode, F&& f) {
    const QString path = journalPath(c);
    try {
        JournalStore journal(path, mode, kBusyTimeoutMs);
        return f(journal);
    } catch (const EEngineError& e) {
        throw EToolError(QStringLiteral("журнал результатов «%1»: %2").arg(path, e.message()));
    }
}

RunFilter filterOf(const Context& c) {
    RunFilter filter;
    if (const auto from = value(c, kFrom))
        filter.from = parseDate(kFrom, *from);
    if (const auto to = value(c, kTo))
        filter.to = parseDate(kTo, *to);
    filter.who = value(c, kWho).value_or(QString());
    return filter;
}

QString periodText(const RunFilter& filter) {
    const auto day = [](const QDate& d) { return d.toString(QStringLiteral("dd.MM.yyyy")); };
    if (filter.from && filter.to)
        return QStringLiteral("за %1–%2").arg(day(*filter.from), day(*filter.to));
    if (filter.from)
        return QStringLiteral("с %1").arg(day(*filter.from));
    if (filter.to)
        return QStringLiteral("по %1").arg(day(*filter.to));
    return QString();
}

QString percent(double share) {
    return QStringLiteral("%1 %").arg(qRound(share * 100));
}

int results(Context& c) {
    const auto csv = value(c, kCsv);
    const auto xlsx = value(c, kXlsx);
    if (csv && xlsx)
        throw EToolError(QStringLiteral("укажите одно из --csv и --xlsx"));
    const RunFilter filter = filterOf(c);
    const bool perAnswer = c.switches.contains(QStringLiteral("--answers"));
    const auto [sheet, runCount] = withJournal(c, JournalStore::Mode::ReadOnly, [&](auto& j) {
        const auto runs = j.runs(filter);
        return std::pair(perAnswer ? journal::answersSheet(j, runs) : journal::runsSheet(runs),
                         runs.size());
    });
    if (csv)
        journal::writeCsv(sheet, *csv);
    else if (xlsx)
        journal::writeXlsx(sheet, *xlsx);
    else
        c.out.write(journal::terminalTable(sheet).toUtf8());
    const QString summary =
        QStringLiteral("Прохождений: %1%2.")
            .arg(runCount)
            .arg(perAnswer ? QStringLiteral(", строк ответов: %1").arg(sheet.rows.size())
                           : QString());
    if (csv || xlsx)
        writeLine(c.out, summary + QStringLiteral(" Записано в «%1».").arg(csv ? *csv : *xlsx));
    else
        writeLine(c.err, summary);
    return kExitOk;
}

QString choiceCounts(const data::journal::ShownChoices& choices,
                     const std::array<qint64, data::kChoicesPerQuestion>& counts) {
    QStringList parts;
    for (size_t i = 0; i < choices.size(); ++i)
        parts << QStringLiteral("%1%2 — %3")
                     .arg(i + 1)
                     .arg(choices[i].correct ? QStringLiteral("✓") : QString())
                     .arg(counts[i]);
    return parts.join(QStringLiteral(", "));
}

int stats(Context& c) {
    const RunFilter filter = filterOf(c);
    std::vector<QuestionStats> all = withJournal(c, JournalStore::Mode::ReadOnly,
                                                 [&](auto& j) { return j.questionStats(filter); });
    std::map<qint64, QString> current;
    for (const StoredQuestion& q : readBank(c.args[0]).questions)
        current[q.id] = textOf(q.text);
    // Those to look at first.
    std::stable_partition(all.begin(), all.end(), [](const QuestionStats& s) {
        return !data::journal::flagsOf(s).empty();
    });
    const QLocale russian(QLocale::Russian);
    qint64 flagged = 0;
    for (const QuestionStats& s : all) {
        const std::vector<data::journal::Flag> flags = data::journal::flagsOf(s);
        flagged += flags.empty() ? 0 : 1;
        const auto now = current.find(s.questionId);
        writeLine(c.out, QStringLiteral("Вопрос %1: %2").arg(s.questionId).arg(shown(s.question)));
        if (now == current.end())
            writeLine(c.out, QStringLiteral("  в банке его больше нет"));
        else if (now->second != s.question)
            writeLine(c.out, QStringLiteral("  сейчас в банке: %1").arg(shown(now->second)));
        writeLine(c.out, QStringLiteral("  показан: %1; верных ответов: %2, верных пояснений: %3")
                             .arg(s.drawn)
                             .arg(percent(s.facility()), percent(s.explanationFacility())));
        writeLine(c.out, QStringLiteral("  дискриминация (скорректированная точечно-бисериальная "
                                        "корреляция ответа с остальными баллами): %1")
                             .arg(s.discrimination ? russian.toString(*s.discrimination, 'f', 2)
                                                   : QStringLiteral("не определена")));
        writeLine(
            c.out,
            QStringLiteral("  выбраны ответы: %1").arg(choiceCounts(s.options, s.optionChosen)));
        writeLine(c.out, QStringLiteral("  выбраны пояснения: %1")
                             .arg(choiceCounts(s.explanations, s.explanationChosen)));
        for (data::journal::Flag flag : flags)
            writeLine(c.out, QStringLiteral("  ПРОВЕРЬТЕ: %1").arg(data::journal::flagText(flag)));
    }
    writeLine(c.out,
              QStringLiteral("Вопросов: %1 (по завершённым прохождениям; ✓ — отмечен верным), "
                             "стоит проверить: %2.")
                  .arg(all.size())
                  .arg(flagged));
    return kExitOk;
}

int report(Context& c) {
    const RunFilter filter = filterOf(c);
    const auto [runs, stats] = withJournal(c, JournalStore::Mode::ReadOnly, [&](auto& j) {
        return std::pair(j.runs(filter), j.questionStats(filter));
    });
    journal::writeReport(runs, stats, c.args[1],
                         {data::Location(c.args[0]).name(), periodText(filter)});
    writeLine(c.out,
              QStringLiteral("Отчёт о %1 записан в «%2».")
                  .arg(plural(qint64(runs.size()), "прохождении", "прохождениях", "прохождениях"),
                       c.args[1]));
    return kExitOk;
}

int journalClear(Context& c) {
    const auto before = value(c, kBefore);
    if (!before)
        throw EToolError(QStringLiteral("укажите --before ДАТА: прохождения, начатые до неё, "
                                        "удаляются"));
    const QDate day = parseDate(kBefore, *before);
    const bool dryRun = c.switches.contains(QStringLiteral("--dry-run"));
    const qint64 removed = withJournal(c, JournalStore::Mode::Edit,
                                       [&](auto& j) { return j.removeBefore(day, dryRun); });
    writeLine(c.out, clearedRunsText(day, removed, dryRun));
    return kExitOk;
}

QString clearedRunsText(const QDate& day, qint64 removed, bool dryRun) {
    return (dryRun ? QStringLiteral("Будет удалено прохождений, начатых до %1: %2 "
                                    "(--dry-run: ничего не удалено).")
                   : QStringLiteral("Удалено прохождений, начатых до %1: %2."))
        .arg(day.toString(QStringLiteral("dd.MM.yyyy")))
        .arg(removed);
}

QDate parseDate(const QString& option, const QString& text) {
    for (const QString& format : {QStringLiteral("yyyy-MM-dd"), QStringLiteral("dd.MM.yyyy")}) {
        const QDate date = QDate::fromString(text, format);
        if (date.isValid())
            return date;
    }
    throw EToolError(
        QStringLiteral("%1 «%2»: ожидается дата вида 2026-09-01 или 01.09.2026").arg(option, text));
}

} // namespace

void addJournalCommands(std::map<QString, Command>& commands) {
    const QStringList period = {kFrom, kTo, kJournal};
    commands.emplace(QStringLiteral("results"),
                     Command{1,
                             1,
                             "results ФАЙЛ [--from ДАТА] [--to ДАТА] [--who ТЕКСТ] [--answers] "
                             "[--csv ВЫХОД.csv | --xlsx ВЫХОД.xlsx] [--journal ЖУРНАЛ]",
                             results,
                             {QStringLiteral("--answers")},
                             period + QStringList{kWho, kCsv, kXlsx}});
    commands.emplace(
        QStringLiteral("stats"),
        Command{
            1, 1, "stats ФАЙЛ [--from ДАТА] [--to ДАТА] [--journal ЖУРНАЛ]", stats, {}, period});
    commands.emplace(QStringLiteral("report"),
                     Command{2,
                             2,
                             "report ФАЙЛ ВЫХОД.pdf [--from ДАТА] [--to ДАТА] [--journal ЖУРНАЛ]",
                             report,
                             {},
                             period});
    commands.emplace(QStringLiteral("journal-clear"),
                     Command{1,
                             1,
                             "journal-clear ФАЙЛ --before ДАТА [--dry-run] [--journal ЖУРНАЛ]",
                             journalClear,
                             {QStringLiteral("--dry-run")},
                             {kBefore, kJournal}});
}

} // namespace bank

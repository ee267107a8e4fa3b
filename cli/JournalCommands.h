#pragma once

#include "cli/Command.h"

#include <QDate>
#include <map>
#include <optional>

namespace bank {

// The teacher's commands on the results journal: results, stats, report, journal-clear.
void addJournalCommands(std::map<QString, Command>& commands);

// A date as the commands take it: 2026-09-01 or 01.09.2026; throws EToolError naming the option.
QDate parseDate(const QString& option, const QString& text);

// What journal-clear says it removed, or would remove with --dry-run, of the runs begun before
// the day.
QString clearedRunsText(const QDate& day, qint64 removed, bool dryRun);

} // namespace bank

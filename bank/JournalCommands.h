#pragma once

#include "bank/Command.h"

#include <QDate>
#include <map>
#include <optional>

namespace bank {

// The teacher's commands on the results journal: results, stats, report, journal-clear.
void addJournalCommands(std::map<QString, Command>& commands);

// A date as the commands take it: 2026-09-01 or 01.09.2026; throws EToolError naming the option.
QDate parseDate(const QString& option, const QString& text);

} // namespace bank

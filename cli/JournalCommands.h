#pragma once

#include "cli/Command.h"

#include <QDate>
#include <map>
#include <optional>

namespace bank {

// The teacher's commands on the results journal: results, stats, report, journal-clear.
void addJournalCommands(std::map<QString, Command>& commands);

} // namespace bank

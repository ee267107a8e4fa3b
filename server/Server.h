#pragma once

#include "core/StoredBank.h"
#include "core/ToolError.h"
#include "data/journal/JournalStore.h"
#include "data/pg/Pg.h"

#include <QString>
#include <QStringList>
#include <vector>

// A bank on a school's server: the tables, the roles and their rights, and the bank tool's
// commands there. The program itself reaches the server through the data layer.
namespace bank::server {

// The results journal's tables, as the journal file names them.
using data::journal::kJournalTables;

// Connects the bank tool to a server. A URI that carries a password is refused: a command line
// is visible to every user.
data::pg::Connection connect(const QString& url);

// A server failure as the user should read it: what it means for the bank and what to do.
QString explainServerError(const data::pg::EServerError& e, const QString& bank);

struct InitReport {
    QStringList lines; // what was made and what was found already there, for the user
};

// Makes the bank's and the journal's tables in the database the URL names (a part found
// complete is kept with its rows), the two roles when missing, and their rights: teachers may
// do everything with the rows; pupils read the bank without its marks and number, start and
// finish their runs through the functions of ServerRuns.h, which score them on the server.
// All in one transaction: on a failure nothing is changed.
InitReport initServer(const QString& url, const QString& teachers, const QString& pupils);

// The bank's tables alone, with no roles; refuses when any of them is there.
void createBank(const QString& url);

StoredBank readBank(const QString& url);
BankCounts countBank(const QString& url);
qint64 importQuestions(const QString& url, const std::vector<Question>& questions,
                       bool allowDuplicates);

} // namespace bank::server

#pragma once

#include "data/sqlite/Sqlite.h"

#include <QString>
#include <QStringList>
#include <map>

namespace testsupport {

// A bank that carries code or schema tricks: triggers that would run on our writes, a view or a
// virtual table in place of a table, computed fields. Each is made by running its SQL on a bank
// of twelve standard questions.
struct HostileBank {
    const char* name;
    QString sql;
    // What start-up says (the table object's name first, no closing full stop); empty when the
    // program opens the bank and simply never runs what it carries.
    QString refusal;
    // The objects the bank tool's check names as ignored.
    QStringList listed;
};

// Adds the columns "sql", "refusal" and "listed" and one row per hostile bank.
void addHostileBankRows();

// Every row of every table of the file (the hidden tables of a virtual one included, views
// and the engine's own tables left out), by table, each row as its cells' text; a column named
// masked reads "*".
using BankDump = std::map<QString, QStringList>;
BankDump dumpBank(const data::sqlite::Database& db, const QString& masked = {});

} // namespace testsupport

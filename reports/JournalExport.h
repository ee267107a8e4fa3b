#pragma once

#include "data/journal/JournalStore.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>
#include <vector>

// The journal's runs as tables, and the files a teacher takes them away in: the terminal, CSV
// for a spreadsheet, XLSX. The bank tool and the journal window share these writers.
namespace bank::journal {

// A table whose cells keep their types: QString (text), qint64 or double (a number), QDateTime
// (a time, shown in local time), or null (empty).
struct Sheet {
    QString name;
    QStringList header;
    std::vector<std::vector<QVariant>> rows;
};

// Reports how far a long export is, from 0 to total rows.
using Progress = std::function<void(qint64 done, qint64 total)>;

// One line a run: date and time, computer, login, names, duration, points, grade, finished.
Sheet runsSheet(const std::vector<data::journal::Run>& runs);
// One line a question answered in the runs: the question and the chosen option and explanation
// as the pupil saw them, each right or wrong.
Sheet answersSheet(const data::journal::JournalStore& journal,
                   const std::vector<data::journal::Run>& runs, const Progress& progress = {});

// A run's name for people: the name the pupil gave, else the account's full name, else the login.
QString pupilName(const data::journal::RunRecord& run);
// "да"/"нет" as the exports write a yes or no.
QString yesNo(bool value);
// The text of a cell, as the terminal and CSV write it.
QString cellText(const QVariant& value);

// Aligned columns for a terminal, the cells' control characters escaped.
QString terminalTable(const Sheet& sheet);
// UTF-8 with a byte-order mark, ';' between cells, as a Russian-locale spreadsheet opens it and
// our import reads it. A text cell that a spreadsheet would take for a formula gets a leading
// apostrophe: a name the pupil typed is data, never a formula.
QByteArray csvBytes(const Sheet& sheet);
// Each writer replaces the file only once it is wholly written; throws EToolError.
void writeCsv(const Sheet& sheet, const QString& path);
// Typed cells (times as dates, numbers as numbers), the header row frozen and filtered.
void writeXlsx(const Sheet& sheet, const QString& path, const Progress& progress = {});

} // namespace bank::journal

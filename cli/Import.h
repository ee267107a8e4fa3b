#pragma once

#include <QIODevice>
#include <QString>

namespace bank {

struct ImportOptions {
    QString format;   // "csv", "moodle", "gift" or "aiken"; empty: told by the file
    QString encoding; // empty: UTF-8, or Windows-1251 where that reads the file as Russian
    bool lenient = false;
    bool allowDuplicates = false;
};

// infotest-bank import: appends the questions of a CSV, Moodle XML, GIFT or Aiken file to the
// bank, all or nothing, and reports on out what it read, skipped and left out. A question that
// does not fit the quiz (other than four options, other than one correct) refuses the file
// unless options.lenient. Returns the exit code; throws EToolError for a refusal.
int importFile(const QString& bankPath, const QString& filePath, const ImportOptions& options,
               QIODevice& out, QIODevice& err);

enum class MoodleFormat { Xml, Gift };

// infotest-bank export-moodle and export-gift: the bank as a file Moodle imports, two items a
// question. A question Moodle would reject refuses the export, named with the reason, unless
// skipInvalid, which leaves it out and says so. Returns the exit code; throws EToolError.
int exportForMoodle(MoodleFormat format, const QString& bankPath, const QString& outPath,
                    bool skipInvalid, QIODevice& out, QIODevice& err);

} // namespace bank

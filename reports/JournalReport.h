#pragma once

#include "data/journal/JournalStore.h"

#include <QString>
#include <vector>

namespace bank::journal {

struct ReportOptions {
    QString bankName; // in the title
    QString period;   // "за 01.09.2026–31.12.2026", or empty for the whole journal
};

// The most runs the report's table lists; a longer period is named with how many were left out.
inline constexpr size_t kReportTableRuns = 1000;

// An A4 PDF a teacher would rather look at than read: the grades and points of the finished runs
// as bar charts, a table of the runs, and each question's share of right answers as a chart with
// the flagged questions named. Replaces the file only once it is wholly written; throws
// EToolError. Needs a QGuiApplication (for the fonts).
void writeReport(const std::vector<data::journal::Run>& runs,
                 const std::vector<data::journal::QuestionStats>& stats, const QString& path,
                 const ReportOptions& options);

} // namespace bank::journal

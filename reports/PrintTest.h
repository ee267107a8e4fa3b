#pragma once

#include "core/StoredBank.h"

#include <QDate>
#include <QString>
#include <vector>

namespace bank {

struct PrintOptions {
    int questions = kQuestionsPerTest;
    quint32 seed = 0; // the same seed draws the same questions in the same order
    bool key = false; // add the answer-key page with the grade table
    QString bankName; // shown in every page's header
    QDate date;
};

// The questions a printed test may draw: those the test run can show and score.
std::vector<const StoredQuestion*> printableQuestions(const StoredBank& bank);

// Draws options.questions of the questions at random, reproducibly from options.seed.
std::vector<const StoredQuestion*> drawForPrint(std::vector<const StoredQuestion*> candidates,
                                                const PrintOptions& options);

// Writes the test as an A4 PDF: the drawn questions, each with its four options and four
// explanations to tick, a header with the bank's name, the date and the seed on every page, page
// numbers, and with options.key an answer-key page. Replaces the file only once the whole PDF is
// written. Needs a QGuiApplication (for the fonts).
void printTest(const std::vector<const StoredQuestion*>& questions, const QString& path,
               const PrintOptions& options);

} // namespace bank

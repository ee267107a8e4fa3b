#pragma once

#include "formats/Foreign.h"

#include <QString>
#include <vector>

namespace bank {

// The single-answer multiple-choice and true/false questions of a GIFT file, told apart and read
// as Moodle reads them; multiple-response (no answer marked "="), short-answer, matching,
// numerical, essay and description questions are listed as skipped, categories, titles and
// comments as ignored. Questions end at a blank line or a $CATEGORY line. The escapes \~ \= \#
// \{ \} \: \\ and \n are honoured; each text (question, answer, feedback) may start with its
// own format marker, [html], [moodle], [plain] or [markdown], and is otherwise in the question's
// format: HTML unless [plain] or [markdown] says otherwise, then made plain. A true/false
// question's feedback is #wrong#right. Throws EInputError, placed by line, for a control
// character, and for a question that cannot be read: braces or title not closed, fewer than two
// choices, longer than kMaxForeignText; with lenient, lists that question as broken instead and
// reads on.
ForeignFile readGift(const QString& text, bool lenient = false);

// The questions as GIFT, as export-moodle writes them: a category of the given name, then for
// each question two single-answer multiple-choice items, the question with its options and the
// request for its explanation with the explanations, texts plain and escaped. White space at
// the ends of a text is not kept (GIFT trims it). Throws EToolError for a control character,
// which a text file cannot carry.
QString giftText(const std::vector<Question>& questions, const QString& category);

} // namespace bank

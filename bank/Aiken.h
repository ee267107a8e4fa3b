#pragma once

#include "bank/Foreign.h"

#include <QString>

namespace bank {

// The questions of an Aiken file: the question's text, its options "A. …" or "A) …" each on a
// line, and "ANSWER: A"; questions apart by blank lines or none. Aiken carries no explanations.
// Throws EInputError, placed by line, for options out of order, a question without its
// ANSWER line or an answer that names no option; with lenient, lists that question as skipped
// instead and reads on after the next blank line.
ForeignFile readAiken(const QString& text, bool lenient = false);

} // namespace bank

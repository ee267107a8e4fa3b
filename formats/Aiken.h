#pragma once

#include "formats/Foreign.h"

#include <QString>

namespace bank {

// The questions of an Aiken file as Moodle reads them: the question's text (here also over
// several consecutive lines), its options "A. …" or "A) …" each on a line (the space after the
// letter may be left out), and "ANSWER: A"; questions apart by blank lines or none. Aiken carries
// no explanations. Throws EInputError, placed by line, for a control character and for a broken
// question: an option or ANSWER line without a question, options out of order, fewer than two
// options, an answer that names no option, a question left without its ANSWER line. With
// lenient, lists a broken question as such instead and reads on.
ForeignFile readAiken(const QString& text, bool lenient = false);

} // namespace bank

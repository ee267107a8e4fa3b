#pragma once

#include "bank/Foreign.h"

#include <QByteArray>

namespace bank {

// The single-answer multiple-choice and true/false questions of a Moodle XML question file,
// their HTML texts made plain; the other kinds are listed as skipped, categories as ignored.
// An answer with fraction 100 is correct. Throws EInputError, placed by line, for a file that
// is not well-formed XML or not a question file, and for one with a document type declaration,
// which no question file needs and which could make the reader expand entities without end.
ForeignFile readMoodleXml(const QByteArray& bytes);

} // namespace bank

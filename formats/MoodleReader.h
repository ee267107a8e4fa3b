#pragma once

#include "formats/Foreign.h"

#include <QByteArray>

namespace bank {

// The single-answer multiple-choice and true/false questions of a Moodle XML question file,
// their texts made plain as their format says (an answer's or a feedback's without one as the
// question text's); the other kinds, a multiple-choice one whose <single> lets the pupil choose
// several included, are listed as skipped, categories as ignored. An answer with fraction 100 is
// correct. Throws EInputError, placed by line, for a file that is not well-formed XML or not a
// question file, for one with a document type declaration, which no question file needs and
// which could make the reader expand entities without end, for a control character in a text,
// and for a text over kMaxForeignText characters.
ForeignFile readMoodleXml(const QByteArray& bytes);

} // namespace bank

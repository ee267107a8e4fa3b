#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace bank {

// The text as a terminal shows it without obeying it: control characters (C0 but the line
// feed, DEL, C1) and the bidirectional overrides become visible escapes (\x1B, \u202E). A pupil's
// name or a bank's text could otherwise move the cursor, erase lines or retitle the window.
QString terminalText(const QString& text);
// Writes the text and a line feed as UTF-8, escaped as terminalText does: the one way the
// commands print texts, to a terminal or a pipe alike.
void writeLine(QIODevice& device, const QString& text);

// A file's bytes; throws EToolError, in Russian, when it is missing or cannot be read.
QByteArray readInput(const QString& path);
// Replaces the file only once everything is written, so that a failure leaves the old one;
// throws EToolError.
void writeOutput(const QString& path, const QByteArray& bytes);

} // namespace bank

#pragma once

#include <QIODevice>
#include <QStringList>

namespace bank {

// Exit codes of infotest-bank.
inline constexpr int kExitOk = 0;
inline constexpr int kExitProblems = 1; // check found something
inline constexpr int kExitFailure = 2;  // a wrong command line or a failed command

// Runs one command of infotest-bank (the arguments without the program's name), writing its
// output and messages as UTF-8; returns the exit code. Every failure ends up as a message on
// err, never as an exception.
int runBankTool(const QStringList& args, QIODevice& out, QIODevice& err);

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

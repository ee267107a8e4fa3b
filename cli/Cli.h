#pragma once

#include "formats/Files.h"

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

} // namespace bank

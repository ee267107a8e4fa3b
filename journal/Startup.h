#pragma once

namespace journal {

// The journal window's program: opens the journal named on the command line, else that of the
// bank the quiz program's menu entry would open, and runs until the window closes.
int runJournal(int argc, char** argv);

} // namespace journal

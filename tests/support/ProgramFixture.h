#pragma once

namespace testsupport {

// The program's data module and windows over the bank in the working directory, as start-up
// makes them: Form1, DataModule2, testi, Edittest and about, created hidden in that order and
// reachable through their globals. Going, it destroys them in the reverse order and clears the
// globals, as the end of the program does, but without posting pending changes: a test reads
// the file as its steps left it. Throws when the bank cannot be opened.
class ProgramFixture {
public:
    ProgramFixture();
    ~ProgramFixture();
    ProgramFixture(const ProgramFixture&) = delete;
    ProgramFixture& operator=(const ProgramFixture&) = delete;
};

// For a suite's cleanup(): fails the test when a box opened with no answer queued or a queued
// answer was never taken, then lets boxes show for real again.
void verifyAllBoxesAnswered();

} // namespace testsupport

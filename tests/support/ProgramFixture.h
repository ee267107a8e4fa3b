#pragma once

namespace testsupport {

// The program's data module and windows over the bank in the working directory, made by
// start-up's own createWindows and reachable through their globals. Going, it destroys them as
// the end of the program does, but without posting pending changes: a test reads the file as
// its steps left it. Throws when the bank cannot be opened.
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

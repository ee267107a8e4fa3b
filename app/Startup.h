#pragma once

// The program: creates the windows and the data module in their order, shows the main menu and
// runs the event loop. Returns the exit code: 0 when the main menu closed, 1 when start-up
// failed.
int runProgram(int argc, char** argv);

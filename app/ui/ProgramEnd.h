#pragma once

// Ends the program at once: every window is hidden without asking it anything, and the
// event loop stops (or, before it runs, main() sees ProgramEnded() and does not start it).
void EndProgram();
bool ProgramEnded();

#pragma once
// The restore program as a desktop program: its window and, with -AUTORUN, the start from a disc.
namespace halvex {

// Makes the program's folder the current folder and runs the main window until it closes.
// With autorun the newest archive beside the program is opened at once; the program ends
// without a word when there is none or while the backup program runs. Answers the exit status.
int RunRestoreWindows(int argc, char** argv, bool autorun);

}  // namespace halvex

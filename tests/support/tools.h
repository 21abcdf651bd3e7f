// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Running outside programs from tests: the independent zip readers and the project's programs.
#include <string>
#include <vector>

namespace halvex::test {

struct CommandResult {
    int exitCode = -1;   // -1 when it could not run or was killed by a signal
    std::string output;  // standard output
    std::string errors;  // standard error
    long peakMemoryKb = 0;  // the program's largest resident set, in KiB
};

// Runs argv[0] (looked up on PATH) with the arguments, standard input from /dev/null
// unless input is given, and waits for it.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = {},
                         const std::string& workingFolder = {});

// True when the program is found on PATH.
bool HasTool(const std::string& name);

// Path of a program built into the project's bin folder (build/bin/NAME).
std::string BuiltProgram(const std::string& name);

}  // namespace halvex::test

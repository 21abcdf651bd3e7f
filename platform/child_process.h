// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Running another program: started with its arguments as a list (never through a shell), in
// a process group of its own with umask 077, its standard output collected and its standard error handed
// over line by line. A stop request sends SIGTERM to the whole group, so whatever the program
// started itself ends too.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace halvex::platform {

struct ChildResult {
    bool started = false;   // false: the program could not be started (startError says why)
    std::string startError;
    int exitCode = -1;      // -1 when it ended by a signal
    int signal = 0;         // the signal that ended it
    bool stopped = false;   // it was sent SIGTERM because shouldStop answered true
    std::string output;     // all of its standard output
};

struct ChildOptions {
    // Called for each line the program writes to standard error (without the line end).
    std::function<void(std::string_view)> onErrorLine;
    // Asked about ten times a second; true sends SIGTERM to the program's group, and SIGKILL
    // five seconds later when it has not ended by then.
    std::function<bool()> shouldStop;
};

// Runs argv[0] (looked up on PATH when it has no '/') and waits for it to end. Standard input
// is /dev/null.
ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

}  // namespace halvex::platform

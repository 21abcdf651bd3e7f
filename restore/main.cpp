// SPDX-License-Identifier: GPL-3.0-or-later
// halvex-restore: the main window, or with a "--" mode the command-line modes.
#include <iostream>
#include <string>
#include <vector>

#include "common/program_names.h"
#include "platform/terminal.h"
#include "restore/console_restore_ui.h"
#include "restore/restore_cli.h"

#ifdef HALVEX_WITH_GUI
#include "restore/ui/restore_app.h"
#endif

int main(int argc, char** argv) {
    using namespace halvex;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const RestoreCliStreams io{std::cin, std::cout, std::cerr, platform::HasInteractiveTerminal()};
    if (auto status = RunRestoreCommandLine(args, io)) return *status;

#ifdef HALVEX_WITH_GUI
    return RunRestoreWindows(argc, argv, HasAutorunSwitch(args), WindowArchiveArgument(args));
#else
    std::cerr << kRestoreProgramName << ": this build has no windows; use a mode (see --help)\n" << RestoreUsage();
    return kRestoreExitStartup;
#endif
}

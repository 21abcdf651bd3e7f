// halvex-restore: the command-line modes; the main window comes with the restore windows.
#include <iostream>
#include <string>
#include <vector>

#include "common/program_names.h"
#include "platform/terminal.h"
#include "restore/console_restore_ui.h"
#include "restore/restore_cli.h"

int main(int argc, char** argv) {
    using namespace halvex;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const RestoreCliStreams io{std::cin, std::cout, std::cerr, platform::HasInteractiveTerminal()};
    if (auto status = RunRestoreCommandLine(args, io)) return *status;

    // No mode given (or -AUTORUN): the main window. It is not part of this build yet.
    std::cerr << kRestoreProgramName << ": the restore window is not available in this build.\n"
              << RestoreUsage();
    return 2;
}

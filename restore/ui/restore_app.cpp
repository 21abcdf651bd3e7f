// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_app.h"

#include <QApplication>

#include "common/ui/program_icons.h"
#include "platform/process.h"
#include "platform/program_folder.h"
#include "restore/autorun.h"
#include "restore/ui/restore_main_window.h"

namespace halvex {
namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int RunRestoreWindows(int argc, char** argv, bool autorun, const std::optional<std::string>& archive) {
    // A named archive is found from where the program was started.
    std::optional<std::string> toOpen = archive;
    if (toOpen && toOpen->front() != '/') toOpen = platform::CurrentFolder() + "/" + *toOpen;
    // -AUTORUN looks beside the program (the disc's root), even for an installed copy.
    if (autorun) {
        toOpen = AutorunArchive(BackupProgramRuns, FolderOf(platform::ExecutablePath()));
        // Decided before any window exists, so that a start that ends shows nothing at all.
        if (!toOpen) return 0;
    }
    // The file dialogs start in the program's folder (an installed copy's is the user's data
    // folder); where it cannot be had, in the folder the program was started from.
    std::string error;
    const std::string programFolder = platform::ProgramFolder(error);

    QApplication application(argc, argv);
    QApplication::setWindowIcon(RestoreProgramIcon());
    RestoreMainWindow window;
    window.SetStartFolder(programFolder);
    window.RestoreSettings();
    window.show();
    if (toOpen) window.ShowSet(*toOpen);
    return QApplication::exec();
}

}  // namespace halvex

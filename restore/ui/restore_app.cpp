#include "restore/ui/restore_app.h"

#include <QApplication>

#include <optional>
#include <string>

#include "common/folder_utils.h"
#include "common/ui/program_icons.h"
#include "platform/process.h"
#include "restore/autorun.h"
#include "restore/ui/restore_main_window.h"

namespace halvex {

int RunRestoreWindows(int argc, char** argv, bool autorun) {
    // Archives named without a folder, and those of -AUTORUN, are the ones beside the program.
    ChangeToParentFolder(platform::ExecutablePath());
    // Decided before any window exists, so that a start that ends shows nothing at all.
    std::optional<std::string> archive;
    if (autorun) {
        archive = AutorunArchive(BackupProgramRuns, ".");
        if (!archive) return 0;
    }

    QApplication application(argc, argv);
    QApplication::setWindowIcon(RestoreProgramIcon());
    RestoreMainWindow window;
    window.show();
    if (archive) window.ShowSet(*archive);
    return QApplication::exec();
}

}  // namespace halvex

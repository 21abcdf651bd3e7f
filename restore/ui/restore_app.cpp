#include "restore/ui/restore_app.h"

#include <QApplication>

#include "common/folder_utils.h"
#include "common/program_names.h"
#include "common/ui/program_icons.h"
#include "platform/process.h"
#include "platform/process_list.h"
#include "restore/ui/restore_main_window.h"

namespace halvex {

int RunRestoreWindows(int argc, char** argv, bool autorun) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(RestoreProgramIcon());
    // Archives named without a folder, and those of -AUTORUN, are the ones beside the program.
    ChangeToParentFolder(platform::ExecutablePath());

    RestoreMainWindow window;
    if (autorun &&
        !window.StartAutorun([] { return platform::IsProcessRunning(kBackupProgramName); }, ".")) {
        return 0;
    }
    window.show();
    return QApplication::exec();
}

}  // namespace halvex

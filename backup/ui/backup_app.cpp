// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ui/backup_app.h"

#include <QApplication>

#include "backup/backup_cli.h"
#include "backup/backup_engine.h"
#include "backup/backup_startup.h"
#include "backup/ui/job_selection_dialog.h"
#include "backup/ui/show_progress_window.h"
#include "common/ui/program_icons.h"
#include "common/ui/qt_message_box.h"

namespace halvex {

int RunBackupWindows(int argc, char** argv, const std::optional<std::string>& folder) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(BackupProgramIcon());
    return RunBackupApp(folder);
}

int RunBackupApp(const std::optional<std::string>& folder) {
    JobConfig config;
    const StartupResult startup = StartBackupProgram(config, folder);
    if (startup.message) {
        ShowMessageBox(nullptr, startup.message->text, startup.message->caption, MessageButtons::Ok);
    }
    if (!startup.ready) return kExitStartup;

    bool ran = false;
    BackupEngine engine(config);
    JobSelectionDialog dialog(config, [&engine, &ran](bool startBrandNew) {
        ShowProgressWindow(engine, startBrandNew);
        ran = true;
    });
    dialog.exec();
    return ran ? ExitStatusOfRun(engine) : kExitSucceeded;
}

}  // namespace halvex

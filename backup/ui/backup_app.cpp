#include "backup/ui/backup_app.h"

#include <QApplication>

#include "backup/backup_cli.h"
#include "backup/backup_engine.h"
#include "backup/backup_startup.h"
#include "backup/ui/backup_progress_dialog.h"
#include "backup/ui/job_selection_dialog.h"
#include "common/ui/program_icons.h"
#include "common/ui/qt_message_box.h"

namespace halvex {

int RunBackupWindows(int argc, char** argv, const std::optional<std::string>& folder) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(BackupProgramIcon());

    BackupEngine engine;
    const StartupResult startup = StartBackupProgram(engine, folder);
    if (startup.message) {
        ShowMessageBox(nullptr, startup.message->text, startup.message->caption, MessageButtons::Ok);
    }
    if (!startup.ready) return kExitStartup;

    bool ran = false;
    JobSelectionDialog dialog(engine, [&engine, &ran](bool startBrandNew) {
        BackupProgressDialog progress(
            [&engine](const AskFunction& ask) { engine.RequestCancel(ask); });
        progress.Run([&engine, &progress, startBrandNew] { engine.StartRun(progress, startBrandNew); });
        engine.WaitForRun();
        ran = true;
    });
    dialog.exec();
    return ran ? ExitStatusOfRun(engine) : kExitSucceeded;
}

}  // namespace halvex

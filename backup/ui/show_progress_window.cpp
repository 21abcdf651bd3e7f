// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ui/show_progress_window.h"

#include "backup/backup_engine.h"
#include "backup/ui/backup_progress_dialog.h"

namespace halvex {

void ShowProgressWindow(BackupEngine& engine, bool startBrandNew) {
    BackupProgressDialog progress([&engine](const AskFunction& ask) { engine.RequestCancel(ask); });
    progress.Run([&engine, &progress, startBrandNew] { engine.StartRun(progress, startBrandNew); });
    // The window closes with the run's last view call, so the thread has nothing left to ask
    // of this one: waiting for it here cannot block a call. The window outlives it.
    engine.WaitForRun();
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
// halvex-backup: the job-selection window, or with --run an unattended backup.
#include <clocale>
#include <cstdio>

#include "backup/backup_cli.h"
#include "common/program_names.h"

#ifdef HALVEX_WITH_GUI
#include "backup/ui/backup_app.h"
#endif
#include "backup/backup_status.h"
#include "backup/new_password.h"
#ifdef HALVEX_WITH_DESKTOP_NOTIFIER
#include "backup/ui/notify/dbus_desktop_notifier.h"
#endif

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // month and day names of the run logs follow the user's locale
    const halvex::ParsedBackupOptions parsed = halvex::ParseBackupOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "halvex-backup: %s\n%s", parsed.error.c_str(), halvex::BackupUsage().c_str());
        return halvex::kExitStartup;
    }
    if (parsed.options.help) {
        std::fputs(halvex::BackupUsage().c_str(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::printf("%s\n", halvex::VersionText(halvex::kBackupProgramName).c_str());
        return 0;
    }
    if (parsed.options.status) return halvex::ShowBackupStatus(parsed.options);
    if (parsed.options.newPassword) return halvex::RunNewPassword(*parsed.options.newPassword);
    if (parsed.options.run) {
#ifdef HALVEX_WITH_DESKTOP_NOTIFIER
        halvex::DbusDesktopNotifier notifier;
        return halvex::RunUnattendedBackup(parsed.options, &notifier);
#else
        return halvex::RunUnattendedBackup(parsed.options);
#endif
    }

    // The job-selection window.
#ifdef HALVEX_WITH_GUI
    return halvex::RunBackupWindows(argc, argv, parsed.options.folder);
#else
    std::fprintf(stderr, "halvex-backup: this build has no windows; use --run (see --help)\n");
    return halvex::kExitStartup;
#endif
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of halvex-backup:
//   halvex-backup [--dir DIR]                                   the job-selection window
//   halvex-backup --run [--dir DIR] [--job NAME]... [--brand-new] [--disc-ready] [--no-notify]
//                                                               an unattended run
//   halvex-backup --status [--dir DIR] [--json] [--max-age DAYS]  each job's last backup
//   halvex-backup --new-password PATH                           a random password file
//   halvex-backup --help | --version
#include <optional>
#include <string>
#include <vector>

#include "backup/job_config.h"

namespace halvex {

struct BackupOptions {
    bool run = false;
    bool help = false;
    bool version = false;
    bool brandNew = false;
    bool discReady = false;  // the right disc is in the drive for the copy-to-CD task
    std::optional<std::string> folder;  // --dir
    std::vector<std::string> jobs;      // --job, in the order given
    bool noNotify = false;              // no desktop notification after a run without a terminal
    bool status = false;
    bool json = false;                  // --status as JSON Lines
    std::optional<int> maxAgeDays;      // --status: a last backup older than this is a failure
    std::optional<std::string> newPassword;  // --new-password: the file to write
};

struct ParsedBackupOptions {
    BackupOptions options;
    std::string error;  // empty when the command line is good
};

ParsedBackupOptions ParseBackupOptions(int argc, const char* const* argv);
std::string BackupUsage();

// Ticks the named jobs (all when `names` is empty) as "&Backup" does and clears the others.
// False with `unknown` set when a name matches no job (letter case ignored).
bool SelectJobs(JobConfig& config, const std::vector<std::string>& names, std::string& unknown);

// Exit statuses of an unattended run.
inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitCanceled = 1;
inline constexpr int kExitStartup = 2;  // also: bad command line
inline constexpr int kExitStoreError = 3;
inline constexpr int kExitSkipped = 4;  // succeeded, but files, folders, jobs, disc or off-site copies were skipped
inline constexpr int kExitFailed = 5;   // canceled after an error that was not the user's

class BackupEngine;
// The exit status that tells how the engine's run ended (also for the window program).
int ExitStatusOfRun(const BackupEngine& engine);

// `halvex-backup --run`: the start-up, then one run with the console view. SIGINT and
// SIGTERM act as the Cancel button (a second one does not end the program early).
// Without a terminal, a run that ends with 1, 3, 4 or 5 tells the desktop through `notifier`
// (none: nothing is sent), unless --no-notify was given.
class DesktopNotifier;
int RunUnattendedBackup(const BackupOptions& options, DesktopNotifier* notifier = nullptr);

}  // namespace halvex

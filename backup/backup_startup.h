// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The backup program's start-up, shared by the window program and `halvex-backup --run`:
//  1. the program's folder (or the folder given with --dir) becomes the job file's folder, in
//     which backup.ini, the file-list store and backups.log are;
//  2. without backup.ini the example file is written and the program ends;
//  3. backup.ini is loaded; an error ends the program;
//  4. each job's last-backup time is read from the file-list store (creating or recovering
//     it if need be);
//  5. a job file without jobs ends the program.
#include <optional>
#include <string>

#include "backup/job_config.h"
#include "backup/job_config_messages.h"

namespace halvex {

struct StartupResult {
    bool ready = false;                  // the jobs are loaded and a run may follow
    std::optional<UserMessage> message;  // what to show (always set when not ready)
};

StartupResult StartBackupProgram(JobConfig& config, const std::optional<std::string>& folder = std::nullopt);

}  // namespace halvex

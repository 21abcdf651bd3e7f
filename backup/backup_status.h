// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// `halvex-backup --status`: each job's last backup at a glance, for a monitoring script or a
// desktop widget. Reads backup.ini, FileLists.tq, backups.log and the archive folders and
// changes nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/job_config.h"
#include "platform/file_time.h"

namespace halvex {

struct BackupOptions;

// What the last block of a job in backups.log says about its run.
enum class LoggedOutcome {
    None,        // no block: never logged
    Ok,          // finished, nothing left out
    LeftOut,     // finished, with "Skipped ..." events
    Unfinished,  // the block lacks "Backup Finished."
};

struct JobStatus {
    std::string name;
    platform::FileTime lastBackup = 0;  // 0: never (the store knows no run of the job)
    LoggedOutcome outcome = LoggedOutcome::None;
    int leftOut = 0;           // "Skipped ..." events of that block
    int archives = 0;          // the number of the set's newest archive
    std::uint64_t setSize = 0; // bytes of the set's archives still in their folder
};

// The last block of each named job in the text of backups.log (job names compared ignoring
// case); the outcome, and the skips in `leftOut`, are filled in; the rest is left as it is.
void ReadLoggedOutcomes(std::string_view log, std::vector<JobStatus>& jobs);

// Every job of `config`, read from the program folder `folder`.
std::vector<JobStatus> CollectJobStatus(const JobConfig& config, const std::string& folder);

// Whether the job's last run counts as failed, or (with maxAgeDays) is too old at `now`.
enum class StatusCheck { Ok, Failed, TooOld };
StatusCheck CheckJob(const JobStatus& job, std::optional<int> maxAgeDays, platform::FileTime now);

// Whether the run that last opened the store in `folder` did not save it: FileLists.bak,
// copied at the start of every run, is newer than FileLists.tq. Its time when so.
std::optional<platform::FileTime> UnsavedRunSince(const std::string& folder);

// --max-age: 0 to 100000 days.
std::optional<int> ParseMaxAge(const std::string& text);
// Sets `error` (when still empty) for status options that cannot go together.
void AddStatusOptionErrors(const BackupOptions& options, std::string& error);

// The whole mode: one line (or JSON object) per job on standard output. 0, 2 when the
// folder or backup.ini cannot be used, 4 when a job failed its check or a run was not saved.
int ShowBackupStatus(const BackupOptions& options);

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parsed job file (backup.ini): jobs, their source folders with target names and
// filters, archive locations and CD labels, and the filters that apply to every job.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/local_time.h"

namespace halvex {

inline constexpr const char* kJobFileName = "backup.ini";

// Job flags.
inline constexpr int JobSelected = 1;  // the job takes part in the current run
inline constexpr int JobCopyToCd = 2;  // the job's archives go to CD after the run

inline constexpr int kDefaultJobLevel = 9;

struct FilterRule {
    bool isExclude = true;
    std::string pattern;  // upper-cased, '\' between folder levels
};

struct SourceMapping {
    std::string sourceFolder;
    std::string targetName;  // top folder of the mapping's entries, name of its file list
    std::vector<FilterRule> filters;
};

struct Job {
    std::string name;
    std::string archiveBaseName;  // archive path without number and extension
    int flags = 0;
    std::optional<std::string> cdName;
    // Where the job's archives are copied after each run: an rclone remote ("name:path") or
    // a folder; none when the job has no off-site copy.
    std::optional<std::string> copyTo;
    // encrypt: the file whose first line is the password of the job's archives (checked when
    // the job runs); none: plain archives.
    std::optional<std::string> passwordFile;
    // level: how hard the job's files are deflated, 1 (fastest) to 9 (smallest); 0 stores
    // them. Restoring does not depend on it.
    int level = kDefaultJobLevel;
    platform::SystemTime lastBackup;  // local time of the last saved run; all zero: never
    std::vector<SourceMapping> mappings;
    std::string runLog;
};

struct JobConfig {
    std::vector<Job> jobs;
    std::vector<FilterRule> globalFilters;
    // The job file's folder: the file-list store, backups.log and the archives of a job whose
    // location has no folder are there ("." : the process's folder).
    std::string folder = ".";

    int JobCount() const { return static_cast<int>(jobs.size()); }
    // The job's name; none for an index outside 0..JobCount()-1.
    std::optional<std::string_view> JobName(int index) const;
    // Stores flags, less JobCopyToCd when the job has no CD label. Ignores a bad index.
    void SetJobFlags(int index, int flags);
    // The job's last saved run as a local date-time (all zero: never, or a bad index).
    platform::SystemTime LastBackupLocal(int index) const;
    // `name` in the job file's folder (a full path stays as it is).
    std::string PathOf(const std::string& name) const;
    // Forgets the jobs and filters; the folder stays.
    void Clear();
};

// What loading a job file came to.
struct JobFileResult {
    enum class Status {
        Loaded,       // there may be no job
        CannotOpen,   // the file cannot be opened
        NotRegularFile,  // it is not a regular file (a fifo, device or folder)
        CannotRead,   // it could not be read whole
        LineInError,  // the file is in error on `line`
    };
    Status status = Status::Loaded;
    int line = 0;  // with LineInError: the line (1-based)

    bool Loaded() const { return status == Status::Loaded; }
};

// Reads and parses backup.ini in `folder`, which becomes the config's folder. On any result but
// Loaded the config is left empty.
[[nodiscard]] JobFileResult LoadJobConfig(JobConfig& config, const std::string& folder);
// As LoadJobConfig, for the job file at path; its folder becomes the config's.
[[nodiscard]] JobFileResult LoadJobConfigFile(const std::string& path, JobConfig& config);

// Parses the bytes of a job file (a NUL byte ends the text). 0, or the line in error.
[[nodiscard]] int ParseJobConfig(std::string_view bytes, JobConfig& config);

}  // namespace halvex

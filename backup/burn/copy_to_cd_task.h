// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The copy-to-CD task that ends a completed backup run: for each job flagged JobCopyToCd it
// asks for the job's disc, checks it, burns the job's archives into a new session (with the
// restore program and autorun.sh when the disc lacks them or holds another build), reads the
// session back and only then deletes the archives from the backup folder.
//
// A job's archives are exactly its set's file names: base + ".TQBak" and base + n + ".TQBak"
// for n of 2 or more (another job's "DataX.TQBak" is never taken for base "Data"). The
// burner is connected once, for the first job that has archives to burn, and never when no
// job gets that far.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup_view.h"
#include "backup/burn/disc_burner.h"
#include "backup/job_config.h"

namespace halvex {

// How the task gets its disc.
enum class DiscPrompt {
    Ask,        // the disc prompt and questions are asked (windows, a terminal)
    DiscReady,  // the right disc is in the drive: the prompt is answered OK once per job, the
                // tray is never moved, and a disc that is not accepted skips the job
    Skip,       // no one to ask: disc jobs are skipped before anything is loaded
};

struct CopyToCdSettings {
    DiscPrompt prompt = DiscPrompt::Ask;
    // The folder holding the restore program and autorun.sh (the backup program's own
    // executable folder); empty: found from the running executable.
    std::string programFolder;
    // Makes the burner on first need; empty: a CdBurner.
    std::function<std::unique_ptr<DiscBurner>()> makeBurner;
};

// The file put on a disc with the restore program, when the program folder has it or, for an
// installed copy, its data folder (InstalledDataFolder).
inline constexpr const char* kAutorunFileName = "autorun.sh";

// Where an installed copy whose executable lies in `programFolder` keeps its data files
// (share/halvex beside the bin folder).
std::string InstalledDataFolder(const std::string& programFolder);

// Whether fileName names an archive of the set with this base name (no folder).
bool IsArchiveOfSet(std::string_view fileName, std::string_view baseName);

// Runs the task for the config's jobs whose flags for this run (jobFlags, one per job) hold
// JobCopyToCd, in order. Answers one line per job whose archives were not copied and stay in
// the backup folder.
std::vector<std::string> CopyToCdTask(const JobConfig& config, const std::vector<int>& jobFlags, bool startBrandNew,
                                      BackupView& view, const CopyToCdSettings& settings);

}  // namespace halvex

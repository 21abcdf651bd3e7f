// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/backup_startup.h"

#include "backup/example_job_file.h"
#include "backup/file_list_store.h"
#include "backup/run_messages.h"
#include "common/folder_utils.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/program_folder.h"

namespace halvex {

StartupResult StartBackupProgram(JobConfig& config, const std::optional<std::string>& folder) {
    StartupResult result;
    std::string programFolder = folder ? *folder : std::string();
    if (!folder) {
        std::string error;
        programFolder = platform::ProgramFolder(error);
        if (programFolder.empty()) {
            result.message = UserMessage{"Cannot use the program folder: " + error, std::string(kErrorCaption)};
            return result;
        }
    }
    if (programFolder.empty() || !platform::IsDirectory(programFolder)) {
        result.message = UserMessage{"Cannot use the folder '" + programFolder + "'", std::string(kErrorCaption)};
        return result;
    }
    const std::string jobFile = PathInFolder(programFolder, kJobFileName);
    if (!platform::PathExists(jobFile)) {
        result.message = WriteExampleJobFile(jobFile) ? ExampleWrittenMessage() : ExampleFailedMessage();
        return result;
    }
    if (auto message = LoadJobConfigMessage(LoadJobConfig(config, programFolder))) {
        result.message = std::move(message);
        return result;
    }
    std::string damagedKeptAs;
    ReadLastBackupTimes(config, programFolder, &damagedKeptAs);
    if (config.JobCount() == 0) {
        result.message = NoJobsMessage();
        return result;
    }
    // Told before the jobs are chosen; the run rebuilds each job's entries from its archives.
    if (!damagedKeptAs.empty()) {
        const std::string keptAs = platform::NameOfPath(damagedKeptAs);
        result.message = UserMessage{FillIn(kStoreDamagedFormat, {keptAs}), std::string(kErrorCaption)};
    }
    result.ready = true;
    return result;
}

}  // namespace halvex

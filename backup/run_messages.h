// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a backup run tells the user: message boxes, the progress window's texts and the
// run-log events. "%s" marks where FillIn puts a path or a name.
#include <initializer_list>
#include <string>
#include <string_view>

#include "backup/job_config_messages.h"  // kErrorCaption, the caption of most boxes

namespace halvex {

// Checks and store.
inline constexpr std::string_view kSourceMissingFormat = "Error, cannot access path '%s', skipping Job '%s'.";
inline constexpr std::string_view kBrandNewRefusedText =
    "Cannot start a brand new archive while old archives exist in backup directory.\n"
    "Please remove the old archives and try again.\n\nSkipping job: ";
inline constexpr std::string_view kReservedTargetFormat =
    "The target name '%s' is used by the backup's own files, skipping Job '%s'.";
inline constexpr std::string_view kStoreDamagedFormat =
    "FileLists.tq is damaged. It has been kept as '%s', and the file lists of every job are "
    "rebuilt from the newest archive of its set.";
inline constexpr std::string_view kStoreRebuiltCaption = "Halvex Backup";
inline constexpr std::string_view kStoreJobDamagedFormat =
    "The file lists of job '%s' in FileLists.tq are damaged. FileLists.tq has been kept as '%s', and "
    "the job's file lists are rebuilt from the newest archive of its set.";
inline constexpr std::string_view kStoreRebuiltFormat =
    "FileLists.tq had no record of the archive '%s'. The file lists of job '%s' have been rebuilt from it.";
inline constexpr std::string_view kArchiveNameTakenFormat =
    "The archive name '%s' is taken by a file this backup did not write, skipping Job '%s'.";
inline constexpr std::string_view kArchiveNameNotRegularFormat =
    "The archive name '%s' is taken by something that is not a regular file, skipping Job '%s'.";
inline constexpr std::string_view kArchiveFolderBusyFormat =
    "Another backup is writing archives in '%s', skipping Job '%s'.";
inline constexpr std::string_view kSetFullFormat =
    "Job '%s' already has 65,535 archives, the most one archive set can hold.\n"
    "Please start brand new archives for it.\n\nSkipping job: %s";
inline constexpr std::string_view kPasswordFileFormat = "%s Skipping Job '%s'.";
inline constexpr std::string_view kJobNotSavedFormat = "Job not backed up: %s";
inline constexpr std::string_view kStoreOpenErrorText = "Error Opening FileLists.tq";
inline constexpr std::string_view kStoreBusyText = "\n\nAnother backup run is in progress in this program folder.";
inline constexpr std::string_view kDamagedHistoryFormat =
    "The file list of target '%s' in FileLists.tq is damaged, skipping Job '%s'.";
inline constexpr std::string_view kTooLargeHistoryFormat =
    "The file list of target '%s' in FileLists.tq is too large to open with the memory allowed, skipping Job '%s'.";
inline constexpr std::string_view kDamagedArchiveNumberFormat =
    "The archive number in FileLists.tq is damaged, skipping Job '%s'.";
inline constexpr std::string_view kStuckRunText =
    "Backup Canceled: the run did not stop (a file or disk does not answer). Its new archives "
    "have been removed; FileLists.tq is unchanged.";
inline constexpr std::string_view kStoreSaveErrorText = "Error Saving FileLists.tq";
inline constexpr std::string_view kCumulativeLogErrorText =
    "The backup is complete, but its log could not be added to backups.log.";

// Copying.
inline constexpr std::string_view kCreateArchiveErrorText = "Error creating file:\n\n";
inline constexpr std::string_view kFolderMissingFormat =
    "Error, could not find directory '%s'\n\nClick 'Retry' to try again, 'Ignore' to skip directory or "
    "'Abort' to cancel backup";
inline constexpr std::string_view kFileAccessFormat =
    "Error, could not access file '%s'\n\nClick 'Retry' to try again, 'Ignore' to skip file or 'Abort' to "
    "cancel backup";
inline constexpr std::string_view kReadWriteErrorText = "Error Reading/Writing File";

// Off-site copies after the run.
inline constexpr std::string_view kNotCopiedOffsiteFormat = "Job not copied off-site: %s: %s";
inline constexpr std::string_view kCopyingOffsiteText = "Copying Off-site...";
inline constexpr std::string_view kLogCopiedOffsiteFormat = "Copied off-site to %s: %s new archive(s), checked.";
inline constexpr std::string_view kLogNotCopiedOffsitePrefix = "Not copied off-site: ";

// The end of a run and cancel requests.
inline constexpr std::string_view kSuccessText = "Backup Successful!";
inline constexpr std::string_view kSuccessCaption = "Done";
inline constexpr std::string_view kCanceledText = "Backup Canceled";
inline constexpr std::string_view kCanceledCaption = "Canceled.";
inline constexpr std::string_view kUnableToAbortText = "Unable to abort at this time.";
inline constexpr std::string_view kUnableToAbortCaption = "Abort";
inline constexpr std::string_view kQuitQuestionText = "File copy in progress. Are you sure you want to abort?";
inline constexpr std::string_view kQuitQuestionCaption = "Quit??";

// Progress window texts.
inline constexpr std::string_view kAnalyzingText = "Analyzing Files...";
inline constexpr std::string_view kBackingUpText = "Backing Up Files...";
inline constexpr std::string_view kSavingText = "Saving File Lists...";
inline constexpr std::string_view kAbortingText = "Aborting...";
inline constexpr std::string_view kCalculatingText = "Calculating...";

// Run-log events.
inline constexpr std::string_view kLogBackupStarted = "Backup Started.";
inline constexpr std::string_view kLogDoingTask = "Doing Task ";
inline constexpr std::string_view kLogFolderSkippedFormat = "Skipped Directory (Was not found): %s";
inline constexpr std::string_view kLogFileSkippedFormat = "Skipped File (Could not open): %s";
inline constexpr std::string_view kLogFileShrankFormat = "Skipped File (Shrank while being copied): %s";
inline constexpr std::string_view kLogFileReadErrorFormat = "Skipped File (Could not read: %s): %s";
inline constexpr std::string_view kLogTooLargeFormat = "Skipped File (Too large for this archive): %s";
inline constexpr std::string_view kLogFileArchiveFullFormat = "Skipped File (Archive is full): %s";
inline constexpr std::string_view kLogFolderArchiveFullFormat = "Skipped Directory (Archive is full): %s";
inline constexpr std::string_view kLogBackupFinished = "Backup Finished.";

// The format with each "%s" replaced by the next value, in order.
std::string FillIn(std::string_view format, std::initializer_list<std::string_view> values);

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the burner and the copy-to-CD task tell the user. Texts that name the burning library
// name what is really loaded.
#include <string_view>

namespace halvex {

// The burner's failure texts (shown under "Burn Error").
inline constexpr std::string_view kNoDiscInformationText = "Could not retrieve CD Information.";
inline constexpr std::string_view kDiscNotWriteableText = "CD is not writeable.";
inline constexpr std::string_view kBurnUnknownFormatText = "libisoburn: Unknown CD format.";
inline constexpr std::string_view kBurnInvalidDriveText = "libisoburn: Invalid drive";
inline constexpr std::string_view kBurnFailedText = "libisoburn: Burn failed";
inline constexpr std::string_view kBurnNotAllowedText = "libisoburn: Function not allowed";
inline constexpr std::string_view kBurnDriveNotAllowedText = "libisoburn: Drive not allowed";
inline constexpr std::string_view kBurnImportFailedText = "libisoburn: Could not import previous track.";
inline constexpr std::string_view kBurnTrackFailedText = "libisoburn: Could not create track.";
inline constexpr std::string_view kBurnUnknownErrorText = "libisoburn: Unknown error";

// The burner's phases in the "Status:" line.
inline constexpr std::string_view kRetrievingInfoText = "Retrieving CD Information";
inline constexpr std::string_view kPreparingLayoutText = "Preparing CD Layout";

// The copy-to-CD task.
inline constexpr std::string_view kNoArchivesFoundText = "Cannot copy backups to CD, none were found\n\nSkipping Job: ";
inline constexpr std::string_view kInitializingConnectionText = "Initializing libisoburn Connection...";
inline constexpr std::string_view kCouldNotConnectText = "Could not connect to libisoburn.";
inline constexpr std::string_view kCouldNotInitBurnerText = "Could not initialize burner.";
inline constexpr std::string_view kWaitingForCdText = "Waiting for CD...";
inline constexpr std::string_view kUnloadingConnectionText = "Unloading libisoburn Connection...";
inline constexpr std::string_view kUnknownTimeText = "?";
inline constexpr std::string_view kInsertCdText = "Please insert the CD for the job: ";
inline constexpr std::string_view kLoadCdCaption = "Load CD";
inline constexpr std::string_view kNotWritableText = "The CD you insterted is not writable.";
inline constexpr std::string_view kNotWritableCaption = "Error ";
inline constexpr std::string_view kLabelMismatchText =
    "The name of the CD you inserted does not match the expected one. Continue anyway?";
// The same without the question, where no one is there to answer it (--disc-ready).
inline constexpr std::string_view kLabelMismatchNotice = "The name of the CD you inserted does not match the expected one.";
inline constexpr std::string_view kOldBackupsOnDiscText =
    "CD already contains old backups of current job.\nPlease use a new CD when doing full backups.";
inline constexpr std::string_view kBurnErrorCaption = "Burn Error";
inline constexpr std::string_view kNotVerifiedFormat =
    "The backups of job '%s' were burned, but could not be read back unchanged from the CD.\n"
    "They were kept in the backup folder:\n\n%s";
// One line per job whose archives stay in the backup folder (the run's skips).
inline constexpr std::string_view kNotCopiedToDiscFormat = "Job not copied to CD: %s";

}  // namespace halvex

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

}  // namespace halvex

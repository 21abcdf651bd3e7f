// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Texts and small rules of the File Browser and the File Search & Log Viewer pages that do not
// need a window: dates in the lists, the status bar texts, the log pager.
#include <cstdint>
#include <string>

namespace halvex {

// A file's last-write time as both file lists show it, in UTC: "Mar-05 2024 13:07:55"
// ("%b-%d %Y %X" in the user's locale).
std::string FormatListDate(std::uint64_t fileTime);

// Status part 1 of the File Browser: "%i object(s) selected" while rows with an item are
// selected, else "%i object(s)" with the rows less the "<..>" row (when the list has one),
// else "" (an empty list).
std::string BrowserCountText(int selectedCount, int rowCount, bool hasUpRow);

// Status part 1 after a search: "%i object(s)", or "" when nothing was found.
std::string SearchCountText(int rowCount);

// Status part 1 while a search runs: "Searching" and 0 to 3 dots, one more every half second
// of `lastUpdateTick` (milliseconds).
std::string SearchingText(std::uint32_t lastUpdateTick);

// The log pager: "Archive: %i" with the 1-based number of the 0-based `index`, and which of
// "Prev." and "Next" lead to another archive of the set.
struct LogPager {
    int index = 0;
    int archiveCount = 0;

    bool CanGoBack() const { return index > 0 && index < archiveCount; }
    bool CanGoForward() const { return index >= 0 && index < archiveCount - 1; }
    std::string Text() const { return "Archive: " + std::to_string(index + 1); }
};

// What the log viewer shows when an archive's log cannot be read.
inline constexpr const char* kNoLogText = "Unable to retrieve error log.";

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts that show a set's backup dates: the "Select Archive Date" menu, the status bar's
// "Archive Date: " text and the window title. Plain functions; the main window and the
// command-line modes call them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvex {

class ArchiveSet;

// Command id of the menu item of date index 0; date i has kFirstDateCommand + i.
inline constexpr int kFirstDateCommand = 2000;

// A date as the menu shows it, in local time: "March 05, 2024" ("%B %d, %Y").
std::string FormatArchiveDate(std::uint64_t fileTime);

// The texts of a set's dates, one per time and in the same order, for every place that names
// a date (the menu, the status bar, the title, the log viewer, the command line's listing): a
// date alone on its local day is FormatArchiveDate; one that shares its day with another adds
// the time of day, " 14:05", or " 14:05:09" where another date of the day has the same minute.
std::vector<std::string> ArchiveDateTexts(const std::vector<std::uint64_t>& fileTimes);

// The number a date's menu item carries: the date's archive number minus one.
int DateMenuLabel(int archiveCount, int dateCount, int dateIndex);
// The date index of the item labelled `label`; nothing when no item has that label.
std::optional<int> DateIndexFromLabel(int archiveCount, int dateCount, int label);

struct DateMenuItem {
    int commandId = 0;  // kFirstDateCommand + date index
    int label = 0;      // DateMenuLabel
    std::string dateText;  // ArchiveDateTexts
    std::string text;      // label + ": " + dateText
};

// The items of the "Select Archive Date" menu of an open set, newest date first.
std::vector<DateMenuItem> BuildDateMenu(const ArchiveSet& set);

// The date a menu command selects: its index when `commandId` is one of the set's date items
// and not the date already selected; otherwise nothing (the command takes its ordinary route,
// or nothing happens).
std::optional<int> DateToSelect(const ArchiveSet& set, int commandId);

// Status bar part 0 for a selected date: "Archive Date: " + the date text.
std::string ArchiveDateStatusText(const std::string& dateText);

// The main window's title once a set is open: "Halvex Restore - " + the file name of the
// set's last archive, and " (" + the selected date's text + ")" once a date is selected.
std::string RestoreWindowTitle(const std::string& archiveFileName, const std::string& dateText = {});

}  // namespace halvex

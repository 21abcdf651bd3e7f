// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/archive_dates.h"

#include "platform/local_time.h"
#include "restore/archive_set.h"

namespace halvex {

std::string FormatArchiveDate(std::uint64_t fileTime) {
    return platform::FormatLocalTime("%B %d, %Y", platform::FileTimeToLocal(fileTime));
}

int DateMenuLabel(int archiveCount, int dateCount, int dateIndex) { return archiveCount - dateCount + dateIndex; }

std::optional<int> DateIndexFromLabel(int archiveCount, int dateCount, int label) {
    const long long index = static_cast<long long>(label) - (archiveCount - dateCount);
    if (index < 0 || index >= dateCount) return std::nullopt;
    return static_cast<int>(index);
}

std::vector<DateMenuItem> BuildDateMenu(const ArchiveSet& set) {
    std::vector<DateMenuItem> items;
    const auto& dates = set.GetBackupDates();
    for (int i = set.DateCount() - 1; i >= 0; --i) {
        DateMenuItem item;
        item.commandId = kFirstDateCommand + i;
        item.label = DateMenuLabel(set.ArchiveCount(), set.DateCount(), i);
        item.dateText = FormatArchiveDate(dates[i]);
        item.text = std::to_string(item.label) + ": " + item.dateText;
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<int> DateToSelect(const ArchiveSet& set, int commandId) {
    const long long index = static_cast<long long>(commandId) - kFirstDateCommand;
    if (index < 0 || index >= set.DateCount()) return std::nullopt;
    if (index == set.CurrentDateIndex()) return std::nullopt;
    return static_cast<int>(index);
}

std::string ArchiveDateStatusText(const std::string& dateText) { return "Archive Date: " + dateText; }

std::string RestoreWindowTitle(const std::string& archiveFileName) {
    return "TQ's Restore Utility - " + archiveFileName;
}

}  // namespace halvex

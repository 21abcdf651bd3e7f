// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/archive_dates.h"

#include <map>
#include <tuple>

#include "platform/local_time.h"
#include "restore/archive_set.h"

namespace halvex {

std::string FormatArchiveDate(std::uint64_t fileTime) {
    return platform::FormatLocalTime("%B %d, %Y", platform::FileTimeToLocal(fileTime));
}

std::vector<std::string> ArchiveDateTexts(const std::vector<std::uint64_t>& fileTimes) {
    using Day = std::tuple<int, int, int>;
    using Minute = std::tuple<int, int, int, int, int>;
    std::vector<platform::SystemTime> local;
    std::map<Day, int> perDay;
    std::map<Minute, int> perMinute;
    for (std::uint64_t time : fileTimes) {
        const platform::SystemTime& t = local.emplace_back(platform::FileTimeToLocal(time));
        ++perDay[Day{t.year, t.month, t.day}];
        ++perMinute[Minute{t.year, t.month, t.day, t.hour, t.minute}];
    }
    std::vector<std::string> texts;
    texts.reserve(local.size());
    for (const platform::SystemTime& t : local) {
        const char* format = "%B %d, %Y";
        if (perMinute[Minute{t.year, t.month, t.day, t.hour, t.minute}] > 1)
            format = "%B %d, %Y %H:%M:%S";
        else if (perDay[Day{t.year, t.month, t.day}] > 1)
            format = "%B %d, %Y %H:%M";
        texts.push_back(platform::FormatLocalTime(format, t));
    }
    return texts;
}

int DateMenuLabel(int archiveCount, int dateCount, int dateIndex) { return archiveCount - dateCount + dateIndex; }

std::optional<int> DateIndexFromLabel(int archiveCount, int dateCount, int label) {
    const long long index = static_cast<long long>(label) - (archiveCount - dateCount);
    if (index < 0 || index >= dateCount) return std::nullopt;
    return static_cast<int>(index);
}

std::vector<DateMenuItem> BuildDateMenu(const ArchiveSet& set) {
    std::vector<DateMenuItem> items;
    const std::vector<std::string> texts = ArchiveDateTexts(set.GetBackupDates());
    for (int i = set.DateCount() - 1; i >= 0; --i) {
        DateMenuItem item;
        item.commandId = kFirstDateCommand + i;
        item.label = DateMenuLabel(set.ArchiveCount(), set.DateCount(), i);
        item.dateText = texts[static_cast<std::size_t>(i)];
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

std::string RestoreWindowTitle(const std::string& archiveFileName, const std::string& dateText) {
    return "Halvex Restore - " + archiveFileName + (dateText.empty() ? "" : " (" + dateText + ")");
}

}  // namespace halvex

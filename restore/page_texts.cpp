// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/page_texts.h"

#include "platform/local_time.h"

namespace halvex {

std::string FormatListDate(std::uint64_t fileTime) { return platform::FormatUtcTime("%b-%d %Y %X", fileTime); }

std::string BrowserCountText(int selectedCount, int rowCount, bool hasUpRow) {
    if (selectedCount > 0) return std::to_string(selectedCount) + " object(s) selected";
    if (rowCount > 0) return std::to_string(hasUpRow ? rowCount - 1 : rowCount) + " object(s)";
    return {};
}

std::string SearchCountText(int rowCount) {
    if (rowCount <= 0) return {};
    return std::to_string(rowCount) + " object(s)";
}

std::string SearchingText(std::uint32_t lastUpdateTick) {
    return "Searching" + std::string(lastUpdateTick / 500 % 4, '.');
}

}  // namespace halvex

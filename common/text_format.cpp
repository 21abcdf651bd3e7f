// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/text_format.h"

#include <cstdio>

namespace halvex {

std::string FormatByteSize(std::uint64_t size) {
    char text[64];
    if (size < 1000) {
        std::snprintf(text, sizeof text, "%i bytes", static_cast<int>(size));
    } else if (size < 102400) {
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(size) / 1024.0);
    } else if (size < 1000000) {
        std::snprintf(text, sizeof text, "%.0f KB", static_cast<double>(size) / 1024.0);
    } else if (size < 1000000000) {
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(size) / 1048576.0);
    } else {
        std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(size >> 1) / 536870912.0);
    }
    return text;
}

std::string FormatDuration(std::uint32_t seconds) {
    char text[64];
    if (seconds / 60 >= 1) {
        std::snprintf(text, sizeof text, "%u minutes, %u seconds", seconds / 60, seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%u seconds", seconds);
    }
    return text;
}

}  // namespace halvex

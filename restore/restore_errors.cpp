// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restore_errors.h"

#include <string_view>

namespace halvex {

std::string LimitText(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    constexpr std::string_view kGap = "...";
    if (limit <= kGap.size()) return std::string(kGap.substr(0, limit));
    // The start says what failed and the end why: the middle of a long path gives way.
    auto boundary = [&](std::size_t at) {  // never in the middle of a UTF-8 character
        while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
        return at;
    };
    const std::size_t room = limit - kGap.size();
    const std::size_t head = boundary(room / 2);
    std::size_t tail = text.size() - (room - head);
    while (tail < text.size() && (static_cast<unsigned char>(text[tail]) & 0xC0) == 0x80) ++tail;
    return text.substr(0, head) + std::string(kGap) + text.substr(tail);
}

}  // namespace halvex

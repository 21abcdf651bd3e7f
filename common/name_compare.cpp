// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/name_compare.h"

#include <cstdint>
#include <cstring>

#include "platform/nocase.h"

namespace halvex {

bool SameName(const char* a, const char* b, NameCase nameCase) {
    if (nameCase == NameCase::Exact) return std::strcmp(a, b) == 0;
    return platform::EqualNoCase(a, b);
}

bool SameName(std::string_view a, std::string_view b, NameCase nameCase) {
    if (nameCase == NameCase::Exact) return a == b;
    return platform::EqualNoCase(a, b);
}

std::size_t NameHash::operator()(std::string_view name) const {
    // FNV-1a over the bytes, upper-cased first when case is ignored.
    std::uint64_t hash = 14695981039346656037ULL;
    for (char c : name) {
        if (nameCase == NameCase::IgnoreCase) c = platform::ToUpperAscii(c);
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash);
}

}  // namespace halvex

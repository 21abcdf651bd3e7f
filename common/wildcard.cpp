// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/wildcard.h"

#include <algorithm>

#include "platform/nocase.h"

namespace halvex {
namespace {

bool Same(std::string_view a, std::string_view b, bool caseSensitive) {
    if (a.size() != b.size()) return false;
    return caseSensitive ? a == b : platform::CompareNoCase(a, b) == 0;
}

std::optional<std::size_t> Find(std::string_view text, std::string_view part, bool caseSensitive) {
    if (!caseSensitive) return FindNoCase(text, part);
    std::size_t at = text.find(part);
    if (at == std::string_view::npos) return std::nullopt;
    return at;
}

}  // namespace

std::optional<std::size_t> FindNoCase(std::string_view text, std::string_view part) {
    auto it = std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
        return platform::ToUpperAscii(a) == platform::ToUpperAscii(b);
    });
    if (it == text.end() && !part.empty()) return std::nullopt;
    return static_cast<std::size_t>(it - text.begin());
}

const char* FindNoCase(const char* text, const char* part) {
    if (text == nullptr || part == nullptr) return nullptr;
    auto at = FindNoCase(std::string_view(text), std::string_view(part));
    return at ? text + *at : nullptr;
}

bool MatchWildcard(std::string_view name, std::string_view pattern, bool caseSensitive) {
    std::size_t star = pattern.find('*');
    if (star == std::string_view::npos) return Same(name, pattern, caseSensitive);

    std::string_view head = pattern.substr(0, star);
    if (name.size() < head.size() || !Same(name.substr(0, head.size()), head, caseSensitive))
        return false;
    std::string_view rest = name.substr(head.size());
    pattern.remove_prefix(star);

    for (;;) {
        std::size_t segmentStart = pattern.find_first_not_of('*');
        if (segmentStart == std::string_view::npos) return true;  // trailing '*' takes any rest
        pattern.remove_prefix(segmentStart);
        std::size_t next = pattern.find('*');
        if (next == std::string_view::npos) {
            // The tail is anchored at the end of the whole name, not of the unmatched rest.
            if (pattern.size() > name.size()) return false;
            return Same(name.substr(name.size() - pattern.size()), pattern, caseSensitive);
        }
        std::string_view segment = pattern.substr(0, next);
        if (rest.size() < segment.size()) return false;
        auto at = Find(rest, segment, caseSensitive);
        if (!at) return false;
        rest.remove_prefix(*at + segment.size());
        pattern.remove_prefix(next);
    }
}

bool MatchWildcard(const char* name, const char* pattern, bool caseSensitive) {
    if (name == nullptr || pattern == nullptr) return false;
    return MatchWildcard(std::string_view(name), std::string_view(pattern), caseSensitive);
}

}  // namespace halvex

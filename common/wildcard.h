// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Wildcard patterns for backup filters and the restore search: '*' stands for any run of
// characters (folder separators included); no other character has a meaning of its own.
#include <cstddef>
#include <optional>
#include <string_view>

namespace halvex {

// Whether name matches pattern. With caseSensitive clear, ASCII letters compare ignoring
// case. The part before the first '*' is anchored at the start of the name, the part after
// the last '*' at its end (it may overlap what earlier parts matched); the parts between
// take their leftmost occurrence, without backtracking.
bool MatchWildcard(std::string_view name, std::string_view pattern, bool caseSensitive);
// As above; a missing (null) name or pattern never matches.
bool MatchWildcard(const char* name, const char* pattern, bool caseSensitive);

// Offset of the first occurrence of part in text, ignoring the case of ASCII letters; 0 for
// an empty part.
std::optional<std::size_t> FindNoCase(std::string_view text, std::string_view part);
// Pointer into text at the first occurrence, or null (also when either argument is null).
const char* FindNoCase(const char* text, const char* part);

}  // namespace halvex

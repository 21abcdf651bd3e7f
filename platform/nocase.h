// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Case-insensitive text comparison for names and patterns: ASCII letters fold, every other
// byte compares as it is (names are UTF-8 bytes).
#include <string>
#include <string_view>

namespace halvex::platform {

inline char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// <0, 0, >0 as strcmp, after folding ASCII letters.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}
// Upper-cases ASCII letters in place / in a copy.
void UpperCaseInPlace(std::string& text);
void UpperCaseInPlace(char* text);
std::string UpperCased(std::string_view text);

}  // namespace halvex::platform

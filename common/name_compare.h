// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How file and folder names compare inside the file tree. Linux file systems keep "Makefile"
// and "makefile" side by side as two files, so names there compare exactly; a Windows file
// system treats them as one name, so there they compare ignoring case. Every lookup and merge
// of the file tree goes through the one comparison chosen here.
#include <cstddef>
#include <string_view>

namespace halvex {

enum class NameCase {
    Exact,       // byte for byte
    IgnoreCase,  // ASCII letters fold; other bytes compare as they are
};

#ifdef _WIN32
inline constexpr NameCase kPlatformNameCase = NameCase::IgnoreCase;
#else
inline constexpr NameCase kPlatformNameCase = NameCase::Exact;
#endif

bool SameName(const char* a, const char* b, NameCase nameCase = kPlatformNameCase);
bool SameName(std::string_view a, std::string_view b, NameCase nameCase = kPlatformNameCase);

// Hash and equality for hashed containers of names; two names hash alike whenever SameName
// holds for them. Both accept std::string_view, so lookups need no copy of the name.
struct NameHash {
    using is_transparent = void;
    NameCase nameCase = kPlatformNameCase;
    std::size_t operator()(std::string_view name) const;
};

struct NameEqual {
    using is_transparent = void;
    NameCase nameCase = kPlatformNameCase;
    bool operator()(std::string_view a, std::string_view b) const { return SameName(a, b, nameCase); }
};

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/safe_name.h"

namespace halvex {

bool HasPathSeparator(std::string_view name) {
    // A plain loop: find_first_of looks each character up in the set with a call of its own,
    // and every name of every history record passes here.
    for (const char c : name) {
        if (c == '/' || c == '\\' || c == '\0') return true;
    }
    return false;
}

bool IsSafeName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && !HasPathSeparator(name);
}

}  // namespace halvex

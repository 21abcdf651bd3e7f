// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/safe_name.h"

namespace halvex {

bool HasPathSeparator(std::string_view name) {
    return name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos;
}

bool IsSafeName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && !HasPathSeparator(name);
}

}  // namespace halvex

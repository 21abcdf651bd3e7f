// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/archive_naming.h"

#include <algorithm>
#include <utility>

namespace halvex {

std::string MakeArchiveFileName(std::string_view base, int number) {
    std::string name(base);
    if (number >= 2) name += std::to_string(number);
    name += kArchiveExtension;
    return name;
}

bool ArchiveNamesCanCollide(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.substr(0, a.size()) != a) return false;
    const std::string_view rest = b.substr(a.size());
    if (rest.empty()) return true;
    // a + rest (+ digits) is a name of a's set exactly when rest is a number without a
    // leading zero: rest itself when it is 2 or more, rest followed by 2 when it is 1.
    return rest.front() >= '1' && rest.front() <= '9' &&
           std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File names of the numbered archives of a backup set.
#include <string>
#include <string_view>

namespace halvex {

inline constexpr std::string_view kArchiveExtension = ".TQBak";

// base + ".TQBak" for the first archive (numbers below 2), base + number + ".TQBak" after:
// "/b/Job" gives "/b/Job.TQBak", "/b/Job2.TQBak", "/b/Job10.TQBak".
std::string MakeArchiveFileName(std::string_view base, int number);

// Whether some archive of the set of `a` has the name of some archive of the set of `b`, the
// bases compared byte for byte: equal bases, or one base followed by a number that does not
// begin with 0 ("Job1" and "Job12": Job1's archive 2 is Job12's archive 1; "Job" and "Job1":
// Job's archive 12 is Job1's archive 2).
bool ArchiveNamesCanCollide(std::string_view a, std::string_view b);

}  // namespace halvex

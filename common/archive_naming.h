#pragma once
// File names of the numbered archives of a backup set.
#include <string>
#include <string_view>

namespace halvex {

inline constexpr std::string_view kArchiveExtension = ".TQBak";

// base + ".TQBak" for the first archive (numbers below 2), base + number + ".TQBak" after:
// "/b/Job" gives "/b/Job.TQBak", "/b/Job2.TQBak", "/b/Job10.TQBak".
std::string MakeArchiveFileName(std::string_view base, int number);

}  // namespace halvex

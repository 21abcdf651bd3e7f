// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/fit_path.h"

#include <algorithm>
#include <vector>

namespace halvex {
namespace {

constexpr std::string_view kEllipsis = "...";

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Offsets at which the text may be cut without splitting a UTF-8 character, 0 and size included.
std::vector<std::size_t> CutPoints(std::string_view text) {
    std::vector<std::size_t> points;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || !IsContinuationByte(text[i])) points.push_back(i);
    }
    return points;
}

// The last index in [0, count) for which fits(index) holds, given that fits(0) holds and
// that fits turns false at most once as the index grows.
template <typename Fits>
std::size_t LastFitting(std::size_t count, Fits fits) {
    std::size_t good = 0, bad = count;
    while (bad - good > 1) {
        std::size_t middle = good + (bad - good) / 2;
        if (fits(middle)) good = middle; else bad = middle;
    }
    return good;
}

}  // namespace

std::string FitPathToWidth(std::string_view text, int width, const TextMeasure& measure) {
    if (measure(text) <= width) return std::string(text);
    if (measure(kEllipsis) > width) return {};

    std::size_t separator = text.find_last_of("\\/");
    std::string_view start = separator == std::string_view::npos ? std::string_view() : text.substr(0, separator);
    std::string_view end = separator == std::string_view::npos ? text : text.substr(separator);

    auto fits = [&](const std::string& candidate) { return measure(candidate) <= width; };

    std::string whole = std::string(kEllipsis) + std::string(end);
    if (fits(whole)) {
        // Keep as much of the start as fits in front of the ellipsis.
        std::vector<std::size_t> points = CutPoints(start);
        auto candidate = [&](std::size_t i) {
            return std::string(start.substr(0, points[i])) + std::string(kEllipsis) + std::string(end);
        };
        return candidate(LastFitting(points.size(), [&](std::size_t i) { return fits(candidate(i)); }));
    }

    // Even the last part is too wide: keep as much of its end as fits behind the ellipsis.
    std::vector<std::size_t> points = CutPoints(end);
    auto candidate = [&](std::size_t i) {
        return std::string(kEllipsis) + std::string(end.substr(points[points.size() - 1 - i]));
    };
    return candidate(LastFitting(points.size(), [&](std::size_t i) { return fits(candidate(i)); }));
}

std::string ShownPath(std::string_view storedPath) {
    std::string shown(storedPath);
    std::replace(shown.begin(), shown.end(), '\\', '/');
    return shown;
}

}  // namespace halvex

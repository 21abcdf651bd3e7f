// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shortening a path so that it fits a label: characters in the middle give way to "...",
// and as much as possible of the part after the last separator is kept.
#include <functional>
#include <string>
#include <string_view>

namespace halvex {

// Width of a text in the label's font (pixels, or any unit that grows with the text).
using TextMeasure = std::function<int(std::string_view)>;

// text unchanged when measure(text) <= width. Otherwise, in this order of preference:
// the longest start of the text + "..." + the part from the last '\' or '/' on;
// "..." + the longest end of that part; "..." alone; "" when not even "..." fits.
// Cuts fall between UTF-8 characters, never inside one.
std::string FitPathToWidth(std::string_view text, int width, const TextMeasure& measure);

// A stored path ("Data\letters\a.txt") as windows and messages show it: "Data/letters/a.txt".
// The backup stores no name holding a '\', so each one is a separator. Listings keep '\'.
std::string ShownPath(std::string_view storedPath);

}  // namespace halvex

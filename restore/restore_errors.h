// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Error texts as the restore's message boxes show them. What an error says is DescribeError's
// (zip/zip_exception.h); this only fits it to a box.
#include <cstddef>
#include <string>

namespace halvex {

// `text` shortened to at most `limit` bytes by putting "..." in place of its middle (message
// boxes show at most so much of an error; its start and its end say the most).
std::string LimitText(std::string text, std::size_t limit);

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/search_results.h"

#include <string_view>

namespace halvex {

void SearchResults::Add(const FileTreeFile* file, const char* folderPath) {
    std::string_view path(folderPath != nullptr ? folderPath : "");
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (folders_.empty() || folders_.back() != path) folders_.emplace_back(path);
    hits_.push_back({file, static_cast<std::uint32_t>(folders_.size() - 1)});
}

void SearchResults::Clear() {
    hits_.clear();
    folders_.clear();
}

}  // namespace halvex

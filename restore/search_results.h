// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The files a search of the catalog found, as the File Search page lists them: each file with
// the path of its folder. Hits of one folder come one after another, so each folder's path is
// kept once however many of its files are found.
#include <cstdint>
#include <string>
#include <vector>

#include "common/file_tree.h"

namespace halvex {

class SearchResults {
public:
    struct Hit {
        const FileTreeFile* file = nullptr;
        std::uint32_t folder = 0;  // index into the folder paths
    };

    // Adds a file found in `folderPath` ("Data\letters\", as the search hands it over).
    void Add(const FileTreeFile* file, const char* folderPath);
    void Clear();

    std::size_t Size() const { return hits_.size(); }
    bool Empty() const { return hits_.empty(); }
    const Hit& operator[](std::size_t i) const { return hits_[i]; }
    const std::vector<Hit>& Hits() const { return hits_; }
    // The folder path as the list shows it: "Data\letters" (no final '\').
    const std::string& FolderPath(const Hit& hit) const { return folders_[hit.folder]; }

private:
    std::vector<Hit> hits_;
    std::vector<std::string> folders_;
};

}  // namespace halvex

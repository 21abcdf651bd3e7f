// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Types of the catalog of archived files: the per-date trees, the wildcard search and the logs
// are members of ArchiveSet (restore/archive_set.h), implemented in archive_set_catalog.cpp.
#include <cstdint>
#include <string>

#include "common/file_tree.h"

namespace halvex {

// Called by ArchiveSet::Search for every file found: the user data, the file, the path of its
// folder (the target's name and the sub-folders, each followed by '\') and the user data
// again. It answers whether the search goes on.
enum class SearchStep : std::uint8_t { Stop = 0, GoOn = 1 };
using SearchCallback = SearchStep (*)(void* userData, const FileTreeFile* file, const char* folderPath,
                                      void* userDataAgain);

// The folder filter of the search page's "Look In:" text: none for "<All Dirs>" (any letter
// case), otherwise the text, a '\' unless it ends with one, and "*" (Docs and Docs\ both give
// Docs\*).
std::string LookInFilter(const std::string& lookIn);

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The targets of the symbolic links a set holds, for listings and the File Browser. The
// history records a link as a file (size: its target's length); only its archive entry tells
// that it is a link and where it points. Each archive's link entries are read once, on the
// first question about a file of that archive that could be a link.
#include <map>
#include <optional>
#include <string>

#include "common/file_tree.h"

namespace halvex {

class ArchiveSet;

class LinkTargets {
public:
    explicit LinkTargets(const ArchiveSet& set) : set_(set) {}

    // The target of `file`, named `entryPath` ('\' separators) in its archive, when its entry
    // is a link; nothing for other files, and when the archive cannot be read.
    std::optional<std::string> TargetOf(const FileTreeFile& file, const std::string& entryPath);

private:
    const ArchiveSet& set_;
    // Per archive number: entry name -> link target.
    std::map<int, std::map<std::string, std::string>> links_;
};

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The permissions of the folders a restore makes. A folder takes its stored permissions only
// once everything below it is in, since a folder stored as 500 must still receive its files:
// the restore notes each folder it makes, finds its permissions in the archives it opens, and
// applies them all when it ends (completed or not), deepest folder first.
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "zip/zip_archive_file.h"

namespace halvex {

class PendingFolderPermissions {
public:
    void Clear() { folders_.clear(); }
    // Notes the folder at `path`, just made by the restore, whose entry is `entryName` ('\'
    // separators). The folder's identity is taken now: only this very folder is changed later,
    // never something put in its place meanwhile. False when it cannot be looked at.
    bool Note(const std::string& path, const std::string& entryName);
    // Fills in the permissions of noted folders that have none yet from their folder entries in
    // `zip` (an open archive). A folder whose entry carries no Unix permissions keeps waiting
    // for an older archive; one that none of them has keeps the permissions it was made with.
    void LookUp(ZipArchiveFile& zip);
    // Applies the permissions found, deepest folder first, and forgets every folder. Answers a
    // line for each folder that could not be changed.
    std::vector<std::string> Apply();

private:
    struct Folder {
        std::string path;
        std::string entryName;
        dev_t device = 0;
        ino_t inode = 0;
        std::optional<std::uint32_t> permissions;
    };
    std::vector<Folder> folders_;
};

}  // namespace halvex

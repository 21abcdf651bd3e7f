// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every version of one archived file across the set's dates, and the restore or private copy
// of one of them, whatever date is selected.
#include <cstdint>
#include <string>
#include <vector>

#include "common/file_tree.h"
#include "restore/restore_selection.h"

namespace halvex {

class ArchiveSet;

// One stored version of a file: the date of the archive that holds it and what it holds.
struct FileVersion {
    int dateIndex = 0;      // into GetBackupDates
    int archiveNumber = 0;  // the archive holding the version
    std::string entryPath;  // the file's entry path as stored in that version
    std::string name;       // and its name
    std::uint64_t size = 0;
    std::uint64_t lastWriteTime = 0;
};

// The distinct versions of the file at entry path `entryPath` ("Target\\folder\\name"),
// newest first: one per archive that stored it, each at the date of that archive. Files of
// archives older than the set's first date are left out (no date can reach them). Empty, with
// `error` set, when the set never held such a file.
std::vector<FileVersion> ListFileVersions(ArchiveSet& set, const std::string& entryPath, std::string& error);

// A selection of the one version, from its own archive. The FileTreeFile the selection points
// to is `storage`, which must outlive the selection (and `version` too: it holds the name).
CatalogSelection VersionSelection(const FileVersion& version, FileTreeFile& storage);

// The entry path of the folder holding `entryPath` ("" for a path without '\\').
std::string EntryFolder(const std::string& entryPath);

// Makes a private folder (mode 0700) below `parent` for copies opened for viewing and
// answers its path; "" with `error` set when it cannot be made.
std::string MakePrivateFolder(const std::string& parent, std::string& error);

// Restores a selection of one file into a new private folder below `parent`, without the
// closing message, and makes the copy read-only. The copy's path, or "" when it was not
// made (the reason was shown, or is in `error`). `folder` receives the private folder made
// (also when the restore failed), for its owner to remove.
std::string ExtractPrivateCopy(ArchiveSet& set, const CatalogSelection& selection, const std::string& parent,
                               std::string& folder, std::string& error);

}  // namespace halvex

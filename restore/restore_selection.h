// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a restore takes from the catalog and where it goes, written once for the pages and the
// command line: whole targets to their source folders or below an alternate folder (the Easy
// Restore page), and files and folders of one folder into a chosen folder (the File Browser
// page). Both report the outcome ("Restoration Complete" / "Restoration Aborted") through the
// set's user interface.
#include <optional>
#include <string>
#include <vector>

#include "common/file_tree.h"
#include "restore/archive_set_restore.h"

namespace halvex {

class ArchiveSet;

// "Halvex Restored" in the user's home folder: where whole targets go when the user asks for
// the alternate folder.
std::string DefaultAlternateFolder();

// "Restoration Incomplete: N items could not be restored".
std::string IncompleteText(int notRestored);

// Where target `target` is restored: its source folder, or alternateFolder/target name.
std::string TargetDestination(const ArchiveSet& set, int target, const std::string& alternateFolder);

// Restores the targets (indices, in row order) as of the selected date, each to
// TargetDestination, one after the other against the total size of them all; a target without
// a tree at the date is named in a message and counts as not restored. Stops at the first target whose destination is refused
// or whose restore is aborted; the outcome tells which.
[[nodiscard]] RestoreOutcome RestoreTargets(ArchiveSet& set, const std::vector<int>& targets, const std::string& alternateFolder);

// Files and folders of one folder of the catalog, and the entry path of that folder ("" when
// they are whole targets).
struct CatalogSelection {
    std::string sourcePath;
    std::vector<const FileTreeNode*> folders;
    std::vector<const FileTreeFile*> files;
    // The newest archive holding an item, when items come from another date than the selected
    // one (a file's version, a hit of every backup); 0 for the selected date's.
    int newestArchive = 0;
};

// The names of an entry path "Target\folder\name".
std::vector<std::string> SplitEntryPath(const std::string& path);
// The target named `name`, exactly or else ignoring case; -1 for none.
int FindTargetByName(const ArchiveSet& set, const std::string& name);
// The file `parts[first..]` names below `top` (folders, then the file's name); each name
// matches exactly, or ignoring case when exactly one does. Null when there is none. With
// `storedPath`, each name found is added to it as stored, after a '\\'.
const FileTreeFile* FindFileBelow(const FileTreeNode* top, const std::vector<std::string>& parts, std::size_t first,
                                  std::string* storedPath = nullptr);

// Finds entry paths ("Target\folder\name", as the file listing shows them) in the selected
// date's trees. Names match exactly, or ignoring case when exactly one name does. Nothing, with
// `error` set, when a path is not in the catalog or the paths are not all in one folder.
std::optional<CatalogSelection> ResolveSelection(const ArchiveSet& set, const std::vector<std::string>& entryPaths,
                                                 std::string& error);

// Restores the selection into `destination`: the destination is prepared first (a refusal
// ends here without a further message), then the selection is restored.
// Both end with "Restoration Complete", "Restoration Incomplete: N items could not be
// restored" (entries left out, each named before) or "Restoration Aborted".
// `announce` false leaves out the closing message (a copy opened for viewing).
RestoreOutcome RestoreSelection(ArchiveSet& set, const CatalogSelection& selection, const std::string& destination,
                                bool announce = true);

// Several selections, each into its own folder, as one restore with one closing message;
// stops at the first refused destination or aborted restore.
struct PlannedRestore {
    CatalogSelection selection;
    std::string destination;
};
RestoreOutcome RestoreSelections(ArchiveSet& set, const std::vector<PlannedRestore>& restores);

}  // namespace halvex

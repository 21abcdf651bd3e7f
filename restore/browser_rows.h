// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The File Browser page without its windows: which rows a folder of the catalog lists, where
// its selection is restored by default, and the restore of the selected rows.
#include <cstdint>
#include <string>
#include <vector>

#include "common/file_tree.h"
#include "restore/restore_selection.h"

namespace halvex {

class ArchiveSet;

enum class BrowserRowKind : std::uint8_t {
    File,    // a file of the folder
    Up,      // "<..>": back to the parent folder
    Folder,  // a sub-folder
    Target,  // a whole target (the rows of the set itself)
};

struct BrowserRow {
    BrowserRowKind kind = BrowserRowKind::Up;
    const FileTreeNode* folder = nullptr;  // Folder and Target rows
    const FileTreeFile* file = nullptr;    // File rows

    // Every row but "<..>" stands for something of the catalog.
    bool HasItem() const { return kind != BrowserRowKind::Up; }
    // The file's size or the folder's total.
    std::uint64_t Size() const;
};

// The rows of one folder, in the order they are added before sorting: its files, "<..>", then
// its sub-folders in tree order.
std::vector<BrowserRow> FolderRows(const FileTreeNode& folder);

// The rows of the set itself: one per target that has a tree at the selected date, in target
// order, without "<..>".
std::vector<BrowserRow> TargetRows(const ArchiveSet& set);

// Where a folder of the browser lies: its target (-1 for the set itself) and the names of the
// folders from the target's top folder down to it.
struct BrowserPlace {
    int target = -1;
    std::vector<std::string> folders;
};

// "Restore To:" for a place: the alternate folder for the set, else the target's source folder
// followed by the folders ("/home/me/data/letters/2004"); "" when the source folder is not a
// folder of this system (not absolute).
std::string DefaultRestoreTo(const ArchiveSet& set, const BrowserPlace& place);

// The entry path of a place ("Data\letters\2004"), "" for the set.
std::string PlaceEntryPath(const ArchiveSet& set, const BrowserPlace& place);

// The selected rows of a place as a restore selection; "<..>" rows count for nothing.
CatalogSelection BrowserSelection(const ArchiveSet& set, const BrowserPlace& place,
                                  const std::vector<BrowserRow>& selectedRows);

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/browser_rows.h"

#include "restore/archive_set.h"

namespace halvex {

std::uint64_t BrowserRow::Size() const {
    if (file != nullptr) return file->size;
    if (folder != nullptr) return folder->totalSize;
    return 0;
}

std::vector<BrowserRow> FolderRows(const FileTreeNode& folder) {
    std::vector<BrowserRow> rows;
    std::size_t count = 1;
    for (const FileTreeFile* file = folder.files; file != nullptr; file = file->next) ++count;
    for (const FileTreeNode* sub = folder.firstChild; sub != nullptr; sub = sub->nextSibling) ++count;
    rows.reserve(count);
    for (const FileTreeFile* file = folder.files; file != nullptr; file = file->next)
        rows.push_back({BrowserRowKind::File, nullptr, file});
    rows.push_back({BrowserRowKind::Up, nullptr, nullptr});
    for (const FileTreeNode* sub = folder.firstChild; sub != nullptr; sub = sub->nextSibling)
        rows.push_back({BrowserRowKind::Folder, sub, nullptr});
    return rows;
}

std::vector<BrowserRow> TargetRows(const ArchiveSet& set) {
    std::vector<BrowserRow> rows;
    for (int i = 0; i < set.TargetCount(); ++i) {
        if (const FileTreeNode* tree = set.GetTargetTree(i)) rows.push_back({BrowserRowKind::Target, tree, nullptr});
    }
    return rows;
}

std::string DefaultRestoreTo(const ArchiveSet& set, const BrowserPlace& place) {
    if (place.target < 0 || place.target >= set.TargetCount()) return DefaultAlternateFolder();
    std::string path = set.GetSourceFolder(place.target);
    // A set made on another system (C:\data) names no folder here: the user picks one.
    if (path.empty() || path.front() != '/') return {};
    for (const std::string& folder : place.folders) {
        if (path.empty() || path.back() != '/') path += '/';
        path += folder;
    }
    return path;
}

std::string PlaceEntryPath(const ArchiveSet& set, const BrowserPlace& place) {
    if (place.target < 0 || place.target >= set.TargetCount()) return {};
    std::string path = set.GetTargetName(place.target);
    for (const std::string& folder : place.folders) {
        path += '\\';
        path += folder;
    }
    return path;
}

CatalogSelection BrowserSelection(const ArchiveSet& set, const BrowserPlace& place,
                                  const std::vector<BrowserRow>& selectedRows) {
    CatalogSelection selection;
    selection.sourcePath = PlaceEntryPath(set, place);
    for (const BrowserRow& row : selectedRows) {
        if (row.file != nullptr)
            selection.files.push_back(row.file);
        else if (row.folder != nullptr)
            selection.folders.push_back(row.folder);
    }
    return selection;
}

}  // namespace halvex

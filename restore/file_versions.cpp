// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/file_versions.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "restore/archive_set.h"

namespace halvex {

std::vector<FileVersion> ListFileVersions(ArchiveSet& set, const std::string& entryPath, std::string& error) {
    std::vector<FileVersion> versions;
    const std::vector<std::string> parts = SplitEntryPath(entryPath);
    const int target = parts.size() >= 2 ? FindTargetByName(set, parts[0]) : -1;
    if (target < 0) {
        error = entryPath + " is not a file of the set";
        return versions;
    }
    const int firstDatedArchive = set.ArchiveCount() - set.DateCount() + 1;
    set.ReplayTarget(target, [&](const FileTreeNode* tree, int) {
        std::string stored = set.GetTargetName(target);
        const FileTreeFile* file = FindFileBelow(tree, parts, 1, &stored);
        if (file == nullptr || file->archiveNumber < firstDatedArchive) return;
        // A version stays current over later backups that leave it alone: it is listed once,
        // at the date of the archive holding it.
        const auto same = [&](const FileVersion& v) {
            return v.archiveNumber == file->archiveNumber && v.size == file->size && v.lastWriteTime == file->lastWriteTime;
        };
        if (std::any_of(versions.begin(), versions.end(), same)) return;
        versions.push_back({file->archiveNumber - firstDatedArchive, file->archiveNumber, stored, file->name,
                            file->size, file->lastWriteTime});
    });
    if (versions.empty()) error = entryPath + " is not a file of the set";
    std::stable_sort(versions.begin(), versions.end(),
                     [](const FileVersion& a, const FileVersion& b) { return a.archiveNumber > b.archiveNumber; });
    return versions;
}

std::string EntryFolder(const std::string& entryPath) {
    const std::size_t slash = entryPath.rfind('\\');
    return slash == std::string::npos ? std::string() : entryPath.substr(0, slash);
}

CatalogSelection VersionSelection(const FileVersion& version, FileTreeFile& storage) {
    storage = FileTreeFile{};
    // The restore copies the node shallowly and never frees or changes its name.
    storage.name = const_cast<char*>(version.name.c_str());
    storage.size = version.size;
    storage.lastWriteTime = version.lastWriteTime;
    storage.archiveNumber = static_cast<std::uint16_t>(version.archiveNumber);
    CatalogSelection selection;
    selection.sourcePath = EntryFolder(version.entryPath);
    selection.files.push_back(&storage);
    selection.newestArchive = version.archiveNumber;
    return selection;
}

std::string MakePrivateFolder(const std::string& parent, std::string& error) {
    std::string pattern = parent;
    if (pattern.empty() || pattern.back() != '/') pattern += '/';
    pattern += "halvex-open-XXXXXX";
    // mkdtemp makes the folder with mode 0700: nobody else can read the copies.
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "Could not make a private folder in " + parent + ": " + std::strerror(errno) + ".";
        return {};
    }
    return pattern;
}

std::string ExtractPrivateCopy(ArchiveSet& set, const CatalogSelection& selection, const std::string& parent,
                               std::string& folder, std::string& error) {
    folder.clear();
    if (selection.files.size() != 1 || !selection.folders.empty()) {
        error = "Only a single file can be opened.";
        return {};
    }
    folder = MakePrivateFolder(parent, error);
    if (folder.empty()) return {};
    const RestoreOutcome outcome = RestoreSelection(set, selection, folder, /*announce=*/false);
    const std::string copy = folder + "/" + selection.files.front()->name;
    struct stat info {};
    if (!outcome.Completed() || set.SkippedEntries() > 0 || lstat(copy.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "The file could not be copied out of the archive.";
        return {};
    }
    // Changes to the copy would be lost: it is opened read-only.
    if (chmod(copy.c_str(), info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) != 0) {
        error = "Could not make " + copy + " read-only: " + std::strerror(errno) + ".";
        return {};
    }
    return copy;
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/folder_permissions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvex {

bool PendingFolderPermissions::Note(const std::string& path, const std::string& entryName) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    folders_.push_back(Folder{path, entryName, st.st_dev, st.st_ino, std::nullopt});
    return true;
}

void PendingFolderPermissions::LookUp(ZipArchiveFile& zip) {
    if (zip.IsClosed(true)) return;
    for (Folder& folder : folders_) {
        if (folder.permissions) continue;
        // Folder entries end with a separator; those of older archives may not.
        int index = zip.FindEntryExactFirst(folder.entryName + '\\');
        if (index < 0 || !zip.IsFolderEntry(index)) index = zip.FindEntryExactFirst(folder.entryName);
        ZipEntryHeader header;
        if (index >= 0 && zip.IsFolderEntry(index) && zip.GetEntryInfo(header, index))
            folder.permissions = header.UnixPermissions();
    }
}

std::vector<std::string> PendingFolderPermissions::Apply() {
    std::vector<Folder> folders = std::move(folders_);
    folders_.clear();
    // A folder below another has the longer path: deepest first, so that a parent that no
    // longer lets its owner in cannot stop its sub-folders from being changed.
    std::stable_sort(folders.begin(), folders.end(),
                     [](const Folder& a, const Folder& b) { return a.path.size() > b.path.size(); });
    std::vector<std::string> failures;
    for (const Folder& folder : folders) {
        if (!folder.permissions) continue;
        // Through a descriptor of the folder itself, never through a link put in its place.
        const int fd = ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        std::string reason = fd < 0 ? std::strerror(errno) : "";
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) != 0) reason = std::strerror(errno);
            else if (st.st_dev != folder.device || st.st_ino != folder.inode) reason = "it was replaced meanwhile";
            else if (::fchmod(fd, static_cast<mode_t>(*folder.permissions & 0777)) != 0) reason = std::strerror(errno);
            ::close(fd);
        }
        if (!reason.empty())
            failures.push_back("Could not set the permissions of the folder '" + folder.path + "': " + reason + ".");
    }
    return failures;
}

}  // namespace halvex

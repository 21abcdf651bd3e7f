// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/directory_listing.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/file_attributes.h"

namespace halvex::platform {

DirectoryListing::~DirectoryListing() { Close(); }

bool DirectoryListing::Open(const std::string& folder) {
    Close();
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) {
        error_ = errno;
        return false;
    }
    error_ = 0;
    dir_ = d;
    return true;
}

void DirectoryListing::Close() {
    if (dir_ != nullptr) {
        closedir(static_cast<DIR*>(dir_));
        dir_ = nullptr;
    }
}

bool DirectoryListing::Next(DirEntry& entry) {
    if (dir_ == nullptr) return false;
    DIR* d = static_cast<DIR*>(dir_);
    for (;;) {
        errno = 0;
        dirent* de = readdir(d);
        if (de == nullptr) {
            error_ = errno;
            return false;
        }
        if (std::strcmp(de->d_name, ".") == 0 || std::strcmp(de->d_name, "..") == 0) continue;
        entry = DirEntry{};
        entry.name = de->d_name;
        int fd = dirfd(d);
        struct stat lst {};
        if ((de->d_type == DT_LNK || de->d_type == DT_UNKNOWN) &&
            fstatat(fd, de->d_name, &lst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(lst.st_mode)) {
            entry.isSymlink = true;
            entry.linkSize = static_cast<std::uint64_t>(lst.st_size);
            entry.linkTime = FileTimeFromTimespec(lst.st_mtim);
        } else if (de->d_type == DT_LNK) {
            entry.isSymlink = true;  // gone or replaced meanwhile
        }
        struct stat st {};
        if (fstatat(fd, de->d_name, &st, 0) != 0) {
            entry.kind = EntryKind::Unreadable;
            return true;
        }
        entry.kind = KindOfMode(st.st_mode, entry.special);
        if (entry.kind == EntryKind::RegularFile) entry.size = static_cast<std::uint64_t>(st.st_size);
        entry.attributes = AttributesFromMode(st.st_mode);
        entry.lastWriteTime = FileTimeFromTimespec(st.st_mtim);
        return true;
    }
}

EntryKind KindOfMode(unsigned mode, SpecialKind& special) {
    special = SpecialKind::None;
    if (S_ISDIR(mode)) return EntryKind::Directory;
    if (S_ISREG(mode)) return EntryKind::RegularFile;
    special = S_ISFIFO(mode)   ? SpecialKind::Fifo
              : S_ISSOCK(mode) ? SpecialKind::Socket
              : S_ISCHR(mode)  ? SpecialKind::CharacterDevice
              : S_ISBLK(mode)  ? SpecialKind::BlockDevice
                               : SpecialKind::None;
    return EntryKind::Other;
}

}  // namespace halvex::platform

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/folder_reader.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvex::platform {

FolderReader::~FolderReader() { Close(); }

void FolderReader::Close() {
    if (dir_ != nullptr) {
        closedir(static_cast<DIR*>(dir_));
        dir_ = nullptr;
    }
}

void FolderReader::Open(const std::string& folder, bool identity, ListingChunk& chunk) {
    Close();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = fd < 0 ? nullptr : fdopendir(fd);
    if (d == nullptr) {
        chunk.error = errno;
        if (fd >= 0) ::close(fd);
        chunk.last = true;
        return;
    }
    dir_ = d;
    chunk.opened = true;
    struct stat st {};
    if (identity && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        chunk.hasIdentity = true;
        chunk.device = static_cast<std::uint64_t>(st.st_dev);
        chunk.inode = static_cast<std::uint64_t>(st.st_ino);
    }
}

void FolderReader::Read(ListingChunk& chunk, std::size_t maxEntries) {
    if (dir_ == nullptr) {
        chunk.last = true;
        return;
    }
    DIR* d = static_cast<DIR*>(dir_);
    const int fd = dirfd(d);
    for (std::size_t n = 0; n < maxEntries;) {
        errno = 0;
        const dirent* de = readdir(d);
        if (de == nullptr) {
            chunk.error = errno;
            chunk.last = true;
            Close();
            return;
        }
        if (de->d_name[0] == '.' && (de->d_name[1] == '\0' || (de->d_name[1] == '.' && de->d_name[2] == '\0')))
            continue;
        ListedEntry& e = chunk.entries.emplace_back();
        const std::size_t nameSize = std::strlen(de->d_name);
        e.nameStart = static_cast<std::uint32_t>(chunk.names.size());
        e.nameSize = static_cast<std::uint32_t>(nameSize);
        chunk.names.append(de->d_name, nameSize + 1);
        ++n;
        struct stat st {};
        if (de->d_type == DT_LNK || de->d_type == DT_UNKNOWN) {
            if (fstatat(fd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
                // Never followed, so what it points to is not looked at.
                e.isSymlink = true;
                e.size = static_cast<std::uint64_t>(st.st_size);
                e.time = FileTimeFromTimespec(st.st_mtim);
                continue;
            }
            if (de->d_type == DT_LNK) {
                e.isSymlink = true;  // gone or replaced meanwhile
                continue;
            }
        }
        if (fstatat(fd, de->d_name, &st, 0) != 0) {
            e.kind = EntryKind::Unreadable;
        } else {
            e.kind = KindOfMode(st.st_mode, e.special);
            if (e.kind == EntryKind::RegularFile) {
                e.size = static_cast<std::uint64_t>(st.st_size);
                e.time = FileTimeFromTimespec(st.st_mtim);
            }
        }
    }
}

}  // namespace halvex::platform

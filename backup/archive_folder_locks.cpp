// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/archive_folder_locks.h"

#include <cerrno>
#include <sys/stat.h>

namespace halvex {
namespace {

bool Identity(const std::string& folder, std::uint64_t& device, std::uint64_t& inode) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    device = static_cast<std::uint64_t>(st.st_dev);
    inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

}  // namespace

void ArchiveFolderLocks::Reset(const std::string& heldFolder) {
    ReleaseAll();
    Held held;
    if (Identity(heldFolder, held.device, held.inode)) held_.push_back(std::move(held));
}

ArchiveFolderLocks::Result ArchiveFolderLocks::Lock(const std::string& folder) {
    Held held;
    if (!Identity(folder, held.device, held.inode)) return Result::Failed;
    for (const Held& h : held_)
        if (h.device == held.device && h.inode == held.inode) return Result::Locked;
    held.lock = std::make_unique<platform::FolderLock>();
    if (!held.lock->TryLock(folder)) return errno == EWOULDBLOCK ? Result::Busy : Result::Failed;
    held_.push_back(std::move(held));
    return Result::Locked;
}

void ArchiveFolderLocks::ReleaseAll() { held_.clear(); }

}  // namespace halvex

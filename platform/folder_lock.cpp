// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace halvex::platform {

bool FolderLock::TryLock(const std::string& folder) {
    Unlock();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void FolderLock::Unlock() noexcept {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor releases the lock
    fd_ = -1;
}

}  // namespace halvex::platform

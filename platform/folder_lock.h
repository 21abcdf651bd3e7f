// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An exclusive advisory lock on a folder, held by one process at a time (released when the
// object ends, or when the process ends in any way).
#include <string>

namespace halvex::platform {

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { Unlock(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock without waiting. False (errno set) when another holder has it or the
    // folder cannot be opened.
    bool TryLock(const std::string& folder);
    void Unlock() noexcept;
    bool IsLocked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace halvex::platform

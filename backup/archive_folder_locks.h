// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The locks a run holds on the folders it makes archives in, from the first look at a job's
// set until the run ends: two runs (of one or of two program folders) never number, create or
// rename archives in one folder at the same time. A folder is locked once however many jobs
// use it, and the program folder is not locked again (the store's lock holds it already).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/folder_lock.h"

namespace halvex {

class ArchiveFolderLocks {
public:
    enum class Result {
        Locked,  // this run holds the folder
        Busy,    // another run holds it
        Failed,  // it cannot be opened (missing, not a folder, no access)
    };

    // Releases every lock; `heldFolder` counts as locked from now on (the program folder).
    void Reset(const std::string& heldFolder);
    Result Lock(const std::string& folder);
    void ReleaseAll();

private:
    struct Held {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::unique_ptr<platform::FolderLock> lock;  // none for the folder held elsewhere
    };
    std::vector<Held> held_;
};

}  // namespace halvex

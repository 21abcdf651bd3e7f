// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding a job's archives on disk and reading back what an archive knows of its set, so that
// the store can be brought up to the archives that are really there: after a lost or damaged
// FileLists.tq, or a run killed after its archive was put in place. Every archive carries its
// number (ToDirs.tq) and the whole history of every target (<target>.tq).
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backup/target_history.h"
#include "platform/local_time.h"

namespace halvex {

// The numbers of the files in the folder of `base` named exactly as archives of its set
// (base + ".TQBak" is 1, base + n + ".TQBak" is n for n >= 2), highest first.
std::vector<int> ArchiveNumbersOnDisk(const std::string& base);

struct ArchiveBookkeeping {
    int archiveNumber = 0;                          // from ToDirs.tq
    platform::SystemTime time{};                    // of ToDirs.tq: when its run began copying
    std::map<std::string, HistoryBytes> histories;  // every target's history, by target name
};

// What the archive at `path` holds of its set; none when it cannot be opened, its ToDirs.tq
// does not follow its layout, a target name is unsafe or given twice, or a history is missing,
// damaged or has more records than the archive's number.
std::optional<ArchiveBookkeeping> ReadArchiveBookkeeping(const std::string& path);

}  // namespace halvex

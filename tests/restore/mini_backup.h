#pragma once
// A small stand-in for the backup run, for round-trip tests of the restore: it scans one source
// folder, replays the history it wrote before, finds the new, changed and vanished files with
// the file tree's merges and writes the next archive of the set with the real file contents, in
// the writer's format (files, history, backup.ini, ToDirs.tq, tqbackup.log).
#include <cstdint>
#include <string>
#include <vector>

#include "restore/backup_target.h"

namespace halvex::test {

class MiniBackup {
public:
    // Archives are written as archiveFolder/base.TQBak, base2.TQBak, ...; the one target is
    // `targetName`, backed up from `sourceFolder`.
    MiniBackup(std::string archiveFolder, std::string base, std::string targetName, std::string sourceFolder);

    // One run at `runTime` (a file time); returns the new archive's path.
    std::string Run(std::uint64_t runTime);

private:
    struct Record {
        std::uint64_t time;
        FileTreePtr removed;
        FileTreePtr added;
    };
    std::string archiveFolder_;
    std::string base_;
    std::string targetName_;
    std::string sourceFolder_;
    std::vector<Record> records_;
};

}  // namespace halvex::test

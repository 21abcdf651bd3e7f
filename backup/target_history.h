#pragma once
// TargetHistory: the byte form of one target's history, written into the file-list store
// ("<job>\<target>.tq") and into every archive ("<target>.tq"). Little-endian, no alignment,
// no length fields:
//
//   source folder   the mapping's folder as configured when last written, then a 0 byte
//   BackupRecord    one per completed run, oldest first; the history ends exactly after the
//                   last record:
//     run time      8 bytes: file time (UTC, 100-ns units since 1601) of the run
//     removed flag  1 byte: 1 when a removed tree follows; always 0 in the first record
//     removed tree  serialized file tree of the files and folders no longer found
//                   (gone folders as empty leaves)
//     added flag    1 byte: 1 when an added tree follows
//     added tree    serialized file tree of every file the run stored in its archive
//
// The top folder of both trees has the empty name and stands for the source folder.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "backup/run_control.h"
#include "common/file_tree_ptr.h"

namespace halvex {

using HistoryBytes = std::vector<unsigned char>;

struct BackupRecord {
    std::uint64_t runTime = 0;
    FileTreePtr removed;  // none when the removed flag is 0
    FileTreePtr added;    // none when the added flag is 0
};

// Reads a history record by record, in place. Every read is checked against the end: a
// history that does not follow the layout is reported as damaged, never read past.
class TargetHistoryReader {
public:
    enum class Step {
        Record,   // the next record was read
        End,      // the history ended just after the previous record
        Damaged,  // the bytes do not follow the layout (nothing more can be read)
    };

    TargetHistoryReader(const unsigned char* data, std::size_t size);
    explicit TargetHistoryReader(const HistoryBytes& bytes) : TargetHistoryReader(bytes.data(), bytes.size()) {}
    // The reader points into the bytes: they must outlive it.
    explicit TargetHistoryReader(HistoryBytes&&) = delete;

    // False when the bytes do not even hold a 0-terminated source folder.
    bool Valid() const { return valid_; }
    std::string_view SourceFolder() const { return sourceFolder_; }

    // Reads the next record; its trees get `archiveNumber`. In the first record the removed
    // flag is skipped without being read (it is always 0 there).
    Step Next(BackupRecord& record, std::uint16_t archiveNumber = 0);

private:
    const unsigned char* cursor_;
    const unsigned char* end_;
    std::string_view sourceFolder_;
    bool valid_ = false;
    bool first_ = true;
};

// Replays a stored history into the state the earlier runs left: the first record's added
// tree, then per further record its removed tree (merge mode 6) and its added tree (mode 1).
// The run's cancellation test follows every merge.
enum class ReplayResult { Done, Cancelled, Damaged };
ReplayResult ReplayTargetHistory(const HistoryBytes& history, RunControl& control, FileTreePtr& state);

// The stored records of a history: its bytes after the source folder's 0 byte (empty when
// there is no 0 byte).
std::size_t HistoryRecordsOffset(const HistoryBytes& history);

// A mapping's new history up to this run's removed tree: `sourceFolder` and its 0 byte, the
// stored history's records unchanged (none for a first or brand-new run), the run time, and
// the removed flag with the removed tree (flag 0 when there is none). The run completes it
// with the added part after copying.
HistoryBytes BuildNewHistory(std::string_view sourceFolder, const HistoryBytes* storedHistory,
                             std::uint64_t runTime, const FileTreeNode* removedTree);

// The added part of this run's record: 1 and the serialized tree, or 0 when there is none.
HistoryBytes BuildAddedPart(const FileTreeNode* addedTree);

}  // namespace halvex

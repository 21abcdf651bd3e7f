// SPDX-License-Identifier: GPL-3.0-or-later
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

#include "common/file_tree_ptr.h"

namespace halvex {

using HistoryBytes = std::vector<unsigned char>;

struct BackupRecord {
    std::uint64_t runTime = 0;
    FileTreePtr removed;  // none when the removed flag is 0
    FileTreePtr added;    // none when the added flag is 0
};

// A record read past without its trees: what the names of both trees were like.
struct SkippedRecord {
    std::uint64_t runTime = 0;
    SkippedTreeNames removed;  // all true when there is no removed tree
    SkippedTreeNames added;
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

    // With checkFirstRemovedFlag the first record's removed flag is read and must be 0 (a
    // reader of archives it did not write); without, it is skipped as the writer does.
    TargetHistoryReader(const unsigned char* data, std::size_t size, bool checkFirstRemovedFlag = false);
    explicit TargetHistoryReader(const HistoryBytes& bytes, bool checkFirstRemovedFlag = false)
        : TargetHistoryReader(bytes.data(), bytes.size(), checkFirstRemovedFlag) {}
    // The reader points into the bytes: they must outlive it.
    explicit TargetHistoryReader(HistoryBytes&&) = delete;

    // False when the bytes do not even hold a 0-terminated source folder.
    bool Valid() const { return valid_; }
    std::string_view SourceFolder() const { return sourceFolder_; }

    // Reads the next record; its trees get `archiveNumber`. The first record's removed flag is
    // skipped or checked (see the constructor): there is never a removed tree there.
    Step Next(BackupRecord& record, std::uint16_t archiveNumber = 0);
    // The same, building no tree (SkipFileTree): the same steps, at the same bytes, with the
    // same memory charged. Both may be mixed on one reader.
    Step Skip(SkippedRecord& record, FileTreeNameCheck check = nullptr);

private:
    // The frame of a record around its trees; `readTree(present)` reads one tree at cursor_.
    template <class ReadTree>
    Step Read(std::uint64_t& runTime, ReadTree&& readTree);

    const unsigned char* cursor_;
    const unsigned char* end_;
    std::string_view sourceFolder_;
    bool valid_ = false;
    bool first_ = true;
    bool checkFirstRemovedFlag_ = false;
};

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Archive sets made by hand in tests, in the backup writer's exact format: per run one archive
// holding each mapping's new files (folder entry, then per folder its files and sub-folders),
// each target's history (target + ".tq"), "backup.ini", "ToDirs.tq" and "tqbackup.log". Also
// the raw pieces (ToDirs and history bytes, archives of arbitrary entries) for damaged and
// hostile archives.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/file_tree.h"
#include "platform/process.h"

namespace halvex::test {

// A file time: `day` days after 2023-01-01 00:00 UTC, at noon UTC, plus `seconds`.
std::uint64_t Day(int day, int seconds = 0);

// The serialized form of a tree written as a tree text (tests/common/file_tree_test_util.h).
std::string TreeBytes(const std::string& treeText);

// ToDirs.tq: the count of earlier archives and the names, each with its 0 byte.
std::string ToDirsBytes(std::int32_t earlier, const std::vector<std::string>& names);

// One backup record in raw form: flags and tree bytes as given, so damage can be written.
struct RawRecord {
    std::uint64_t time = 0;
    int removedFlag = 0;
    std::string removedTree;  // serialized bytes
    int addedFlag = 0;
    std::string addedTree;
};
// A history from tree texts: records of (time, removed text, added text), "" for no tree.
struct Record {
    std::uint64_t time = 0;
    std::string removed;
    std::string added;
};
std::string HistoryBytes(const std::string& sourceFolder, const std::vector<RawRecord>& records);
std::string HistoryBytes(const std::string& sourceFolder, const std::vector<Record>& records);

struct RawEntry {
    std::string name;  // with '\'
    std::string content;
    int level = 9;
    bool folder = false;
    bool link = false;  // a symbolic link entry: content is its target
};
// Writes an archive holding exactly these entries, in order.
void WriteArchive(const std::string& path, const std::vector<RawEntry>& entries);

// The content stored for entry `entryName` by archive `archive`: `size` bytes that tell both.
std::string EntryContent(const std::string& entryName, int archive, std::uint64_t size);

// Writes a set run by run as the backup program would.
class SetBuilder {
public:
    // Archives go to folder/base.TQBak, folder/base2.TQBak, ...
    SetBuilder(std::string folder, std::string base);

    void AddTarget(const std::string& name, const std::string& sourceFolder);

    struct Change {
        std::string target;
        std::string removed;  // tree texts with an empty top folder name; "" for none
        std::string added;    // file sizes in the text give the stored content's size
    };
    // Writes the next archive for one run at `time`: the mappings in the order of `changes`
    // (every mapping of the job at that run, also those with nothing to store). Returns the
    // archive's path.
    std::string Run(std::uint64_t time, const std::vector<Change>& changes);

    int ArchiveCount() const { return archiveCount_; }
    std::string ArchivePath(int number) const;
    // Entry names left out of the archives written from now on (to make missing entries).
    std::set<std::string> omit;
    // Entry names written as symbolic links from now on, with their targets.
    std::map<std::string, std::string> links;

private:
    struct Target {
        std::string sourceFolder;
        std::vector<Record> records;
    };
    std::string folder_;
    std::string base_;
    int archiveCount_ = 0;
    std::map<std::string, Target> targets_;
};

// Number of file descriptors the process has open (to see that no archive stays open).
int OpenDescriptorCount();

}  // namespace halvex::test

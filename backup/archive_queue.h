// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ArchiveQueue: the entries that ArchiveTree has taken in and not yet written, in archive
// order: folders, symbolic links, and files whose data is being deflated on a pool of threads
// (ParallelDeflate). The run's worker thread alone uses it: it adds entries as it walks the
// change tree and reads the files, and the queue writes them into the archive as their data
// becomes ready, so reading, compressing and writing overlap while the entries keep their
// order. Memory stays bounded: the pool's fixed number of blocks, and at most
// kMaxQueuedEntries entries.
//
// The archive checks its limits when an entry's turn comes, after the walk may have moved
// on. The run hears of an entry left out through its LeftOutFunction: refused itself, or
// lying below a folder the archive refused. The walk asks InRefusedFolder to skip the rest
// of such a folder, and FileLeftOut to stop reading a file that was left out.
//
// Writes throw as the archive's (CZipException, platform::FileError); the queue is then fit
// only for Discard.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "zip/parallel_deflate.h"
#include "zip/zip_archive_file.h"

namespace halvex {

class ArchiveQueue {
public:
    // Enough small files to keep the pool busy behind a large one compressed whole.
    static constexpr std::size_t kMaxQueuedEntries = 1024;

    struct Entry {
        ZipEntryHeader header;         // name ('\'), time and attributes
        std::string sourcePath;        // for the run log
        const void* node = nullptr;    // the change tree's folder or file
        bool folder = false;
        bool link = false;
        std::string linkTarget;        // a link's data
        std::uint64_t sizeAtScan = 0;  // the file's size, or the folder's total
        std::uint64_t bytesTaken = 0;  // bytes of the file added so far
    };
    // `refused`: the archive refused the entry (its LastRefusal tells why); otherwise it lies
    // below a refused folder.
    using LeftOutFunction = std::function<void(const Entry& entry, bool refused)>;

    // Files are deflated at settings.level, or stored when that does not make them smaller.
    ArchiveQueue(ZipArchiveFile& archive, const ParallelDeflate::Settings& settings, LeftOutFunction leftOut);

    std::size_t BlockSize() const { return deflate_.BlockSize(); }
    // A file of at most this many bytes is added as one block (compressed whole).
    std::size_t WholeSize() const { return deflate_.WholeSize(); }
    // Files begun from now on are compressed at `level` (1-9; 0 stores them); those queued
    // already keep theirs.
    void SetLevel(int level) { level_ = level; }
    // Files begun from now on are encrypted with `password` on the pool (empty: none are); it
    // must be the archive's own when their turn to be written comes.
    void SetPassword(const std::string& password) { deflate_.SetPassword(password); }

    // Writes what is ready, then waits for the pool until one more entry and one more block of
    // `blockBytes` fit in. Call it before AddFolder, BeginFile and each BlockBuffer (with
    // that block's size).
    void MakeRoom(std::size_t blockBytes = 0);
    void AddFolder(Entry entry);
    // A symbolic link: an entry with link attributes whose data is `target`, stored.
    void AddLink(Entry entry, std::string target);
    // Starts a file entry; its data follows block by block.
    void BeginFile(Entry entry);
    // The next block's buffer of `size` bytes (at most BlockSize(), or WholeSize() for a
    // file's only block): fill it, then AddBlock.
    unsigned char* BlockBuffer(std::size_t size);
    // `last` completes the file (an empty file is one empty last block).
    void AddBlock(std::size_t size, bool last);
    // Drops the file being added (it could not be read to its end): no entry is written for
    // it. Nothing when it was left out already.
    void AbandonFile();
    // Whether the file being added was left out meanwhile: it is not read further.
    bool FileLeftOut() const { return fileLeftOut_; }
    // Whether the entry named `entryPath` lies below a folder the archive refused.
    bool InRefusedFolder(std::string_view entryPath) const;

    // Writes every entry taken in, waiting for the pool.
    void Flush();
    // Drops every entry not written yet (a cancelled run); an entry begun in the archive is
    // abandoned there.
    void Discard() noexcept;

private:
    struct Queued {
        Entry entry;
        bool opened = false;  // its entry is begun in the archive
        int level = 0;        // a file's compression level
    };
    // Writes entries, oldest first, while their data is ready; with `wait`, waits for data
    // being compressed.
    void Write(bool wait);
    void LeaveOutOldest(bool refused);

    ZipArchiveFile& archive_;
    ParallelDeflate deflate_;
    int level_;
    LeftOutFunction leftOut_;
    std::deque<Queued> entries_;
    bool adding_ = false;       // the newest entry is a file still being added
    bool fileLeftOut_ = false;  // the file being added was left out
    std::string refusedFolder_; // name and '\' of the last folder refused
};

}  // namespace halvex

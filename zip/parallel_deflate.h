// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ParallelDeflate: deflates a sequence of entries on a pool of threads and hands the results
// back in the order the entries and their blocks were added.
//
// One thread adds an entry's data block by block (BeginEntry, NextBlockBuffer, AddBlock) and
// takes the results (Take) in the same order; that thread is usually the archive's writer,
// alternating between the two. Each block is compressed on its own by whichever pool thread
// is free, primed with the 32 KiB before it (DeflateBlock), so an entry's compressed blocks
// join into one raw deflate stream; the entry's CRC is combined from its blocks'.
//
// An entry that is one block is compressed in one call by libdeflate instead: faster than
// zlib and smaller at the same level, still standard deflate. Entries up to WholeSize() may
// come as one block, larger than the others; only larger entries need zlib's dictionaries
// and sync flushes.
//
// Stored or deflated: an entry whose first block does not get smaller by deflating is
// stored; its other blocks are then only checksummed (one that a thread took before the
// first block was decided is deflated in vain). A one-block entry is thus stored exactly when
// deflating would not make it smaller.
//
// Encryption: entries begun after SetPassword get their key (a fresh salt each) on the pool
// thread that takes their first block, since the key derivation costs more than compressing
// most files; a one-block entry is encrypted and authenticated there too, so the writer only
// writes its bytes. A larger entry's cipher is handed to the writer with its method.
//
// Memory is bounded: blocks are taken for filling only while their data fits a budget of
// bytes (HasFreeBlock), so many small files may be in flight at once but only a few large
// ones; a block becomes free again once its result has been taken, so the thread that adds
// must take results when none fits. Buffers of free blocks are kept only within the budget.
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zip/zip_aes.h"

namespace halvex {

class ParallelDeflate {
public:
    struct Settings {
        unsigned threads = 0;            // 0: the processors this process may use
        int level = 9;                   // 1-9, -1 for zlib's default, 0 to store every entry
        std::size_t blockSize = 262144;  // bytes of data per block of an entry joined from blocks
        // An entry of at most this many bytes may be added as one block and is then compressed
        // whole (0: blockSize).
        std::size_t wholeSize = 0;
        std::size_t blocksInFlight = 0;  // at most this many blocks (0: kMaxBlocks)
        // Bytes of data in flight: a block is taken only while it fits (or nothing else is in
        // flight). 0: kBlockBudget, but room for a whole entry and two blocks per thread.
        std::size_t budget = 0;
    };

    // What Take hands back, for the oldest entry not yet taken whole.
    struct Piece {
        enum class Kind {
            Method,     // its method is known: `stored` or deflated
            Data,       // its next bytes as they go into the archive
            End,        // it is complete: `crc` and `totalSize` of its original data
            Abandoned,  // it was abandoned while it was being added (AbandonEntry)
            Failed,     // zlib failed on one of its blocks (`zlibError`), or `failure`
        };
        Kind kind = Kind::Method;
        bool stored = false;
        const unsigned char* data = nullptr;  // valid until the next Take, DropOldest or Clear
        std::size_t size = 0;
        std::size_t originalSize = 0;  // the original bytes `data` stands for
        std::uint32_t crc = 0;
        std::uint64_t totalSize = 0;
        int zlibError = 0;
        std::exception_ptr failure;  // Failed other than by zlib (making its key)
        // Method of an encrypted entry: its salt and cipher, for the archive to take over
        // (valid until the next Take). Null for a plain entry.
        AesCipherMaker::Made* aes = nullptr;
        // Data: `data` is encrypted already with that cipher. End: so was all of it, and
        // `mac` is its authentication code.
        bool encrypted = false;
        std::array<unsigned char, kAesMacLength> mac{};
    };

    static constexpr std::size_t kBlockBudget = std::size_t{48} << 20;
    static constexpr std::size_t kMaxBlocks = 4096;

    explicit ParallelDeflate(const Settings& settings);
    ~ParallelDeflate();
    ParallelDeflate(const ParallelDeflate&) = delete;
    ParallelDeflate& operator=(const ParallelDeflate&) = delete;

    std::size_t BlockSize() const { return blockSize_; }
    std::size_t WholeSize() const { return wholeSize_; }
    unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }

    // ---- Adding ----

    // Starts the next entry, compressed at `level` (as Settings::level) or at the pool's. The
    // one before must have had its last block, or have been abandoned or dropped.
    void BeginEntry(int level);
    void BeginEntry() { BeginEntry(level_); }
    // Entries begun from now on are encrypted with `password` (empty: none are).
    void SetPassword(const std::string& password);
    // Whether a block of `size` bytes can be had for the next NextBlockBuffer; when not, take
    // results first.
    bool HasFreeBlock(std::size_t size) const;
    bool HasFreeBlock() const { return HasFreeBlock(blockSize_); }
    // The buffer of the entry's next block, `size` bytes: at most BlockSize(), or WholeSize()
    // for an entry's only block (needs HasFreeBlock(size)). Fill it, then AddBlock.
    unsigned char* NextBlockBuffer(std::size_t size);
    unsigned char* NextBlockBuffer() { return NextBlockBuffer(blockSize_); }
    // Hands the block just filled (`size` bytes) to the pool; `last` completes the entry. An
    // empty entry is one empty last block. For an entry that was dropped meanwhile, the block
    // is simply freed.
    void AddBlock(std::size_t size, bool last);
    // Abandons the entry being added (Take answers Abandoned for it in its turn); nothing
    // when it was dropped already.
    void AbandonEntry();

    // ---- Taking ----

    // The next piece of the oldest entry not yet taken whole. With `wait`, waits while what
    // comes next is being compressed. False when nothing is ready: no entry, or (without
    // `wait`) its next block is still being compressed, or its next block has not been added.
    bool Take(Piece& piece, bool wait);
    // Drops the oldest entry, whatever was taken of it (the archive refused it): its blocks
    // are freed, and any block still added to it later too.
    void DropOldest();
    // Drops every entry (a cancelled run).
    void Clear();

private:
    struct Entry;
    struct Block {
        std::unique_ptr<unsigned char[]> data;
        std::size_t capacity = 0;  // of `data`
        std::size_t reserved = 0;  // bytes of the budget it holds while not free
        std::size_t kept = 0;      // bytes of buffers it keeps while free
        std::unique_ptr<unsigned char[]> dictionary;  // made when first needed
        std::size_t dictionarySize = 0;
        std::size_t size = 0;
        bool first = false;
        bool last = false;
        enum class State { Free, Filling, Queued, Working, Done } state = State::Free;
        bool discard = false;  // freed by its thread once done (its entry is gone)
        Entry* entry = nullptr;
        std::vector<unsigned char> output;
        bool deflated = false;
        int error = 0;
        std::exception_ptr failure;
        std::uint32_t crc = 0;
        bool encrypted = false;  // `output` or `data`, whichever goes out, is encrypted
        std::array<unsigned char, kAesMacLength> mac{};
    };
    struct Entry {
        std::deque<Block*> blocks;  // added and not yet taken, in order
        enum class Decision { Open, Store, Deflate } decision = Decision::Open;
        int level = 9;
        std::size_t blocksAdded = 0;
        bool methodTaken = false;
        bool complete = false;  // its last block was added
        bool abandoned = false;
        std::uint32_t crc = 0;  // of the blocks taken so far
        std::uint64_t totalSize = 0;
        std::shared_ptr<const std::string> password;  // null: plain
        AesCipherMaker::Made aes;   // made with its first block
        bool encrypted = false;     // its data was taken encrypted
        std::array<unsigned char, kAesMacLength> mac{};
    };

    void Work(unsigned index);
    bool Fits(std::size_t size) const;      // needs mutex_
    void Release(Block* block);             // needs mutex_
    void DiscardBlocks(Entry& entry);       // needs mutex_
    void PopOldest();                       // needs mutex_
    void ReleaseHandedOut();                // needs mutex_

    std::size_t blockSize_;
    std::size_t wholeSize_;
    std::size_t maxBlocks_;
    std::size_t budget_;
    std::size_t inFlight_ = 0;  // bytes reserved by blocks not free
    std::size_t held_ = 0;      // bytes of buffers free blocks keep
    int level_;
    std::shared_ptr<const std::string> password_;  // for entries begun from now on
    std::vector<std::unique_ptr<Block>> blocks_;
    std::vector<std::thread> threads_;

    mutable std::mutex mutex_;
    std::condition_variable work_;  // a block was queued, or the pool stops
    std::condition_variable done_;  // a block was compressed
    bool stop_ = false;
    std::vector<Block*> free_;
    std::deque<Block*> queue_;       // waiting for a thread
    std::deque<std::unique_ptr<Entry>> entries_;  // not yet taken whole, in order
    Entry* adding_ = nullptr;        // the entry being added; null once complete or gone
    Block* filling_ = nullptr;       // the block being filled
    Block* handedOut_ = nullptr;     // the block of the last Data piece

    // The adding thread's last kDeflateWindow bytes of the entry so far (next dictionary).
    std::unique_ptr<unsigned char[]> tail_;
    std::size_t tailSize_ = 0;
};

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/parallel_deflate.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <libdeflate.h>
#include <zlib.h>

#include "platform/process.h"
#include "zip/block_deflate.h"
#include "zip/zip_exception.h"
#include "zip/zlib_stream.h"

namespace halvex {
namespace {

// libdeflate's CRC-32 is the zip format's, and runs several times faster than zlib's here.
std::uint32_t Crc32(const unsigned char* data, std::size_t size) {
    return static_cast<std::uint32_t>(libdeflate_crc32(0, data, size));
}

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

// Deflates `data` whole into `out` when that makes it smaller: answers false (and `out` is
// then of no use) when it does not. Throws std::bad_alloc when there is no compressor.
bool DeflateWhole(Compressor& compressor, int level, const unsigned char* data, std::size_t size,
                  std::vector<unsigned char>& out) {
    if (!compressor) {
        compressor.reset(libdeflate_alloc_compressor(level));
        if (!compressor) throw std::bad_alloc();
    }
    if (size == 0) return false;
    // Room for one byte less than the data: what does not fit there is stored anyway.
    out.resize(size - 1);
    const std::size_t produced = libdeflate_deflate_compress(compressor.get(), data, size, out.data(), out.size());
    if (produced == 0) return false;
    out.resize(produced);
    return true;
}

}  // namespace

ParallelDeflate::ParallelDeflate(const Settings& settings)
    : blockSize_(std::max<std::size_t>(settings.blockSize, 1)),
      wholeSize_(std::max(settings.wholeSize, blockSize_)),
      maxBlocks_(std::max<std::size_t>(settings.blocksInFlight > 0 ? settings.blocksInFlight : kMaxBlocks, 2)),
      level_(settings.level) {
    const unsigned threads = settings.threads > 0 ? settings.threads : platform::UsableProcessorCount();
    // Each block holds its data and, at worst, as much compressed. A whole entry and two
    // blocks per thread besides keep every thread busy while one compresses the large entry.
    budget_ = settings.budget > 0 ? settings.budget
                                  : std::max(kBlockBudget, wholeSize_ + (2 * std::size_t{threads} + 2) * blockSize_);
    // (One block is filled while another is handed out: fewer could not keep the pool busy.)
    blocks_.reserve(maxBlocks_);
    tail_ = std::make_unique_for_overwrite<unsigned char[]>(kDeflateWindow);
    try {
        for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this, i] { Work(i); });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        throw;
    }
}

ParallelDeflate::~ParallelDeflate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void ParallelDeflate::Work(unsigned) {
    ZlibStream stream;
    int streamLevel = 0;  // the level `stream` was started at; 0: not started
    Compressor compressors[10];  // by level, made when first needed
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        Block* block = queue_.front();
        queue_.pop_front();
        block->state = Block::State::Working;
        const int level = block->entry->level;
        // Once the first block says "store", the others only need their CRC.
        const bool deflate = level != 0 && block->entry->decision != Entry::Decision::Store;
        const std::shared_ptr<const std::string> password = block->first ? block->entry->password : nullptr;
        lock.unlock();

        AesCipherMaker::Made aes;
        std::exception_ptr failure;
        if (password) {
            try {
                aes = MakeNewAesCipher(*password);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        const std::uint32_t crc = Crc32(block->data.get(), block->size);
        int error = Z_OK;
        bool smaller = false;
        if (deflate && !failure) {
            try {
                if (block->first && block->last) {
                    const int whole = level >= 1 && level <= 9 ? level : 6;  // zlib's default is 6 too
                    Compressor& compressor = compressors[whole];
                    // A large entry given whole is deflated only when its first block-size
                    // shrinks, as an entry joined from blocks is: its data is mostly compressed
                    // already (images, archives) when that does not.
                    smaller = (block->size <= blockSize_ ||
                               DeflateWhole(compressor, whole, block->data.get(), blockSize_, block->output)) &&
                              DeflateWhole(compressor, whole, block->data.get(), block->size, block->output);
                } else {
                    if (streamLevel != level) {
                        stream.Release();
                        streamLevel = 0;
                        stream.StartDeflate(level, {});
                        streamLevel = level;
                    }
                    error = DeflateBlock(stream, {block->dictionary.get(), block->dictionarySize},
                                         {block->data.get(), block->size}, block->last, block->output);
                    smaller = block->output.size() < block->size;
                }
            } catch (const CZipException& e) {
                error = ZlibResultOf(e.code);
            } catch (const std::bad_alloc&) {
                error = Z_MEM_ERROR;
            }
            if (error != Z_OK) {
                // A stream that failed may be in any state: the next block starts a new one.
                stream.Release();
                streamLevel = 0;
            }
        }
        // A whole entry in one block goes out encrypted from here: what it is stored as is known.
        bool encrypted = false;
        std::array<unsigned char, kAesMacLength> mac{};
        if (aes.cipher && block->last && error == Z_OK) {
            try {
                if (smaller)
                    aes.cipher->Encrypt(block->output.data(), block->output.size());
                else
                    aes.cipher->Encrypt(block->data.get(), block->size);
                mac = aes.cipher->FinishMac();
                encrypted = true;
            } catch (...) {
                failure = std::current_exception();
            }
        }

        lock.lock();
        if (block->discard) {
            Release(block);
        } else {
            block->crc = crc;
            block->deflated = deflate;
            block->error = error;
            block->failure = failure;
            block->encrypted = encrypted;
            block->mac = mac;
            block->state = Block::State::Done;
            if (block->first && error == Z_OK && !failure) {
                block->entry->decision = smaller ? Entry::Decision::Deflate : Entry::Decision::Store;
                block->entry->aes = std::move(aes);
            }
        }
        done_.notify_all();
    }
}

bool ParallelDeflate::Fits(std::size_t size) const {
    if (free_.empty() && blocks_.size() >= maxBlocks_) return false;
    return inFlight_ == 0 || inFlight_ + size <= budget_;
}

void ParallelDeflate::Release(Block* block) {
    inFlight_ -= block->reserved;
    block->reserved = 0;
    // Buffers are kept for the next blocks, but not a whole large entry's, nor beyond a
    // quarter of the budget: the blocks in flight hold the rest.
    const std::size_t keep = block->capacity + block->output.capacity();
    if (block->capacity > blockSize_ || held_ + keep > budget_ / 4) {
        block->data.reset();
        block->capacity = 0;
        std::vector<unsigned char>().swap(block->output);
    } else {
        block->kept = keep;
        held_ += keep;
    }
    block->state = Block::State::Free;
    block->discard = false;
    block->entry = nullptr;
    block->encrypted = false;
    block->failure = nullptr;
    free_.push_back(block);
}

void ParallelDeflate::DiscardBlocks(Entry& entry) {
    for (Block* block : entry.blocks) {
        switch (block->state) {
            case Block::State::Queued:
                queue_.erase(std::find(queue_.begin(), queue_.end(), block));
                Release(block);
                break;
            case Block::State::Working: block->discard = true; break;
            default: Release(block); break;
        }
    }
    entry.blocks.clear();
}

void ParallelDeflate::ReleaseHandedOut() {
    if (handedOut_ != nullptr) Release(handedOut_);
    handedOut_ = nullptr;
}

void ParallelDeflate::PopOldest() {
    Entry& oldest = *entries_.front();
    DiscardBlocks(oldest);
    if (adding_ == &oldest) adding_ = nullptr;
    entries_.pop_front();
}

void ParallelDeflate::BeginEntry(int level) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::make_unique<Entry>());
    entries_.back()->level = level;
    entries_.back()->password = password_;
    adding_ = entries_.back().get();
    tailSize_ = 0;
}

void ParallelDeflate::SetPassword(const std::string& password) {
    if (password.empty())
        password_.reset();
    else if (!password_ || *password_ != password)
        password_ = std::make_shared<const std::string>(password);
}

bool ParallelDeflate::HasFreeBlock(std::size_t size) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return filling_ != nullptr || Fits(size);
}

unsigned char* ParallelDeflate::NextBlockBuffer(std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (filling_ == nullptr) {
        if (!Fits(size)) return nullptr;
        if (free_.empty()) {
            blocks_.push_back(std::make_unique<Block>());
            free_.push_back(blocks_.back().get());
        }
        filling_ = free_.back();
        free_.pop_back();
        filling_->state = Block::State::Filling;
        held_ -= filling_->kept;
        filling_->kept = 0;
    }
    // Never empty: an empty entry's block still has a buffer to point to.
    const std::size_t need = std::max<std::size_t>(size, 1);
    if (filling_->capacity < need) {
        filling_->data.reset();
        filling_->data = std::make_unique_for_overwrite<unsigned char[]>(need);
        filling_->capacity = need;
    }
    inFlight_ = inFlight_ - filling_->reserved + size;
    filling_->reserved = size;
    return filling_->data.get();
}

void ParallelDeflate::AddBlock(std::size_t size, bool last) {
    Block* block = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        block = filling_;
        filling_ = nullptr;
        if (block == nullptr) return;
        if (adding_ == nullptr) {  // dropped meanwhile
            Release(block);
            return;
        }
    }
    // The block is this thread's alone until it is queued.
    block->size = std::min(size, block->capacity);
    block->last = last;
    block->dictionarySize = tailSize_;
    if (tailSize_ > 0) {
        if (!block->dictionary) block->dictionary = std::make_unique_for_overwrite<unsigned char[]>(kDeflateWindow);
        std::memcpy(block->dictionary.get(), tail_.get(), tailSize_);
    }
    if (!last) {
        // The next block's dictionary: the last 32 KiB of the data up to the end of this one.
        if (block->size >= kDeflateWindow) {
            std::memcpy(tail_.get(), block->data.get() + block->size - kDeflateWindow, kDeflateWindow);
            tailSize_ = kDeflateWindow;
        } else {
            const std::size_t keep = std::min(tailSize_, kDeflateWindow - block->size);
            std::memmove(tail_.get(), tail_.get() + tailSize_ - keep, keep);
            std::memcpy(tail_.get() + keep, block->data.get(), block->size);
            tailSize_ = keep + block->size;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (adding_ == nullptr) {
            Release(block);
            return;
        }
        block->first = adding_->blocksAdded++ == 0;
        block->entry = adding_;
        block->discard = false;
        block->error = Z_OK;
        block->state = Block::State::Queued;
        adding_->blocks.push_back(block);
        queue_.push_back(block);
        if (last) {
            adding_->complete = true;
            adding_ = nullptr;
        }
    }
    work_.notify_one();
}

void ParallelDeflate::AbandonEntry() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (filling_ != nullptr) {
        Release(filling_);
        filling_ = nullptr;
    }
    if (adding_ == nullptr) return;
    adding_->abandoned = true;
    DiscardBlocks(*adding_);
    adding_ = nullptr;
}

bool ParallelDeflate::Take(Piece& piece, bool wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    ReleaseHandedOut();
    for (;;) {
        if (entries_.empty()) return false;
        Entry& entry = *entries_.front();
        piece = Piece{};
        if (entry.abandoned) {
            piece.kind = Piece::Kind::Abandoned;
            PopOldest();
            return true;
        }
        Block* next = entry.blocks.empty() ? nullptr : entry.blocks.front();
        if (next != nullptr && next->state == Block::State::Done &&
            (next->failure || (next->error != Z_OK && (next->first || entry.decision == Entry::Decision::Deflate)))) {
            piece.kind = Piece::Kind::Failed;
            piece.zlibError = next->error;
            piece.failure = next->failure;
            return true;
        }
        if (!entry.methodTaken && entry.decision != Entry::Decision::Open) {
            piece.kind = Piece::Kind::Method;
            piece.stored = entry.decision == Entry::Decision::Store;
            if (entry.aes.cipher) piece.aes = &entry.aes;
            entry.methodTaken = true;
            return true;
        }
        if (entry.methodTaken && next != nullptr && next->state == Block::State::Done) {
            entry.blocks.pop_front();
            const bool stored = entry.decision == Entry::Decision::Store;
            piece.kind = Piece::Kind::Data;
            piece.data = stored ? next->data.get() : next->output.data();
            piece.size = stored ? next->size : next->output.size();
            piece.originalSize = next->size;
            piece.encrypted = next->encrypted;
            if (next->encrypted) {
                entry.encrypted = true;
                entry.mac = next->mac;
            }
            entry.crc = static_cast<std::uint32_t>(crc32_combine(entry.crc, next->crc, static_cast<z_off_t>(next->size)));
            entry.totalSize += next->size;
            handedOut_ = next;
            return true;
        }
        if (entry.methodTaken && next == nullptr && entry.complete) {
            piece.kind = Piece::Kind::End;
            piece.crc = entry.crc;
            piece.totalSize = entry.totalSize;
            piece.encrypted = entry.encrypted;
            piece.mac = entry.mac;
            PopOldest();
            return true;
        }
        // Nothing added yet for what comes next: only the adding thread can change that.
        if (next == nullptr || !wait) return false;
        done_.wait(lock);
    }
}

void ParallelDeflate::DropOldest() {
    std::lock_guard<std::mutex> lock(mutex_);
    ReleaseHandedOut();
    if (!entries_.empty()) PopOldest();
}

void ParallelDeflate::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    ReleaseHandedOut();
    while (!entries_.empty()) PopOldest();
    if (filling_ != nullptr) Release(filling_);
    filling_ = nullptr;
    adding_ = nullptr;
}

}  // namespace halvex

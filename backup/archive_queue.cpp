// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/archive_queue.h"

#include <utility>

#include "zip/zip_exception.h"

namespace halvex {

ArchiveQueue::ArchiveQueue(ZipArchiveFile& archive, const ParallelDeflate::Settings& settings, LeftOutFunction leftOut)
    : archive_(archive), deflate_(settings), level_(settings.level), leftOut_(std::move(leftOut)) {}

void ArchiveQueue::MakeRoom(std::size_t blockBytes) {
    Write(false);
    // The oldest entry always has data in flight when nothing fits (the blocks are held by it
    // or by later entries), so waiting for it frees room.
    while (!deflate_.HasFreeBlock(blockBytes) || entries_.size() >= kMaxQueuedEntries) Write(true);
}

void ArchiveQueue::AddFolder(Entry entry) {
    entry.folder = true;
    entries_.push_back({std::move(entry)});
}

void ArchiveQueue::AddLink(Entry entry, std::string target) {
    entry.folder = false;
    entry.link = true;
    entry.header.SetLinkAttributes();
    entry.header.uncompressedSize = target.size();
    entry.linkTarget = std::move(target);
    entries_.push_back({std::move(entry)});
}

void ArchiveQueue::BeginFile(Entry entry) {
    entry.folder = false;
    entry.bytesTaken = 0;
    entries_.push_back({std::move(entry), false, level_});
    deflate_.BeginEntry(level_);
    adding_ = true;
    fileLeftOut_ = false;
}

unsigned char* ArchiveQueue::BlockBuffer(std::size_t size) { return deflate_.NextBlockBuffer(size); }

void ArchiveQueue::AddBlock(std::size_t size, bool last) {
    deflate_.AddBlock(size, last);  // (frees the block when the file was left out)
    if (!adding_) return;
    entries_.back().entry.bytesTaken += size;
    if (last) adding_ = false;
}

void ArchiveQueue::AbandonFile() {
    if (!adding_) return;
    deflate_.AbandonEntry();
    adding_ = false;
}

bool ArchiveQueue::InRefusedFolder(std::string_view entryPath) const {
    return !refusedFolder_.empty() && entryPath.starts_with(refusedFolder_);
}

void ArchiveQueue::Flush() {
    Write(true);
    refusedFolder_.clear();
}

void ArchiveQueue::Discard() noexcept {
    deflate_.Clear();
    if (!entries_.empty() && entries_.front().opened) {
        try {
            archive_.AbandonNewEntry();
        } catch (...) {
            // The archive is closed after an exception by the caller anyway.
        }
    }
    entries_.clear();
    adding_ = false;
    fileLeftOut_ = false;
    refusedFolder_.clear();
}

void ArchiveQueue::LeaveOutOldest(bool refused) {
    Entry entry = std::move(entries_.front().entry);
    if (adding_ && entries_.size() == 1) {
        adding_ = false;
        fileLeftOut_ = true;
    }
    entries_.pop_front();
    leftOut_(entry, refused);
}

void ArchiveQueue::Write(bool wait) {
    while (!entries_.empty()) {
        Queued& oldest = entries_.front();
        if (InRefusedFolder(oldest.entry.header.fileName)) {
            if (!oldest.entry.folder && !oldest.entry.link) deflate_.DropOldest();
            LeaveOutOldest(false);
            continue;
        }
        if (oldest.entry.folder) {
            if (archive_.OpenNewEntry(oldest.entry.header, 0) && archive_.CloseNewEntry()) {
                entries_.pop_front();
            } else {
                refusedFolder_ = oldest.entry.header.fileName + '\\';
                LeaveOutOldest(true);
            }
            continue;
        }
        if (oldest.entry.link) {
            // Written whole at once: a target is never longer than a few kilobytes.
            const std::string& target = oldest.entry.linkTarget;
            if (archive_.OpenNewEntry(oldest.entry.header, 0) && archive_.WriteNewEntry(target.data(), target.size()) &&
                archive_.CloseNewEntry()) {
                entries_.pop_front();
            } else {
                LeaveOutOldest(true);  // refused, and already dropped by the archive
            }
            continue;
        }
        ParallelDeflate::Piece piece;
        if (!deflate_.Take(piece, wait)) return;
        bool taken = true;
        switch (piece.kind) {
            case ParallelDeflate::Piece::Kind::Method:
                taken = oldest.opened =
                    archive_.OpenPrecompressedEntry(oldest.entry.header, piece.stored ? 0 : oldest.level, piece.aes);
                break;
            case ParallelDeflate::Piece::Kind::Data:
                taken = archive_.WritePrecompressedData(piece.data, piece.size, piece.originalSize, piece.encrypted);
                break;
            case ParallelDeflate::Piece::Kind::End:
                taken = archive_.ClosePrecompressedEntry(piece.crc, piece.encrypted ? &piece.mac : nullptr);
                if (taken) entries_.pop_front();
                break;
            case ParallelDeflate::Piece::Kind::Abandoned:
                if (oldest.opened) archive_.AbandonNewEntry();
                entries_.pop_front();
                break;
            case ParallelDeflate::Piece::Kind::Failed:
                if (piece.failure) std::rethrow_exception(piece.failure);
                RaiseZlibError(piece.zlibError, archive_.GetArchivePath());
        }
        if (!taken) {
            // Refused (and already dropped by the archive): the rest of its data goes too.
            deflate_.DropOldest();
            LeaveOutOldest(true);
        }
    }
}

}  // namespace halvex

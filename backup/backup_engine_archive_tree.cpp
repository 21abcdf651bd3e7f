// SPDX-License-Identifier: GPL-3.0-or-later
// ArchiveTree: copying one mapping's change tree into the job's open archive, asking the
// user to retry, ignore or abort when a folder has gone or a file cannot be opened. The walk
// reads; the archive queue deflates on its pool of threads and writes, in the walk's order.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "backup/backup_engine.h"
#include "backup/kill_point_for_tests.h"
#include "backup/run_messages.h"
#include "common/fit_path.h"
#include "common/text_format.h"
#include "platform/file.h"
#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/file_time.h"
#include "platform/tick.h"

namespace halvex {
namespace {

std::uint64_t LessOrZero(std::uint64_t value, std::uint64_t minus) { return value > minus ? value - minus : 0; }

// Unlinks the folder `*link` points to (the link then points to its next sibling) and frees
// it with everything below it.
void DropFolder(FileTreeNode** link) {
    FileTreeNode* folder = *link;
    *link = folder->nextSibling;
    folder->nextSibling = nullptr;
    FreeFileTree(folder);
}

// Takes the folders and files in `refused` out of the chain `*link` points to.
void PruneRefused(FileTreeNode** link, const std::unordered_set<const void*>& refused) {
    while (*link != nullptr) {
        FileTreeNode* folder = *link;
        if (refused.contains(folder)) {
            DropFolder(link);
            continue;
        }
        for (FileTreeFile** fileLink = &folder->files; *fileLink != nullptr;) {
            FileTreeFile* file = *fileLink;
            if (refused.contains(file)) {
                *fileLink = file->next;
                file->next = nullptr;
                FreeFileList(file);
            } else {
                fileLink = &file->next;
            }
        }
        PruneRefused(&folder->firstChild, refused);
        link = &folder->nextSibling;
    }
}

}  // namespace

void BackupEngine::ArchiveTree(FileTreeNode** link, std::size_t sourceEnd, std::size_t entryEnd) {
    // Along the sibling chain in a loop; only sub-folders recurse.
    while (*link != nullptr && control_.KeepGoing()) {
        // The archive refused a folder above this level when its turn came: skip the rest.
        if (queue_->InRefusedFolder(std::string_view(entryPathBuffer_).substr(0, entryEnd))) return;
        FileTreeNode* folder = *link;
        sourcePathBuffer_.resize(sourceEnd);
        entryPathBuffer_.resize(entryEnd);
        sourcePathBuffer_ += folder->name;
        entryPathBuffer_ += folder->name;
        if (!AddFolderEntry(link)) {
            if (!control_.IsRunning()) return;
            continue;  // dropped: the link now points to the next sibling
        }
        if (sourcePathBuffer_.empty() || sourcePathBuffer_.back() != '/') sourcePathBuffer_ += '/';
        entryPathBuffer_ += '\\';
        const std::size_t childSourceEnd = sourcePathBuffer_.size();
        const std::size_t childEntryEnd = entryPathBuffer_.size();

        lastEstimateTick_ = platform::TickCountMs();
        FileTreeFile** fileLink = &folder->files;
        while (*fileLink != nullptr && control_.KeepGoing() &&
               !queue_->InRefusedFolder(std::string_view(entryPathBuffer_).substr(0, childEntryEnd))) {
            FileTreeFile* file = *fileLink;
            sourcePathBuffer_.resize(childSourceEnd);
            entryPathBuffer_.resize(childEntryEnd);
            sourcePathBuffer_ += file->name;
            entryPathBuffer_ += file->name;
            view_->SetText(ProgressText::Status, view_->FitStatusPath(ShownPath(entryPathBuffer_)));
            if (CopyFileEntry(file) == FileCopy::Skipped) {
                // Not in the archive, so not in the added tree either: the next run retries it.
                // (What the archive refuses later is taken out by FinishMappingEntries.)
                *fileLink = file->next;
                file->next = nullptr;
                FreeFileList(file);
            } else {
                fileLink = &file->next;
            }
        }
        ArchiveTree(&folder->firstChild, childSourceEnd, childEntryEnd);
        link = &folder->nextSibling;
    }
}

bool BackupEngine::AddFolderEntry(FileTreeNode** link) {
    FileTreeNode* folder = *link;
    for (;;) {
        struct stat st {};
        if (stat(sourcePathBuffer_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            ArchiveQueue::Entry entry;
            entry.header.SetFileName(entryPathBuffer_);
            entry.header.SetFileTime(platform::FileTimeFromTimespec(st.st_mtim));
            entry.header.SetAttributesFromMode(st.st_mode);
            entry.sourcePath = sourcePathBuffer_;
            entry.node = folder;
            entry.sizeAtScan = folder->totalSize;
            try {
                queue_->MakeRoom();
                queue_->AddFolder(std::move(entry));
            } catch (const std::exception& error) {
                FailRun(error);  // the archive itself cannot be written (a full disk): the run ends
                return false;
            }
            return true;
        }
        // Missing, or it went away between the tests: as if it had not been there.
        switch (AskAndPause(FillIn(kFolderMissingFormat, {sourcePathBuffer_}), MessageButtons::AbortRetryIgnore)) {
            case MessageAnswer::Abort: AbortRun(); return false;
            case MessageAnswer::Ignore:
                NoteSkipped(FillIn(kLogFolderSkippedFormat, {sourcePathBuffer_}));
                bytesToCopy_ = LessOrZero(bytesToCopy_, folder->totalSize);
                DropFolder(link);
                return false;
            default: break;  // Retry
        }
    }
}

BackupEngine::FileCopy BackupEngine::CopyFileEntry(FileTreeFile* file) {
    platform::File source;
    // A link is never opened through: what stands there now decides, link or file.
    while (!source.TryOpen(sourcePathBuffer_, platform::File::Mode::ReadNoFollow)) {
        if (errno == ELOOP && AddLinkEntry(file)) return control_.IsRunning() ? FileCopy::Copied : FileCopy::Aborted;
        switch (AskAndPause(FillIn(kFileAccessFormat, {sourcePathBuffer_}), MessageButtons::AbortRetryIgnore)) {
            case MessageAnswer::Abort: AbortRun(); return FileCopy::Aborted;
            case MessageAnswer::Ignore:
                NoteSkipped(FillIn(kLogFileSkippedFormat, {sourcePathBuffer_}));
                bytesToCopy_ = LessOrZero(bytesToCopy_, file->size);
                return FileCopy::Skipped;
            default: break;  // Retry
        }
    }
    // Time and attributes of the file that is open, whatever happens to its path meanwhile.
    ArchiveQueue::Entry entry;
    entry.header.SetFileName(entryPathBuffer_);
    struct stat st {};
    if (fstat(source.Descriptor(), &st) == 0) {
        entry.header.SetFileTime(platform::FileTimeFromTimespec(st.st_mtim));
        entry.header.SetAttributesFromMode(st.st_mode);
    } else {
        entry.header.SetTime(platform::CurrentLocalTime());
    }
    entry.sourcePath = sourcePathBuffer_;
    entry.node = file;
    entry.sizeAtScan = file->size;
    std::uint64_t remaining = 0;
    try {
        remaining = source.Length();
        // The size the entry is expected to take decides whether its local header gets room
        // for 64-bit sizes.
        entry.header.uncompressedSize = remaining;
        queue_->MakeRoom();
        queue_->BeginFile(std::move(entry));
    } catch (const std::exception& error) {
        FailRun(error);
        return FileCopy::Aborted;
    }

    // One block per chunk, or one for the whole file; an empty file is one empty block.
    bool complete = false;
    std::uint64_t copiedOfFile = 0;
    while (!complete && control_.KeepGoing()) {
        // A file that fits is read whole, to be compressed in one piece.
        const auto chunk = static_cast<std::size_t>(
            copiedOfFile == 0 && remaining <= queue_->WholeSize() ? remaining
                                                                   : std::min<std::uint64_t>(remaining, queue_->BlockSize()));
        unsigned char* block = nullptr;
        try {
            queue_->MakeRoom(chunk);
            // Refused by the archive meanwhile; FinishMappingEntries takes it out of the tree.
            if (queue_->FileLeftOut()) return FileCopy::Copied;
            block = queue_->BlockBuffer(chunk);
        } catch (const std::exception& error) {
            FailRun(error);  // the archive itself cannot be written (a full disk): the run ends
            break;
        }
        // Read in pieces of at most a block, also when the file is read whole: the progress
        // moves, a cancel is heard and a file that shrinks is seen as between blocks.
        std::size_t filled = 0;
        std::size_t counted = 0;  // of the chunk, in the progress already
        bool stopped = false;
        for (;;) {
            const std::size_t piece = std::min(chunk - filled, queue_->BlockSize());
            std::size_t got = 0;
            int readError = 0;
            try {
                if (piece > 0) got = source.Read(block + filled, piece);
            } catch (const platform::FileError& error) {
                readError = error.osError();
            }
            if (got < piece) {
                // The file shrank or cannot be read (a log rotated under us): only this file is
                // given up, no entry is written for it, and the next run retries it.
                queue_->AbandonFile();
                source.Abandon();
                NoteSkipped(readError != 0
                                ? FillIn(kLogFileReadErrorFormat, {platform::OsErrorText(readError), sourcePathBuffer_})
                                : FillIn(kLogFileShrankFormat, {sourcePathBuffer_}));
                bytesCopied_ = LessOrZero(bytesCopied_, copiedOfFile);
                bytesToCopy_ = LessOrZero(bytesToCopy_, file->size);
                UpdateProgress();
                return FileCopy::Skipped;
            }
            filled += piece;
            if (filled == chunk) break;
            bytesCopied_ += piece;
            copiedOfFile += piece;
            counted += piece;
            KillPointForTests("chunk-written");
            UpdateProgress();
            if (!control_.KeepGoing()) {
                stopped = true;
                break;
            }
        }
        if (stopped) break;
        try {
            queue_->AddBlock(chunk, chunk == remaining);
        } catch (const std::exception& error) {
            FailRun(error);
            break;
        }
        remaining -= chunk;
        complete = remaining == 0;
        if (chunk == 0) continue;  // an empty file adds nothing to the progress
        bytesCopied_ += chunk - counted;
        copiedOfFile += chunk - counted;
        KillPointForTests("chunk-written");
        UpdateProgress();
    }
    source.Abandon();
    if (!complete) {
        // Cut short: the archive is deleted with the cancelled run.
        queue_->AbandonFile();
        return FileCopy::Aborted;
    }
    return FileCopy::Copied;
}

bool BackupEngine::AddLinkEntry(FileTreeFile* file) {
    struct stat st {};
    std::string target;
    if (lstat(sourcePathBuffer_.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) ||
        !platform::ReadLinkTarget(sourcePathBuffer_, target))
        return false;
    ArchiveQueue::Entry entry;
    entry.header.SetFileName(entryPathBuffer_);
    entry.header.SetFileTime(platform::FileTimeFromTimespec(st.st_mtim));
    entry.sourcePath = sourcePathBuffer_;
    entry.node = file;
    entry.sizeAtScan = file->size;
    try {
        queue_->MakeRoom();
        queue_->AddLink(std::move(entry), std::move(target));
    } catch (const std::exception& error) {
        FailRun(error);
        return true;  // the run ends; nothing more to ask about this entry
    }
    bytesCopied_ += file->size;
    UpdateProgress();
    return true;
}

void BackupEngine::FinishMappingEntries(FileTreeNode** tree) {
    if (control_.IsRunning()) {
        try {
            queue_->Flush();
        } catch (const std::exception& error) {
            FailRun(error);
        }
    }
    if (!control_.IsRunning()) queue_->Discard();
    if (!refusedNodes_.empty()) PruneRefused(tree, refusedNodes_);
    refusedNodes_.clear();
}

void BackupEngine::EntryLeftOut(const ArchiveQueue::Entry& entry, bool refused) {
    bytesCopied_ = LessOrZero(bytesCopied_, entry.bytesTaken);
    if (refused) {
        SkipForLimit(entry.folder, entry.sizeAtScan, entry.sourcePath);
        refusedNodes_.insert(entry.node);
    }
    UpdateProgress();
}

void BackupEngine::SkipForLimit(bool folder, std::uint64_t size, const std::string& sourcePath) {
    const std::string_view format = folder ? kLogFolderArchiveFullFormat
                                    : archive_.LastRefusal() == ZipRefusal::EntryTooLarge ? kLogTooLargeFormat
                                                                                           : kLogFileArchiveFullFormat;
    NoteSkipped(FillIn(format, {sourcePath}));
    bytesToCopy_ = LessOrZero(bytesToCopy_, size);
}

void BackupEngine::UpdateProgress() {
    // With nothing to copy at the scan (only empty files), whatever is copied completes it.
    const double fraction =
        bytesToCopy_ == 0 ? 1.0 : static_cast<double>(bytesCopied_) / static_cast<double>(bytesToCopy_);
    view_->SetProgressPosition(static_cast<int>(std::min(fraction, 1.0) * 1000));
    const std::uint32_t now = platform::TickCountMs();
    if (now - lastEstimateTick_ <= 1000) return;
    lastEstimateTick_ = now;
    if (bytesCopied_ == 0) return;  // nothing to estimate from yet
    const double elapsed = static_cast<double>(static_cast<std::uint32_t>(now - startTick_.load()));
    // A file that grew since the scan takes the fraction past 1: nothing is left then.
    const double estimate = std::max(0.0, elapsed / fraction - elapsed);
    const double seconds = std::min(estimate / 1000, 4294967295.0);
    view_->SetText(ProgressText::TimeRemaining, FormatDuration(static_cast<std::uint32_t>(seconds)));
}

}  // namespace halvex

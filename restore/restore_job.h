// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Types of the restore job. The job itself (PrepareDestination, RestoreTree, RestoreFolder,
// RestoreEntry, OpenArchiveForRestore, AbortRestore, FreeRestoreSelection) is part of
// ArchiveSet (restore/archive_set.h), implemented in restore_job.cpp.
#include <cstddef>
#include <cstdint>

namespace halvex {

// What happens to files that already exist in the destination. The "Directory Exists..."
// question answers 0 (cancel), 1, 2, 3 or 4; 4 becomes PromptEach once the folder is renamed.
enum ConflictPolicy : std::uint8_t {
    NoPolicy = 0,         // the destination did not exist: files met later are replaced
    KeepExisting = 1,
    ReplaceExisting = 2,
    PromptEach = 3,
    RenameFolder = 4,
};

// PrepareDestination's answers.
inline constexpr int kDestinationReady = 0;
inline constexpr int kDestinationCancelled = 1;
inline constexpr int kDestinationNotCreated = 2;
inline constexpr int kDestinationNotRenamed = 3;

// RestoreTree's answers.
inline constexpr int kRestoreCompleted = 0;
inline constexpr int kRestoreAborted = 1;

// Bytes read and written per step of an extraction.
inline constexpr std::size_t kRestoreBufferSize = 65535;

// An open descriptor of a destination folder, closed with its owner.
class FolderHandle {
public:
    FolderHandle() = default;
    explicit FolderHandle(int fd) : fd_(fd) {}
    ~FolderHandle() { Reset(); }
    FolderHandle(FolderHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    int Get() const { return fd_; }
    void Reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

}  // namespace halvex

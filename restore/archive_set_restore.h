// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Types of the restore job. The job itself (PrepareDestination, RestoreTree, RestoreFolder,
// RestoreEntry, OpenArchiveForRestore, AbortRestore, FreeRestoreSelection) is part of
// ArchiveSet (restore/archive_set.h), implemented in archive_set_restore.cpp.
#include <cstddef>
#include <cstdint>

namespace halvex {

// What happens to files that already exist in the destination, as the "Directory Exists..."
// answer (or a later "Do not ask me again.") set it. Once the destination is renamed aside
// the policy is PromptEach.
enum class ConflictPolicy : std::uint8_t {
    NotAsked = 0,  // the destination did not exist: files met later are replaced
    KeepExisting = 1,
    ReplaceExisting = 2,
    PromptEach = 3,
};

// PrepareDestination's answers.
enum class DestinationResult : std::uint8_t {
    Ready = 0,
    Cancelled = 1,
    NotCreated = 2,  // reported to the user
    NotRenamed = 3,  // reported to the user
};

// RestoreTree's answers.
enum class RestoreResult : std::uint8_t { Completed = 0, Aborted = 1 };

// How a restore of targets or of a selection ended: at a destination that was not ready, or
// with the restore completed or aborted.
struct RestoreOutcome {
    DestinationResult destination = DestinationResult::Ready;
    RestoreResult restore = RestoreResult::Completed;  // once the destination was ready

    bool Completed() const { return destination == DestinationResult::Ready && restore == RestoreResult::Completed; }
    friend bool operator==(const RestoreOutcome&, const RestoreOutcome&) = default;
};

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

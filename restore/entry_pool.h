// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Worker threads that read entries of one single-file archive at once, each through an
// archive object of its own (its own descriptor, no key derivation ahead: the workers derive
// their entries' keys themselves). The caller hands out tasks with the memory each needs;
// tasks stop being handed to workers while the memory of those under way would pass the
// budget. Outcomes are taken by ticket, so the caller settles them in the order it chooses.
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "zip/zip_archive_file.h"

namespace halvex {

// The threads a restore or a check reads with: HALVEX_RESTORE_THREADS when it is a number
// from 1 to 64, else the cores this process may run on.
int RestoreThreadCount();

// The memory reading entry `header` takes: the whole entry and its compressed bytes when it is
// inflated in one step, else the buffers of a streaming read of `bufferSize` steps.
std::uint64_t EntryReadMemory(const ZipEntryHeader& header, std::size_t bufferSize);

// What a task gets on its worker: the worker's open archive and a progress callback that
// counts the bytes written for the pool and answers false once the pool is cancelled.
struct EntryWork {
    ZipArchiveFile& zip;
    ZipProgressCallback progress;
    void* progressData;
};
// A task answers whether its work is complete; what it throws is kept in its outcome.
using EntryTask = std::function<bool(const EntryWork&)>;

struct EntryOutcome {
    bool complete = false;
    std::exception_ptr error;  // opening the archive or the task threw
    bool cancelled = false;    // dropped or stopped by Cancel
};

class EntryPool {
public:
    static constexpr std::uint64_t kDefaultBudget = std::uint64_t{96} << 20;
    // Tasks waiting or under way at most (each may hold a descriptor).
    static constexpr std::size_t kMaxTasks = 256;

    EntryPool(std::string archivePath, int threads, std::uint64_t budget = kDefaultBudget);
    // Cancels and waits for the workers.
    ~EntryPool();
    EntryPool(const EntryPool&) = delete;
    EntryPool& operator=(const EntryPool&) = delete;

    // Whether a task of `memory` bytes may be submitted now: always when nothing is under way
    // or waiting (an entry larger than the budget goes alone).
    bool HasRoom(std::uint64_t memory) const;
    std::uint64_t Submit(std::uint64_t memory, EntryTask task);
    // The outcome of `ticket` once its task ended, waiting at most `wait`; nothing before. An
    // outcome is taken once.
    std::optional<EntryOutcome> Take(std::uint64_t ticket, std::chrono::milliseconds wait);
    // Bytes the progress callbacks counted for tasks whose outcome was not taken yet.
    std::uint64_t BytesInFlight() const;
    // Tasks not begun end cancelled; those under way stop at their next progress call.
    void Cancel();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace halvex

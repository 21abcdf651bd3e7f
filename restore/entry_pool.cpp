// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/entry_pool.h"
#include "platform/process.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace halvex {

int RestoreThreadCount() {
    if (const std::optional<int> forced = platform::ForcedThreadCount("HALVEX_RESTORE_THREADS", 64)) return *forced;
    return std::clamp(static_cast<int>(platform::UsableProcessorCount()), 1, 64);
}

std::uint64_t EntryReadMemory(const ZipEntryHeader& header, std::size_t bufferSize) {
    const std::uint64_t streaming = bufferSize + ZipArchiveFile::kIoBufferSize;
    if (header.method != 8 && header.method != kAesMethod) return streaming;
    if (header.uncompressedSize <= bufferSize || header.uncompressedSize > ZipArchiveFile::WholeInflateLimit())
        return streaming;
    return header.uncompressedSize + header.compressedSize;
}

struct EntryPool::State {
    struct Queued {
        std::uint64_t ticket = 0;
        std::uint64_t memory = 0;
        EntryTask task;
    };
    struct Finished {
        EntryOutcome outcome;
        std::uint64_t bytes = 0;
    };
    // One task's share of the byte count.
    struct TaskProgress {
        State* state;
        std::uint64_t counted = 0;
    };

    std::string path;
    std::uint64_t budget = 0;
    mutable std::mutex lock;
    std::condition_variable work;
    std::condition_variable ended;
    std::deque<Queued> queue;
    std::map<std::uint64_t, Finished> finished;
    std::uint64_t memoryInUse = 0;  // of tasks waiting or under way
    std::size_t tasks = 0;          // waiting or under way
    std::uint64_t nextTicket = 1;
    bool stop = false;
    std::atomic<bool> cancelled{false};
    std::atomic<std::uint64_t> bytesInFlight{0};
    std::vector<std::thread> threads;

    static bool Progress(std::uint64_t, std::uint64_t done, void* data) {
        auto& progress = *static_cast<TaskProgress*>(data);
        if (done > progress.counted) {
            progress.state->bytesInFlight.fetch_add(done - progress.counted, std::memory_order_relaxed);
            progress.counted = done;
        }
        return !progress.state->cancelled.load(std::memory_order_relaxed);
    }

    void Run() {
        ZipArchiveFile zip;
        zip.SetKeyPrefetch(false);
        std::unique_lock guard(lock);
        for (;;) {
            work.wait(guard, [&] { return stop || !queue.empty(); });
            if (queue.empty()) return;
            Queued job = std::move(queue.front());
            queue.pop_front();
            guard.unlock();
            Finished result;
            TaskProgress progress{this};
            if (cancelled) {
                result.outcome.cancelled = true;
            } else {
                try {
                    if (zip.IsClosed(true)) zip.Open(path, ZipOpenReadOnly, 0);
                    result.outcome.complete = job.task(EntryWork{zip, &State::Progress, &progress});
                } catch (...) {
                    result.outcome.error = std::current_exception();
                    zip.AbandonEntry();
                }
                result.outcome.cancelled = cancelled && !result.outcome.complete;
            }
            result.bytes = progress.counted;
            job.task = nullptr;  // what it holds (a folder's descriptor) goes now
            guard.lock();
            memoryInUse -= job.memory;
            --tasks;
            finished.emplace(job.ticket, std::move(result));
            ended.notify_all();
        }
    }
};

EntryPool::EntryPool(std::string archivePath, int threads, std::uint64_t budget) : state_(std::make_unique<State>()) {
    state_->path = std::move(archivePath);
    state_->budget = budget;
    for (int i = 0; i < std::max(threads, 1); ++i) state_->threads.emplace_back([state = state_.get()] { state->Run(); });
}

EntryPool::~EntryPool() {
    Cancel();
    {
        std::lock_guard guard(state_->lock);
        state_->stop = true;
    }
    state_->work.notify_all();
    for (std::thread& thread : state_->threads) thread.join();
}

bool EntryPool::HasRoom(std::uint64_t memory) const {
    std::lock_guard guard(state_->lock);
    if (state_->tasks == 0) return true;
    return state_->tasks < kMaxTasks && state_->memoryInUse + memory <= state_->budget;
}

std::uint64_t EntryPool::Submit(std::uint64_t memory, EntryTask task) {
    std::lock_guard guard(state_->lock);
    const std::uint64_t ticket = state_->nextTicket++;
    state_->queue.push_back({ticket, memory, std::move(task)});
    state_->memoryInUse += memory;
    ++state_->tasks;
    state_->work.notify_one();
    return ticket;
}

std::optional<EntryOutcome> EntryPool::Take(std::uint64_t ticket, std::chrono::milliseconds wait) {
    std::unique_lock guard(state_->lock);
    const auto ready = [&] { return state_->finished.count(ticket) != 0; };
    if (!ready() && (wait.count() <= 0 || !state_->ended.wait_for(guard, wait, ready))) return std::nullopt;
    const auto found = state_->finished.find(ticket);
    State::Finished result = std::move(found->second);
    state_->finished.erase(found);
    state_->bytesInFlight.fetch_sub(result.bytes, std::memory_order_relaxed);
    return std::move(result.outcome);
}

std::uint64_t EntryPool::BytesInFlight() const { return state_->bytesInFlight.load(std::memory_order_relaxed); }

void EntryPool::Cancel() { state_->cancelled = true; }

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/listing_pipeline.h"
#include "platform/process.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <optional>
#include <utility>

namespace halvex {

int ScanThreadCount() {
    if (const std::optional<int> forced = platform::ForcedThreadCount("HALVEX_SCAN_THREADS", 16)) return *forced;
    const int cores = static_cast<int>(platform::UsableProcessorCount());
    // The scan itself mostly walks and waits, so a worker per core keeps the cores busy; on
    // one core a worker would only add switches.
    return cores <= 1 ? 1 : std::min(cores, 4) + 1;
}

struct ListingPipeline::Job {
    enum class State { Pending, Worker, Scan };
    std::string folder;
    State state = State::Pending;
    bool done = false;      // the worker queued the last chunk
    bool released = false;  // no longer counted among the listings waiting
    bool dropped = false;
    std::deque<platform::ListingChunk> chunks;
    std::exception_ptr error;  // what the worker's listing threw, thrown again to the scan
    platform::FolderReader reader;  // when the scan lists the folder itself
};

ListingPipeline::ListingPipeline(int workers, bool identity) : identity_(identity) {
    threads_.reserve(static_cast<std::size_t>(std::max(workers, 0)));
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

ListingPipeline::~ListingPipeline() {
    {
        std::lock_guard guard(lock_);
        stop_ = true;
        pending_.clear();
    }
    work_.notify_all();
    room_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void ListingPipeline::BeginBatch() {
    std::lock_guard guard(lock_);
    batchAtFront_ = 0;
}

ListingPipeline::JobPtr ListingPipeline::Request(const std::string& path) {
    auto job = std::make_shared<Job>();
    if (threads_.empty()) return job;
    job->folder = path;
    {
        std::lock_guard guard(lock_);
        batchAtFront_ = std::min(batchAtFront_, pending_.size());
        pending_.insert(pending_.begin() + static_cast<std::ptrdiff_t>(batchAtFront_), job);
        ++batchAtFront_;
    }
    work_.notify_one();
    return job;
}

void ListingPipeline::Release(Job& job) {
    if (job.state != Job::State::Worker || job.released) return;
    job.released = true;
    if (waiting_-- == kFoldersWaiting) work_.notify_all();
}

bool ListingPipeline::Next(const JobPtr& job, const std::string& path, platform::ListingChunk& chunk) {
    chunk = platform::ListingChunk{};
    std::unique_lock guard(lock_);
    if (job->state == Job::State::Pending) {
        // Needed now and not taken: it is the earliest request, so at the front.
        const auto at = std::find(pending_.begin(), pending_.end(), job);
        if (at != pending_.end()) {
            if (at - pending_.begin() < static_cast<std::ptrdiff_t>(batchAtFront_)) --batchAtFront_;
            pending_.erase(at);
        }
        job->state = Job::State::Scan;
        guard.unlock();
        job->reader.Open(path, identity_, chunk);
        if (!chunk.last) job->reader.Read(chunk, kChunkEntries);
        job->done = chunk.last;
        return true;
    }
    if (job->state == Job::State::Scan) {
        guard.unlock();
        if (job->done) return false;
        job->reader.Read(chunk, kChunkEntries);
        job->done = chunk.last;
        return true;
    }
    ready_.wait(guard, [&] { return !job->chunks.empty() || job->done; });
    if (job->chunks.empty()) {
        Release(*job);
        if (job->error) std::rethrow_exception(std::exchange(job->error, nullptr));
        return false;
    }
    const bool wasFull = job->chunks.size() >= kChunksPerFolder;
    chunk = std::move(job->chunks.front());
    job->chunks.pop_front();
    if (job->done && job->chunks.empty()) Release(*job);
    if (wasFull) room_.notify_all();
    return true;
}

void ListingPipeline::Drop(const JobPtr& job) {
    {
        std::lock_guard guard(lock_);
        job->dropped = true;
        if (job->state == Job::State::Pending) {
            const auto at = std::find(pending_.begin(), pending_.end(), job);
            if (at != pending_.end()) {
                if (at - pending_.begin() < static_cast<std::ptrdiff_t>(batchAtFront_)) --batchAtFront_;
                pending_.erase(at);
            }
            return;
        }
        job->chunks.clear();
        Release(*job);
    }
    room_.notify_all();
    job->reader.Close();
}

void ListingPipeline::Work() {
    std::unique_lock guard(lock_);
    for (;;) {
        work_.wait(guard, [&] { return stop_ || (!pending_.empty() && waiting_ < kFoldersWaiting); });
        if (stop_) return;
        JobPtr job = std::move(pending_.front());
        pending_.pop_front();
        if (batchAtFront_ > 0) --batchAtFront_;
        job->state = Job::State::Worker;
        ++waiting_;
        guard.unlock();

        platform::FolderReader reader;
        platform::ListingChunk chunk;
        std::exception_ptr error;
        try {
            reader.Open(job->folder, identity_, chunk);
        } catch (...) {
            error = std::current_exception();
        }
        for (;;) {
            if (!error && !chunk.last) {
                try {
                    reader.Read(chunk, kChunkEntries);
                } catch (...) {
                    error = std::current_exception();
                }
            }
            guard.lock();
            if (error) {
                // Out of memory, most likely: the scan fails as it would have listing alone.
                job->error = error;
                job->done = true;
                ready_.notify_one();
                break;
            }
            bool last = chunk.last;
            if (stop_ || job->dropped) break;
            try {
                job->chunks.push_back(std::move(chunk));
            } catch (...) {
                job->error = std::current_exception();
                last = true;
            }
            job->done = last;
            ready_.notify_one();
            if (last) break;
            // Bounded per folder: the scan takes this folder's chunks before it needs any
            // later folder, so this wait always ends.
            room_.wait(guard, [&] { return stop_ || job->dropped || job->chunks.size() < kChunksPerFolder; });
            if (stop_ || job->dropped) break;
            guard.unlock();
            chunk = platform::ListingChunk{};
        }
    }
}

}  // namespace halvex

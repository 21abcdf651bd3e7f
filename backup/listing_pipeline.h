// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Worker threads that list folders ahead of the source scan: the scan requests each
// sub-folder as soon as it knows it, and takes the listings back in chunks, in the order it
// walks the tree. Requests wait in that order (a folder's sub-folders come before everything
// requested earlier), so the workers list what the scan needs next. A folder the scan needs
// and no worker has taken yet is listed by the scan itself, so the bound on listings waiting
// (folders taken and not yet consumed, chunks per folder) never stops the scan.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/folder_reader.h"

namespace halvex {

// The threads that list folders for a scan, the scan's own included (it lists what no worker
// has taken when it needs it): HALVEX_SCAN_THREADS when it is a number from 1 to 16 (1: the
// scan lists every folder itself, with no other thread), else one worker per core this
// process may run on (at most 4) beside the scan, and none on a single core.
int ScanThreadCount();

class ListingPipeline {
public:
    struct Job;
    using JobPtr = std::shared_ptr<Job>;

    // Starts `workers` threads (none: the scan lists every folder itself, in its own order);
    // folders are opened with their identity when `identity`.
    ListingPipeline(int workers, bool identity);
    ~ListingPipeline();
    ListingPipeline(const ListingPipeline&) = delete;
    ListingPipeline& operator=(const ListingPipeline&) = delete;

    // Starts a new batch of requests: the sub-folders of the folder the scan lists now.
    void BeginBatch();
    // Requests the folder at `path` after the batch's earlier requests and before all older
    // ones.
    JobPtr Request(const std::string& path);
    // The next chunk of the listing of the job's folder, which is at `path` (the first chunk
    // tells whether it opened); false once the last chunk was taken.
    bool Next(const JobPtr& job, const std::string& path, platform::ListingChunk& chunk);
    // The scan will not take the rest of this job.
    void Drop(const JobPtr& job);

    static constexpr std::size_t kChunkEntries = 1024;
    static constexpr std::size_t kChunksPerFolder = 8;
    static constexpr std::size_t kFoldersWaiting = 256;

private:
    void Work();
    // Releases the job's place among the listings waiting (once); the lock is held.
    void Release(Job& job);

    const bool identity_;
    std::mutex lock_;
    std::condition_variable work_;   // workers: a request, or the end
    std::condition_variable room_;   // workers: room for their folder's next chunk
    std::condition_variable ready_;  // the scan: a chunk
    std::deque<JobPtr> pending_;
    std::size_t batchAtFront_ = 0;  // requests of the current batch at the front of pending_
    std::size_t waiting_ = 0;       // folders taken by workers and not yet released
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace halvex

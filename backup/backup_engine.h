// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// BackupEngine: the backup program's one run object. It reads the parsed job file, which it
// never changes, and keeps the state of one backup run, which RunBackup performs on a worker
// thread of its own:
// checks, analysis of every mapping, one new archive per job, saving the file-list store and
// backups.log. The user is reached only through a BackupView; the thread that shows the
// view asks for a cancel through RequestCancel.
//
// A cancelled or failed run leaves no new archive and the store unchanged. A new archive is
// written under a temporary name (archive name + ".partial") and renamed into place only once
// it is complete and on disk, so an archive under a set's name is always whole, even after a
// crash. "Backup Successful!" is shown only once every new archive, the store and
// backups.log are on disk.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "backup/archive_folder_locks.h"
#include "backup/archive_queue.h"
#include "backup/backup_view.h"
#include "backup/burn/copy_to_cd_task.h"
#include "backup/file_list_store.h"
#include "backup/job_config.h"
#include "backup/run_control.h"
#include "backup/source_scan.h"
#include "backup/target_history.h"
#include "common/file_tree_ptr.h"
#include "common/message_box.h"
#include "platform/local_time.h"
#include "zip/zip_archive_file.h"

namespace halvex {

// Files larger than WholeFileSize are read in chunks of this size, each deflated on its own by
// the pool of threads and joined into one stream.
inline constexpr std::size_t CopyChunkSize = std::size_t{2} << 20;
// Files up to this size are read whole and deflated in one piece: faster and smaller than
// joining blocks, at the cost of holding the file and its compressed copy in memory.
inline constexpr std::size_t WholeFileSize = std::size_t{32} << 20;
// A new archive's name while it is being written.
inline constexpr const char* kPartialArchiveSuffix = ".partial";

class BackupEngine {
public:
    enum class RunOutcome {
        NotRun,
        Succeeded,   // "Backup Successful!"
        Cancelled,   // "Backup Canceled" by the user
        Failed,      // "Backup Canceled" after an error that was not the user's (writing the archive)
        StoreError,  // FileLists.tq could not be opened or saved; no new archive is left
    };

    // The config must outlive the engine and stay as it is while a run goes on.
    explicit BackupEngine(const JobConfig& config);
    ~BackupEngine();
    BackupEngine(const BackupEngine&) = delete;
    BackupEngine& operator=(const BackupEngine&) = delete;

    const JobConfig& Config() const { return config_; }
    // Starts RunBackup for the jobs flagged JobSelected on a new thread. Names without a folder
    // are taken in the job file's folder. The view must outlive the run. `onFinished`, when
    // given, is called on the run's thread once RunFinished() is true, so a waiting thread can
    // be woken at once instead of on its next tick.
    void StartRun(BackupView& view, bool startBrandNew, std::function<void()> onFinished = {});
    // Waits for the run's thread to end.
    void WaitForRun();
    // Whether the run's thread has finished its work (WaitForRun then returns at once).
    bool RunFinished() const { return finished_.load(); }

    // A cancel request (the Cancel button, closing the window, a signal), answered on the
    // calling thread through `ask`: ignored when no run is going; refused with "Unable to
    // abort at this time." while the store is being saved; otherwise the run pauses at its
    // next cancellation test while "Quit??" is asked, and Yes cancels it.
    void RequestCancel(const AskFunction& ask);

    // Whether a cancel has been confirmed while the run's thread has not ended yet.
    // Not during the off-site copies: the run is saved by then, and a stopped rclone that
    // does not end is killed by the copy itself.
    bool Stopping() const { return !control_.IsRunning() && !finished_.load() && !copyingOffsite_.load(); }
    // For a cancelled run whose thread does not come back (stuck in a call that never
    // returns, on a file system that does not answer): removes what the run has made so far
    // (its partial and new archives, the store's working copy), leaving the set and
    // FileLists.tq as they were before the run. The caller then ends the process, which
    // releases the run's folder locks; the run's thread is left where it is.
    void RemoveFilesOfStuckRun();

    // What one archive may hold: the zip format's limits unless lowered (tests lower them to
    // reach them with small files).
    void SetArchiveLimits(const ZipLimits& limits) { archiveLimits_ = limits; }
    // How the copy-to-CD task after the run gets its discs and its burner.
    void SetDiscSettings(CopyToCdSettings settings) { discSettings_ = std::move(settings); }
    // Threads that deflate the files: 0 (the default) for one per processor the program may
    // use.
    void SetDeflateThreads(unsigned threads) { deflateThreads_ = threads; }

    RunOutcome Outcome() const { return outcome_; }
    // Job `index`'s flags as the last run left them: JobSelected is gone for a job that got no
    // archive, and a job refused a brand-new set loses JobCopyToCd too. 0 before any run or
    // for an index outside the jobs.
    int RunJobFlags(int index) const;
    // The tick the time-remaining estimate counts from: when copying began, moved on by the
    // time questions were open.
    std::uint32_t EstimateStartTick() const { return startTick_.load(); }
    // One run-log text per file or folder the run left out (skipped at the scan, ignored
    // after an error, or refused by the archive's limits), and one line per job left out
    // (dropped by a check, or its archive could not be created, or its archives were not
    // copied to CD), in the order they happened.
    const std::vector<std::string>& SkippedEntries() const { return skipped_; }
    // Run-log texts of what the run left out on purpose (the backup's own files found in a
    // source): told, but not counted as skips.
    const std::vector<std::string>& Notices() const { return notices_; }

private:
    struct MappingRun {
        FileTreePtr changeTree;
        HistoryBytes newHistory;
        std::optional<CompressedHistory> storedCompressed;  // to be continued, when there is one
        std::uint64_t newHistoryStart = 0;                  // see MappingAnalysis
        std::size_t recordStart = 0;                        // this run's record in newHistory
        HistoryBytes stateBefore;                           // serialized, as the analysis found it
        CompressedHistory compressed;                        // the whole new history, once written
        // This run's record (its added tree is still changeTree), led by kRecordLead bytes,
        // from the history's deflating until the archive is closed and the next state is made.
        HistoryBytes ledRecord;
        std::vector<unsigned char> stateEntry;              // the store's next state; empty: none
        std::vector<std::string> notices;
        std::vector<std::string> ownFileNotices;
    };
    // One job's state in a run, one per job of the config in its order.
    struct JobRun {
        JobRun(const Job* of, int jobFlags) : job(of), flags(jobFlags) {}
        const Job* job = nullptr;
        int flags = 0;                // the job's flags, less those of a job the run leaves out
        std::vector<MappingRun> mappings;
        int storedArchiveNumber = 0;
        int archiveNumber = 0;        // 0 until its archive is begun
        std::string archiveName;      // the archive's name in its set, as the job file places it
        std::string archivePath;      // archiveName in the job file's folder
        bool archiveCreated = false;  // this run has created the archive (maybe still partial)
        bool archiveFinished = false; // it has been renamed to archivePath
        std::string runLog;           // the job's run log, written into its archive and backups.log
        std::string password;         // encrypted jobs: what their archive is written with
    };
    enum class FileCopy { Copied, Skipped, Aborted };

    // backup_engine_run.cpp: the run's phases.
    void RunBackup();
    int CheckJobs();
    bool AnalyzeJobs(int mappingTotal);
    // set_rebuild.cpp: the job's latest archive number, from the store or, when the store
    // knows nothing of archives of the set that are there, rebuilt from the newest of them.
    // None when the job is dropped (with its message).
    std::optional<int> FindArchiveNumber(JobRun& run);
    // Locks the folder for the run; false when the job is dropped (another run writes there).
    bool LockArchiveFolder(JobRun& run, const std::string& folder);
    bool CopyJobs();
    bool CreateArchive(JobRun& run);
    // Puts the finished archive under its name in the set, never replacing a file there;
    // false when the name has been taken (the job is then dropped).
    bool PutArchiveInPlace(JobRun& run);
    // The zip limits while the job's files are copied: room is kept for the entries that
    // end its archive, so that they always fit.
    ZipLimits FileEntryLimits(const JobRun& run) const;
    void WriteJobArchive(JobRun& run);
    // The mapping's whole new history deflated: its stored form continued with this run's
    // record, or deflated whole when there is none to continue.
    // newHistory is then given up: its record is kept as ledRecord, for MakeStateEntries.
    static CompressedHistory JoinHistory(MappingRun& run);
    // The store's next state of each mapping of the job, from its state before and its record.
    static void MakeStateEntries(JobRun& run);
    bool SaveStore();
    void CancelRun();
    void EndRun();
    // backup_engine_offsite.cpp: copies the sets of the run's jobs with a copyto: place there.
    void CopyJobsOffsite();
    void AppendLogLine(std::string_view text);
    void NoteSkipped(std::string text);
    // Shows why the job takes no further part, keeps only keepFlags of its flags and notes it
    // with the skips.
    void DropJob(JobRun& run, const std::string& message, int keepFlags);
    void AbortRun();
    // Ends the run after an error that was not the user's: "Error Reading/Writing File" with
    // the file and the system's reason.
    void FailRun(const std::exception& error);
    void AddPausedTime(std::uint32_t milliseconds);
    // The files the run has made and a cancel removes, kept for RemoveFilesOfStuckRun.
    void NoteRunFile(const std::string& path, const std::string& replacing = {});
    void ForgetRunFiles();
    MessageAnswer AskAndPause(const std::string& text, MessageButtons buttons);

    // backup_engine_archive_tree.cpp: copying a change tree into the open archive.
    void ArchiveTree(FileTreeNode** link, std::size_t sourceEnd, std::size_t entryEnd);
    bool AddFolderEntry(FileTreeNode** link);
    FileCopy CopyFileEntry(FileTreeFile* file);
    // Queues the symbolic link at the source path as a link entry; false when none is there.
    bool AddLinkEntry(FileTreeFile* file);
    // Writes what is still queued for the mapping (or drops it when the run was cancelled)
    // and takes what the archive refused out of the change tree.
    void FinishMappingEntries(FileTreeNode** tree);
    // An entry the archive left out when its turn came (see ArchiveQueue).
    void EntryLeftOut(const ArchiveQueue::Entry& entry, bool refused);
    // Moves the progress bar to the share of the bytes copied and, at most once a second,
    // shows the time remaining estimated from it.
    void UpdateProgress();
    // Logs the file or folder the archive's limits refused and takes its size off the total.
    void SkipForLimit(bool folder, std::uint64_t size, const std::string& sourcePath);

    const JobConfig& config_;
    BackupView* view_ = nullptr;
    std::thread workerThread_;
    std::atomic<bool> finished_{true};
    std::atomic<bool> copyingOffsite_{false};
    bool startBrandNew_ = false;
    RunControl control_;
    std::string* currentJobLog_ = nullptr;
    std::string entryPathBuffer_;
    std::string sourcePathBuffer_;
    unsigned deflateThreads_ = 0;
    std::unique_ptr<ArchiveQueue> queue_;  // while the jobs' files are copied
    // What the archive refused after ArchiveTree had moved past it, taken out of the change
    // tree once the mapping's entries are all written.
    std::unordered_set<const void*> refusedNodes_;
    std::uint64_t bytesCopied_ = 0;
    std::uint64_t bytesToCopy_ = 0;
    std::atomic<std::uint32_t> startTick_{0};
    std::uint32_t lastEstimateTick_ = 0;

    std::uint64_t runTime_ = 0;  // taken when the first history is built, then kept
    platform::SystemTime copyTime_{};  // local time at which copying began
    std::optional<FileListStore> store_;  // in the job file's folder, from the start of a run
    SourceScanner scanner_{control_};
    ZipArchiveFile archive_;
    ArchiveFolderLocks archiveLocks_;
    ZipLimits archiveLimits_;
    CopyToCdSettings discSettings_;
    std::vector<JobRun> jobRuns_;
    // States rebuilt by jobs that found nothing to store (history entry name, state entry).
    std::vector<std::pair<std::string, std::vector<unsigned char>>> statesToKeep_;
    RunOutcome outcome_ = RunOutcome::NotRun;
    std::vector<std::string> skipped_;
    std::vector<std::string> notices_;
    std::mutex runFilesMutex_;
    std::vector<std::string> runFiles_;
};

}  // namespace halvex

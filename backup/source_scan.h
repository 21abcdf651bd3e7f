// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Source scan and change detection: the tree of a mapping's source folder less what the
// filters remove, the replay of its stored history, and the comparison of the two into the
// change tree (new and changed files) and the removed tree (what has gone). Changes are found
// by name and last-write time only.
//
// Linux specifics: the path buffer keeps the names' case as on disk and holds up to the
// platform's path limit; filters are tested against an upper-cased copy of the relative path
// with '\' between levels. Entries that cannot be backed up are left out and described in
// the analysis' notices, one run-log text each: names holding '\', paths past the limit,
// entries that cannot be read, and folders that cannot be listed. A symbolic link, whatever
// it points to, is a file of the tree (size: its target's length; time: the link's own) and
// is never followed, so a scan never loops or leaves its source. Fifos, sockets and devices
// are passed over on purpose: one "Not backed up (KIND): PATH" text each among the notices
// of left-out own files.
//
// A folder that cannot be listed (or whose listing fails midway) is not taken as empty: its
// stored state is kept as it was, so nothing in it is recorded as removed. The backup's own
// files (archives and partial archives of every job, FileLists.* and backups.log in the
// program folder) are left out with a notice when a source holds them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/file_list_store.h"
#include "backup/job_config.h"
#include "backup/listing_pipeline.h"
#include "backup/run_control.h"
#include "backup/target_history.h"
#include "common/file_tree_ptr.h"

namespace halvex {

// The start of the run-log text of a fifo, socket or device passed over.
inline constexpr std::string_view kNoticePassedOverStart = "Not backed up (";
// Whether a notice tells of a fifo, socket or device passed over.
bool IsPassedOverNotice(std::string_view notice);

// Whether the filters remove an entry. `relativePath` is upper-cased, relative to the source
// folder, with '\' between levels and no leading '\'. Walking the mapping's rules and then
// the global ones, in file order: an exclude that matches excludes the entry, an include that
// matches takes an earlier exclude back; a rule that cannot change the state is passed over.
bool IsExcluded(std::string_view relativePath, const std::vector<FilterRule>& mappingRules,
                const std::vector<FilterRule>& globalRules);

// A folder that holds the backup's own files: the archives of the sets whose bases end in
// one of `archivePrefixes` (their names, without folder), and, for the program folder, the
// store and the cumulative log.
struct OwnFilesFolder {
    std::string folder;
    std::vector<std::string> archivePrefixes;
    bool programFolder = false;
};

// Lists source folders into file trees, with one path buffer for the whole scan. The folders'
// entries are read and stat'ed by listing threads ahead of the walk (ListingPipeline); the walk
// itself (filters, order, notices, own files) stays on the calling thread, so the tree and the
// notices are the same whatever the number of threads.
class SourceScanner {
public:
    explicit SourceScanner(RunControl& control);

    // The folders whose own files every later scan leaves out (folders that do not exist are
    // passed over).
    void SetOwnFiles(const std::vector<OwnFilesFolder>& folders);
    // The folder in which a source folder without a leading '/' is taken (the job file's).
    void SetBaseFolder(const std::string& folder) { baseFolder_ = folder; }
    // The threads that list folders (1: the scan lists them itself); ScanThreadCount() at first.
    void SetThreads(int threads) { threads_ = threads < 1 ? 1 : threads; }

    // The tree of the mapping's source folder: a root folder with the empty name, its files
    // in the reverse of listing order, its sub-folders in listing order; sizes and
    // last-write times as listed. None when the source folder cannot be listed or the run was
    // cancelled. Entries left out are described in `notices`.
    FileTreePtr ScanSource(const SourceMapping& mapping, const std::vector<FilterRule>& globalFilters,
                           std::vector<std::string>& notices);
    // After ScanSource: the folders that could not be listed, each as its names below the
    // source folder (empty: the source folder itself).
    const std::vector<std::vector<std::string>>& UnlistedFolders() const { return unlisted_; }
    // After ScanSource: one run-log text per own file left out, and per fifo, socket or
    // device passed over.
    const std::vector<std::string>& OwnFileNotices() const { return ownFileNotices_; }

private:
    // Lists the folder whose path is sourcePath_[0, pathEnd) and whose filter path is
    // filterPath_[0, filterEnd); `name` becomes the node's name.
    FileTreeNode* ScanFolder(std::size_t pathEnd, std::size_t filterEnd, std::string_view name,
                             const ListingPipeline::JobPtr& job);
    void Notice(std::string_view format, const std::string& path);
    // Notes that the folder at sourcePath_ cannot be listed.
    void Unlisted();
    struct OwnFolder {
        std::uint64_t device = 0, inode = 0;
        const OwnFilesFolder* rules = nullptr;
    };
    const OwnFilesFolder* OwnFilesAt(std::uint64_t device, std::uint64_t inode) const;

    RunControl& control_;
    std::string sourcePath_;  // the path being listed, built in place
    std::string filterPath_;  // upper-cased relative path with '\', built in place
    std::size_t rootEnd_ = 0;
    bool rootHasSeparator_ = false;  // the source folder is "/"
    bool hasFilters_ = false;
    const SourceMapping* mapping_ = nullptr;
    const std::vector<FilterRule>* globalFilters_ = nullptr;
    std::vector<std::string>* notices_ = nullptr;
    std::vector<std::vector<std::string>> unlisted_;
    std::vector<OwnFilesFolder> ownFiles_;
    std::string baseFolder_ = ".";
    std::vector<OwnFolder> ownFolders_;
    std::vector<std::string> ownFileNotices_;
    int threads_ = ScanThreadCount();
    ListingPipeline* pipeline_ = nullptr;  // during a scan
};

struct MappingAnalysis {
    enum class Outcome {
        Done,             // changeTree (maybe none) and newHistory are set
        Cancelled,        // the run was cancelled; nothing is kept
        DamagedHistory,   // the stored history cannot be read; the store is untouched
        TooLargeHistory,  // the stored history needs more memory than allowed; the store is untouched
    };
    Outcome outcome = Outcome::Cancelled;
    FileTreePtr changeTree;   // new and changed files with the folders leading to them
    HistoryBytes newHistory;  // up to and including this run's removed tree
    // The stored history deflated, when the store has it in a form newHistory continues.
    std::optional<CompressedHistory> storedCompressed;
    // Where newHistory begins in the whole new history: the stored history's size when the
    // run took the kept state and never read the stored history (storedCompressed is then set
    // and holds it), 0 otherwise.
    std::uint64_t newHistoryStart = 0;
    // The state before this run, serialized (empty for an empty state): the store keeps the
    // next one, made from it and this run's record.
    HistoryBytes stateBefore;
    std::size_t recordStart = 0;  // where this run's record begins in newHistory
    std::vector<std::string> notices;         // entries left out that could not be backed up
    // Left out on purpose: the backup's own files; fifos, sockets and devices.
    std::vector<std::string> ownFileNotices;
};

struct AnalysisSettings {
    const std::vector<FilterRule>& globalFilters;
    bool startBrandNew = false;
    // The run's time, taken from the clock when the first history is built and then kept.
    std::uint64_t& runTime;
    // Advances the progress bar one step (after the scan and after the replay).
    std::function<void()> stepProgress;
};

// Analyses one mapping against the history stored under `historyName` ("<job>\<target>.tq").
// A run that took the kept state (newHistoryStart > 0) answers neither storedCompressed nor
// stateBefore: ReloadKeptState reads them when the job stores something.
MappingAnalysis AnalyzeMapping(SourceScanner& scanner, FileListStore& store, const std::string& historyName,
                               const SourceMapping& mapping, const AnalysisSettings& settings, RunControl& control);
// Reads the kept state's serialized form and deflated history again; false when the store no
// longer has the state the analysis took (its history of `newHistoryStart` bytes).
bool ReloadKeptState(FileListStore& store, const std::string& historyName, const SourceMapping& mapping,
                     std::uint64_t newHistoryStart, std::optional<CompressedHistory>& storedCompressed,
                     HistoryBytes& stateBefore);

}  // namespace halvex

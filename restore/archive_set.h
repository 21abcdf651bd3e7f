// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ArchiveSet: the restore program's one object for the open archive set. From one archive it
// learns how many archives the set has and what they are called, the backup targets with their
// whole histories and the backup dates; for a chosen date it builds every target's tree as it
// stood then (each entry labelled with the archive that holds its version), searches it,
// fetches the backup logs, and restores from it, archive by archive.
//
// The members are implemented by concern: archive_set.cpp (the set, its names and dates),
// archive_set_catalog.cpp (per-date trees, search, logs), archive_set_restore.cpp (destination and extraction),
// archive_set_progress.cpp (the progress callback and the time estimate).
//
// Everything runs on the user-interface thread, except that a restore hands the reading and
// writing of files to worker threads (RestoreThreadCount of them; one: all on this thread).
// Questions, messages and progress stay on this thread, in catalog order. At most one
// archive is open at a time, and outside an operation none is. Every archive file of the set is looked for in
// the set's folder: the opened archive's, or the one of an archive the user chose in place of
// a missing one.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "restore/backup_target.h"
#include "restore/archive_set_catalog.h"
#include "restore/folder_permissions.h"
#include "restore/archive_set_restore.h"
#include "restore/restore_ui.h"
#include "restore/set_records.h"
#include "restore/entry_pool.h"
#include "zip/zip_archive_file.h"

namespace halvex {

class ArchiveSet {
public:
    ArchiveSet();
    ~ArchiveSet();
    ArchiveSet(const ArchiveSet&) = delete;
    ArchiveSet& operator=(const ArchiveSet&) = delete;

    // ---- The set (archive_set.cpp) ----

    // Forgets the open set and reads the set that the archive at `path` ends (it is taken to
    // be the set's last archive); that archive's folder becomes the set's folder. False, with
    // no set open, when the archive cannot be read as a zip archive, has no "ToDirs.tq", lacks
    // a target's history, or any bookkeeping record is damaged or unsafe (set_records.h).
    bool OpenSet(const std::string& path);
    // The same for a reader of the dates and targets alone: the histories are read and
    // checked as OpenSet does, with the same refusals, but no tree is built, so the set has no
    // tree at any date (SelectDate, the search and the versions see no backups).
    bool OpenSetDatesOnly(const std::string& path);
    // The same for a reader of one date at a time (SelectOnlyDate or ShowDate next): the
    // histories are checked as OpenSetDatesOnly does and kept as bytes, and a date's records
    // are built one by one as they are replayed, so that no record's tree waits beside all the
    // others.
    bool OpenSetForOneDate(const std::string& path);
    // Why the last OpenSet failed, when the reason is worth more than "Error opening
    // archive.": the path is not a regular file. Empty otherwise.
    const std::string& OpenFailureDetail() const { return openFailureDetail_; }
    // Why the last OpenSet failed, in a few words: "not a set", "damaged", "permission
    // denied", "not a regular file", "too large", or the system's text for another error of
    // the file. Empty after a successful open.
    const std::string& OpenFailureReason() const { return openFailureReason_; }
    // Forgets the open set: targets, histories, trees, dates and archive names.
    void Clear();
    bool IsOpen() const { return archiveCount_ > 0; }
    // Where the set's archives are looked for ("." for an archive opened by a bare name: the
    // process's folder; "" with no set open).
    const std::string& Folder() const { return folder_; }

    // File name (no folder) of archive `number` (1-based), or null when there is none. The
    // extension is spelled as the opened archive spells it.
    const std::string* GetArchiveName(int number) const;
    // The file in the set's folder to open for archive `number`: its name when that file
    // exists, else a file whose name equals it ignoring case, else its name; the path of it in
    // the set's folder ("" when the set has no such archive).
    std::string ArchiveFileToOpen(int number) const;
    // The backup dates (file times), oldest first: the times of the last target with the most
    // backups.
    const std::vector<std::uint64_t>& GetBackupDates() const { return dates_; }
    // Index into GetBackupDates of the selected date.
    int CurrentDateIndex() const { return currentArchiveIndex_ + dateCount_ - archiveCount_; }
    const std::string& GetTargetName(int i) const { return targets_.at(i).targetName; }
    const std::string& GetSourceFolder(int i) const { return targets_.at(i).sourceFolder; }
    const BackupTarget& GetTarget(int i) const { return targets_.at(i); }

    int TargetCount() const { return static_cast<int>(targets_.size()); }
    int ArchiveCount() const { return archiveCount_; }
    int DateCount() const { return dateCount_; }
    // 0-based archive index of the selected date; archive CurrentArchiveIndex() + 1 is the
    // newest archive whose contents count for it.
    int CurrentArchiveIndex() const { return currentArchiveIndex_; }
    const std::string& ArchiveBaseName() const { return archiveBaseName_; }

    // Opens the set of the ".TQBak" file in `folder` with the latest last-write time (on equal
    // times the first one listed). False when there is none; otherwise true, and `opened`
    // (when given) tells whether OpenSet succeeded.
    bool OpenNewestArchive(const std::string& folder, bool* opened = nullptr);

    // ---- The catalog (archive_set_catalog.cpp) ----

    // Builds every target's tree as it stood at date `dateIndex` (0 = oldest) from the
    // histories in memory: the backups in the date's archive and the archives before it,
    // chosen by archive number, never by their times. An index outside the date list
    // changes nothing.
    void SelectDate(int dateIndex);
    // The same for a reader of that one date alone: the histories' trees become the date's
    // trees instead of being copied into them, so that no set of trees is held twice. The set
    // has no other date to give afterwards: SelectDate, the search and the versions see no
    // backups until OpenSet.
    void SelectOnlyDate(int dateIndex);
    // For a reader that shows one date at a time (the window): after OpenSetForOneDate, each
    // date is built from the kept history bytes record by record, and the bytes stay; the
    // histories' trees are parsed from them only when a search of every backup or the versions
    // of a file need them, and dropped at the next ShowDate. The trees are then held once, not
    // twice. After OpenSet, the same as SelectDate.
    void ShowDate(int dateIndex);
    // Target i's tree at the selected date: its top folder is named after the target and
    // stands for the source folder; every folder's totalSize is filled; every folder and file
    // carries the number of the archive holding the version that counts. Null when none of
    // the target's backups lies in the date's archive or an earlier one. Valid until SelectDate, Clear or OpenSet.
    const FileTreeNode* GetTargetTree(int i) const;
    void ClearTargetTrees();
    // Calls `callback` for every file whose name matches `pattern` (MatchWildcard ignoring
    // case) in a folder whose path ("Target\sub\", with the final '\') matches `folderFilter`
    // (null or empty: every folder); sub-folders are searched whatever the filter says. Searches
    // the selected date's trees, or with allBackups every backup's added tree in backup order.
    // True when everything was searched; false when the callback stopped it or pattern is null.
    bool Search(const char* pattern, const char* folderFilter, bool allBackups, SearchCallback callback,
                void* userData);
    // Replays target i's history backup by backup without touching the selected date: after
    // each backup, `visit` gets the target's tree as it then stood (null when empty; its top
    // folder unnamed, no folder sizes) and the number of the archive holding that backup.
    void ReplayTarget(int i, const std::function<void(const FileTreeNode* tree, int archiveNumber)>& visit);
    int SearchHitCount() const { return searchHitCount_; }
    // The "tqbackup.log" text of archive archiveIndex + 1 (-1: the selected date's archive),
    // opened through OpenArchiveForRestore. Null when the archive cannot be opened or read or
    // holds no log. The text stays valid until the next RetrieveLog or the end of the set object.
    const std::string* RetrieveLog(int archiveIndex);

    // ---- The restore job (archive_set_restore.cpp) ----

    // The user interface of questions, progress and messages; null restores the built-in one,
    // which answers every question with Cancel/Abort and shows nothing.
    void SetUi(RestoreUi* ui);
    RestoreUi& Ui() const { return *ui_; }

    // Filled by the caller before PrepareDestination / RestoreTree: the entry path where the
    // restore starts ("" the top of the archive, "Target" or "Target\sub"), the destination
    // folder, and the bytes already restored by earlier trees of the same restore.
    std::string sourcePath;
    std::string destinationPath;
    std::uint64_t bytesDone = 0;
    // The newest archive RestoreTree visits: 0 for the selected date's; a later one (at most the
    // set's last) for items of another date, such as an older or newer version of a file.
    int newestArchive = 0;

    // Settles an existing destination folder with the "Directory Exists..." question (keep;
    // replace; prompt per file; rename; cancel) and creates the folder with its missing parents.
    // For a whole target (`selection` null) rename moves the folder to ".bak", ".bak (2)", ...,
    // and is not offered for the home folder, "/", a mount point or a folder holding the program
    // or the set (the question then defaults to prompting, or to keeping where nobody can be
    // asked). For a selection (the root whose direct folders and files are restored into the
    // destination) the question is asked only when one of them already exists there, and
    // rename moves aside only those: NAME.bak, NAME.bak2, ... Ready, or Cancelled,
    // NotCreated or NotRenamed (the last two after a message).
    [[nodiscard]] DestinationResult PrepareDestination(const FileTreeNode* selection = nullptr);
    // The question PrepareDestination asks about destinationPath (which exists).
    DirectoryQuestion DestinationQuestion(const FileTreeNode* selection) const;
    // Why destinationPath-like `folder` may not be moved aside ("" when it may).
    std::string RenameRefusal(const std::string& folder) const;
    // Restores every folder and file below `tree` (its top folder stands for destinationPath),
    // visiting the archives from the selected date's down to 1, each opened at most once and
    // only when it holds something of the tree. Completed or Aborted.
    [[nodiscard]] RestoreResult RestoreTree(const FileTreeNode* tree);
    // Stops the running restore at its next check; the progress window shows "Aborting...".
    void AbortRestore();
    // Opens archive `number` of the set; asks for its file when it is missing (and, on cancel,
    // "Are you sure you want to abort?"), offers Retry/Cancel when it cannot be read. The time
    // spent here does not count for the estimate. With `topLevelOnly` the catalog keeps only the
    // bookkeeping entries, for readers of those alone (an archive may hold millions of files).
    bool OpenArchiveForRestore(int number, bool topLevelOnly = false);
    // Frees a selection root made by a page: the nodes of its direct sub-folder chain and of its
    // file chain (shallow copies: not what they point to), then the root.
    static void FreeRestoreSelection(FileTreeNode* root);

    bool IsRunning() const { return running_; }
    // The threads a restore reads and writes files with (1: all on the calling thread).
    void SetRestoreThreads(int threads) { restoreThreads_ = threads < 1 ? 1 : threads; }
    int RestoreThreads() const { return restoreThreads_; }
    ConflictPolicy GetConflictPolicy() const { return conflictPolicy_; }
    // Entries left out (after an error answered Ignore, a link kept in their place, a target
    // without a tree at the date...), since ResetSkippedEntries; each was named in a message.
    int SkippedEntries() const { return skippedEntries_; }
    void ResetSkippedEntries() { skippedEntries_ = 0; }
    void AddSkippedEntries(int count) { skippedEntries_ += count; }

    // ---- Progress (archive_set_progress.cpp) ----

    // The zip layer's progress callback during an extraction (userData: the ArchiveSet):
    // moves the bar, renews the time estimate at most once a second, lets window messages
    // through, and answers whether the restore still runs.
    static bool RestoreProgress(std::uint64_t entryTotal, std::uint64_t entryDone, void* userData);
    // The bar (unless it would not move and `always` is false), the estimate and the message
    // pump for `shown` bytes restored; whether the restore still runs.
    bool ShowProgress(std::uint64_t shown, bool always = true);
    // The millisecond clock of the estimate (tests replace it).
    void SetTickSource(std::function<std::uint32_t()> tick);

private:
    // SelectDate, or SelectOnlyDate with `takeHistories`; a date built from the kept history
    // bytes frees them unless `keepBytes`.
    void BuildDate(int dateIndex, bool takeHistories, bool keepBytes);
    // archive_set.cpp
    enum class SetRead { Trees, DatesOnly, OneDate };
    bool Open(const std::string& path, SetRead read);
    bool ReadSet(const std::string& path, SetRead read);
    // The date's tree of target j built from its kept history bytes, record by record.
    FileTreeNode* ReplayKeptHistory(std::size_t j, int backups);
    // Target i's backups from its history's bytes, numbered by the archives holding them.
    bool ParseHistory(std::size_t i, std::span<const unsigned char> bytes, HistoryRead read);
    // Builds the histories' trees from the kept bytes when they are not built; false when they
    // are not there to give.
    bool RestoreHistories();
    // Remembers the folder of an archive of the set that was opened from `path`.
    void NoteArchiveFolder(const std::string& path);

    // archive_set_restore.cpp
    void RestoreFolder(const FileTreeNode* node);
    // Extracts `file` (its entry name is in entryPath_) into destinationFolder_, after the
    // question about an existing file; errors are offered Abort/Retry/Ignore.
    void RestoreEntry(const FileTreeFile& file);
    // One file of the walk to extract: everything its messages and a retry need.
    struct PendingEntry {
        std::uint64_t ticket = 0;  // in the worker pool
        int index = -1;
        std::string entryPath;
        std::string folderPath;
        std::string name;
        std::string target;
        std::uint64_t time = 0;
        std::uint64_t size = 0;
    };
    // Extracts `entry` here, with Abort/Retry/Ignore on errors.
    void ExtractNow(const PendingEntry& entry);
    // Hands `entry` to the worker pool (`folder`: its open destination folder), first waiting
    // for room in its memory budget; settles what has finished meanwhile.
    void Dispatch(PendingEntry entry, int folder);
    void SubmitToPool(PendingEntry& entry, int folder, std::uint64_t memory);
    // Settles the oldest file handed to the pool when it is finished (waiting a moment with
    // `wait`): counted as done, or its error offered Abort/Retry/Ignore (Retry hands it out
    // again). True when one was settled.
    bool SettleOldest(bool wait);
    // Settles every file handed out, in order; after an abort the rest are stopped.
    void SettlePending();
    // ShowProgress for the pool's work, at most every few dozen milliseconds.
    void ShowPoolProgress();
    // The message for a failed extraction: `failure` thrown, or (null) data cut short.
    std::string ExtractionError(const PendingEntry& entry, const std::exception_ptr& failure) const;
    std::string MissingEntryText(const PendingEntry& entry) const;
    // Makes the sub-folder in destinationFolder_ (folders are made from the tree, not their entry).
    void RestoreSubFolder(const FileTreeNode& folder);
    // Gives the folders this restore made their stored permissions; failures are shown.
    void ApplyFolderPermissions();
    // Shows an error with Abort/Retry/Ignore; true for Retry. Abort stops the restore.
    bool AskAboutError(const std::string& text);
    // A symbolic link stands where a folder or file of the restore goes: as the conflict
    // policy says (asked for with PromptEach), the link itself is removed (true: the real
    // folder or file goes there) or kept with a notice and counted as skipped, and what
    // belongs there is not restored (false, also when the user stops the restore).
    // `parent`: the open folder holding the link (-1: the destination itself, by its path).
    bool SettleLink(const std::string& path, const std::string& entry, int parent = -1);
    // Tells that `entry` was not restored at `path`, where a link this restore made stands.
    void PassOverRestoredLink(const std::string& path, const std::string& entry);
    // The walk's folder `folder` (destinationPath or below it), opened from destinationPath
    // one component at a time without following a link, each made where missing when
    // `create`; kept open while the walk stays in it. -1 with errno set when it cannot be.
    int OpenDestinationFolder(const std::string& folder, bool create);
    // Moves aside every direct folder and file of `selection` that exists in destinationPath.
    bool RenameItemsAside(const FileTreeNode* selection);
    // "Could not restore ENTRY to PATH: why." for an entry of the walk.
    std::string NotRestoredText(const std::string& target, const std::string& why) const;
    std::string NotRestoredText(const std::string& entry, const std::string& target, const std::string& why) const;
    // Reports, and counts as skipped, every entry of `tree` (entry path `start`) labelled with
    // an archive that the restore does not visit.
    // The archive RestoreTree starts from (newestArchive, or the selected date's).
    int NewestRestoreArchive() const;
    void ReportUnreachableEntries(const FileTreeNode* tree, const std::string& start);
    // Opens the archive at `path`; on an error offers Retry/Cancel, naming it `shownAs`.
    bool OpenArchiveFile(const std::string& path, const std::string& shownAs, bool& retry, bool topLevelOnly);
    // "" when the open archive (from `path`) is archive `number` of the set by its own
    // ToDirs.tq; otherwise closes it and answers why it cannot stand in for that archive.
    std::string CheckArchiveNumber(const std::string& path, int number);
    void CloseArchive();

    // archive_set_progress.cpp
    void OnCancelRequest();

    // The set
    std::string folder_;
    std::string archiveBaseName_;
    std::string openFailureDetail_;
    std::string openFailureReason_;
    const char* readFailure_ = "";  // what a false ReadSet means at the step it reached
    int archiveCount_ = 0;
    std::vector<std::string> archiveNames_;  // index number - 1
    std::vector<BackupTarget> targets_;
    // The checked history bytes of every target, kept by OpenSetForOneDate until SelectOnlyDate
    // builds its date, or for as long as the set is open when dates are shown (ShowDate).
    std::vector<std::vector<unsigned char>> keptHistories_;
    int dateCount_ = 0;
    std::vector<std::uint64_t> dates_;
    int currentArchiveIndex_ = 0;
    bool historiesTaken_ = false;  // the histories' trees are not built, or a date took them
    ZipArchiveFile zip_;
    // Folders the set's archives were read from (resolved): never moved aside by a restore.
    std::vector<std::string> archiveFolders_;

    // The catalog
    std::vector<FileTreePtr> targetTrees_;
    int searchHitCount_ = 0;
    std::optional<std::string> logText_;

    // The running restore
    RestoreUi* ui_;
    ConflictPolicy conflictPolicy_ = ConflictPolicy::NotAsked;
    bool running_ = false;
    int currentArchiveNumber_ = 0;
    std::uint64_t bytesTotal_ = 0;
    std::uint32_t startTick_ = 0;
    std::uint32_t lastEstimateTick_ = 0;  // kept across restores
    int skippedEntries_ = 0;
    // Links kept in the destination during this restore: passed over in every archive's walk.
    std::set<std::string> skippedLinks_;
    // Links this restore made: nothing else of the set is restored in their place or below.
    std::set<std::string> restoredLinks_;
    // Working paths of the tree walk: the entry name and the destination folder.
    std::string entryPath_;
    std::string destinationFolder_;
    // PrepareDestination made the destination folder (it did not exist or was moved aside).
    bool destinationMade_ = false;
    // The folders this restore made, given their stored permissions when it ends.
    PendingFolderPermissions folderPermissions_;
    // The folder of the walk that is open, and its path.
    FolderHandle openFolder_;
    std::string openFolderPath_;
    std::function<std::uint32_t()> tick_;
    // The worker pool of the open archive, and the files handed to it, oldest first.
    int restoreThreads_ = 1;
    std::unique_ptr<EntryPool> pool_;
    std::deque<PendingEntry> pending_;
    std::uint64_t lastPoolProgress_ = 0;  // steady-clock milliseconds
    int barPosition_ = -1;  // the last position shown
};

// The path of the ".TQBak" file in `folder` with the latest last-write time (on equal times the
// first by name), or nothing when the folder holds none. "." gives the bare file name.
std::optional<std::string> FindNewestArchive(const std::string& folder);

}  // namespace halvex

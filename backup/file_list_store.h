// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The file-list store: FileLists.tq in the program folder, a zip archive that remembers per
// job the number of its latest archive ("<job>\ArchNum.tq", stored, 4 bytes LE) and per
// mapping its target history ("<job>\<target>.tq", deflated so that a run can append to it:
// backup/compressed_history.h) with the history's size, CRC and last 32 KiB beside it
// ("<job>\<target>.end", stored). A history without a matching ".end" entry (a store written
// before, or one rebuilt from an archive) is read whole and deflated anew once. Beside them
// lies the state the next run compares with ("<job>\<target>.state", deflated:
// backup/current_state.h), tagged with the history it was made from; a run that finds it
// missing or stale replays the history instead and keeps the state it rebuilt, also when it
// finds nothing to store. Programs that read only the ".tq" entries pass the others over.
// Entry names are looked up with letter case ignored; an entry is never rewritten in place
// but deleted and added anew.
//
// FileLists.bak is a plain copy of the store taken at the start of every run, before anything
// is written. A damaged store is never replaced or truncated: it is kept aside under a free
// name (FileLists.tq.damaged-N) and an empty store takes its place; each job's entries are
// then rebuilt from the newest archive of its set (SetRebuiltJob), which carries the
// archive's number and the whole history of every target.
//
// A run works on a copy of the store (FileLists.new) and puts it in place of FileLists.tq in
// one rename once it is complete and on disk, so a run that is cancelled, fails or is killed
// at any moment leaves FileLists.tq exactly as it was. While a run has the store open it
// holds a lock on the program folder: a second run at the same time cannot open it.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "backup/compressed_history.h"
#include "backup/job_config.h"
#include "backup/target_history.h"
#include "platform/folder_lock.h"
#include "platform/local_time.h"
#include "zip/zip_archive_file.h"

namespace halvex {

inline constexpr const char* kFileListsName = "FileLists.tq";
inline constexpr const char* kFileListsBackupName = "FileLists.bak";
inline constexpr const char* kFileListsWorkingName = "FileLists.new";

// "<job>\ArchNum.tq" and "<job>\<target>.tq".
std::string ArchiveNumberEntryName(std::string_view jobName);
std::string TargetHistoryEntryName(std::string_view jobName, std::string_view targetName);
// "<job>\<target>.end" and "<job>\<target>.state" for the history entry "<job>\<target>.tq".
std::string HistoryEndEntryName(std::string_view historyEntryName);
std::string StateEntryName(std::string_view historyEntryName);

// Start-up: opens the store in `folder` (creating it when missing; when it is damaged,
// keeping it aside and creating an empty one, with `damagedKeptAs` set to the name it was
// kept under) and sets each job's lastBackup to the time of its "\ArchNum.tq" entry (all
// zero when it has none). The store is closed without writing. False when no store could be
// opened at all (every job then shows "never").
bool ReadLastBackupTimes(JobConfig& config, const std::string& folder = ".", std::string* damagedKeptAs = nullptr);

// Moves the damaged store `path` to the first free name path + ".damaged-N" (N from 1), never
// replacing a file. The name it was kept under; none when it could not be moved.
std::optional<std::string> KeepDamagedStore(const std::string& path);
// As KeepDamagedStore, but keeps a copy: `path` itself stays.
std::optional<std::string> KeepCopyOfDamagedStore(const std::string& path);

// One mapping's history as a completed run saves it: the new history and the added part,
// and, when the run has it already, that whole history deflated (written as it is; `history`
// is then not read), and the state entry made for it (none: the store keeps no state).
struct HistoryToSave {
    std::string_view targetName;
    const HistoryBytes& history;
    const HistoryBytes& addedPart;
    const CompressedHistory* compressed = nullptr;
    const std::vector<unsigned char>* state = nullptr;
};

class FileListStore {
public:
    enum class Read { Found, Missing, Damaged };

    explicit FileListStore(std::string folder = ".");
    ~FileListStore();
    FileListStore(const FileListStore&) = delete;
    FileListStore& operator=(const FileListStore&) = delete;

    // Locks the folder, opens a working copy of FileLists.tq (a new, empty store when there is
    // none, or when it is damaged: it is then kept aside, see DamagedKeptAs) and copies
    // FileLists.tq over FileLists.bak. False when any step fails (Busy() tells whether another
    // run holds the lock); nothing is then left open.
    bool OpenForRun();
    bool IsOpen() const { return !zip_.IsClosed(); }
    // After OpenForRun: whether it failed because another run holds the program folder.
    bool Busy() const { return busy_; }
    // After OpenForRun: the name a damaged store was kept under ("" when it was not damaged).
    const std::string& DamagedKeptAs() const { return damagedKeptAs_; }
    // After OpenForRun: the jobs whose entries could not be read whole (an entry damaged, an
    // archive number or a history that does not follow its layout), when the rest of the store
    // could. The store was then kept aside as a copy (DamagedKeptAs) and these jobs' entries
    // are left out of the run's store, so that their archive numbers and histories are rebuilt
    // from their archives; the other jobs keep theirs.
    const std::vector<std::string>& DamagedJobs() const { return damagedJobs_; }

    // The job's entries as rebuilt from an archive of its set: from now on the job's archive
    // number is `archiveNumber` and its histories are exactly these (other entries of the job
    // are gone). Written when the store is closed, unless SaveJob writes the job first.
    void SetRebuiltJob(std::string_view jobName, int archiveNumber, std::map<std::string, HistoryBytes> histories,
                       const platform::SystemTime& entryTime);

    // The job's latest archive number: 0 for a brand-new run or when the store has none;
    // none when the entry is damaged.
    std::optional<int> ReadArchiveNumber(std::string_view jobName, bool brandNew);
    // The whole entry `name` (letter case ignored) into `out`.
    Read ReadTargetHistory(const std::string& name, HistoryBytes& out);
    // The deflated form of the history entry `name` with its ".end" record, when both are in
    // the store and agree (size and CRC) with each other; Missing otherwise (also for a
    // rebuilt job), Damaged when the entries cannot be read.
    Read ReadCompressedHistory(const std::string& name, CompressedHistory& out);
    // The state kept for the history entry `name` (serialized, empty for an empty state) and
    // the deflated history, when the state entry's tag and source folder match the history
    // and `sourceFolder`; Missing otherwise (a stale or damaged state is rebuilt by replaying).
    Read ReadCurrentState(const std::string& name, std::string_view sourceFolder, CompressedHistory& history,
                          HistoryBytes& serializedState);

    // Writes one job of a completed run: a brand-new run (or a rebuilt job) first deletes every
    // entry of the job's folder; then "\ArchNum.tq" with `archiveNumber` and each mapping's history
    // followed by its added part, each replacing the entry of the same name. Every entry
    // carries `entryTime`. Throws the zip layer's and the platform's errors; the store is then
    // beyond use (Abandon it).
    void SaveJob(std::string_view jobName, int archiveNumber, std::span<const HistoryToSave> histories,
                 bool brandNew, const platform::SystemTime& entryTime);

    // Puts `state` in place of the state entry kept for the history entry `name`. Throws as
    // SaveJob.
    void SaveState(const std::string& name, std::span<const unsigned char> state);

    // Writes the rebuilt jobs SaveJob has not written, finishes the working copy (central
    // directory, data and folder on disk) and puts it in place of FileLists.tq. Throws on
    // failure, after abandoning the copy.
    void Close();
    // Drops the working copy: FileLists.tq stays as it was.
    void Abandon() noexcept;

    std::string PathOf(const char* name) const;

private:
    // Reads entry `index` whole; false when it is damaged.
    bool ReadWholeEntry(int index, HistoryBytes& out);
    // The jobs of the open store with an entry that does not read back whole.
    std::vector<std::string> FindDamagedJobs();
    // Whether the history entry `index` is vouched for by its state entry: the tag matches
    // the entry's header and the CRC of its deflated bytes as they are on disk.
    bool VouchedByState(int index, const ZipEntryHeader& header);

    struct RebuiltJob {
        std::string name;
        int archiveNumber = 0;
        std::map<std::string, HistoryBytes> histories;  // by target name
        platform::SystemTime entryTime{};
    };
    RebuiltJob* FindRebuilt(std::string_view jobName);
    void WriteJob(std::string_view jobName, int archiveNumber, std::span<const HistoryToSave> histories,
                  bool brandNew, const platform::SystemTime& entryTime);

    std::string folder_;
    platform::FolderLock lock_;
    ZipArchiveFile zip_;
    bool busy_ = false;
    std::string damagedKeptAs_;
    std::vector<std::string> damagedJobs_;
    std::vector<RebuiltJob> rebuilt_;
};

}  // namespace halvex

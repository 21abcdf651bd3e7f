// SPDX-License-Identifier: GPL-3.0-or-later
// The catalog: every target's tree at a chosen date, the wildcard search and the backup logs.
#include "restore/archive_set_catalog.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

#include "common/target_history_reader.h"
#include "common/wildcard.h"
#include "platform/nocase.h"
#include "restore/archive_set.h"
#include "restore/set_records.h"

namespace halvex {

namespace {

// Merges `owned` into `state` with `mode`, then frees what the merge leaves of it.
void MergeOwned(FileTreeNode*& state, FileTreeNode* owned, MergeMode mode, MergeIndex& index) {
    try {
        MergeFileTrees(&state, &owned, mode, kPlatformNameCase, &index);
    } catch (...) {
        FreeFileTree(owned);
        throw;
    }
    FreeFileTree(owned);
}

// Merges a deep copy of `record`: the history keeps its record for the next date change.
void MergeCopy(FileTreeNode*& state, const FileTreeNode* record, MergeMode mode, MergeIndex& index) {
    MergeOwned(state, CloneFileTree(record), mode, index);
}

// Brings `state` forward over backup k of `target`: what it removed, then what it added.
void ApplyBackup(FileTreeNode*& state, const BackupTarget& target, int k, MergeIndex& index) {
    if (target.removedTrees[k]) MergeCopy(state, target.removedTrees[k].get(), MergeMode::RemoveRecord, index);
    if (target.addedTrees[k]) MergeCopy(state, target.addedTrees[k].get(), MergeMode::AddRecord, index);
}

// As MergeCopy with `record` itself, which goes (with what the merge leaves of it).
void MergeTaken(FileTreeNode*& state, FileTreePtr& record, MergeMode mode, MergeIndex& index) {
    MergeOwned(state, record.release(), mode, index);
}

// Brings `state` forward over one record's own trees, which are used up.
void TakeRecord(FileTreeNode*& state, FileTreePtr& removed, FileTreePtr& added, MergeIndex& index) {
    if (removed) MergeTaken(state, removed, MergeMode::RemoveRecord, index);
    if (added) MergeTaken(state, added, MergeMode::AddRecord, index);
}

// ApplyBackup with the backup's own trees.
void TakeBackup(FileTreeNode*& state, BackupTarget& target, int k, MergeIndex& index) {
    TakeRecord(state, target.removedTrees[k], target.addedTrees[k], index);
}

struct SearchRun {
    const char* pattern;
    const char* folderFilter;  // null: every folder
    SearchCallback callback;
    void* userData;
    int& hits;
    std::string path;  // the folder path so far
};

// Searches `folder` (whose path is run.path) and its sub-folders; false when stopped. The depth
// is bounded by the depth LoadFileTree accepts.
bool SearchFolder(SearchRun& run, const FileTreeNode* folder) {
    if (folder == nullptr) return true;
    run.path += '\\';
    if (run.folderFilter == nullptr || MatchWildcard(run.path.c_str(), run.folderFilter, false)) {
        for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next) {
            if (!MatchWildcard(file->name, run.pattern, false)) continue;
            ++run.hits;
            if (run.callback != nullptr && run.callback(run.userData, file, run.path.c_str(), run.userData) == SearchStep::Stop)
                return false;
        }
    }
    const std::size_t length = run.path.size();
    for (const FileTreeNode* sub = folder->firstChild; sub != nullptr; sub = sub->nextSibling) {
        run.path += sub->name;
        if (!SearchFolder(run, sub)) return false;
        run.path.resize(length);
    }
    return true;
}

}  // namespace

std::string LookInFilter(const std::string& lookIn) {
    if (platform::EqualNoCase(lookIn, "<All Dirs>")) return {};
    std::string filter = lookIn;
    if (filter.empty() || filter.back() != '\\') filter += '\\';
    return filter + "*";
}

void ArchiveSet::ClearTargetTrees() { targetTrees_.clear(); }

const FileTreeNode* ArchiveSet::GetTargetTree(int i) const {
    if (i < 0 || i >= static_cast<int>(targetTrees_.size())) return nullptr;
    return targetTrees_[i].get();
}

void ArchiveSet::SelectDate(int dateIndex) { BuildDate(dateIndex, false, true); }

void ArchiveSet::SelectOnlyDate(int dateIndex) { BuildDate(dateIndex, true, false); }

void ArchiveSet::ShowDate(int dateIndex) {
    if (dateIndex < 0 || dateIndex >= dateCount_) return;
    if (!keptHistories_.empty() && !historiesTaken_) {
        // Trees parsed for a search or the versions are dropped: the date comes from the bytes.
        for (BackupTarget& target : targets_) {
            for (FileTreePtr& tree : target.removedTrees) tree.reset();
            for (FileTreePtr& tree : target.addedTrees) tree.reset();
        }
        historiesTaken_ = true;
    }
    BuildDate(dateIndex, false, true);
}

void ArchiveSet::BuildDate(int dateIndex, bool takeHistories, bool keepBytes) {
    if (dateIndex < 0 || dateIndex >= dateCount_) return;
    // Without their trees the histories give a date only from their kept bytes.
    const bool fromBytes = historiesTaken_ && !keptHistories_.empty();
    if (historiesTaken_ && !fromBytes) return;
    historiesTaken_ = historiesTaken_ || takeHistories;
    currentArchiveIndex_ = archiveCount_ - dateCount_ + dateIndex;
    ClearTargetTrees();
    targetTrees_.resize(targets_.size());
    // The backups of a date are those of its archive and the archives before it. Their
    // times are not compared: a clock set back between two runs must not hide a backup or
    // bring in a later one.
    const int lastArchive = currentArchiveIndex_ + 1;
    for (std::size_t j = 0; j < targets_.size(); ++j) {
        BackupTarget& target = targets_[j];
        // Backup k of a target with B backups lies in archive k + 1 + archiveCount - B.
        const int backups = std::min(target.backupCount, lastArchive - (archiveCount_ - target.backupCount));
        FileTreeNode* state = nullptr;
        try {
            if (fromBytes) {
                state = ReplayKeptHistory(j, backups);
            } else {
                MergeIndex index;  // kept from one backup to the next: only what a record touches is walked
                for (int k = 0; k < backups; ++k) {
                    if (takeHistories) TakeBackup(state, target, k, index);
                    else ApplyBackup(state, target, k, index);
                }
            }
            if (state != nullptr) {
                RenameFileTreeNode(state, target.targetName);
                SumFolderSizes(state);
            }
        } catch (...) {
            FreeFileTree(state);
            throw;
        }
        targetTrees_[j].reset(state);
    }
    if (fromBytes && !keepBytes) keptHistories_.clear();
}

FileTreeNode* ArchiveSet::ReplayKeptHistory(std::size_t j, int backups) {
    const std::vector<unsigned char>& bytes = keptHistories_[j];
    // The bytes were checked whole when the set was opened; a record that does not read now
    // is damage all the same.
    TargetHistoryReader reader(bytes, /*checkFirstRemovedFlag=*/true);
    const int delta = archiveCount_ - targets_[j].backupCount;
    FileTreeNode* state = nullptr;
    try {
        MergeIndex index;
        BackupRecord record;
        for (int k = 0; k < backups; ++k) {
            const auto archiveNumber = static_cast<std::uint16_t>(k + 1 + delta);
            if (reader.Next(record, archiveNumber) != TargetHistoryReader::Step::Record)
                throw std::runtime_error("damaged history");
            TakeRecord(state, record.removed, record.added, index);
        }
    } catch (...) {
        FreeFileTree(state);
        throw;
    }
    return state;
}

void ArchiveSet::ReplayTarget(int i, const std::function<void(const FileTreeNode*, int)>& visit) {
    if (i < 0 || i >= TargetCount() || !RestoreHistories()) return;
    const BackupTarget& target = targets_[i];
    FileTreePtr state;
    MergeIndex index;
    for (int k = 0; k < target.backupCount; ++k) {
        FileTreeNode* node = state.release();
        try {
            ApplyBackup(node, target, k, index);
        } catch (...) {
            FreeFileTree(node);
            throw;
        }
        state.reset(node);
        visit(state.get(), k + 1 + archiveCount_ - target.backupCount);
    }
}

bool ArchiveSet::Search(const char* pattern, const char* folderFilter, bool allBackups,
                        SearchCallback callback, void* userData) {
    if (pattern == nullptr) return false;
    searchHitCount_ = 0;
    // Every backup's files are looked through in the histories; without them none are seen.
    if (allBackups) RestoreHistories();
    SearchRun run{pattern, (folderFilter != nullptr && folderFilter[0] != '\0') ? folderFilter : nullptr,
                  callback, userData, searchHitCount_, {}};
    for (int i = 0; i < TargetCount(); ++i) {
        const BackupTarget& target = targets_[i];
        if (!allBackups) {
            run.path = target.targetName;
            if (!SearchFolder(run, GetTargetTree(i))) return false;
            continue;
        }
        for (int k = 0; k < target.backupCount; ++k) {
            run.path = target.targetName;
            if (!SearchFolder(run, target.addedTrees[k].get())) return false;
        }
    }
    return true;
}

const std::string* ArchiveSet::RetrieveLog(int archiveIndex) {
    if (archiveIndex == -1) archiveIndex = currentArchiveIndex_;
    logText_.reset();
    if (!IsOpen() || archiveIndex < 0 || archiveIndex >= archiveCount_) return nullptr;
    // The log is a bookkeeping entry: the catalog of the archive's files is not needed.
    if (!OpenArchiveForRestore(archiveIndex + 1, /*topLevelOnly=*/true)) return nullptr;
    try {
        const int index = FindBookkeepingEntry(zip_, "tqbackup.log");
        std::uint64_t budget = kMaxBookkeepingBytes;
        if (index >= 0) {
            // A log is text of the run, not bookkeeping: it may repeat itself freely.
            if (auto bytes = ReadBookkeepingEntry(zip_, index, budget, /*checkRatio=*/false))
                logText_.emplace(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        }
    } catch (const std::exception&) {
        // A damaged log entry reads as no log.
        logText_.reset();
    }
    zip_.Close(true);
    return logText_ ? &*logText_ : nullptr;
}

}  // namespace halvex

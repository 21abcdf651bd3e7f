// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/source_scan.h"

#include <algorithm>
#include <sys/stat.h>

#include "backup/backup_engine.h"  // kPartialArchiveSuffix
#include "backup/bookkeeping.h"
#include "backup/current_state.h"
#include "backup/run_log.h"        // kCumulativeLogName
#include "backup/run_messages.h"
#include "common/archive_naming.h"
#include "common/folder_utils.h"
#include "common/memory_allowance.h"
#include "common/wildcard.h"
#include "platform/folder_reader.h"
#include "platform/file_time.h"
#include "platform/nocase.h"
#include "platform/path_limits.h"

namespace halvex {
namespace {

// Run-log texts for entries the scan leaves out.
constexpr std::string_view kNoticeBackslash = "Skipped (Name contains a backslash): %s";
constexpr std::string_view kNoticeTooLong = "Skipped (Path too long): %s";
constexpr std::string_view kNoticeNotRegular = "Skipped File (Not a regular file): %s";
constexpr std::string_view kNoticeUnreadable = "Skipped (Could not read): %s";
constexpr std::string_view kNoticeCannotList = "Skipped Directory (Could not list): %s";
constexpr std::string_view kNoticeOwnFile = "Left out (The backup's own file): %s";

std::string_view SpecialKindName(platform::SpecialKind kind) {
    switch (kind) {
        case platform::SpecialKind::Fifo: return "fifo";
        case platform::SpecialKind::Socket: return "socket";
        case platform::SpecialKind::CharacterDevice:
        case platform::SpecialKind::BlockDevice: return "device";
        case platform::SpecialKind::None: break;
    }
    return {};
}

bool AnyRuleMatches(bool exclude, std::string_view path, const FilterRule& rule) {
    return rule.isExclude == exclude && MatchWildcard(path, rule.pattern, true);
}

bool FolderIdentity(const std::string& folder, std::uint64_t& device, std::uint64_t& inode) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    device = static_cast<std::uint64_t>(st.st_dev);
    inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// An archive of the set, or its partial file: prefix, digits, ".TQBak", maybe ".partial".
bool IsArchiveName(std::string_view name, std::string_view prefix) {
    if (!StartsWith(name, prefix)) return false;
    name.remove_prefix(prefix.size());
    while (!name.empty() && name.front() >= '0' && name.front() <= '9') name.remove_prefix(1);
    if (!StartsWith(name, kArchiveExtension)) return false;
    name.remove_prefix(kArchiveExtension.size());
    return name.empty() || name == kPartialArchiveSuffix;
}

bool IsOwnFile(const OwnFilesFolder& rules, std::string_view name) {
    if (rules.programFolder && (StartsWith(name, "FileLists.") || name == kCumulativeLogName)) return true;
    for (const std::string& prefix : rules.archivePrefixes)
        if (IsArchiveName(name, prefix)) return true;
    return false;
}

// Takes the folder at `path` (names below the root) out of the tree, with everything in it;
// the empty path takes the whole tree.
void RemoveFolderAt(FileTreePtr& tree, const std::vector<std::string>& path) {
    if (!tree) return;
    if (path.empty()) {
        tree.reset();
        return;
    }
    FileTreeNode** link = &tree->firstChild;
    for (std::size_t i = 0; i < path.size(); ++i) {
        while (*link != nullptr && !SameName((*link)->name, path[i])) link = &(*link)->nextSibling;
        if (*link == nullptr) return;
        if (i + 1 == path.size()) {
            FileTreeNode* folder = *link;
            *link = folder->nextSibling;
            folder->nextSibling = nullptr;
            FreeFileTree(folder);
            return;
        }
        link = &(*link)->firstChild;
    }
}

}  // namespace

bool IsPassedOverNotice(std::string_view notice) { return notice.starts_with(kNoticePassedOverStart); }

bool IsExcluded(std::string_view relativePath, const std::vector<FilterRule>& mappingRules,
                const std::vector<FilterRule>& globalRules) {
    bool excluded = false;
    for (const std::vector<FilterRule>* rules : {&mappingRules, &globalRules}) {
        for (const FilterRule& rule : *rules) {
            // Only a rule that could change the state is tested.
            if (AnyRuleMatches(!excluded, relativePath, rule)) excluded = !excluded;
        }
    }
    return excluded;
}

SourceScanner::SourceScanner(RunControl& control) : control_(control) {
    // Names are at most 255 bytes, and a path is given up once it passes the limit, so the
    // buffers never grow during a scan.
    sourcePath_.reserve(platform::kPathLimit + 512);
    filterPath_.reserve(platform::kPathLimit + 512);
}

void SourceScanner::Notice(std::string_view format, const std::string& path) {
    notices_->push_back(FillIn(format, {path}));
}

void SourceScanner::Unlisted() {
    Notice(kNoticeCannotList, sourcePath_);
    std::vector<std::string> names;
    std::size_t at = rootEnd_;
    while (at < sourcePath_.size()) {
        if (sourcePath_[at] == '/') ++at;
        const std::size_t end = std::min(sourcePath_.find('/', at), sourcePath_.size());
        if (end > at) names.emplace_back(sourcePath_, at, end - at);
        at = end;
    }
    unlisted_.push_back(std::move(names));
}

void SourceScanner::SetOwnFiles(const std::vector<OwnFilesFolder>& folders) {
    ownFiles_ = folders;
    ownFolders_.clear();
    for (const OwnFilesFolder& folder : ownFiles_) {
        OwnFolder own;
        own.rules = &folder;
        if (FolderIdentity(folder.folder, own.device, own.inode)) ownFolders_.push_back(own);
    }
}

const OwnFilesFolder* SourceScanner::OwnFilesAt(std::uint64_t device, std::uint64_t inode) const {
    for (const OwnFolder& own : ownFolders_)
        if (own.device == device && own.inode == inode) return own.rules;
    return nullptr;
}

FileTreePtr SourceScanner::ScanSource(const SourceMapping& mapping, const std::vector<FilterRule>& globalFilters,
                                      std::vector<std::string>& notices) {
    mapping_ = &mapping;
    globalFilters_ = &globalFilters;
    notices_ = &notices;
    unlisted_.clear();
    ownFileNotices_.clear();
    hasFilters_ = !mapping.filters.empty() || !globalFilters.empty();
    sourcePath_.assign(PathInFolder(baseFolder_, mapping.sourceFolder));
    filterPath_.clear();
    rootEnd_ = sourcePath_.size();
    rootHasSeparator_ = !sourcePath_.empty() && sourcePath_.back() == '/';
    if (sourcePath_.size() >= platform::kPathLimit) {
        Notice(kNoticeTooLong, sourcePath_);
        return nullptr;
    }
    // The scan lists folders too, so one thread fewer is started; folders are opened with
    // their identity only when some folder holds own files.
    ListingPipeline pipeline(threads_ - 1, !ownFolders_.empty());
    pipeline_ = &pipeline;
    pipeline.BeginBatch();
    FileTreePtr tree(ScanFolder(rootEnd_, 0, "", pipeline.Request(sourcePath_)));
    pipeline_ = nullptr;
    return tree;
}

FileTreeNode* SourceScanner::ScanFolder(std::size_t pathEnd, std::size_t filterEnd, std::string_view name,
                                        const ListingPipeline::JobPtr& job) {
    if (!control_.KeepGoing()) {
        pipeline_->Drop(job);
        return nullptr;
    }
    FileTreePtr node(NewFolderNode(name));
    sourcePath_.resize(pathEnd);
    platform::ListingChunk chunk;
    pipeline_->Next(job, sourcePath_, chunk);
    if (!chunk.opened) {
        Unlisted();
        return nullptr;
    }
    // Several folders may hold the backup's own files (each job's archive folder, the
    // program folder); they are told apart by identity, whatever path leads to them.
    const OwnFilesFolder* own = nullptr;
    if (chunk.hasIdentity) own = OwnFilesAt(chunk.device, chunk.inode);
    const bool addSeparator = !(pathEnd == rootEnd_ && rootHasSeparator_);
    // Sub-folders are requested as soon as they are known, so that they are listed while
    // this one is gone through; they are entered once it is done.
    struct SubFolder {
        std::string name;
        ListingPipeline::JobPtr job;
    };
    std::vector<SubFolder> folders;
    pipeline_->BeginBatch();
    for (;;) {
        for (const platform::ListedEntry& entry : chunk.entries) {
            const std::string_view entryName = chunk.Name(entry);
            sourcePath_.resize(pathEnd);
            if (addSeparator) sourcePath_ += '/';
            sourcePath_ += entryName;
            if (entryName.find('\\') != std::string_view::npos) {
                Notice(kNoticeBackslash, sourcePath_);
                continue;
            }
            if (sourcePath_.size() >= platform::kPathLimit) {
                Notice(kNoticeTooLong, sourcePath_);
                continue;
            }
            if (hasFilters_) {
                filterPath_.resize(filterEnd);
                if (filterEnd > 0) filterPath_ += '\\';
                const std::size_t nameStart = filterPath_.size();
                filterPath_ += entryName;
                platform::UpperCaseInPlace(filterPath_.data() + nameStart);
                if (IsExcluded(filterPath_, mapping_->filters, *globalFilters_)) continue;
            }
            if (entry.isSymlink) {
                // Kept as a link whatever it points to (a folder, nothing, itself): never
                // followed. Its size is its target's length and its time its own, so a link
                // pointed elsewhere is a changed entry.
                FileTreeFile* file = NewFileNode(entryName, entry.size, entry.time);
                file->next = node->files;
                node->files = file;
                continue;
            }
            switch (entry.kind) {
                case platform::EntryKind::Directory:
                    folders.push_back({std::string(entryName), pipeline_->Request(sourcePath_)});
                    break;
                case platform::EntryKind::RegularFile: {
                    if (own != nullptr && IsOwnFile(*own, entryName)) {
                        ownFileNotices_.push_back(FillIn(kNoticeOwnFile, {sourcePath_}));
                        break;
                    }
                    FileTreeFile* file = NewFileNode(entryName, entry.size, entry.time);
                    file->next = node->files;
                    node->files = file;
                    break;
                }
                case platform::EntryKind::Other:
                    if (const std::string_view kind = SpecialKindName(entry.special); !kind.empty()) {
                        // Nothing a backup could keep: told in the log, not counted as a skip.
                        ownFileNotices_.push_back(std::string(kNoticePassedOverStart) + std::string(kind) + "): " +
                                                  sourcePath_);
                    } else {
                        Notice(kNoticeNotRegular, sourcePath_);
                    }
                    break;
                case platform::EntryKind::Unreadable: Notice(kNoticeUnreadable, sourcePath_); break;
            }
        }
        if (chunk.last) break;
        sourcePath_.resize(pathEnd);
        pipeline_->Next(job, sourcePath_, chunk);
    }
    if (chunk.error != 0) {
        // A listing that broke off midway is no picture of the folder: it counts as unlisted.
        for (const SubFolder& folder : folders) pipeline_->Drop(folder.job);
        sourcePath_.resize(pathEnd);
        Unlisted();
        return nullptr;
    }

    FileTreeNode** tail = &node->firstChild;
    for (const SubFolder& folder : folders) {
        sourcePath_.resize(pathEnd);
        if (addSeparator) sourcePath_ += '/';
        sourcePath_ += folder.name;
        std::size_t childFilterEnd = filterEnd;
        if (hasFilters_) {
            filterPath_.resize(filterEnd);
            if (filterEnd > 0) filterPath_ += '\\';
            filterPath_ += platform::UpperCased(folder.name);
            childFilterEnd = filterPath_.size();
        }
        FileTreeNode* child = ScanFolder(sourcePath_.size(), childFilterEnd, folder.name, folder.job);
        if (child == nullptr) continue;
        *tail = child;
        tail = &child->nextSibling;
    }
    return node.release();
}

bool ReloadKeptState(FileListStore& store, const std::string& historyName, const SourceMapping& mapping,
                     std::uint64_t newHistoryStart, std::optional<CompressedHistory>& storedCompressed,
                     HistoryBytes& stateBefore) {
    CompressedHistory compressed;
    if (store.ReadCurrentState(historyName, mapping.sourceFolder, compressed, stateBefore) != FileListStore::Read::Found ||
        compressed.size != newHistoryStart)
        return false;
    storedCompressed = std::move(compressed);
    return true;
}

MappingAnalysis AnalyzeMapping(SourceScanner& scanner, FileListStore& store, const std::string& historyName,
                               const SourceMapping& mapping, const AnalysisSettings& settings, RunControl& control) {
    MappingAnalysis result;
    auto step = [&] {
        if (settings.stepProgress) settings.stepProgress();
    };
    HistoryBytes stored;
    bool haveStored = false;
    FileTreePtr state;
    bool keptState = false;
    if (!settings.startBrandNew) {
        // The kept state spares reading and replaying the whole history. Anything short of a
        // state that matches and loads (within the replay's allowance) is left to the replay.
        // It is loaded before the scan, and its serialized form dropped, so that the largest
        // moment of the run holds the two trees alone.
        CompressedHistory compressed;
        MemoryAllowance allowance(MemoryLimitBytes() / 2);
        if (store.ReadCurrentState(historyName, mapping.sourceFolder, compressed, result.stateBefore) ==
                FileListStore::Read::Found &&
            LoadState(result.stateBefore, state)) {
            keptState = true;
            result.newHistoryStart = compressed.size;
        } else {
            state.reset();
        }
        // Read again (ReloadKeptState) only when the job stores something.
        HistoryBytes().swap(result.stateBefore);
    }
    FileTreePtr tree = scanner.ScanSource(mapping, settings.globalFilters, result.notices);
    result.ownFileNotices = scanner.OwnFileNotices();
    step();
    if (!control.KeepGoing()) return result;

    if (!settings.startBrandNew && !keptState) {
        switch (store.ReadTargetHistory(historyName, stored)) {
            case FileListStore::Read::Missing: break;
            case FileListStore::Read::Damaged: result.outcome = MappingAnalysis::Outcome::DamagedHistory; return result;
            case FileListStore::Read::Found:
                haveStored = true;
                switch (ReplayTargetHistory(stored, control, state)) {
                    case ReplayResult::Done: result.stateBefore = SerializeState(state.get()); break;
                    case ReplayResult::Cancelled: return result;
                    case ReplayResult::Damaged:
                        result.outcome = MappingAnalysis::Outcome::DamagedHistory;
                        return result;
                    case ReplayResult::TooLarge:
                        result.outcome = MappingAnalysis::Outcome::TooLargeHistory;
                        return result;
                }
                break;
        }
    }
    step();
    if (!control.KeepGoing()) return result;

    // What could not be listed keeps its stored state: it is neither removed nor changed.
    for (const std::vector<std::string>& folder : scanner.UnlistedFolders()) RemoveFolderAt(state, folder);
    // Afterwards `tree` holds the new and changed files, `state` what has gone.
    MergeFileTrees(tree, state, MergeMode::SplitScan);
    SumFolderSizes(tree.get());
    if (!control.KeepGoing()) return result;

    if (settings.runTime == 0) settings.runTime = platform::CurrentFileTime();
    if (keptState) {
        // Only this run's part: the source folder is the stored one (the state says so).
        result.newHistory = BuildNewHistory({}, nullptr, settings.runTime, state.get());
        result.newHistory.erase(result.newHistory.begin());
    } else {
        result.newHistory =
            BuildNewHistory(mapping.sourceFolder, haveStored ? &stored : nullptr, settings.runTime, state.get());
    }
    result.recordStart = result.newHistory.size() - 8 - 1 - static_cast<std::size_t>(FileTreeSerializedSize64(state.get()));
    if (!control.KeepGoing()) {
        result.newHistory.clear();
        return result;
    }
    if (haveStored) {
        // Appending to the stored deflated history is right only when the new history begins
        // with the stored one, source folder included.
        const std::size_t folderEnd = HistoryRecordsOffset(stored);
        CompressedHistory compressed;
        if (result.newHistory.size() >= stored.size() &&
            std::equal(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(folderEnd), result.newHistory.begin()) &&
            store.ReadCompressedHistory(historyName, compressed) == FileListStore::Read::Found &&
            compressed.size == stored.size() && compressed.tail.size() <= stored.size() &&
            std::equal(compressed.tail.begin(), compressed.tail.end(),
                       stored.end() - static_cast<std::ptrdiff_t>(compressed.tail.size())))
            result.storedCompressed = std::move(compressed);
    }
    result.changeTree = std::move(tree);
    result.outcome = MappingAnalysis::Outcome::Done;
    return result;
}

}  // namespace halvex

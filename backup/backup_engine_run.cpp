// SPDX-License-Identifier: GPL-3.0-or-later
// RunBackup: one backup run of the selected jobs, on the run's worker thread.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <sys/stat.h>

#include "backup/backup_engine.h"
#include "backup/bookkeeping.h"
#include "backup/current_state.h"
#include "backup/target_history.h"
#include "backup/kill_point_for_tests.h"
#include "backup/run_log.h"
#include "backup/run_messages.h"
#include "common/archive_naming.h"
#include "common/password_file.h"
#include "common/folder_utils.h"
#include "common/memory_allowance.h"
#include "common/wildcard.h"
#include "platform/directory_listing.h"
#include "platform/file.h"
#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/nocase.h"
#include "platform/tick.h"

namespace halvex {
namespace {

// The serialized added tree is deflated in pieces of this size.
constexpr std::size_t kAddedPartPiece = 256u << 10;

const std::string kErrorBox(kErrorCaption);

// Whether any file of the folder of `base` is named like an archive of it: the base's name,
// anything, then the archive extension (letter case ignored).
bool OldArchivesExist(const std::string& base) {
    const std::string pattern = platform::NameOfPath(base) + "*" + std::string(kArchiveExtension);
    platform::DirectoryListing listing;
    if (!listing.Open(platform::FolderOfPath(base))) return false;
    platform::DirEntry entry;
    while (listing.Next(entry))
        if (MatchWildcard(entry.name, pattern, false)) return true;
    return false;
}

// A target name whose entries would take the place of the bookkeeping entries: the
// store's "<job>\ArchNum.tq" or the archive's "ToDirs.tq".
bool IsReservedTargetName(const std::string& target) {
    return platform::EqualNoCase(target, "ArchNum") || platform::EqualNoCase(HistoryEntryName(target), kToDirsEntryName);
}

// Room kept free for the entries that end an archive, so that the job's files can never
// fill it past what the zip format holds.
constexpr std::uint64_t kRunLogAllowance = 4u << 20;
constexpr std::uint64_t kEntryAllowance = 64u << 10;

}  // namespace

void BackupEngine::RunBackup() {
    view_->StartTitleTimer();
    jobRuns_.clear();
    statesToKeep_.clear();
    for (const Job& job : config_.jobs) jobRuns_.push_back(JobRun{&job, job.flags});
    runTime_ = 0;
    currentJobLog_ = nullptr;
    const int mappingTotal = CheckJobs();
    store_.emplace(config_.folder);
    if (!store_->OpenForRun()) {
        // A second run of the same program folder is refused: it would number the same archives.
        std::string text(kStoreOpenErrorText);
        if (store_->Busy()) text += kStoreBusyText;
        view_->ShowMessage(text, kErrorBox, MessageButtons::Ok);
        outcome_ = RunOutcome::StoreError;
        control_.Finish();
        view_->StopTitleTimer();
        view_->CloseWindow(2);
        return;
    }
    NoteRunFile(store_->PathOf(kFileListsWorkingName));
    if (!store_->DamagedKeptAs().empty()) {
        const std::string keptAs = platform::NameOfPath(store_->DamagedKeptAs());
        if (store_->DamagedJobs().empty())
            view_->ShowMessage(FillIn(kStoreDamagedFormat, {keptAs}), kErrorBox, MessageButtons::Ok);
        for (const std::string& job : store_->DamagedJobs())
            view_->ShowMessage(FillIn(kStoreJobDamagedFormat, {job, keptAs}), kErrorBox, MessageButtons::Ok);
    }
    archiveLocks_.Reset(config_.folder);
    try {
        if (!(AnalyzeJobs(mappingTotal) && CopyJobs() && SaveStore())) CancelRun();
    } catch (const std::exception& error) {
        // Nothing is expected here (each phase handles its own errors); whatever it was,
        // nothing half done may stay behind.
        FailRun(error);
        CancelRun();
    }
    EndRun();
}

int BackupEngine::CheckJobs() {
    int mappingTotal = 0;
    for (JobRun& run : jobRuns_) {
        const Job& job = *run.job;
        if ((run.flags & JobSelected) == 0) continue;
        for (const SourceMapping& mapping : job.mappings) {
            if (!platform::GetAttributes(config_.PathOf(mapping.sourceFolder))) {
                DropJob(run, FillIn(kSourceMissingFormat, {mapping.sourceFolder, job.name}), ~JobSelected);
                break;
            }
        }
        if ((run.flags & JobSelected) != 0) {
            for (const SourceMapping& mapping : job.mappings) {
                if (IsReservedTargetName(mapping.targetName)) {
                    DropJob(run, FillIn(kReservedTargetFormat, {mapping.targetName, job.name}), ~JobSelected);
                    break;
                }
            }
        }
        if (startBrandNew_ && OldArchivesExist(config_.PathOf(job.archiveBaseName))) {
            DropJob(run, std::string(kBrandNewRefusedText) + job.name, 0);
        }
        if ((run.flags & JobSelected) != 0 && job.passwordFile) {
            const std::string path = config_.PathOf(*job.passwordFile);
            PasswordFileRead read = ReadPasswordFile(path, true);
            if (!read.password) {
                DropJob(run, FillIn(kPasswordFileFormat, {read.error, job.name}), ~JobSelected);
            } else {
                if (read.weak) notices_.push_back(WeakPasswordWarning(path));
                run.password = std::move(*read.password);
            }
        }
        if ((run.flags & JobSelected) != 0) mappingTotal += static_cast<int>(job.mappings.size());
    }
    return mappingTotal;
}

bool BackupEngine::AnalyzeJobs(int mappingTotal) {
    view_->SetText(ProgressText::CurrentJob, std::string(kAnalyzingText));
    view_->SetProgressRange(0, std::min(2 * mappingTotal, 65535));
    view_->SetProgressPosition(0);
    bytesToCopy_ = 0;
    AnalysisSettings settings{config_.globalFilters, startBrandNew_, runTime_, [this] { view_->StepProgress(); }};
    // Archives in a source would each hold the ones before them: every job's set, and the
    // store and log in the program folder, are left out of every scan.
    std::vector<OwnFilesFolder> ownFiles{{config_.folder, {}, true}};
    for (const Job& job : config_.jobs) {
        const std::string base = config_.PathOf(job.archiveBaseName);
        ownFiles.push_back({platform::FolderOfPath(base), {platform::NameOfPath(base)}, false});
    }
    scanner_.SetOwnFiles(ownFiles);
    scanner_.SetBaseFolder(config_.folder);
    for (std::size_t j = 0; j < jobRuns_.size() && control_.KeepGoing(); ++j) {
        JobRun& run = jobRuns_[j];
        const Job& job = *run.job;
        if ((run.flags & JobSelected) == 0) continue;
        // Before the histories are read: they may come from the newest archive of the set.
        ZipArchiveFile::SetReadPassword(run.password);
        std::optional<int> stored = FindArchiveNumber(run);
        if (stored && *stored >= kMaxArchivesInSet) {
            // One more archive would wrap the archive numbers and spoil the whole set.
            DropJob(run, FillIn(kSetFullFormat, {job.name, job.name}), ~JobSelected);
            stored.reset();
        }
        if (!stored) {
            run = JobRun{run.job, run.flags & ~JobSelected};
            continue;
        }
        run.mappings.resize(job.mappings.size());
        bool damaged = false;
        for (std::size_t m = 0; m < job.mappings.size() && control_.KeepGoing(); ++m) {
            const SourceMapping& mapping = job.mappings[m];
            MappingAnalysis analysis = AnalyzeMapping(scanner_, *store_, TargetHistoryEntryName(job.name, mapping.targetName),
                                                      mapping, settings, control_);
            skipped_.insert(skipped_.end(), analysis.notices.begin(), analysis.notices.end());
            notices_.insert(notices_.end(), analysis.ownFileNotices.begin(), analysis.ownFileNotices.end());
            MappingRun& mappingRun = run.mappings[m];
            mappingRun.notices = std::move(analysis.notices);
            mappingRun.ownFileNotices = std::move(analysis.ownFileNotices);
            if (analysis.outcome == MappingAnalysis::Outcome::DamagedHistory ||
                analysis.outcome == MappingAnalysis::Outcome::TooLargeHistory) {
                const bool tooLarge = analysis.outcome == MappingAnalysis::Outcome::TooLargeHistory;
                DropJob(run, FillIn(tooLarge ? kTooLargeHistoryFormat : kDamagedHistoryFormat, {mapping.targetName, job.name}),
                        ~JobSelected);
                damaged = true;
                break;
            }
            mappingRun.changeTree = std::move(analysis.changeTree);
            mappingRun.newHistory = std::move(analysis.newHistory);
            mappingRun.storedCompressed = std::move(analysis.storedCompressed);
            mappingRun.newHistoryStart = analysis.newHistoryStart;
            mappingRun.recordStart = analysis.recordStart;
            mappingRun.stateBefore = std::move(analysis.stateBefore);
        }
        if (!control_.KeepGoing()) break;
        // A damaged store entry drops the job; its entries and archives stay as they are.
        const bool anyChange = std::any_of(run.mappings.begin(), run.mappings.end(),
                                           [](const MappingRun& r) { return r.changeTree != nullptr; });
        if (!damaged && !anyChange) {
            // A state rebuilt by replaying is kept, so that the next run need not replay again.
            for (std::size_t m = 0; m < run.mappings.size(); ++m) {
                const MappingRun& r = run.mappings[m];
                if (r.newHistoryStart == 0 && r.storedCompressed)
                    statesToKeep_.push_back({TargetHistoryEntryName(job.name, job.mappings[m].targetName),
                                             EncodeStateEntry(TagOf(*r.storedCompressed), job.mappings[m].sourceFolder,
                                                              r.stateBefore)});
            }
        }
        if (damaged || !anyChange) {
            // Nothing to store (deletions alone are found again by a later run).
            run = JobRun{run.job, run.flags & ~JobSelected};
            continue;
        }
        // Every mapping's history goes into the job's archive: those analysed from the kept
        // state get what it continues now.
        for (std::size_t m = 0; m < run.mappings.size() && !damaged; ++m) {
            MappingRun& r = run.mappings[m];
            if (r.newHistoryStart == 0 || r.storedCompressed) continue;
            const SourceMapping& mapping = job.mappings[m];
            if (!ReloadKeptState(*store_, TargetHistoryEntryName(job.name, mapping.targetName), mapping,
                                 r.newHistoryStart, r.storedCompressed, r.stateBefore)) {
                DropJob(run, FillIn(kDamagedHistoryFormat, {mapping.targetName, job.name}), ~JobSelected);
                damaged = true;
            }
        }
        if (damaged) {
            run = JobRun{run.job, run.flags & ~JobSelected};
            continue;
        }
        run.storedArchiveNumber = *stored;
        for (const MappingRun& r : run.mappings)
            if (r.changeTree) bytesToCopy_ += r.changeTree->totalSize;
    }
    return control_.KeepGoing();
}

bool BackupEngine::CopyJobs() {
    view_->SetText(ProgressText::Status, std::string(kBackingUpText));
    view_->SetProgressRange(0, 1000);
    view_->SetProgressPosition(0);
    bytesCopied_ = 0;
    ParallelDeflate::Settings deflate;
    deflate.threads = deflateThreads_;
    deflate.level = kDefaultJobLevel;
    deflate.blockSize = CopyChunkSize;
    // A file read whole and its compressed copy: small beside the memory a run may take, and
    // no larger than blocks where that is little.
    deflate.wholeSize = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(MemoryLimitBytes() / 32, CopyChunkSize, WholeFileSize));
    queue_ = std::make_unique<ArchiveQueue>(archive_, deflate, [this](const ArchiveQueue::Entry& entry, bool refused) {
        EntryLeftOut(entry, refused);
    });
    copyTime_ = platform::CurrentLocalTime();
    startTick_ = platform::TickCountMs();
    for (JobRun& run : jobRuns_) {
        const Job& job = *run.job;
        if ((run.flags & JobSelected) == 0) continue;
        if (!control_.KeepGoing()) return false;
        run.runLog = RunLogHeader(job.name, platform::CurrentLocalTime());
        currentJobLog_ = &run.runLog;
        view_->SetText(ProgressText::CurrentJob, job.name);
        run.archiveNumber = run.storedArchiveNumber + 1;
        run.archiveName = MakeArchiveFileName(job.archiveBaseName, run.archiveNumber);
        run.archivePath = config_.PathOf(run.archiveName);
        if (!CreateArchive(run)) {
            // This job gets no archive; its store entries stay as they were.
            if ((run.flags & JobSelected) != 0) {
                run.flags &= ~JobSelected;
                skipped_.push_back(FillIn(kJobNotSavedFormat, {job.name}));
            }
            continue;
        }
        try {
            WriteJobArchive(run);
        } catch (const std::exception& error) {
            archive_.Close(true);
            FailRun(error);
        }
        if (!control_.KeepGoing()) return false;
    }
    return true;
}

bool BackupEngine::CreateArchive(JobRun& run) {
    const Job& job = *run.job;
    const std::string partial = run.archivePath + kPartialArchiveSuffix;
    for (;;) {
        CreateParentFolders(run.archivePath);
        const std::string folder = platform::FolderOfPath(run.archivePath);
        if (platform::IsDirectory(folder) && !LockArchiveFolder(run, folder)) return false;
        // Never replaced: a file under the name belongs to someone else (another job's set).
        if (platform::PathExists(run.archivePath)) {
            const std::string_view format =
                platform::IsRegularFile(run.archivePath) ? kArchiveNameTakenFormat : kArchiveNameNotRegularFormat;
            DropJob(run, FillIn(format, {run.archiveName, job.name}), ~JobSelected);
            return false;
        }
        try {
            // Under the folder's lock a partial file is what a killed run left behind.
            NoteRunFile(partial);
            platform::DeleteFile(partial);
            // It holds copies of private files: mode 600 whatever the umask.
            platform::File created(partial, platform::File::Mode::CreateNew, platform::File::Access::OwnerOnly);
            created.Close();
            run.archiveCreated = true;
            archive_.Open(partial, ZipOpenExisting);  // the empty file becomes a new archive
            archive_.SetLimits(archiveLimits_);
            archive_.SetPassword(run.password);
            if (queue_) queue_->SetPassword(run.password);
            return true;
        } catch (const std::exception&) {
            archive_.Close(true);
            if (run.archiveCreated) platform::DeleteFile(partial);
            run.archiveCreated = false;
        }
        if (AskAndPause(std::string(kCreateArchiveErrorText) + run.archiveName, MessageButtons::RetryCancel) !=
            MessageAnswer::Retry)
            return false;
    }
}

bool BackupEngine::LockArchiveFolder(JobRun& run, const std::string& folder) {
    switch (archiveLocks_.Lock(folder)) {
        case ArchiveFolderLocks::Result::Locked: return true;
        case ArchiveFolderLocks::Result::Busy:
            DropJob(run, FillIn(kArchiveFolderBusyFormat, {folder, run.job->name}), ~JobSelected);
            return false;
        case ArchiveFolderLocks::Result::Failed: break;  // creating the archive there fails and asks
    }
    return true;
}

bool BackupEngine::PutArchiveInPlace(JobRun& run) {
    const std::string partial = run.archivePath + kPartialArchiveSuffix;
    if (platform::MovePath(partial, run.archivePath)) {
        NoteRunFile(run.archivePath, partial);
        run.archiveFinished = true;
        return true;
    }
    if (errno != EEXIST) platform::ThrowFileError("rename", partial);
    platform::DeleteFile(partial);
    run.archiveCreated = false;
    DropJob(run, FillIn(kArchiveNameTakenFormat, {run.archiveName, run.job->name}), ~JobSelected);
    return false;
}

void BackupEngine::FailRun(const std::exception& error) {
    std::string text = DescribeError(error);
    // A new archive is named as the job file places it, not by its path in the job file's folder.
    for (const JobRun& run : jobRuns_) {
        if (run.archivePath == run.archiveName || run.archivePath.empty()) continue;
        for (std::size_t at = text.find(run.archivePath); at != std::string::npos;
             at = text.find(run.archivePath, at + run.archiveName.size()))
            text.replace(at, run.archivePath.size(), run.archiveName);
    }
    view_->ShowMessage(std::string(kReadWriteErrorText) + "\n\n" + text, kErrorBox, MessageButtons::Ok);
    if (outcome_ == RunOutcome::NotRun) outcome_ = RunOutcome::Failed;
    AbortRun();
}

ZipLimits BackupEngine::FileEntryLimits(const JobRun& run) const {
    const Job& job = *run.job;
    const std::uint64_t entries = job.mappings.size() + 3;
    std::uint64_t reserve = kRunLogAllowance + 4;
    for (std::size_t m = 0; m < job.mappings.size(); ++m) {
        const MappingRun& r = run.mappings[m];
        reserve += r.newHistory.size() + 1 + FileTreeSerializedSize64(r.changeTree.get());
        if (r.newHistoryStart > 0 && r.storedCompressed) reserve += r.storedCompressed->deflated.size();
        reserve += job.mappings[m].targetName.size() + 1;
        for (const std::string& notice : r.notices) reserve += notice.size() + 64;
        for (const std::string& notice : r.ownFileNotices) reserve += notice.size() + 64;
    }
    platform::File jobFile;
    if (jobFile.TryOpen(config_.PathOf(kJobFileName), platform::File::Mode::Read)) reserve += jobFile.Length();
    // Headers, and deflate's worst case on data that does not compress.
    reserve += reserve / 64 + entries * kEntryAllowance;
    ZipLimits limits = archiveLimits_;
    limits.maxEntries = entries >= limits.maxEntries ? 0 : limits.maxEntries - static_cast<std::uint32_t>(entries);
    limits.maxArchiveSize = reserve >= limits.maxArchiveSize ? 0 : limits.maxArchiveSize - reserve;
    return limits;
}

void BackupEngine::WriteJobArchive(JobRun& run) {
    const Job& job = *run.job;
    AppendLogLine(kLogBackupStarted);

    const ZipLimits reduced = FileEntryLimits(run);
    queue_->SetLevel(job.level);

    auto refused = [](const char* what) { return std::length_error(std::string("archive refused ") + what); };
    for (std::size_t m = 0; m < job.mappings.size(); ++m) {
        if (!control_.KeepGoing()) return;
        const SourceMapping& mapping = job.mappings[m];
        MappingRun& mappingRun = run.mappings[m];
        AppendLogLine(std::string(kLogDoingTask) + mapping.targetName);
        for (const std::string& notice : mappingRun.ownFileNotices) AppendLogLine(notice);
        for (const std::string& notice : mappingRun.notices) AppendLogLine(notice);
        if (mappingRun.changeTree) {
            sourcePathBuffer_.assign(config_.PathOf(mapping.sourceFolder));
            entryPathBuffer_.assign(mapping.targetName);
            archive_.SetLimits(reduced);
            FileTreeNode* tree = mappingRun.changeTree.release();
            try {
                ArchiveTree(&tree, sourcePathBuffer_.size(), entryPathBuffer_.size());
                FinishMappingEntries(&tree);
            } catch (...) {
                mappingRun.changeTree.reset(tree);
                throw;
            }
            mappingRun.changeTree.reset(tree);
            archive_.SetLimits(archiveLimits_);
        }
        if (!control_.KeepGoing()) return;
        // The added tree lists exactly what the archive received.
        mappingRun.compressed = JoinHistory(mappingRun);
        if (!WriteCompressedHistory(archive_, HistoryEntryName(mapping.targetName), copyTime_, mappingRun.compressed))
            throw refused("a history");
    }

    if (!archive_.AddFile(config_.PathOf(kJobFileName), 9, false, nullptr, nullptr, kJobFileEntryBuffer) &&
        archive_.LastRefusal() != ZipRefusal::None)
        throw refused(kJobFileName);
    const std::string toDirs = MakeToDirs(run.archiveNumber, job.mappings);
    if (!WriteWholeEntry(archive_, kToDirsEntryName, 0, copyTime_, {BytesOf(toDirs)})) throw refused(kToDirsEntryName);
    AppendLogLine(kLogBackupFinished);
    if (!WriteWholeEntry(archive_, kRunLogEntryName, 9, copyTime_, {BytesOf(run.runLog)}))
        throw refused(kRunLogEntryName);

    // On disk first, then under its name in the set.
    archive_.Close();
    // Made once the archive's catalog is gone, so that the two never take memory together.
    MakeStateEntries(run);
    if (!PutArchiveInPlace(run)) return;
    // Until its folder entry is on disk a crash can still take the archive away, while the
    // store saved after it would count it: a refused flush fails the run as a refused write does.
    const std::string folder = platform::FolderOfPath(run.archivePath);
    if (!platform::SyncFolder(folder)) platform::ThrowFileError("sync folder", folder);
    KillPointForTests("archive-written");
}

CompressedHistory BackupEngine::JoinHistory(MappingRun& run) {
    std::optional<CompressedHistory> stored = std::move(run.storedCompressed);
    run.storedCompressed.reset();
    // Only this run's record is deflated when the stored history can be continued.
    const std::size_t from = stored ? static_cast<std::size_t>(stored->size - run.newHistoryStart) : 0;
    const auto part = std::span<const unsigned char>(run.newHistory).subspan(from);
    // The added part goes from the tree to the deflater: its serialized form (tens of bytes a
    // file) is never held beside the tree and the archive's catalog.
    const FileTreeNode* added = run.changeTree.get();
    const HistoryPieces addedPart = [added](const std::function<void(std::span<const unsigned char>)>& sink) {
        const unsigned char flag = added != nullptr ? 1 : 0;
        sink({&flag, 1});
        if (added != nullptr) SaveFileTreeInPieces(added, kAddedPartPiece, sink);
    };
    CompressedHistory joined;
    if (stored) {
        AppendToHistory(*stored, part, addedPart);
        joined = std::move(*stored);
    } else {
        joined = CompressHistory(part, addedPart);
    }
    // The record up to its added part stays, led by room for the empty record a reader of it
    // needs first and ended by an added flag of 0: the state takes the added tree itself.
    HistoryBytes record = std::move(run.newHistory);
    run.newHistory.clear();
    if (run.recordStart >= kRecordLead) {
        record.erase(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(run.recordStart - kRecordLead));
    } else {
        record.insert(record.begin(), kRecordLead - run.recordStart, 0);
    }
    record.push_back(0);
    if (record.capacity() / 2 > record.size()) record.shrink_to_fit();
    run.ledRecord = std::move(record);
    return joined;
}

void BackupEngine::MakeStateEntries(JobRun& run) {
    for (std::size_t m = 0; m < run.mappings.size(); ++m) {
        MappingRun& r = run.mappings[m];
        if (r.ledRecord.empty()) continue;
        std::vector<unsigned char> entry;
        if (StateEntryAfterRecord(TagOf(r.compressed), run.job->mappings[m].sourceFolder, r.stateBefore,
                                  std::move(r.ledRecord), std::move(r.changeTree), entry))
            r.stateEntry = std::move(entry);
        r.changeTree.reset();
        HistoryBytes().swap(r.ledRecord);
        HistoryBytes().swap(r.stateBefore);
    }
}

bool BackupEngine::SaveStore() {
    queue_.reset();
    // From here on a cancel request is refused, before "Saving File Lists..." is shown.
    if (!control_.BeginUninterruptible()) return false;
    view_->SetText(ProgressText::Status, std::string(kSavingText));
    // Every file is in: the bar stays full, and saving has no estimate to show.
    view_->SetText(ProgressText::TimeRemaining, "");
    view_->EnableCancel(false);
    try {
        // Every history was deflated whole, added part and all, when its archive was written.
        static const HistoryBytes kNothingAdded;
        for (const JobRun& run : jobRuns_) {
            const Job& job = *run.job;
            if ((run.flags & JobSelected) == 0) continue;
            std::vector<HistoryToSave> histories;
            for (std::size_t m = 0; m < job.mappings.size(); ++m) {
                // A run that never read the stored history has only the deflated whole to save.
                if (run.mappings[m].compressed.deflated.empty() && run.mappings[m].newHistoryStart > 0)
                    throw std::logic_error("history to save is incomplete");
                histories.push_back({job.mappings[m].targetName, run.mappings[m].newHistory, kNothingAdded,
                                     run.mappings[m].compressed.deflated.empty() ? nullptr : &run.mappings[m].compressed,
                                     run.mappings[m].stateEntry.empty() ? nullptr : &run.mappings[m].stateEntry});
            }
            store_->SaveJob(job.name, run.archiveNumber, histories, startBrandNew_, copyTime_);
        }
        for (const auto& [historyName, state] : statesToKeep_) store_->SaveState(historyName, state);
        statesToKeep_.clear();
        KillPointForTests("store-written");
        store_->Close();
    } catch (const std::exception&) {
        store_->Abandon();
        view_->ShowMessage(std::string(kStoreSaveErrorText), kErrorBox, MessageButtons::Ok);
        outcome_ = RunOutcome::StoreError;
        AbortRun();
        return false;
    }
    KillPointForTests("store-replaced");

    // The logs go in only once the store is complete, so that every block in backups.log
    // belongs to a completed run. A log that cannot be written does not undo the backup.
    CumulativeLog log;
    bool logged = log.Open(config_.PathOf(kCumulativeLogName));
    for (const JobRun& run : jobRuns_)
        if ((run.flags & JobSelected) != 0) logged = log.Append(run.runLog) && logged;
    logged = log.Close() && logged;
    if (!logged) {
        view_->ShowMessage(std::string(kCumulativeLogErrorText), kErrorBox, MessageButtons::Ok);
        skipped_.push_back(std::string(kCumulativeLogErrorText));
    }
    return true;
}

void BackupEngine::CancelRun() {
    for (ProgressText line : {ProgressText::CurrentJob, ProgressText::Status, ProgressText::TimeRemaining})
        view_->SetText(line, std::string(kAbortingText));
    store_->Abandon();
    archive_.Close(true);
    for (const JobRun& run : jobRuns_) {
        if ((run.flags & JobSelected) == 0 || !run.archiveCreated) continue;
        platform::DeleteFile(run.archiveFinished ? run.archivePath : run.archivePath + kPartialArchiveSuffix);
    }
    queue_.reset();
}

void BackupEngine::EndRun() {
    ForgetRunFiles();  // removed by a cancel, or kept by a completed run
    // What the run built goes; the jobs' flags stay for the disc copies and for the caller.
    std::vector<int> flags;
    for (JobRun& run : jobRuns_) {
        flags.push_back(run.flags);
        run.mappings.clear();
        run.runLog.clear();
    }
    currentJobLog_ = nullptr;
    if (control_.IsRunning()) {
        const bool anyDisc = std::any_of(flags.begin(), flags.end(), [](int f) { return (f & JobCopyToCd) != 0; });
        // Off-site first: the disc step deletes the archives it burned, which would then never
        // reach the remote. A cancel during the copy leaves the disc step out (and the archives
        // in the backup folder).
        CopyJobsOffsite();
        if (anyDisc && control_.BeginUninterruptible()) {
            // Uninterruptible again: a cancel request is refused while discs are burned.
            for (std::string& line : CopyToCdTask(config_, flags, startBrandNew_, *view_, discSettings_))
                skipped_.push_back(std::move(line));
        }
        outcome_ = RunOutcome::Succeeded;
        view_->ShowMessage(std::string(kSuccessText), std::string(kSuccessCaption), MessageButtons::Ok);
    } else {
        if (outcome_ == RunOutcome::NotRun) outcome_ = RunOutcome::Cancelled;
        view_->ShowMessage(std::string(kCanceledText), std::string(kCanceledCaption), MessageButtons::Ok);
    }
    archiveLocks_.ReleaseAll();  // held through the disc copies, which delete burned archives
    control_.Finish();
    view_->StopTitleTimer();
    view_->CloseWindow(2);
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
// The restore job: preparing the destination, then extracting a tree archive by archive.
#include "restore/archive_set_restore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_tree_walk.h"
#include "common/fit_path.h"
#include "common/folder_utils.h"
#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/home_folder.h"
#include "platform/process.h"
#include "restore/archive_set.h"
#include "restore/restore_errors.h"
#include "restore/archive_set_progress.h"
#include "restore/entry_pool.h"
#include "restore/set_records.h"

namespace halvex {

namespace {

// Limits of the texts shown in error boxes.
constexpr std::size_t kExtractErrorLimit = 500;
constexpr std::size_t kOpenErrorLimit = 260;

// Whether anything (a folder, a file, a link, even a dangling one) is at `path`.
bool SomethingExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Whether `path` itself is a symbolic link (which a restore never follows).
bool IsSymbolicLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Moves `folder` aside to the first free name of folder.bak, folder.bak (2), folder.bak (3)...
bool RenameToBackupName(const std::string& folder) {
    const std::string base = folder + ".bak";
    // A bound far beyond any real folder, so that a file system that refuses every name
    // cannot keep the loop going for ever.
    constexpr long kMaxCandidates = 10'000'000;
    for (long n = 1; n <= kMaxCandidates; ++n) {
        const std::string candidate = n == 1 ? base : base + " (" + std::to_string(n) + ")";
        if (SomethingExists(candidate)) continue;
        if (platform::MovePath(folder, candidate)) return true;
        // Taken in the meantime: try the next name; any other refusal is final.
        if (errno != EEXIST && errno != ENOTEMPTY) return false;
    }
    return false;
}

// Moves the restored item at `path` aside to path.bak, path.bak2, path.bak3...
bool RenameItemToBackupName(const std::string& path) {
    constexpr long kMaxCandidates = 10'000'000;
    for (long n = 1; n <= kMaxCandidates; ++n) {
        const std::string candidate = path + ".bak" + (n == 1 ? std::string() : std::to_string(n));
        if (SomethingExists(candidate)) continue;
        if (platform::MovePath(path, candidate)) return true;
        if (errno != EEXIST && errno != ENOTEMPTY) return false;
    }
    return false;
}

std::string ResolvedPath(const std::string& path) {
    if (path.empty()) return {};
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// Whether `path` is `folder` or lies below it (both resolved).
bool Holds(const std::string& folder, const std::string& path) {
    if (folder.empty() || path.empty()) return false;
    if (folder == "/" || path == folder) return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// A mount point's name in /proc/self/mountinfo: spaces and the like are written as \ooo.
std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

// Whether the resolved folder is where a file system is mounted: another device than its
// parent's, or listed as a mount point (a bind mount of the same device).
bool IsMountPoint(const std::string& folder) {
    struct stat own {}, parent {};
    if (::stat(folder.c_str(), &own) != 0) return false;
    if (::stat((folder + "/..").c_str(), &parent) == 0 &&
        (own.st_dev != parent.st_dev || own.st_ino == parent.st_ino))
        return true;
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id, parentId, device, root, mountPoint;
        if (fields >> id >> parentId >> device >> root >> mountPoint && UnescapeMountField(mountPoint) == folder)
            return true;
    }
    return false;
}

// What stands at `name` in the open folder `folder`, without following a link: 0 nothing,
// else the st_mode kind bits.
mode_t KindAt(int folder, const std::string& name) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    return st.st_mode & S_IFMT;
}

std::string FolderErrorText(int error) {
    if (error == ELOOP || error == ENOTDIR) return "a link or a file stands where one of its folders goes";
    return std::strerror(error);
}

}  // namespace

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        Reset(other.fd_);
        other.fd_ = -1;
    }
    return *this;
}

void FolderHandle::Reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int ArchiveSet::OpenDestinationFolder(const std::string& folder, bool create) {
    if (openFolder_.Get() >= 0 && openFolderPath_ == folder) return openFolder_.Get();
    openFolder_.Reset();
    openFolderPath_.clear();
    if (folder.compare(0, destinationPath.size(), destinationPath) != 0) {
        errno = EINVAL;
        return -1;
    }
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    FolderHandle current(::open(destinationPath.c_str(), kFlags));
    if (current.Get() < 0) return -1;
    for (std::size_t at = destinationPath.size(); at < folder.size();) {
        if (folder[at] == '/') {
            ++at;
            continue;
        }
        std::size_t end = folder.find('/', at);
        if (end == std::string::npos) end = folder.size();
        const std::string name = folder.substr(at, end - at);
        int next = ::openat(current.Get(), name.c_str(), kFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
            next = ::openat(current.Get(), name.c_str(), kFlags);
        }
        if (next < 0) return -1;
        current.Reset(next);
        at = end;
    }
    openFolderPath_ = folder;
    openFolder_ = std::move(current);
    return openFolder_.Get();
}

std::string ArchiveSet::RenameRefusal(const std::string& folder) const {
    const std::string real = ResolvedPath(folder);
    if (real.empty()) return {};
    if (real == "/") return "it is the root folder";
    for (const std::string& home : {platform::HomeFolder(), platform::DatabaseHomeFolder()})
        if (!home.empty() && ResolvedPath(home) == real) return "it is your home folder";
    if (IsMountPoint(real)) return "it is a mount point";
    if (Holds(real, ResolvedPath(platform::FolderOfPath(platform::ExecutablePath()))))
        return "it holds the program folder";
    for (const std::string& archives : archiveFolders_)
        if (Holds(real, archives)) return "it holds the archive set being read";
    return {};
}

DirectoryQuestion ArchiveSet::DestinationQuestion(const FileTreeNode* selection) const {
    DirectoryQuestion question;
    question.folder = destinationPath;
    if (selection != nullptr) {
        question.rename = DirectoryQuestion::Rename::Items;
        // An item in the way may itself be a folder that must stay where it is ("me" restored
        // into /home): then no item is moved.
        for (const FileTreeNode* folder = selection->firstChild; folder != nullptr; folder = folder->nextSibling) {
            const std::string path = JoinPath(destinationPath, folder->name);
            const std::string refusal = SomethingExists(path) ? RenameRefusal(path) : std::string();
            // Every refusal reads "it is ..." or "it holds ...": the item's name takes its place.
            if (!refusal.empty()) {
                question.renameRefusal = folder->name + refusal.substr(2);
                break;
            }
        }
    } else {
        question.renameRefusal = RenameRefusal(destinationPath);
    }
    if (!question.renameRefusal.empty()) {
        question.rename = DirectoryQuestion::Rename::NotOffered;
        question.preselected = DirectoryAnswer::PromptEach;
        question.unattended = DirectoryAnswer::KeepExisting;
    }
    return question;
}

std::string DirectoryAnswerText(const DirectoryQuestion& question, DirectoryAnswer answer) {
    switch (answer) {
    case DirectoryAnswer::KeepExisting: return "Do not replace existing files";
    case DirectoryAnswer::ReplaceExisting: return "Replace existing files";
    case DirectoryAnswer::PromptEach: return "Prompt if files already exist";
    case DirectoryAnswer::RenameFolder:
        if (question.rename == DirectoryQuestion::Rename::Items) return "Rename existing items to .bak";
        return "Rename destination folder";
    default: return "Cancel";
    }
}

namespace {

// The policy a "File Exists..." answer with "Do not ask me again." ticked leaves.
ConflictPolicy PolicyForEveryFile(FileAnswer::Choice choice) {
    return choice == FileAnswer::Choice::Replace ? ConflictPolicy::ReplaceExisting : ConflictPolicy::KeepExisting;
}

}  // namespace

bool ArchiveSet::RenameItemsAside(const FileTreeNode* selection) {
    std::vector<std::string> names;
    for (const FileTreeNode* folder = selection->firstChild; folder != nullptr; folder = folder->nextSibling)
        names.emplace_back(folder->name);
    for (const FileTreeFile* file = selection->files; file != nullptr; file = file->next) names.emplace_back(file->name);
    for (const std::string& name : names) {
        const std::string path = JoinPath(destinationPath, name);
        if (!SomethingExists(path) || RenameItemToBackupName(path)) continue;
        ui_->ShowMessage("Could not rename '" + path + "': " + std::strerror(errno) + ". Nothing was restored.",
                         "Error", MessageButtons::Ok, MessageOwner::MainWindow);
        return false;
    }
    return true;
}

DestinationResult ArchiveSet::PrepareDestination(const FileTreeNode* selection) {
    conflictPolicy_ = ConflictPolicy::NotAsked;
    destinationMade_ = false;
    if (destinationPath.size() > 1 && destinationPath.back() == '/') destinationPath.pop_back();
    bool conflict = !destinationPath.empty() && SomethingExists(destinationPath);
    if (conflict && selection != nullptr) {
        // Only what is restored can be in the way: other things in the folder never are.
        conflict = false;
        for (const FileTreeNode* f = selection->firstChild; f != nullptr && !conflict; f = f->nextSibling)
            conflict = SomethingExists(JoinPath(destinationPath, f->name));
        for (const FileTreeFile* f = selection->files; f != nullptr && !conflict; f = f->next)
            conflict = SomethingExists(JoinPath(destinationPath, f->name));
    }
    if (conflict) {
        const DirectoryQuestion question = DestinationQuestion(selection);
        const DirectoryAnswer answer = ui_->AskDirectoryExists(question);
        switch (answer) {
        case DirectoryAnswer::KeepExisting: conflictPolicy_ = ConflictPolicy::KeepExisting; break;
        case DirectoryAnswer::ReplaceExisting: conflictPolicy_ = ConflictPolicy::ReplaceExisting; break;
        case DirectoryAnswer::PromptEach: conflictPolicy_ = ConflictPolicy::PromptEach; break;
        case DirectoryAnswer::RenameFolder: break;
        default: return DestinationResult::Cancelled;
        }
        if (answer == DirectoryAnswer::RenameFolder && !question.RenameOffered()) {
            const std::string what =
                selection != nullptr ? "Nothing is renamed" : "The folder " + destinationPath + " is not renamed";
            ui_->ShowMessage(what + ": " + question.renameRefusal +
                                 ". Choose to keep, replace or be asked about existing files.",
                             "Error", MessageButtons::Ok, MessageOwner::MainWindow);
            return DestinationResult::Cancelled;
        }
        if (answer == DirectoryAnswer::RenameFolder) {
            if (selection != nullptr) {
                if (!RenameItemsAside(selection)) return DestinationResult::NotRenamed;
            } else if (!RenameToBackupName(destinationPath)) {
                ui_->ShowMessage("Could not rename directory", "Error", MessageButtons::Ok, MessageOwner::MainWindow);
                return DestinationResult::NotRenamed;
            }
            conflictPolicy_ = ConflictPolicy::PromptEach;
        }
    }
    // A link where the destination folder goes is not followed: kept, it leaves nothing to
    // restore into.
    if (!destinationPath.empty() && IsSymbolicLink(destinationPath) &&
        !SettleLink(destinationPath, sourcePath.empty() ? "the selection" : sourcePath))
        return DestinationResult::Cancelled;
    destinationMade_ = !destinationPath.empty() && !SomethingExists(destinationPath);
    if (!destinationPath.empty()) CreateParentFolders(destinationPath + "/");
    if (destinationPath.empty() || !platform::IsDirectory(destinationPath)) {
        ui_->ShowMessage("Could not create destination directory", "Error", MessageButtons::Ok,
                         MessageOwner::MainWindow);
        return DestinationResult::NotCreated;
    }
    return DestinationResult::Ready;
}

RestoreResult ArchiveSet::RestoreTree(const FileTreeNode* tree) {
    ui_->OpenProgress([this] { OnCancelRequest(); });
    running_ = true;
    skippedLinks_.clear();
    restoredLinks_.clear();
    bytesTotal_ = tree != nullptr ? tree->totalSize : 0;
    startTick_ = tick_();
    // A selection of nothing but empty files shows a full bar.
    barPosition_ = ProgressBarPosition(ProgressFraction(bytesDone, bytesTotal_));
    ui_->SetProgressBar(barPosition_);
    std::string start = sourcePath;
    while (!start.empty() && start.back() == '\\') start.pop_back();
    folderPermissions_.Clear();
    // A destination made for this restore stands for the folder where it starts.
    if (destinationMade_ && !start.empty()) folderPermissions_.Note(destinationPath, start);
    destinationMade_ = false;
    openFolder_.Reset();
    openFolderPath_.clear();
    try {
        if (tree != nullptr) ReportUnreachableEntries(tree, start);
        for (currentArchiveNumber_ = NewestRestoreArchive(); currentArchiveNumber_ >= 1 && running_;
             --currentArchiveNumber_) {
            entryPath_ = start;
            destinationFolder_ = destinationPath;
            if (tree != nullptr) RestoreFolder(tree);
            SettlePending();
            pool_.reset();
            folderPermissions_.LookUp(zip_);
            CloseArchive();
        }
    } catch (const std::exception& error) {
        // Whatever ends the restore, the workers stop, the archive is closed and the progress
        // window goes.
        pending_.clear();
        pool_.reset();
        CloseArchive();
        running_ = false;
        ui_->ShowMessage(DescribeError(error), "Error", MessageButtons::Ok, MessageOwner::ProgressWindow);
    }
    openFolder_.Reset();
    openFolderPath_.clear();
    ApplyFolderPermissions();
    ui_->CloseProgress();
    bytesDone = 0;
    if (running_) {
        running_ = false;
        return RestoreResult::Completed;
    }
    return RestoreResult::Aborted;
}

void ArchiveSet::RestoreFolder(const FileTreeNode* node) {
    const std::size_t entryLength = entryPath_.size();
    const std::size_t destinationLength = destinationFolder_.size();
    if (!entryPath_.empty()) entryPath_ += '\\';
    const std::size_t nameStart = entryPath_.size();

    for (const FileTreeFile* file = node->files; file != nullptr && running_; file = file->next) {
        if (file->archiveNumber != currentArchiveNumber_) continue;
        entryPath_.resize(nameStart);
        entryPath_ += file->name;
        RestoreEntry(*file);
    }
    for (const FileTreeNode* sub = node->firstChild; sub != nullptr && running_; sub = sub->nextSibling) {
        entryPath_.resize(nameStart);
        entryPath_ += sub->name;
        destinationFolder_.resize(destinationLength);
        // Nothing of the sub-folder is restored through a link that stands in its place.
        const std::string folder = JoinPath(destinationFolder_, sub->name);
        if (skippedLinks_.count(folder) != 0) continue;
        if (restoredLinks_.count(folder) != 0) {
            SettlePending();
            PassOverRestoredLink(folder, entryPath_);
            continue;
        }
        // No parent yet: nothing can stand in the sub-folder's place.
        int parent = OpenDestinationFolder(destinationFolder_, false);
        if (parent >= 0 && KindAt(parent, sub->name) == S_IFLNK) {
            SettlePending();
            if (!running_) break;
            parent = OpenDestinationFolder(destinationFolder_, false);
            if (!SettleLink(folder, entryPath_, parent)) continue;
        }
        if (sub->archiveNumber == currentArchiveNumber_) {
            RestoreSubFolder(*sub);
            if (!running_) break;
        }
        destinationFolder_ = JoinPath(destinationFolder_, sub->name);
        RestoreFolder(sub);  // depth bounded by the depth a loaded tree may have
    }
    entryPath_.resize(entryLength);
    destinationFolder_.resize(destinationLength);
}

void ArchiveSet::RestoreEntry(const FileTreeFile& file) {
    ui_->SetProgressFrom(entryPath_);
    ui_->SetProgressTo(destinationFolder_);
    const std::string target = JoinPath(destinationFolder_, file.name);
    if (skippedLinks_.count(target) != 0) return;
    if (restoredLinks_.count(target) != 0) {
        SettlePending();
        PassOverRestoredLink(target, entryPath_);
        return;
    }
    int folder = -1;
    while ((folder = OpenDestinationFolder(destinationFolder_, true)) < 0) {
        const int error = errno;
        // Questions come in catalog order: the files handed out before this one are settled first.
        SettlePending();
        if (!running_ || !AskAboutError(NotRestoredText(target, FolderErrorText(error)))) return;
    }
    const mode_t kind = KindAt(folder, file.name);
    if (kind == S_IFLNK) {
        // Replaced by the real file, or skipped; never written through.
        SettlePending();
        // A retry while settling may have opened another folder in place of this one.
        if (!running_ || (folder = OpenDestinationFolder(destinationFolder_, true)) < 0 ||
            !SettleLink(target, entryPath_, folder))
            return;
    } else if (kind != 0) {
        if (conflictPolicy_ == ConflictPolicy::KeepExisting) return;
        if (conflictPolicy_ == ConflictPolicy::PromptEach) {
            SettlePending();
            if (!running_) return;
            const FileAnswer answer = ui_->AskFileExists(ui_->FitToProgressTo(target));
            if (answer.choice == FileAnswer::Choice::Stop) {
                AbortRestore();
                return;
            }
            if (answer.doNotAskAgain) conflictPolicy_ = PolicyForEveryFile(answer.choice);
            if (answer.choice != FileAnswer::Choice::Replace) return;
        }
    }

    if (zip_.IsClosed(true)) {
        ui_->PumpMessages();
        if (!OpenArchiveForRestore(currentArchiveNumber_)) {
            AbortRestore();
            return;
        }
    }
    PendingEntry entry;
    entry.index = zip_.FindEntryExactFirst(entryPath_);
    entry.entryPath = entryPath_;
    entry.folderPath = destinationFolder_;
    // The tree's own name (the entry may differ in letter case) and the exact time the tree
    // records: the entry's DOS time is local and has 2-second steps.
    entry.name = file.name;
    entry.target = target;
    entry.time = file.lastWriteTime;
    ZipEntryHeader header;
    const bool found = entry.index >= 0 && !zip_.IsFolderEntry(entry.index) && zip_.GetEntryInfo(header, entry.index);
    if (found) entry.size = header.uncompressedSize;
    // Links are made here, in order: later files of the walk must know of them.
    if (found && !header.IsLink() && restoreThreads_ > 1 && !zip_.IsMultiVolume()) {
        folder = OpenDestinationFolder(destinationFolder_, true);
        if (folder >= 0) {
            Dispatch(std::move(entry), folder);
            return;
        }
    }
    if (!found) entry.index = -1;
    SettlePending();
    if (running_) ExtractNow(entry);
}

void ArchiveSet::ExtractNow(const PendingEntry& entry) {
    for (;;) {
        std::string error;
        if (entry.index < 0) {
            error = MissingEntryText(entry);
        } else {
            std::exception_ptr failure;
            try {
                const int folder = OpenDestinationFolder(entry.folderPath, true);
                if (folder < 0) platform::ThrowFileError("open folder", entry.folderPath);
                ZipEntryHeader header;
                const bool link = zip_.GetEntryInfo(header, entry.index) && header.IsLink();
                if (zip_.ExtractEntryAt(entry.index, folder, entry.name, entry.target, &ArchiveSet::RestoreProgress,
                                        this, kRestoreBufferSize, entry.time)) {
                    if (link) restoredLinks_.insert(entry.target);
                    return;
                }
                if (!running_) return;  // stopped from the progress window
            } catch (...) {
                failure = std::current_exception();
            }
            error = ExtractionError(entry, failure);
        }
        if (!AskAboutError(error)) return;
    }
}

std::string ArchiveSet::MissingEntryText(const PendingEntry& entry) const {
    const std::string* archive = GetArchiveName(currentArchiveNumber_);
    return "The file " + ShownPath(entry.entryPath) + " is missing from archive " + (archive != nullptr ? *archive : "") +
           ": it could not be restored to " + entry.target + ".";
}

std::string ArchiveSet::ExtractionError(const PendingEntry& entry, const std::exception_ptr& failure) const {
    if (!failure) {
        const std::string* archive = GetArchiveName(currentArchiveNumber_);
        return "The file " + ShownPath(entry.entryPath) + " in archive " + (archive != nullptr ? *archive : "") +
               " could not be read completely: its data is cut short or cannot be opened. It could not be "
               "restored to " + entry.target + ".";
    }
    try {
        std::rethrow_exception(failure);
    } catch (const platform::FileError& e) {
        // About the target itself (or the temporary name the zip layer writes it under, which
        // the user knows nothing of): the reason alone.
        const bool aboutTarget = e.path() == entry.target || e.path().find(".halvex-extract-") != std::string::npos;
        if (e.operation() == "create link") {
            return NotRestoredText(entry.entryPath, entry.target,
                                   "it is a symbolic link, and the file system there did not take it (" +
                                       platform::OsErrorText(e.osError()) + ")");
        }
        return NotRestoredText(entry.entryPath, entry.target,
                               aboutTarget ? platform::OsErrorText(e.osError()) : DescribeError(e));
    } catch (const std::exception& e) {
        return NotRestoredText(entry.entryPath, entry.target, DescribeError(e));
    }
}

void ArchiveSet::Dispatch(PendingEntry entry, int folder) {
    ZipEntryHeader header;
    zip_.GetEntryInfo(header, entry.index);
    const std::uint64_t memory = EntryReadMemory(header, kRestoreBufferSize);
    if (!pool_) pool_ = std::make_unique<EntryPool>(zip_.GetArchivePath(), restoreThreads_);
    bool waited = false;
    while (running_ && !pool_->HasRoom(memory)) {
        SettleOldest(true);
        waited = true;
    }
    if (!running_) {
        SettlePending();
        return;
    }
    // Settling may have reopened another folder of the walk: this file's is opened again.
    if (waited) folder = OpenDestinationFolder(entry.folderPath, true);
    SubmitToPool(entry, folder, memory);
    pending_.push_back(std::move(entry));
    while (running_ && SettleOldest(false)) {
    }
    ShowPoolProgress();
    if (!running_) SettlePending();
}

void ArchiveSet::SubmitToPool(PendingEntry& entry, int folder, std::uint64_t memory) {
    // The task owns a descriptor of its own: the walk moves on to other folders meanwhile.
    auto handle = std::make_shared<FolderHandle>(folder >= 0 ? ::fcntl(folder, F_DUPFD_CLOEXEC, 0) : -1);
    const int openError = errno;
    entry.ticket = pool_->Submit(
        memory, [handle, openError, index = entry.index, name = entry.name, target = entry.target,
                 folderPath = entry.folderPath, time = entry.time](const EntryWork& work) {
            if (handle->Get() < 0) {
                errno = openError;
                platform::ThrowFileError("open folder", folderPath);
            }
            return work.zip.ExtractEntryAt(index, handle->Get(), name, target, work.progress, work.progressData,
                                           kRestoreBufferSize, time);
        });
}

bool ArchiveSet::SettleOldest(bool wait) {
    if (pending_.empty() || !pool_) return false;
    if (!running_) pool_->Cancel();
    std::optional<EntryOutcome> outcome = pool_->Take(pending_.front().ticket, std::chrono::milliseconds(wait ? 40 : 0));
    if (!outcome) {
        if (wait) ShowPoolProgress();
        return false;
    }
    PendingEntry entry = std::move(pending_.front());
    pending_.pop_front();
    if (outcome->complete) {
        bytesDone += entry.size;
        // The bar moves file by file in catalog order; the pump waits for ShowPoolProgress.
        const int position = ProgressBarPosition(ProgressFraction(bytesDone, bytesTotal_));
        if (position != barPosition_) ui_->SetProgressBar(position);
        barPosition_ = position;
        return true;
    }
    if (!running_ || outcome->cancelled) return true;
    ui_->SetProgressFrom(entry.entryPath);
    ui_->SetProgressTo(entry.folderPath);
    if (AskAboutError(ExtractionError(entry, outcome->error))) {
        const int folder = OpenDestinationFolder(entry.folderPath, true);
        ZipEntryHeader header;
        zip_.GetEntryInfo(header, entry.index);
        SubmitToPool(entry, folder, EntryReadMemory(header, kRestoreBufferSize));
        pending_.push_front(std::move(entry));
    } else if (!running_) {
        pool_->Cancel();
    }
    return true;
}

void ArchiveSet::SettlePending() {
    while (!pending_.empty()) SettleOldest(true);
}

void ArchiveSet::ShowPoolProgress() {
    const auto now = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    std::chrono::steady_clock::now().time_since_epoch())
                                                    .count());
    // Often enough for Cancel to answer at once, seldom enough to cost nothing.
    constexpr std::uint64_t kIntervalMs = 40;
    if (now - lastPoolProgress_ < kIntervalMs) return;
    lastPoolProgress_ = now;
    ShowProgress(bytesDone + (pool_ ? pool_->BytesInFlight() : 0), false);
}

void ArchiveSet::RestoreSubFolder(const FileTreeNode& folder) {
    // Nothing of a folder entry but its name is used, and a folder renumbered by a backup that
    // only removed files below it has no entry in that archive: the folder is made from the tree.
    const std::string target = JoinPath(destinationFolder_, folder.name);
    for (;;) {
        const int parent = OpenDestinationFolder(destinationFolder_, true);
        int osError = errno;
        if (parent >= 0) {
            if (::mkdirat(parent, folder.name, 0777) == 0) {
                folderPermissions_.Note(target, entryPath_);
                return;
            }
            osError = errno;
            if (osError == EEXIST && KindAt(parent, folder.name) == S_IFDIR) return;
            if (osError == EEXIST) osError = ENOTDIR;
        }
        SettlePending();
        if (!running_) return;
        if (!AskAboutError(NotRestoredText(target, FolderErrorText(osError)))) return;
    }
}

std::string ArchiveSet::NotRestoredText(const std::string& target, const std::string& why) const {
    return NotRestoredText(entryPath_, target, why);
}

std::string ArchiveSet::NotRestoredText(const std::string& entry, const std::string& target,
                                        const std::string& why) const {
    std::string text = "Could not restore " + ShownPath(entry) + " to " + target + ": " + why;
    if (text.back() != '.') text += '.';
    return text;
}

bool ArchiveSet::SettleLink(const std::string& path, const std::string& entry, int parent) {
    bool replace = conflictPolicy_ != ConflictPolicy::KeepExisting;
    if (conflictPolicy_ == ConflictPolicy::PromptEach) {
        const FileAnswer answer = ui_->AskFileExists(ui_->FitToProgressTo(path));
        if (answer.choice == FileAnswer::Choice::Stop) {
            AbortRestore();
            return false;
        }
        if (answer.doNotAskAgain) conflictPolicy_ = PolicyForEveryFile(answer.choice);
        replace = answer.choice == FileAnswer::Choice::Replace;
    }
    if (replace) {
        for (;;) {
            // The link itself goes, never what it points to.
            const int removed = parent >= 0 ? ::unlinkat(parent, platform::NameOfPath(path).c_str(), 0)
                                            : ::unlink(path.c_str());
            if (removed == 0 || errno == ENOENT) return true;
            const std::string error = "Could not remove the symbolic link '" + path + "': " + std::strerror(errno) + ".";
            if (!AskAboutError(error)) {
                skippedLinks_.insert(path);
                return false;
            }
        }
    }
    skippedLinks_.insert(path);
    ++skippedEntries_;
    ui_->ShowMessage("'" + path + "' is a symbolic link: it was kept, and " + ShownPath(entry) + " was not restored through it.",
                     "Skipped", MessageButtons::Ok, MessageOwner::ProgressWindow);
    return false;
}

void ArchiveSet::PassOverRestoredLink(const std::string& path, const std::string& entry) {
    ++skippedEntries_;
    ui_->ShowMessage("'" + path + "' is a symbolic link restored from the set: " + ShownPath(entry) +
                         " was not restored in its place or through it.",
                     "Skipped", MessageButtons::Ok, MessageOwner::ProgressWindow);
}

int ArchiveSet::NewestRestoreArchive() const {
    return newestArchive > 0 ? std::min(newestArchive, archiveCount_) : currentArchiveIndex_ + 1;
}

void ArchiveSet::ReportUnreachableEntries(const FileTreeNode* tree, const std::string& start) {
    const int lastArchive = NewestRestoreArchive();
    std::vector<std::pair<std::size_t, std::size_t>> lengths;
    std::string path = start;
    std::string destination = destinationPath;
    const auto report = [&](const std::string& entry, const std::string& target, int archive) {
        ++skippedEntries_;
        ui_->ShowMessage("The entry " + ShownPath(entry) + " is labelled with archive " + std::to_string(archive) +
                             ", which is not one of archives 1 to " + std::to_string(lastArchive) +
                             " of the set: it was not restored to " + target + ".",
                         "Error", MessageButtons::Ok, MessageOwner::ProgressWindow);
    };
    detail::WalkFolders(
        tree,
        [&](const FileTreeNode* folder) {
            lengths.emplace_back(path.size(), destination.size());
            if (folder != tree) {
                if (!path.empty()) path += '\\';
                path += folder->name;
                destination = JoinPath(destination, folder->name);
                if (folder->archiveNumber < 1 || folder->archiveNumber > lastArchive)
                    report(path, destination, folder->archiveNumber);
            }
            for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next) {
                if (file->archiveNumber >= 1 && file->archiveNumber <= lastArchive) continue;
                report(path.empty() ? std::string(file->name) : path + '\\' + file->name,
                       JoinPath(destination, file->name), file->archiveNumber);
            }
        },
        [&](const FileTreeNode*) {
            path.resize(lengths.back().first);
            destination.resize(lengths.back().second);
            lengths.pop_back();
        });
}

void ArchiveSet::ApplyFolderPermissions() {
    // Also after an abort: what was restored of a private folder stays private.
    const std::vector<std::string> failures = folderPermissions_.Apply();
    if (failures.empty()) return;
    std::string text;
    for (const std::string& line : failures) text += (text.empty() ? "" : "\n") + line;
    skippedEntries_ += static_cast<int>(failures.size());
    ui_->ShowMessage(LimitText(text, kExtractErrorLimit), "Error", MessageButtons::Ok, MessageOwner::ProgressWindow);
}

bool ArchiveSet::AskAboutError(const std::string& text) {
    const MessageAnswer answer = ui_->ShowMessage(LimitText(text, kExtractErrorLimit), "Error",
                                                  MessageButtons::AbortRetryIgnore, MessageOwner::ProgressWindow);
    if (answer == MessageAnswer::Retry) return true;
    if (answer == MessageAnswer::Ignore) {
        ++skippedEntries_;
        return false;
    }
    AbortRestore();
    return false;
}

bool ArchiveSet::OpenArchiveFile(const std::string& path, const std::string& shownAs, bool& retry,
                                 bool topLevelOnly) {
    try {
        if (topLevelOnly)
            zip_.OpenTopLevelOnly(path);
        else
            zip_.Open(path, ZipOpenReadOnly, 0);
        return true;
    } catch (const std::exception& error) {
        zip_.Close(true);
        std::string text = DescribeError(error);
        // An archive of the set is named as the set names it, not by its path in the set's folder.
        if (shownAs != path)
            for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + shownAs.size()))
                text.replace(at, path.size(), shownAs);
        const MessageAnswer answer = ui_->ShowMessage(LimitText(text, kOpenErrorLimit), "Error",
                                                      MessageButtons::RetryCancel, MessageOwner::MainWindow);
        retry = answer == MessageAnswer::Retry;
        return false;
    }
}

std::string ArchiveSet::CheckArchiveNumber(const std::string& path, int number) {
    const std::optional<int> own = ReadOwnArchiveNumber(zip_);
    if (own == number) return {};
    zip_.Close(true);
    const std::string name = platform::NameOfPath(path);
    if (own) {
        return name + " is archive " + std::to_string(*own) + " of its set, not archive " + std::to_string(number) +
               ": it cannot be used in its place.";
    }
    return name + " does not tell which archive of its set it is (its ToDirs.tq is missing or damaged): it cannot " +
           "be used as archive " + std::to_string(number) + ".";
}

bool ArchiveSet::OpenArchiveForRestore(int number, bool topLevelOnly) {
    const std::uint32_t start = tick_();
    const std::string* name = GetArchiveName(number);
    bool opened = false;
    CloseArchive();
    if (name != nullptr) {
        // A file under the archive's name that is another archive of the set (renamed or
        // copied) is treated as missing: its versions belong to another date.
        bool namedFileRefused = false;
        for (bool retry = true; retry && !opened;) {
            retry = false;
            const std::string path = ArchiveFileToOpen(number);
            if (!namedFileRefused && platform::PathExists(path)) {
                opened = OpenArchiveFile(path, platform::NameOfPath(path), retry, topLevelOnly);
                if (opened) {
                    const std::string refusal = CheckArchiveNumber(path, number);
                    if (!refusal.empty()) {
                        opened = false;
                        namedFileRefused = true;
                        retry = true;
                        ui_->ShowMessage(refusal, "Error", MessageButtons::Ok, MessageOwner::MainWindow);
                    }
                }
                continue;
            }
            // The archive is not where the set says: the user may know where it is.
            std::optional<std::string> chosen = ui_->ChooseArchiveFile(*name);
            if (!chosen) {
                retry = ui_->ShowMessage("Are you sure you want to abort?", "Abort?", MessageButtons::YesNo,
                                         MessageOwner::MainWindow) != MessageAnswer::Yes;
                continue;
            }
            opened = OpenArchiveFile(*chosen, *chosen, retry, topLevelOnly);
            if (opened) {
                const std::string refusal = CheckArchiveNumber(*chosen, number);
                if (!refusal.empty()) {
                    opened = false;
                    retry = ui_->ShowMessage(refusal, "Error", MessageButtons::RetryCancel, MessageOwner::MainWindow) ==
                            MessageAnswer::Retry;
                    continue;
                }
            }
            // Later archives are looked for beside the chosen one.
            if (opened) {
                NoteArchiveFolder(*chosen);
                folder_ = platform::FolderOfPath(*chosen);
            }
        }
    }
    startTick_ += tick_() - start;
    return opened;
}

void ArchiveSet::CloseArchive() { zip_.Close(true); }

void ArchiveSet::AbortRestore() {
    running_ = false;
    ui_->SetProgressFrom("Aborting...");
    ui_->SetProgressTo("Aborting...");
    ui_->SetTimeRemaining("Aborting...");
}

void ArchiveSet::FreeRestoreSelection(FileTreeNode* root) {
    if (root == nullptr) return;
    for (FileTreeNode* node = root->firstChild; node != nullptr;) {
        FileTreeNode* next = node->nextSibling;
        delete node;
        node = next;
    }
    for (FileTreeFile* file = root->files; file != nullptr;) {
        FileTreeFile* next = file->next;
        delete file;
        file = next;
    }
    delete root;
}

}  // namespace halvex

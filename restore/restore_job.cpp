// SPDX-License-Identifier: GPL-3.0-or-later
// The restore job: preparing the destination, then extracting a tree archive by archive.
#include "restore/restore_job.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_tree_walk.h"
#include "common/folder_utils.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "restore/archive_set.h"
#include "restore/restore_errors.h"
#include "restore/restore_progress.h"
#include "restore/set_records.h"
#include "zip/zip_extract_path.h"

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

}  // namespace

int ArchiveSet::PrepareDestination() {
    conflictPolicy_ = NoPolicy;
    destinationMade_ = false;
    if (destinationPath.size() > 1 && destinationPath.back() == '/') destinationPath.pop_back();
    if (!destinationPath.empty() && SomethingExists(destinationPath)) {
        const int answer = ui_->AskDirectoryExists(destinationPath);
        if (answer < KeepExisting || answer > RenameFolder) return kDestinationCancelled;
        conflictPolicy_ = static_cast<std::uint8_t>(answer);
        if (answer == RenameFolder) {
            if (!RenameToBackupName(destinationPath)) {
                ui_->ShowMessage("Could not rename directory", "Error", MessageButtons::Ok, MessageOwner::MainWindow);
                return kDestinationNotRenamed;
            }
            conflictPolicy_ = PromptEach;
        }
    }
    // A link where the destination folder goes is not followed: kept, it leaves nothing to
    // restore into.
    if (!destinationPath.empty() && IsSymbolicLink(destinationPath) && !SettleLink(destinationPath))
        return kDestinationCancelled;
    destinationMade_ = !destinationPath.empty() && !SomethingExists(destinationPath);
    if (!destinationPath.empty()) CreateParentFolders(destinationPath + "/");
    if (destinationPath.empty() || !platform::IsDirectory(destinationPath)) {
        ui_->ShowMessage("Could not create destination directory", "Error", MessageButtons::Ok,
                         MessageOwner::MainWindow);
        return kDestinationNotCreated;
    }
    return kDestinationReady;
}

int ArchiveSet::RestoreTree(const FileTreeNode* tree) {
    ui_->OpenProgress([this] { OnCancelRequest(); });
    running_ = true;
    skippedLinks_.clear();
    bytesTotal_ = tree != nullptr ? tree->totalSize : 0;
    startTick_ = tick_();
    // A selection of nothing but empty files shows a full bar.
    ui_->SetProgressBar(ProgressBarPosition(ProgressFraction(bytesDone, bytesTotal_)));
    std::string start = sourcePath;
    while (!start.empty() && start.back() == '\\') start.pop_back();
    folderPermissions_.Clear();
    // A destination made for this restore stands for the folder where it starts.
    if (destinationMade_ && !start.empty()) folderPermissions_.Note(destinationPath, start);
    destinationMade_ = false;
    try {
        if (tree != nullptr) ReportUnreachableEntries(tree, start);
        for (currentArchiveNumber_ = currentArchiveIndex_ + 1; currentArchiveNumber_ >= 1 && running_;
             --currentArchiveNumber_) {
            entryPath_ = start;
            destinationFolder_ = destinationPath;
            if (tree != nullptr) RestoreFolder(tree);
            folderPermissions_.LookUp(zip_);
            CloseArchive();
        }
    } catch (const std::exception& error) {
        // Whatever ends the restore, the archive is closed and the progress window goes.
        CloseArchive();
        running_ = false;
        ui_->ShowMessage(ErrorText(error), "Error", MessageButtons::Ok, MessageOwner::ProgressWindow);
    }
    ApplyFolderPermissions();
    ui_->CloseProgress();
    bytesDone = 0;
    if (running_) {
        running_ = false;
        return kRestoreCompleted;
    }
    return kRestoreAborted;
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
        if (IsSymbolicLink(folder) && !SettleLink(folder)) continue;
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
    if (IsSymbolicLink(target)) {
        // Replaced by the real file, or skipped; never written through.
        if (!SettleLink(target)) return;
    } else if (SomethingExists(target)) {
        if (conflictPolicy_ == KeepExisting) return;
        if (conflictPolicy_ == PromptEach) {
            const int answer = ui_->AskFileExists(ui_->FitToProgressTo(target));
            if (answer == 0) {
                AbortRestore();
                return;
            }
            // A negative answer: "Do not ask me again." was ticked.
            if (answer < 0) conflictPolicy_ = static_cast<std::uint8_t>(-answer);
            if (std::abs(answer) != ReplaceExisting) return;
        }
    }

    if (zip_.IsClosed(true)) {
        ui_->PumpMessages();
        if (!OpenArchiveForRestore(currentArchiveNumber_)) {
            AbortRestore();
            return;
        }
    }
    const std::string* archive = GetArchiveName(currentArchiveNumber_);
    const std::string archiveName = archive != nullptr ? *archive : std::string();
    for (;;) {
        std::string error;
        const int index = zip_.FindEntryExactFirst(entryPath_);
        if (index < 0 || zip_.IsFolderEntry(index)) {
            error = "The file " + entryPath_ + " is missing from archive " + archiveName + ".";
        } else {
            try {
                // The tree's own name (the entry may differ in letter case) and the exact time
                // the tree records: the entry's DOS time is local and has 2-second steps.
                if (zip_.ExtractEntry(index, destinationFolder_, false, file.name, &ArchiveSet::RestoreProgress,
                                      this, kRestoreBufferSize, file.lastWriteTime))
                    return;
                if (!running_) return;  // stopped from the progress window
                error = "The file " + entryPath_ + " in archive " + archiveName +
                        " could not be read completely: its data is cut short or cannot be opened.";
            } catch (const std::exception& e) {
                error = ErrorText(e);
            }
        }
        if (!AskAboutError(error)) return;
    }
}

void ArchiveSet::RestoreSubFolder(const FileTreeNode& folder) {
    // Nothing of a folder entry but its name is used, and a folder renumbered by a backup that
    // only removed files below it has no entry in that archive: the folder is made from the tree.
    const std::string target = JoinPath(destinationFolder_, folder.name);
    const bool made = !SomethingExists(target);
    for (;;) {
        errno = 0;
        if (CreateFolderPath(target)) {
            if (made) folderPermissions_.Note(target, entryPath_);
            return;
        }
        const int osError = errno;
        std::string error = "Could not create the folder '" + target + "'";
        if (osError != 0) error += std::string(": ") + std::strerror(osError);
        error += '.';
        if (!AskAboutError(error)) return;
    }
}

bool ArchiveSet::SettleLink(const std::string& path) {
    int answer = conflictPolicy_ == KeepExisting ? 1 : ReplaceExisting;
    if (conflictPolicy_ == PromptEach) {
        answer = ui_->AskFileExists(ui_->FitToProgressTo(path));
        if (answer == 0) {
            AbortRestore();
            return false;
        }
        // A negative answer: "Do not ask me again." was ticked.
        if (answer < 0) conflictPolicy_ = static_cast<std::uint8_t>(-answer);
        answer = std::abs(answer);
    }
    if (answer == ReplaceExisting) {
        for (;;) {
            // The link itself goes, never what it points to.
            if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
            const std::string error = "Could not remove the symbolic link '" + path + "': " + std::strerror(errno) + ".";
            if (!AskAboutError(error)) {
                skippedLinks_.insert(path);
                return false;
            }
        }
    }
    skippedLinks_.insert(path);
    ++skippedEntries_;
    ui_->ShowMessage("'" + path + "' is a symbolic link: it was kept, and nothing was restored through it.",
                     "Skipped", MessageButtons::Ok, MessageOwner::ProgressWindow);
    return false;
}

void ArchiveSet::ReportUnreachableEntries(const FileTreeNode* tree, const std::string& start) {
    const int lastArchive = currentArchiveIndex_ + 1;
    std::vector<std::size_t> lengths;
    std::string path = start;
    const auto report = [&](const std::string& entry, int archive) {
        ++skippedEntries_;
        ui_->ShowMessage("The entry " + entry + " is labelled with archive " + std::to_string(archive) +
                             ", which is not one of archives 1 to " + std::to_string(lastArchive) +
                             " of the set: it was skipped.",
                         "Error", MessageButtons::Ok, MessageOwner::ProgressWindow);
    };
    detail::WalkFolders(
        tree,
        [&](const FileTreeNode* folder) {
            lengths.push_back(path.size());
            if (folder != tree) {
                if (!path.empty()) path += '\\';
                path += folder->name;
                if (folder->archiveNumber < 1 || folder->archiveNumber > lastArchive) report(path, folder->archiveNumber);
            }
            for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next) {
                if (file->archiveNumber >= 1 && file->archiveNumber <= lastArchive) continue;
                report(path.empty() ? std::string(file->name) : path + '\\' + file->name, file->archiveNumber);
            }
        },
        [&](const FileTreeNode*) {
            path.resize(lengths.back());
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

bool ArchiveSet::OpenArchiveFile(const std::string& path, const std::string& shownAs, bool& retry) {
    try {
        zip_.Open(path, ZipOpenReadOnly, 0);
        return true;
    } catch (const std::exception& error) {
        zip_.Close(true);
        std::string text = ErrorText(error);
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

bool ArchiveSet::OpenArchiveForRestore(int number) {
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
                opened = OpenArchiveFile(path, platform::NameOfPath(path), retry);
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
            opened = OpenArchiveFile(*chosen, *chosen, retry);
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
            if (opened) folder_ = platform::FolderOfPath(*chosen);
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

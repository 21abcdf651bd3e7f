// SPDX-License-Identifier: GPL-3.0-or-later
// The open set: reading it from one archive, its archive names and backup dates.
#include "restore/archive_set.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <span>

#include "common/archive_naming.h"
#include "common/folder_utils.h"
#include "common/memory_allowance.h"
#include "platform/directory_listing.h"
#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/nocase.h"
#include "platform/tick.h"
#include "restore/restore_errors.h"
#include "restore/set_records.h"
#include "zip/zip_exception.h"

namespace halvex {

namespace {

// Answers every question of a restore with Cancel / Abort and shows nothing: what the set
// does when no user interface has been given to it.
class SilentRestoreUi final : public RestoreUi {
public:
    DirectoryAnswer AskDirectoryExists(const DirectoryQuestion&) override { return DirectoryAnswer::Cancel; }
    FileAnswer AskFileExists(const std::string&) override { return {FileAnswer::Choice::Stop}; }
    void OpenProgress(std::function<void()>) override {}
    void CloseProgress() override {}
    void SetProgressFrom(const std::string&) override {}
    void SetProgressTo(const std::string&) override {}
    void SetTimeRemaining(const std::string&) override {}
    void SetProgressBar(int) override {}
    std::string FitToProgressTo(const std::string& path) override { return path; }
    MessageAnswer ShowMessage(const std::string&, const std::string&, MessageButtons buttons,
                              MessageOwner) override {
        switch (buttons) {
        case MessageButtons::Ok: return MessageAnswer::Ok;
        case MessageButtons::YesNo: return MessageAnswer::Yes;  // "abort?" questions: yes
        case MessageButtons::AbortRetryIgnore: return MessageAnswer::Abort;
        default: return MessageAnswer::Cancel;
        }
    }
    std::optional<std::string> ChooseArchiveFile(const std::string&) override { return std::nullopt; }
    bool PumpMessages() override { return false; }
};

SilentRestoreUi silentUi;

// The length of the opened file's ".TQBak", in whatever letter case it is spelled; 0 when
// its name does not end with it.
std::size_t ExtensionLength(std::string_view fileName) {
    const std::size_t extension = kArchiveExtension.size();
    if (fileName.size() < extension ||
        !platform::EqualNoCase(fileName.substr(fileName.size() - extension), kArchiveExtension))
        return 0;
    return extension;
}

// The base from which the set's archive names are made: the opened file's name less its
// ".TQBak" and, for archive 2 and later, less the number that names it.
std::string DeriveBaseName(const std::string& fileName, int archiveCount) {
    std::string base = fileName;
    base.resize(base.size() - ExtensionLength(fileName));
    if (archiveCount >= 2) {
        const std::string number = std::to_string(archiveCount);
        if (base.size() >= number.size() && base.compare(base.size() - number.size(), number.size(), number) == 0)
            base.resize(base.size() - number.size());
    }
    return base;
}

// Archive `number`'s name with the extension spelled as the opened file spells it
// (a set copied as JOB.TQBAK, JOB2.TQBAK keeps that spelling).
std::string ArchiveNameLike(const std::string& base, int number, const std::string& openedName) {
    std::string name = MakeArchiveFileName(base, number);
    const std::size_t extension = ExtensionLength(openedName);
    if (extension != 0) name.replace(name.size() - extension, extension, openedName.substr(openedName.size() - extension));
    return name;
}

}  // namespace

ArchiveSet::ArchiveSet() : ui_(&silentUi), tick_(platform::TickCountMs), restoreThreads_(RestoreThreadCount()) {}

ArchiveSet::~ArchiveSet() { zip_.Close(true); }

void ArchiveSet::SetUi(RestoreUi* ui) { ui_ = ui != nullptr ? ui : &silentUi; }

void ArchiveSet::SetTickSource(std::function<std::uint32_t()> tick) {
    tick_ = tick ? std::move(tick) : std::function<std::uint32_t()>(platform::TickCountMs);
}

void ArchiveSet::Clear() {
    zip_.Close(true);
    ClearTargetTrees();
    targets_.clear();
    keptHistories_.clear();
    dates_.clear();
    archiveNames_.clear();
    folder_.clear();
    archiveFolders_.clear();
    archiveBaseName_.clear();
    archiveCount_ = 0;
    dateCount_ = 0;
    currentArchiveIndex_ = 0;
    historiesTaken_ = false;
}

bool ArchiveSet::OpenSet(const std::string& path) { return Open(path, SetRead::Trees); }

bool ArchiveSet::OpenSetDatesOnly(const std::string& path) { return Open(path, SetRead::DatesOnly); }

bool ArchiveSet::OpenSetForOneDate(const std::string& path) { return Open(path, SetRead::OneDate); }

bool ArchiveSet::Open(const std::string& path, SetRead read) {
    Clear();
    openFailureDetail_.clear();
    openFailureReason_.clear();
    // `otherwise` names an error that is not one of the file itself.
    auto noteFailure = [this](const std::exception& error, const char* otherwise) {
        const auto* file = dynamic_cast<const platform::FileError*>(&error);
        // The archive or one of its parts is a fifo, device or folder.
        if (file != nullptr && file->osError() == platform::kNotRegularFile) openFailureDetail_ = DescribeError(*file);
        if (file == nullptr) {
            openFailureReason_ = otherwise;
            return;
        }
        // "permission denied", "not a regular file", "no such file or directory", ...
        openFailureReason_ = platform::OsErrorText(file->osError());
        if (!openFailureReason_.empty() && openFailureReason_[0] >= 'A' && openFailureReason_[0] <= 'Z')
            openFailureReason_[0] = static_cast<char>(openFailureReason_[0] - 'A' + 'a');
    };
    try {
        // Only the set's bookkeeping is read here: the catalog need not hold the stored files.
        zip_.OpenTopLevelOnly(path);
    } catch (const std::exception& error) {
        // Not readable as a zip archive at all.
        noteFailure(error, "not a set");
        zip_.Close(true);
        return false;
    }
    // Before reading: a relative path names a file of the folder the program is in now.
    NoteArchiveFolder(path);
    bool ok = false;
    // The trees of every history together; a crafted history of a few kilobytes can describe
    // more folders than the machine has memory for. The trees at a date, built from them,
    // take at most as much again.
    MemoryAllowance allowance(MemoryLimitBytes() / 2);
    try {
        ok = ReadSet(path, read);
    } catch (const std::exception& error) {
        // A damaged entry (zip error, CRC mismatch), a read error of the disc, or a history too
        // large for memory: the set cannot be used.
        noteFailure(error, "damaged");
        ok = false;
    }
    if (!ok && allowance.Exceeded()) {
        openFailureDetail_ = TooLargeToOpenMessage(path);
        openFailureReason_ = "too large";
    }
    if (!ok && openFailureReason_.empty()) openFailureReason_ = readFailure_;
    if (!ok) {
        zip_.Close(true);
        Clear();
        return false;
    }
    return true;
}

void ArchiveSet::NoteArchiveFolder(const std::string& path) {
    const std::string folder = platform::FolderOfPath(path);
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (resolved == nullptr) return;
    const std::string real = resolved;
    std::free(resolved);
    if (std::find(archiveFolders_.begin(), archiveFolders_.end(), real) == archiveFolders_.end())
        archiveFolders_.push_back(real);
}

bool ArchiveSet::ReadSet(const std::string& path, SetRead read) {
    // A zip archive without the set's bookkeeping is some other archive; past this point a
    // record that cannot be read is damage.
    readFailure_ = "not a set";
    const int toDirsIndex = FindBookkeepingEntry(zip_, "ToDirs.tq");
    if (toDirsIndex < 0) return false;
    readFailure_ = "damaged";
    // Later archives of the set are looked for beside this one.
    folder_ = platform::FolderOfPath(path);

    std::uint64_t budget = kMaxBookkeepingBytes;
    const auto toDirsBytes = ReadBookkeepingEntry(zip_, toDirsIndex, budget);
    if (!toDirsBytes) return false;
    // Every target needs a history entry of its own.
    auto toDirs = ParseToDirs(*toDirsBytes, zip_.GetEntryCount());
    if (!toDirs) return false;
    archiveCount_ = toDirs->archiveCount;
    const std::string fileName = platform::NameOfPath(zip_.GetArchivePath());
    archiveBaseName_ = DeriveBaseName(fileName, archiveCount_);

    targets_.resize(toDirs->targetNames.size());
    // Every history is read before any is parsed, so that the archive's catalog (a record for
    // each file it stores) is gone before the trees are built.
    std::vector<std::vector<unsigned char>> histories(targets_.size());
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        BackupTarget& target = targets_[i];
        target.targetName = std::move(toDirs->targetNames[i]);
        const int historyIndex = FindBookkeepingEntry(zip_, target.targetName + ".tq");
        if (historyIndex < 0) return false;
        auto history = ReadBookkeepingEntry(zip_, historyIndex, budget);
        if (!history) return false;
        histories[i] = std::move(*history);
    }
    zip_.Close(true);  // opened read-only: nothing to write

    for (std::size_t i = 0; i < targets_.size(); ++i) {
        BackupTarget& target = targets_[i];
        const bool parsed =
            ParseHistory(i, histories[i], read == SetRead::Trees ? HistoryRead::Trees : HistoryRead::DatesOnly);
        if (read != SetRead::OneDate) std::vector<unsigned char>().swap(histories[i]);
        if (!parsed) return false;
        if (target.backupCount >= dateCount_) {
            dateCount_ = target.backupCount;
            dates_ = target.backupTimes;
        }
    }

    archiveNames_.reserve(archiveCount_);
    for (int number = 1; number <= archiveCount_; ++number)
        archiveNames_.push_back(ArchiveNameLike(archiveBaseName_, number, fileName));
    // The opened file is the last archive whatever its name says.
    archiveNames_.back() = fileName;
    historiesTaken_ = read != SetRead::Trees;
    if (read == SetRead::OneDate) keptHistories_ = std::move(histories);
    return true;
}

bool ArchiveSet::ParseHistory(std::size_t i, std::span<const unsigned char> bytes, HistoryRead read) {
    BackupTarget& target = targets_[i];
    if (!ParseTargetHistory(bytes, archiveCount_, target, read)) return false;
    // A target with fewer backups than the set has archives joined the set later: its
    // backups lie in the newest archives.
    const int delta = archiveCount_ - target.backupCount;
    if (delta != 0 && read == HistoryRead::Trees) {
        for (int k = 0; k < target.backupCount; ++k) {
            AddToArchiveNumbers(target.removedTrees[k].get(), delta);
            AddToArchiveNumbers(target.addedTrees[k].get(), delta);
        }
    }
    return true;
}

bool ArchiveSet::RestoreHistories() {
    if (!historiesTaken_) return true;
    if (keptHistories_.empty() || keptHistories_.size() != targets_.size()) return false;
    for (std::size_t i = 0; i < targets_.size(); ++i)
        if (!ParseHistory(i, keptHistories_[i], HistoryRead::Trees)) return false;
    historiesTaken_ = false;
    return true;
}

const std::string* ArchiveSet::GetArchiveName(int number) const {
    if (number < 1 || number > static_cast<int>(archiveNames_.size())) return nullptr;
    return &archiveNames_[number - 1];
}

std::string ArchiveSet::ArchiveFileToOpen(int number) const {
    const std::string* name = GetArchiveName(number);
    if (name == nullptr) return {};
    const std::string path = PathInFolder(folder_, *name);
    if (platform::PathExists(path)) return path;
    // Copies from discs and other systems may spell names in another letter case: the first
    // such file in name order stands in (its own ToDirs.tq still has to give the number).
    platform::DirectoryListing listing(folder_);
    platform::DirEntry entry;
    std::string found;
    while (listing.Next(entry)) {
        if (entry.kind != platform::EntryKind::RegularFile || !platform::EqualNoCase(entry.name, *name)) continue;
        if (found.empty() || entry.name < found) found = entry.name;
    }
    return found.empty() ? path : PathInFolder(folder_, found);
}

std::optional<std::string> FindNewestArchive(const std::string& folder) {
    platform::DirectoryListing listing(folder);
    std::vector<platform::DirEntry> archives;
    platform::DirEntry entry;
    while (listing.Next(entry)) {
        if (entry.kind != platform::EntryKind::RegularFile) continue;
        const std::size_t extension = kArchiveExtension.size();
        if (entry.name.size() <= extension) continue;
        if (!platform::EqualNoCase(std::string_view(entry.name).substr(entry.name.size() - extension),
                                   kArchiveExtension))
            continue;
        archives.push_back(entry);
    }
    if (archives.empty()) return std::nullopt;
    // The listing's own order is arbitrary on this platform: name order makes "the first one
    // listed" the same every time.
    std::sort(archives.begin(), archives.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
    const platform::DirEntry* newest = &archives.front();
    for (const auto& candidate : archives) {
        if (candidate.lastWriteTime > newest->lastWriteTime) newest = &candidate;
    }
    return folder == "." ? newest->name : folder + "/" + newest->name;
}

bool ArchiveSet::OpenNewestArchive(const std::string& folder, bool* opened) {
    if (opened != nullptr) *opened = false;
    const std::optional<std::string> newest = FindNewestArchive(folder);
    if (!newest) return false;
    const bool ok = OpenSet(*newest);
    if (opened != nullptr) *opened = ok;
    return true;
}

}  // namespace halvex

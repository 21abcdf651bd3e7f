// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/burn/copy_to_cd_task.h"

#include <algorithm>
#include <zlib.h>

#include "backup/burn/burn_messages.h"
#include "backup/burn/cd_burner.h"
#include "backup/run_messages.h"
#include "common/archive_naming.h"
#include "common/file_tree_ptr.h"
#include "common/program_names.h"
#include "platform/directory_listing.h"
#include "platform/file.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/file_time.h"
#include "platform/nocase.h"
#include "platform/process.h"

#ifndef HALVEX_DATA_FROM_BINDIR
#define HALVEX_DATA_FROM_BINDIR "../share/halvex"
#endif

namespace halvex {

bool IsArchiveOfSet(std::string_view fileName, std::string_view baseName) {
    const std::string_view extension = kArchiveExtension;
    if (fileName.size() < baseName.size() + extension.size() || fileName.substr(0, baseName.size()) != baseName ||
        fileName.substr(fileName.size() - extension.size()) != extension)
        return false;
    const std::string_view number = fileName.substr(baseName.size(), fileName.size() - baseName.size() - extension.size());
    if (number.empty()) return true;
    // The numbers the run gives: 2 and up, without leading zeros.
    if (number.front() == '0' || !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return number.size() > 1 || number.front() >= '2';
}

namespace {

const std::string kError(kErrorCaption);

std::string AbsoluteFolder(const std::string& folder) {
    if (!folder.empty() && folder.front() == '/') return folder;
    const std::string current = platform::CurrentFolder();
    return folder.empty() || folder == "." ? current : current + "/" + folder;
}

// Size and CRC-32 of a local file; none when it cannot be read whole.
std::optional<FileDigest> LocalDigest(const std::string& path) {
    platform::File file;
    if (!file.TryOpen(path, platform::File::Mode::Read)) return std::nullopt;
    FileDigest digest;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<unsigned char> buffer(1 << 16);
    try {
        for (;;) {
            const std::size_t got = file.Read(buffer.data(), buffer.size());
            if (got == 0) break;
            crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
            digest.size += got;
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    digest.crc = static_cast<std::uint32_t>(crc);
    return digest;
}

}  // namespace

std::string InstalledDataFolder(const std::string& programFolder) {
    return programFolder + "/" + HALVEX_DATA_FROM_BINDIR;
}

namespace {

// A lone folder node of the disc layout: its path and the names of its files, in order.
FileTreePtr LayoutFolder(const std::string& path, const std::vector<std::string>& names) {
    FileTreePtr folder(NewFolderNode(path));
    FileTreeFile** tail = &folder->files;
    for (const std::string& name : names) {
        *tail = NewFileNode(name, 0, 0);
        tail = &(*tail)->next;
    }
    return folder;
}

class Task {
public:
    Task(bool startBrandNew, BackupView& view, const CopyToCdSettings& settings)
        : startBrandNew_(startBrandNew), view_(view), settings_(settings) {
        programFolder_ = settings.programFolder;
        if (programFolder_.empty()) programFolder_ = platform::FolderOfPath(platform::ExecutablePath());
    }

    std::vector<std::string> Run(const JobConfig& config, const std::vector<int>& flags) {
        const std::vector<Job>& jobs = config.jobs;
        config_ = &config;
        auto toDisc = [&](std::size_t j) { return j < flags.size() && (flags[j] & JobCopyToCd) != 0; };
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            const Job& job = jobs[j];
            if (!toDisc(j)) continue;
            if (!CopyJob(job)) {
                // The burner could not be had: no later job is burned either.
                for (std::size_t k = j; k < jobs.size(); ++k)
                    if (toDisc(k)) NotCopied(jobs[k]);
                break;
            }
        }
        if (burner_ && connected_) {
            if (!endedEarly_) view_.SetText(ProgressText::Status, std::string(kUnloadingConnectionText));
            burner_->CloseRecorder();
            burner_->Disconnect();
        }
        burner_.reset();
        return std::move(notCopied_);
    }

private:
    void NotCopied(const Job& job) { notCopied_.push_back(FillIn(kNotCopiedToDiscFormat, {job.name})); }
    void Message(std::string_view text, std::string_view caption) {
        view_.ShowMessage(std::string(text), std::string(caption), MessageButtons::Ok);
    }

    // False when the task has to end (the burner could not be connected or opened).
    bool CopyJob(const Job& job) {
        view_.SetText(ProgressText::CurrentJob, job.name);
        view_.SetText(ProgressText::TimeRemaining, std::string(kUnknownTimeText));
        // A base without a folder names archives in the job file's folder.
        const std::string archiveFolder = AbsoluteFolder(platform::FolderOfPath(config_->PathOf(job.archiveBaseName)));
        const std::string baseName = platform::NameOfPath(job.archiveBaseName);
        std::vector<std::string> archives;
        platform::DirectoryListing listing;
        if (listing.Open(archiveFolder)) {
            platform::DirEntry entry;
            while (listing.Next(entry))
                if (entry.kind == platform::EntryKind::RegularFile && IsArchiveOfSet(entry.name, baseName))
                    archives.push_back(entry.name);
        }
        if (archives.empty()) {
            Message(std::string(kNoArchivesFoundText) + job.name, kError);
            return true;
        }
        if (settings_.prompt == DiscPrompt::Skip) {
            NotCopied(job);
            return true;
        }
        if (!connected_ && !ConnectBurner()) return false;
        view_.SetText(ProgressText::Status, std::string(kWaitingForCdText));
        if (!AcceptDisc(job, baseName)) {
            NotCopied(job);
            return true;
        }

        FileTreePtr layout = LayoutFolder(archiveFolder, archives);
        if (RestoreProgramNeeded()) {
            std::vector<std::string> programs{std::string(kRestoreProgramName)};
            const std::string dataFolder = InstalledDataFolder(programFolder_);
            FileTreePtr autorun;
            if (platform::IsRegularFile(programFolder_ + "/" + kAutorunFileName))
                programs.push_back(kAutorunFileName);
            else if (platform::IsRegularFile(dataFolder + "/" + kAutorunFileName))
                autorun = LayoutFolder(dataFolder, {kAutorunFileName});
            layout->nextSibling = LayoutFolder(programFolder_, programs).release();
            layout->nextSibling->nextSibling = autorun.release();
        }
        try {
            if (burner_->BurnFolders(layout.get(), job.cdName) == BurnResult::NoRecorder) {
                Message(kCouldNotInitBurnerText, kError);
                NotCopied(job);
                return true;
            }
        } catch (const BurnError& error) {
            Message(error.what(), kBurnErrorCaption);
            NotCopied(job);
            return true;
        }
        // The archives leave the backup folder only once the disc is seen to hold them whole.
        std::string unverified;
        for (const std::string& name : archives) {
            const std::optional<FileDigest> local = LocalDigest(archiveFolder + "/" + name);
            const std::optional<FileDigest> onDisc = burner_->DiscFileDigest(name);
            if (!local || !onDisc || *local != *onDisc) unverified += name + "\n";
        }
        if (!unverified.empty()) {
            unverified.pop_back();
            Message(FillIn(kNotVerifiedFormat, {job.name, unverified}), kError);
            NotCopied(job);
            return true;
        }
        if (settings_.prompt != DiscPrompt::DiscReady) burner_->Eject();
        for (const std::string& name : archives) platform::DeleteFile(archiveFolder + "/" + name);
        return true;
    }

    bool ConnectBurner() {
        view_.SetText(ProgressText::Status, std::string(kInitializingConnectionText));
        burner_ = settings_.makeBurner ? settings_.makeBurner() : std::make_unique<CdBurner>();
        connected_ = true;  // closed and disconnected at the end whatever the answers
        endedEarly_ = true;
        if (burner_->Connect() != ConnectResult::Connected) {
            Message(kCouldNotConnectText, kError);
            return false;
        }
        if (burner_->OpenRecorder() != RecorderResult::Open) {
            Message(kCouldNotInitBurnerText, kError);
            return false;
        }
        endedEarly_ = false;
        burner_->SetProgress({[this](int minimum, int maximum) { view_.SetProgressRange(minimum, maximum); },
                              [this](int position) { view_.SetProgressPosition(position); },
                              [this](const std::string& text) { view_.SetText(ProgressText::Status, text); }});
        return true;
    }

    // The disc loop: true once a disc is accepted, false when the job is left.
    bool AcceptDisc(const Job& job, const std::string& baseName) {
        const bool ready = settings_.prompt == DiscPrompt::DiscReady;
        for (;;) {
            const std::string prompt = std::string(kInsertCdText) + job.name;
            if (ready) {
                view_.ShowMessage(prompt, std::string(kLoadCdCaption), MessageButtons::Ok);
            } else {
                burner_->Eject();
                if (view_.ShowMessage(prompt, std::string(kLoadCdCaption), MessageButtons::OkCancel) !=
                    MessageAnswer::Ok)
                    return false;
            }
            burner_->Load();
            const DiscState writable = burner_->DiscWritableState();
            if (writable == DiscState::Unknown) {
                if (ready) {
                    Message(kNoDiscInformationText, kError);
                    return false;
                }
                continue;
            }
            if (writable == DiscState::NotWritable) {
                Message(kNotWritableText, kNotWritableCaption);
                if (ready) return false;
                continue;
            }
            const std::string label = burner_->VolumeLabel();
            if (!label.empty() && !platform::EqualNoCase(label, CutVolumeId(job.cdName.value_or("")))) {
                if (ready) {
                    Message(kLabelMismatchNotice, kLoadCdCaption);
                    return false;
                }
                if (view_.ShowMessage(std::string(kLabelMismatchText), std::string(kLoadCdCaption),
                                      MessageButtons::YesNo) != MessageAnswer::Yes)
                    continue;
            }
            if (startBrandNew_) {
                const std::vector<DiscFile> root = burner_->DriveRoot();
                if (std::any_of(root.begin(), root.end(),
                                [&](const DiscFile& f) { return IsArchiveOfSet(f.name, baseName); })) {
                    Message(kOldBackupsOnDiscText, kError);
                    if (ready) return false;
                    continue;
                }
            }
            return true;
        }
    }

    // Whether the restore program goes onto the disc: it is in the program folder, and the
    // disc lacks it or holds a copy of another time (to the second).
    bool RestoreProgramNeeded() {
        const std::string local = programFolder_ + "/" + std::string(kRestoreProgramName);
        platform::FileTime localTime = 0;
        if (!platform::IsRegularFile(local) || !platform::GetLastWriteTime(local, localTime)) return false;
        for (const DiscFile& f : burner_->DriveRoot())
            if (f.name == kRestoreProgramName)
                return platform::UnixSecondsFromFileTime(f.lastWriteTime) !=
                       platform::UnixSecondsFromFileTime(localTime);
        return true;
    }

    bool startBrandNew_;
    BackupView& view_;
    const CopyToCdSettings& settings_;
    std::string programFolder_;
    std::unique_ptr<DiscBurner> burner_;
    const JobConfig* config_ = nullptr;
    bool connected_ = false;
    bool endedEarly_ = false;
    std::vector<std::string> notCopied_;
};

}  // namespace

std::vector<std::string> CopyToCdTask(const JobConfig& config, const std::vector<int>& jobFlags, bool startBrandNew,
                                      BackupView& view, const CopyToCdSettings& settings) {
    return Task(startBrandNew, view, settings).Run(config, jobFlags);
}

}  // namespace halvex

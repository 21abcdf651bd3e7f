// SPDX-License-Identifier: GPL-3.0-or-later
// The off-site copies that follow a saved run: each job with a copyto: place gets the archives
// of its set that the place lacks, then checked.
#include <algorithm>
#include <cstdlib>

#include "backup/backup_engine.h"
#include "backup/run_log.h"
#include "backup/run_messages.h"
#include "common/archive_naming.h"
#include "common/offsite_copy.h"
#include "platform/directory_listing.h"
#include "platform/file_operations.h"

namespace halvex {
namespace {

// The archive files of the set with this base (a path), oldest first.
std::vector<std::string> ArchivesOfSet(const std::string& base) {
    const std::string baseName = platform::NameOfPath(base);
    std::vector<std::pair<int, std::string>> numbered;
    platform::DirectoryListing listing;
    if (listing.Open(platform::FolderOfPath(base))) {
        platform::DirEntry entry;
        while (listing.Next(entry)) {
            if (entry.kind != platform::EntryKind::RegularFile || !IsArchiveOfSet(entry.name, baseName)) continue;
            const std::size_t digits = entry.name.size() - baseName.size() - kArchiveExtension.size();
            const int number = digits == 0 ? 1 : std::atoi(entry.name.substr(baseName.size(), digits).c_str());
            numbered.emplace_back(number, entry.name);
        }
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> names;
    for (auto& [number, name] : numbered) names.push_back(std::move(name));
    return names;
}

}  // namespace

void BackupEngine::CopyJobsOffsite() {
    const bool anyOffsite = std::any_of(config_.jobs.begin(), config_.jobs.end(), [](const Job& job) {
        return job.copyTo && (job.flags & JobSelected) != 0;
    });
    if (!anyOffsite) return;
    // The run is saved: a cancel from here on stops the copy only.
    copyingOffsite_ = true;
    control_.EndUninterruptible();
    view_->EnableCancel(true);
    std::vector<std::string> logBlocks;  // one per job
    for (const Job& job : config_.jobs) {
        // Also a job that got no new archive this time: what an earlier run could not copy goes now.
        if (!job.copyTo || (job.flags & JobSelected) == 0) continue;
        const std::string base = config_.PathOf(job.archiveBaseName);
        const std::string place = OffsiteLocation(*job.copyTo, config_.folder);
        view_->SetText(ProgressText::CurrentJob, job.name);
        view_->SetText(ProgressText::Status, std::string(kCopyingOffsiteText));
        view_->SetText(ProgressText::TimeRemaining, "");
        view_->SetProgressRange(0, 1000);
        view_->SetProgressPosition(0);
        OffsiteResult result;
        if (!control_.KeepGoing()) {
            result.cancelled = true;
            result.reason = "canceled";
        } else {
            OffsiteHooks hooks;
            hooks.onStatus = [this](const std::string& text) { view_->SetText(ProgressText::Status, text); };
            hooks.onProgress = [this](int permille) { view_->SetProgressPosition(permille); };
            hooks.shouldStop = [this] { return !control_.KeepGoing(); };
            result = SendArchives(platform::FolderOfPath(base), ArchivesOfSet(base), place, hooks);
        }
        std::string logLine;
        if (result.ok) {
            logLine = FillIn(kLogCopiedOffsiteFormat, {*job.copyTo, std::to_string(result.copied.size())});
        } else {
            logLine = std::string(kLogNotCopiedOffsitePrefix) + result.reason;
            const std::string message = FillIn(kNotCopiedOffsiteFormat, {job.name, result.reason});
            view_->ShowMessage(message, std::string(kErrorCaption), MessageButtons::Ok);
            skipped_.push_back(message);
        }
        logBlocks.push_back(RunLogHeader(job.name, platform::CurrentLocalTime()) +
                            RunLogLine(logLine, platform::CurrentLocalTime()));
    }
    view_->EnableCancel(false);
    copyingOffsite_ = false;
    CumulativeLog log;
    bool logged = log.Open(config_.PathOf(kCumulativeLogName));
    for (const std::string& block : logBlocks) logged = log.Append(block) && logged;
    if (!(log.Close() && logged)) skipped_.push_back(std::string(kCumulativeLogErrorText));
}

}  // namespace halvex

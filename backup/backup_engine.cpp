// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/backup_engine.h"

#include <algorithm>

#include "backup/run_log.h"
#include "backup/run_messages.h"
#include "platform/file_operations.h"
#include "platform/path_limits.h"
#include "platform/tick.h"

namespace halvex {

BackupEngine::BackupEngine(const JobConfig& config) : config_(config) {
    // Paths are given up at the platform's limit, so these never grow during a run.
    sourcePathBuffer_.reserve(platform::kPathLimit + 512);
    entryPathBuffer_.reserve(platform::kPathLimit + 512);
}

BackupEngine::~BackupEngine() { WaitForRun(); }

void BackupEngine::StartRun(BackupView& view, bool startBrandNew, std::function<void()> onFinished) {
    WaitForRun();
    view_ = &view;
    startBrandNew_ = startBrandNew;
    outcome_ = RunOutcome::NotRun;
    skipped_.clear();
    notices_.clear();
    control_.Start();
    finished_ = false;
    workerThread_ = std::thread([this, onFinished = std::move(onFinished)] {
        RunBackup();
        finished_ = true;
        if (onFinished) onFinished();
    });
}

void BackupEngine::WaitForRun() {
    if (workerThread_.joinable()) workerThread_.join();
}

void BackupEngine::RequestCancel(const AskFunction& ask) {
    switch (control_.PauseForQuestion()) {
        case RunControl::CancelState::NotRunning: return;
        case RunControl::CancelState::Uninterruptible:
            ask(std::string(kUnableToAbortText), std::string(kUnableToAbortCaption), MessageButtons::Ok);
            return;
        case RunControl::CancelState::Paused: break;
    }
    const std::uint32_t asked = platform::TickCountMs();
    bool abort = false;
    try {
        abort = ask(std::string(kQuitQuestionText), std::string(kQuitQuestionCaption), MessageButtons::YesNo) ==
                MessageAnswer::Yes;
    } catch (...) {
        control_.ResumeAfterQuestion(false);
        throw;
    }
    // The worker is still waiting: the estimate leaves the question's time out from its next
    // update on.
    AddPausedTime(platform::TickCountMs() - asked);
    control_.ResumeAfterQuestion(abort);
}

void BackupEngine::NoteRunFile(const std::string& path, const std::string& replacing) {
    std::lock_guard<std::mutex> lock(runFilesMutex_);
    std::erase(runFiles_, replacing);
    if (std::find(runFiles_.begin(), runFiles_.end(), path) == runFiles_.end()) runFiles_.push_back(path);
}

void BackupEngine::ForgetRunFiles() {
    std::lock_guard<std::mutex> lock(runFilesMutex_);
    runFiles_.clear();
}

void BackupEngine::RemoveFilesOfStuckRun() {
    std::lock_guard<std::mutex> lock(runFilesMutex_);
    for (const std::string& path : runFiles_) platform::DeleteFile(path);
    runFiles_.clear();
}

void BackupEngine::AddPausedTime(std::uint32_t milliseconds) { startTick_ += milliseconds; }

void BackupEngine::AbortRun() { control_.Stop(); }

MessageAnswer BackupEngine::AskAndPause(const std::string& text, MessageButtons buttons) {
    const std::uint32_t asked = platform::TickCountMs();
    const MessageAnswer answer = view_->ShowMessage(text, std::string(kErrorCaption), buttons);
    AddPausedTime(platform::TickCountMs() - asked);
    return answer;
}

void BackupEngine::AppendLogLine(std::string_view text) {
    if (currentJobLog_ != nullptr) *currentJobLog_ += RunLogLine(text, platform::CurrentLocalTime());
}

int BackupEngine::RunJobFlags(int index) const {
    if (index < 0 || index >= static_cast<int>(jobRuns_.size())) return 0;
    return jobRuns_[static_cast<std::size_t>(index)].flags;
}

void BackupEngine::DropJob(JobRun& run, const std::string& message, int keepFlags) {
    view_->ShowMessage(message, std::string(kErrorCaption), MessageButtons::Ok);
    run.flags &= keepFlags;
    // A job left out is reported with the run's skips, so an unattended run does not end as
    // if everything had been saved.
    skipped_.push_back(FillIn(kJobNotSavedFormat, {run.job->name}));
}

void BackupEngine::NoteSkipped(std::string text) {
    AppendLogLine(text);
    skipped_.push_back(std::move(text));
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
// Progress of a running restore: the bar, the time estimate and the abort question.
#include "restore/archive_set_progress.h"

#include <algorithm>
#include <cmath>

#include "common/text_format.h"
#include "restore/archive_set.h"

namespace halvex {

double ProgressFraction(std::uint64_t done, std::uint64_t total) {
    if (total == 0 || done >= total) return 1.0;
    return static_cast<double>(done) / static_cast<double>(total);
}

int ProgressBarPosition(double fraction) {
    const double position = std::clamp(fraction, 0.0, 1.0) * 1000.0;
    return static_cast<int>(position);  // truncated toward zero
}

std::uint32_t EstimateRemainingSeconds(std::uint32_t elapsedMs, double fraction) {
    if (!(fraction > 0.0)) return 0;
    const double estimatedTotal = std::floor(static_cast<double>(elapsedMs) / fraction);
    const double remainingMs = std::max(0.0, estimatedTotal - static_cast<double>(elapsedMs));
    const double seconds = std::floor(remainingMs / 1000.0);
    return seconds >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(seconds);
}

bool ArchiveSet::RestoreProgress(std::uint64_t entryTotal, std::uint64_t entryDone, void* userData) {
    auto& set = *static_cast<ArchiveSet*>(userData);
    const std::uint64_t shown = set.bytesDone + entryDone;
    if (entryDone == entryTotal) set.bytesDone = shown;
    return set.ShowProgress(shown);
}

bool ArchiveSet::ShowProgress(std::uint64_t shown, bool always) {
    const double fraction = ProgressFraction(shown, bytesTotal_);
    const int position = ProgressBarPosition(fraction);
    if (always || position != barPosition_) ui_->SetProgressBar(position);
    barPosition_ = position;

    const std::uint32_t now = tick_();
    if (now - lastEstimateTick_ >= kEstimateIntervalMs) {
        // Nothing is estimated before anything is done.
        if (fraction > 0.0) ui_->SetTimeRemaining(FormatDuration(EstimateRemainingSeconds(now - startTick_, fraction)));
        lastEstimateTick_ = now;
    }
    // Lets a click on Cancel through; its question may end the restore.
    ui_->PumpMessages();
    return running_;
}

void ArchiveSet::OnCancelRequest() {
    if (!running_) return;
    const std::uint32_t start = tick_();
    const MessageAnswer answer =
        ui_->ShowMessage("File restoration in progress. Are you sure you want to abort?", "Quit??",
                         MessageButtons::YesNo, MessageOwner::ProgressWindow);
    if (answer == MessageAnswer::Yes) AbortRestore();
    // The time the question was open does not count for the estimate.
    startTick_ += tick_() - start;
}

}  // namespace halvex

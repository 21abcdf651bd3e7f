// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/run_control.h"

namespace halvex {

void RunControl::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = false;
    uninterruptible_ = false;
    running_ = true;
}

void RunControl::WaitWhilePaused(std::unique_lock<std::mutex>& lock) {
    resumed_.wait(lock, [this] { return !paused_.load(); });
}

bool RunControl::KeepGoing() {
    if (paused_.load()) {
        std::unique_lock<std::mutex> lock(mutex_);
        WaitWhilePaused(lock);
    }
    return running_.load();
}

void RunControl::Stop() { running_ = false; }

bool RunControl::BeginUninterruptible() {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitWhilePaused(lock);
    if (!running_.load()) return false;
    uninterruptible_ = true;
    return true;
}

void RunControl::EndUninterruptible() {
    std::lock_guard<std::mutex> lock(mutex_);
    uninterruptible_ = false;
}

void RunControl::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    uninterruptible_ = false;
    running_ = false;
}

RunControl::CancelState RunControl::PauseForQuestion() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_.load() || paused_.load()) return CancelState::NotRunning;
    if (uninterruptible_.load()) return CancelState::Uninterruptible;
    paused_ = true;
    return CancelState::Paused;
}

void RunControl::ResumeAfterQuestion(bool abort) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (abort) running_ = false;
        paused_ = false;
    }
    resumed_.notify_all();
}

}  // namespace halvex

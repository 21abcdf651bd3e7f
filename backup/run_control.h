// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The flags a backup run shares with the thread that may cancel it: `running` (cleared when
// the user confirms a cancel), `uninterruptible` (the saving phase, when cancelling is
// refused) and the pause while the cancel question is open.
//
// The worker thread calls KeepGoing() at its cancellation tests; while a cancel question is
// open it waits there, so it is never paused while it holds anything the other thread needs.
// BeginUninterruptible() and PauseForQuestion() take the same lock, so a cancel can never be
// confirmed once the saving phase has begun.
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace halvex {

class RunControl {
public:
    // Sets running, clears uninterruptible and any pause.
    void Start();
    // The cancellation test of the worker: waits while a cancel question is open, then
    // answers whether the run is still going.
    bool KeepGoing();
    // The flags as they are now, without waiting.
    bool IsRunning() const { return running_.load(); }
    bool IsUninterruptible() const { return uninterruptible_.load(); }
    // Clears running (the worker's own abort).
    void Stop();
    // Worker: enters the saving phase. False (nothing changed) when the run has been
    // cancelled; waits first when a cancel question is open.
    bool BeginUninterruptible();
    // Worker: leaves the saving phase, so that a cancel may be asked for again (the copies
    // made once the run is saved).
    void EndUninterruptible();
    // Worker: the run has ended; clears both flags.
    void Finish();

    // The cancelling thread: how a cancel request finds the run.
    enum class CancelState {
        NotRunning,       // ended, or a cancel is already under way: ignore the request
        Uninterruptible,  // refuse ("Unable to abort at this time.")
        Paused,           // ask; then call ResumeAfterQuestion
    };
    CancelState PauseForQuestion();
    // Ends the pause; with abort, the run is cancelled first.
    void ResumeAfterQuestion(bool abort);

private:
    void WaitWhilePaused(std::unique_lock<std::mutex>& lock);

    std::atomic<bool> running_{false};
    std::atomic<bool> uninterruptible_{false};
    std::atomic<bool> paused_{false};
    std::mutex mutex_;
    std::condition_variable resumed_;
};

}  // namespace halvex

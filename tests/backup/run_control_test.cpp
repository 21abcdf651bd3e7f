// SPDX-License-Identifier: GPL-3.0-or-later
// The run's shared flags: the worker waits at its cancellation test while a cancel question
// is open, and a cancel can never be confirmed once the saving phase has begun.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "backup/run_control.h"

using namespace halvex;
using namespace std::chrono_literals;

TEST(RunControl, WorkerWaitsWhileTheQuestionIsOpen) {
    RunControl control;
    control.Start();
    ASSERT_EQ(control.PauseForQuestion(), RunControl::CancelState::Paused);
    // A second request while the question is open is ignored.
    EXPECT_EQ(control.PauseForQuestion(), RunControl::CancelState::NotRunning);
    std::atomic<bool> passed{false};
    std::atomic<bool> answer{true};
    std::thread worker([&] {
        answer = control.KeepGoing();
        passed = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(passed);
    control.ResumeAfterQuestion(true);
    worker.join();
    EXPECT_TRUE(passed);
    EXPECT_FALSE(answer);
    EXPECT_EQ(control.PauseForQuestion(), RunControl::CancelState::NotRunning);
}

TEST(RunControl, AnsweringNoLetsTheRunGoOn) {
    RunControl control;
    control.Start();
    ASSERT_EQ(control.PauseForQuestion(), RunControl::CancelState::Paused);
    control.ResumeAfterQuestion(false);
    EXPECT_TRUE(control.KeepGoing());
}

TEST(RunControl, SavingPhaseWaitsForTheAnswerAndRefusesLaterRequests) {
    RunControl control;
    control.Start();
    // The question was opened just before the worker reached the saving phase: the worker
    // waits for the answer, and a Yes keeps it out of the saving phase.
    ASSERT_EQ(control.PauseForQuestion(), RunControl::CancelState::Paused);
    std::atomic<bool> entered{true};
    std::thread worker([&] { entered = control.BeginUninterruptible(); });
    std::this_thread::sleep_for(50ms);
    control.ResumeAfterQuestion(true);
    worker.join();
    EXPECT_FALSE(entered);
    EXPECT_FALSE(control.IsUninterruptible());

    control.Start();
    ASSERT_TRUE(control.BeginUninterruptible());
    EXPECT_EQ(control.PauseForQuestion(), RunControl::CancelState::Uninterruptible);
    control.Finish();
    EXPECT_EQ(control.PauseForQuestion(), RunControl::CancelState::NotRunning);
}

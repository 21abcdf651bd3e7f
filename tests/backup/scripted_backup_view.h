// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A BackupView for tests: records every call as a line of text, answers questions from a
// script, and lets a test act at any call (on the run's thread).
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "backup/backup_view.h"

namespace halvex::backuptest {

inline const char* LineName(ProgressText line) {
    switch (line) {
        case ProgressText::CurrentJob: return "CurrentJob";
        case ProgressText::Status: return "Status";
        case ProgressText::TimeRemaining: return "TimeRemaining";
    }
    return "?";
}

class ScriptedBackupView : public BackupView {
public:
    struct Message {
        std::string caption, text;
        MessageButtons buttons;
        MessageAnswer answer;
    };

    // Answers for the next questions (boxes with more than an OK button), in order. When the
    // script is used up: Ignore, Cancel, and Yes.
    std::deque<MessageAnswer> answers;
    // Called after each call is recorded, with its line.
    std::function<void(const std::string& call)> onCall;

    void SetText(ProgressText line, const std::string& text) override {
        Record(std::string("text ") + LineName(line) + " " + text);
    }
    void SetProgressRange(int minimum, int maximum) override {
        Record("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void SetProgressPosition(int position) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            positions_.push_back(position);
        }
        Record("position " + std::to_string(position));
    }
    void StepProgress() override { Record("step"); }
    void EnableCancel(bool enabled) override { Record(enabled ? "cancel on" : "cancel off"); }
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons) override {
        MessageAnswer answer = MessageAnswer::Ok;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (buttons != MessageButtons::Ok) {
                if (!answers.empty()) {
                    answer = answers.front();
                    answers.pop_front();
                } else {
                    answer = buttons == MessageButtons::AbortRetryIgnore ? MessageAnswer::Ignore
                             : buttons == MessageButtons::YesNo          ? MessageAnswer::Yes
                                                                         : MessageAnswer::Cancel;
                }
            }
            messages_.push_back({caption, text, buttons, answer});
        }
        Record("message " + caption + ": " + text);
        return answer;
    }
    void StartTitleTimer() override { Record("timer start"); }
    void StopTitleTimer() override { Record("timer stop"); }
    std::string FitStatusPath(const std::string& path) override {
        Record("fit " + path);
        return path;
    }
    void CloseWindow(int result) override { Record("close " + std::to_string(result)); }

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<Message> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<int> Positions() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return positions_;
    }
    // "caption: text" of every box, in order.
    std::vector<std::string> MessageLines() const {
        std::vector<std::string> out;
        for (const Message& m : Messages()) out.push_back(m.caption + ": " + m.text);
        return out;
    }
    bool Saw(const std::string& call) const {
        for (const std::string& c : Calls())
            if (c == call) return true;
        return false;
    }

private:
    void Record(std::string call) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back(call);
        }
        if (onCall) onCall(call);
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<Message> messages_;
    std::vector<int> positions_;
};

}  // namespace halvex::backuptest

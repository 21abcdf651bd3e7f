// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A restore user interface driven by a script: queued answers for each kind of question (a
// default once a queue is empty), and a record of everything the engine showed.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "restore/restore_ui.h"

namespace halvex::test {

class ScriptedRestoreUi : public RestoreUi {
public:
    // Answers, taken front first.
    std::deque<DirectoryAnswer> directoryAnswers;
    DirectoryAnswer defaultDirectoryAnswer = DirectoryAnswer::Cancel;
    std::deque<FileAnswer> fileAnswers;
    FileAnswer defaultFileAnswer{FileAnswer::Choice::Skip};
    std::deque<MessageAnswer> messageAnswers;  // for boxes other than OK; default: Cancel / Yes / Abort
    std::deque<std::optional<std::string>> chosenFiles;  // default: cancelled
    // Runs on every PumpMessages (a test clicks Cancel from here).
    std::function<void(ScriptedRestoreUi&)> onPump;
    // Runs while a message box is open, before it answers.
    std::function<void(const std::string& caption)> onMessage;

    // What the engine showed.
    std::vector<std::string> directoryQuestions;
    std::vector<DirectoryQuestion> questionsAsked;
    std::vector<std::string> fileQuestions;
    std::vector<std::string> messages;  // "Caption: text"
    std::vector<std::string> chooserRequests;
    std::vector<std::string> fromTexts;
    std::vector<std::string> timeTexts;
    std::vector<int> barPositions;
    int progressOpened = 0;
    int progressClosed = 0;
    int pumps = 0;
    bool progressOpen = false;

    // The progress window's Cancel button.
    void ClickCancel() {
        if (cancel_) cancel_();
    }

    DirectoryAnswer AskDirectoryExists(const DirectoryQuestion& question) override {
        directoryQuestions.push_back(question.folder);
        questionsAsked.push_back(question);
        return Take(directoryAnswers, defaultDirectoryAnswer);
    }
    FileAnswer AskFileExists(const std::string& path) override {
        fileQuestions.push_back(path);
        return Take(fileAnswers, defaultFileAnswer);
    }
    void OpenProgress(std::function<void()> onCancelRequest) override {
        cancel_ = std::move(onCancelRequest);
        ++progressOpened;
        progressOpen = true;
    }
    void CloseProgress() override {
        ++progressClosed;
        progressOpen = false;
        cancel_ = nullptr;
    }
    void SetProgressFrom(const std::string& entryPath) override { fromTexts.push_back(entryPath); }
    void SetProgressTo(const std::string&) override {}
    void SetTimeRemaining(const std::string& text) override { timeTexts.push_back(text); }
    void SetProgressBar(int position) override { barPositions.push_back(position); }
    std::string FitToProgressTo(const std::string& path) override { return path; }
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageButtons buttons,
                              MessageOwner) override {
        messages.push_back(caption + ": " + text);
        if (onMessage) onMessage(caption);
        if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        MessageAnswer fallback = buttons == MessageButtons::YesNo              ? MessageAnswer::Yes
                                 : buttons == MessageButtons::AbortRetryIgnore ? MessageAnswer::Abort
                                                                               : MessageAnswer::Cancel;
        return Take(messageAnswers, fallback);
    }
    std::optional<std::string> ChooseArchiveFile(const std::string& archiveName) override {
        chooserRequests.push_back(archiveName);
        return Take(chosenFiles, std::optional<std::string>());
    }
    bool PumpMessages() override {
        ++pumps;
        if (onPump) onPump(*this);
        return false;
    }

private:
    template <class T>
    static T Take(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }

    std::function<void()> cancel_;
};

}  // namespace halvex::test

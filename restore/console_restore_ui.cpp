// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/console_restore_ui.h"

#include <csignal>
#include <istream>
#include <ostream>
#include <unistd.h>

#include "common/listing_record.h"
#include "platform/file_attributes.h"
#include "platform/process.h"
#include "platform/tick.h"

namespace halvex {

namespace {

volatile std::sig_atomic_t cancelSignalled = 0;

extern "C" void OnCancelSignal(int) { cancelSignalled = 1; }

struct SavedHandlers {
    struct sigaction interrupt {};
    struct sigaction terminate {};
};
SavedHandlers savedHandlers;

void InstallCancelHandlers() {
    cancelSignalled = 0;
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedHandlers.interrupt);
    sigaction(SIGTERM, &action, &savedHandlers.terminate);
}

void RestoreCancelHandlers() {
    sigaction(SIGINT, &savedHandlers.interrupt, nullptr);
    sigaction(SIGTERM, &savedHandlers.terminate, nullptr);
}

// Redraws of the progress line: at most this often.
constexpr std::uint32_t kRedrawIntervalMs = 100;

}  // namespace

ConsoleRestoreUi::ConsoleRestoreUi(std::istream& in, std::ostream& err, bool interactive)
    : in_(in), err_(err), interactive_(interactive), startFolder_(platform::CurrentFolder()) {}

ConsoleRestoreUi::~ConsoleRestoreUi() {
    if (progressOpen_) RestoreCancelHandlers();
}

std::optional<std::string> ConsoleRestoreUi::Ask(const std::string& prompt) {
    ClearProgressLine();
    err_ << EscapeForTerminal(prompt, true) << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
        err_ << '\n';
        return std::nullopt;
    }
    return line;
}

void ConsoleRestoreUi::PrintBlock(const std::string& caption, const std::string& text) {
    ClearProgressLine();
    // The box's own line breaks stay; every other control character of a name is escaped.
    err_ << caption << ": " << EscapeForTerminal(text, true) << '\n' << std::flush;
}

void ConsoleRestoreUi::PrintFixedAnswer(const std::string& answer) { err_ << "  -> " << answer << '\n' << std::flush; }

DirectoryAnswer ConsoleRestoreUi::AskDirectoryExists(const DirectoryQuestion& question) {
    std::string text = "The following directory already exists: " + question.folder;
    if (!question.RenameOffered()) text += "\n(It is not renamed: " + question.renameRefusal + ".)";
    PrintBlock("Directory Exists...", text);
    if (directoryAnswer_ || !interactive_) {
        const DirectoryAnswer answer = directoryAnswer_.value_or(question.unattended);
        PrintFixedAnswer(DirectoryAnswerText(question, answer));
        return answer;
    }
    const std::string rename = question.rename == DirectoryQuestion::Rename::Items ? "[r]ename existing items to .bak, "
                               : question.RenameOffered()                          ? "[r]ename destination folder, "
                                                                                   : "";
    for (;;) {
        auto line = Ask(rename + "[k]eep existing files, re[p]lace existing files, [a]sk for each file, [c]ancel? ");
        if (!line || *line == "c") return DirectoryAnswer::Cancel;
        if (line->empty()) return question.preselected;
        if (*line == "r" && question.RenameOffered()) return DirectoryAnswer::RenameFolder;
        if (*line == "k") return DirectoryAnswer::KeepExisting;
        if (*line == "p") return DirectoryAnswer::ReplaceExisting;
        if (*line == "a") return DirectoryAnswer::PromptEach;
    }
}

FileAnswer ConsoleRestoreUi::AskFileExists(const std::string& path) {
    using Choice = FileAnswer::Choice;
    PrintBlock("File Exists...", "The following file already exists: " + path);
    if (!interactive_) {
        PrintFixedAnswer("Skip");
        return {Choice::Skip};
    }
    for (;;) {
        auto line = Ask("[r]eplace, [s]kip, replace [a]ll, skip a[l]l, s[t]op? ");
        if (!line) return {Choice::Stop};
        if (*line == "r") return {Choice::Replace};
        if (*line == "s") return {Choice::Skip};
        if (*line == "a") return {Choice::Replace, true};
        if (*line == "l") return {Choice::Skip, true};
        if (*line == "t") {
            auto confirm = Ask("Abort...: Are you sure you want to abort restoration? [y/n] ");
            if (!confirm || *confirm == "y") return {Choice::Stop};
        }
    }
}

void ConsoleRestoreUi::OpenProgress(std::function<void()> onCancelRequest) {
    onCancelRequest_ = std::move(onCancelRequest);
    from_.clear();
    timeRemaining_.clear();
    bar_ = 0;
    if (!progressOpen_) InstallCancelHandlers();
    progressOpen_ = true;
}

void ConsoleRestoreUi::CloseProgress() {
    if (!progressOpen_) return;
    DrawProgress(true);
    ClearProgressLine();
    RestoreCancelHandlers();
    progressOpen_ = false;
    onCancelRequest_ = nullptr;
}

void ConsoleRestoreUi::SetProgressFrom(const std::string& entryPath) {
    from_ = entryPath;
    DrawProgress(false);
}

void ConsoleRestoreUi::SetProgressTo(const std::string&) {}

void ConsoleRestoreUi::SetTimeRemaining(const std::string& text) {
    timeRemaining_ = text;
    DrawProgress(false);
}

void ConsoleRestoreUi::SetProgressBar(int position) {
    bar_ = position;
    DrawProgress(false);
}

void ConsoleRestoreUi::DrawProgress(bool force) {
    if (!interactive_ || !progressOpen_) return;
    const std::uint32_t now = platform::TickCountMs();
    if (!force && progressLineShown_ && now - lastDraw_ < kRedrawIntervalMs) return;
    lastDraw_ = now;
    std::string line = EscapeForTerminal(from_);
    constexpr std::size_t kMaxFrom = 50;
    if (line.size() > kMaxFrom) {
        std::size_t cut = line.size() - (kMaxFrom - 3);
        // Never in the middle of a UTF-8 character.
        while (cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) ++cut;
        line = "..." + line.substr(cut);
    }
    line += "  " + std::to_string(bar_ / 10) + "%";
    if (!timeRemaining_.empty()) line += "  " + timeRemaining_;
    err_ << "\r\033[K" << line << std::flush;
    progressLineShown_ = true;
}

void ConsoleRestoreUi::ClearProgressLine() {
    if (!progressLineShown_) return;
    err_ << "\r\033[K" << std::flush;
    progressLineShown_ = false;
}

MessageAnswer ConsoleRestoreUi::ShowMessage(const std::string& text, const std::string& caption,
                                            MessageButtons buttons, MessageOwner) {
    PrintBlock(caption, text);
    MessageAnswer fixed = MessageAnswer::Ok;
    const char* prompt = nullptr;
    switch (buttons) {
    case MessageButtons::Ok: return MessageAnswer::Ok;
    case MessageButtons::OkCancel:
        fixed = MessageAnswer::Cancel;
        prompt = "[o]k, [c]ancel? ";
        break;
    case MessageButtons::YesNo:
        // The yes/no questions of a restore all ask whether to give up.
        fixed = MessageAnswer::Yes;
        prompt = "[y]es, [n]o? ";
        break;
    case MessageButtons::RetryCancel:
        fixed = MessageAnswer::Cancel;
        prompt = "[r]etry, [c]ancel? ";
        break;
    case MessageButtons::AbortRetryIgnore:
        fixed = MessageAnswer::Ignore;
        prompt = "[a]bort, [r]etry, [i]gnore? ";
        break;
    }
    if (!interactive_) {
        PrintFixedAnswer(MessageAnswerName(fixed));
        return fixed;
    }
    for (;;) {
        auto line = Ask(prompt);
        if (!line) return fixed;
        const std::string& a = *line;
        switch (buttons) {
        case MessageButtons::OkCancel:
            if (a == "o") return MessageAnswer::Ok;
            if (a == "c") return MessageAnswer::Cancel;
            break;
        case MessageButtons::YesNo:
            if (a == "y") return MessageAnswer::Yes;
            if (a == "n") return MessageAnswer::No;
            break;
        case MessageButtons::RetryCancel:
            if (a == "r") return MessageAnswer::Retry;
            if (a == "c") return MessageAnswer::Cancel;
            break;
        case MessageButtons::AbortRetryIgnore:
            if (a == "a") return MessageAnswer::Abort;
            if (a == "r") return MessageAnswer::Retry;
            if (a == "i") return MessageAnswer::Ignore;
            break;
        case MessageButtons::Ok: return MessageAnswer::Ok;
        }
    }
}

std::optional<std::string> ConsoleRestoreUi::ChooseArchiveFile(const std::string& archiveName) {
    PrintBlock("Open", "The archive " + archiveName + " was not found.");
    if (!interactive_) {
        PrintFixedAnswer("Cancel");
        return std::nullopt;
    }
    for (;;) {
        auto line = Ask("Path of " + archiveName + " (empty to cancel): ");
        if (!line || line->empty()) return std::nullopt;
        std::string path = *line;
        if (path.front() != '/') path = startFolder_ + "/" + path;
        if (platform::IsRegularFile(path)) return path;
        err_ << "No such file: " << EscapeForTerminal(path) << '\n';
    }
}

void ConsoleRestoreUi::RequestCancel() { cancelSignalled = 1; }

bool ConsoleRestoreUi::PumpMessages() {
    if (cancelSignalled != 0) {
        cancelSignalled = 0;
        if (onCancelRequest_) onCancelRequest_();
    }
    return false;
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/console_backup_view.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <span>
#include <sys/ioctl.h>
#include <unistd.h>

#include "common/listing_record.h"
#include "platform/tick.h"

namespace halvex {
namespace {

constexpr std::uint32_t kRedrawInterval = 100;  // ms between redraws of the progress line

struct Choice {
    char key;
    MessageAnswer answer;
};

const char* ChoicesText(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok: return "";
        case MessageButtons::OkCancel: return "[O]K, [C]ancel? ";
        case MessageButtons::YesNo: return "[Y]es, [N]o? ";
        case MessageButtons::RetryCancel: return "[R]etry, [C]ancel? ";
        case MessageButtons::AbortRetryIgnore: return "[A]bort, [R]etry, [I]gnore? ";
    }
    return "";
}

std::optional<MessageAnswer> AnswerForKey(MessageButtons buttons, char key) {
    static const Choice okCancel[] = {{'o', MessageAnswer::Ok}, {'c', MessageAnswer::Cancel}};
    static const Choice yesNo[] = {{'y', MessageAnswer::Yes}, {'n', MessageAnswer::No}};
    static const Choice retryCancel[] = {{'r', MessageAnswer::Retry}, {'c', MessageAnswer::Cancel}};
    static const Choice abortRetryIgnore[] = {
        {'a', MessageAnswer::Abort}, {'r', MessageAnswer::Retry}, {'i', MessageAnswer::Ignore}};
    std::span<const Choice> choices;
    switch (buttons) {
        case MessageButtons::Ok: return MessageAnswer::Ok;
        case MessageButtons::OkCancel: choices = okCancel; break;
        case MessageButtons::YesNo: choices = yesNo; break;
        case MessageButtons::RetryCancel: choices = retryCancel; break;
        case MessageButtons::AbortRetryIgnore: choices = abortRetryIgnore; break;
    }
    for (const Choice& c : choices)
        if (c.key == key) return c.answer;
    return std::nullopt;
}

int TerminalWidth(std::FILE* out) {
    winsize size {};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

ConsoleBackupView::ConsoleBackupView(std::FILE* out, std::FILE* in, bool interactive)
    : out_(out), in_(in), interactive_(interactive) {}


MessageAnswer ConsoleBackupView::FixedAnswer(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok: return MessageAnswer::Ok;
        case MessageButtons::OkCancel: return MessageAnswer::Cancel;  // no disc is waited for
        case MessageButtons::YesNo: return MessageAnswer::Yes;
        case MessageButtons::RetryCancel: return MessageAnswer::Cancel;
        case MessageButtons::AbortRetryIgnore: return MessageAnswer::Ignore;
    }
    return MessageAnswer::Ok;
}

void ConsoleBackupView::SetText(ProgressText line, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool phase = false;
    switch (line) {
        case ProgressText::CurrentJob:
            currentJob_ = text;
            phase = true;
            break;
        case ProgressText::Status:
            status_ = text;
            phase = !statusIsPath_;
            statusIsPath_ = false;
            break;
        case ProgressText::TimeRemaining: timeRemaining_ = text; break;
    }
    if (interactive_) {
        Redraw(phase);
    } else if (phase && !text.empty()) {
        PrintPhase((line == ProgressText::CurrentJob ? "Current Job: " : "Status: ") + text);
    }
}

void ConsoleBackupView::SetProgressRange(int minimum, int maximum) {
    std::lock_guard<std::mutex> lock(mutex_);
    minimum_ = minimum;
    maximum_ = maximum;
    position_ = minimum;
    if (interactive_) Redraw(false);
}

void ConsoleBackupView::SetProgressPosition(int position) {
    std::lock_guard<std::mutex> lock(mutex_);
    position_ = position;
    if (interactive_) Redraw(false);
}

void ConsoleBackupView::StepProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (position_ < maximum_) ++position_;
    if (interactive_) Redraw(false);
}

void ConsoleBackupView::EnableCancel(bool) {}

std::string ConsoleBackupView::FitStatusPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    statusIsPath_ = true;
    return path;
}

void ConsoleBackupView::CloseWindow(int) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLine();
}

void ConsoleBackupView::PrintLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLine();
    std::fprintf(out_, "%s\n", EscapeForTerminal(line).c_str());
    std::fflush(out_);
}

MessageAnswer ConsoleBackupView::ShowMessage(const std::string& text, const std::string& caption,
                                             MessageButtons buttons) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLine();
    // The box's own line breaks stay; every other control character of a name is escaped.
    std::fprintf(out_, "%s: %s\n", caption.c_str(), EscapeForTerminal(text, true).c_str());
    MessageAnswer answer = MessageAnswer::Ok;
    if (buttons != MessageButtons::Ok) {
        answer = interactive_ ? Prompt(buttons) : FixedAnswer(buttons);
        if (!interactive_) std::fprintf(out_, "Answer: %s\n", MessageAnswerName(answer));
    }
    std::fflush(out_);
    lastPhase_.clear();
    return answer;
}

MessageAnswer ConsoleBackupView::Prompt(MessageButtons buttons) {
    for (;;) {
        std::fputs(ChoicesText(buttons), out_);
        std::fflush(out_);
        char line[256];
        if (std::fgets(line, sizeof line, in_) == nullptr) {
            // Input has ended: the answer a run without a terminal would take.
            const MessageAnswer answer = FixedAnswer(buttons);
            std::fprintf(out_, "\nAnswer: %s\n", MessageAnswerName(answer));
            return answer;
        }
        const char* p = line;
        while (*p == ' ' || *p == '\t') ++p;
        if (auto answer = AnswerForKey(buttons, static_cast<char>(std::tolower(static_cast<unsigned char>(*p)))))
            return *answer;
    }
}

void ConsoleBackupView::PrintPhase(const std::string& line) {
    if (line == lastPhase_) return;
    lastPhase_ = line;
    std::fprintf(out_, "%s\n", EscapeForTerminal(line).c_str());
    std::fflush(out_);
}

void ConsoleBackupView::ClearProgressLine() {
    if (!lineShown_) return;
    std::fputs("\r\033[K", out_);
    lineShown_ = false;
}

void ConsoleBackupView::Redraw(bool force) {
    const std::uint32_t now = platform::TickCountMs();
    if (!force && lineShown_ && now - lastRedraw_ < kRedrawInterval) return;
    lastRedraw_ = now;
    std::string line = EscapeForTerminal(currentJob_);
    if (!status_.empty()) {
        if (!line.empty()) line += ": ";
        line += EscapeForTerminal(status_);
    }
    if (maximum_ > minimum_) {
        const long percent = (static_cast<long>(position_) - minimum_) * 100 / (maximum_ - minimum_);
        line += "  " + std::to_string(std::clamp(percent, 0L, 100L)) + "%";
    }
    if (!timeRemaining_.empty()) line += "  " + timeRemaining_;
    const std::size_t width = static_cast<std::size_t>(TerminalWidth(out_));
    if (width > 8 && line.size() >= width) line = "..." + line.substr(line.size() - (width - 4));
    std::fprintf(out_, "\r\033[K%s", line.c_str());
    std::fflush(out_);
    lineShown_ = true;
}

}  // namespace halvex

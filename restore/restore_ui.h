// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the restore engine reaches the user: the "Directory Exists..." and "File Exists..."
// questions, the "Restoring..." progress window, message boxes, the archive file chooser and
// the message pump. Implemented by the Qt windows, the console (halvex-restore --restore) and
// a scripted interface in tests. Everything runs on the one user-interface thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/message_box.h"

namespace halvex {

// Who owns a message box: the main window, or the progress window during a restore.
enum class MessageOwner { MainWindow, ProgressWindow };

// The answers to "Directory Exists...". The numbers are those --existing is documented with.
enum class DirectoryAnswer : std::uint8_t {
    Cancel = 0,
    KeepExisting = 1,     // "Do not replace existing files"
    ReplaceExisting = 2,  // "Replace existing files"
    PromptEach = 3,       // "Prompt if files already exist"
    RenameFolder = 4,     // "Rename destination folder" (or the items in the way)
};

// An answer to "File Exists...": Stop comes only once the user confirmed it; doNotAskAgain
// ("Do not ask me again." ticked) makes Skip or Replace the answer for every file after it.
struct FileAnswer {
    enum class Choice : std::uint8_t { Stop, Skip, Replace };

    Choice choice = Choice::Stop;
    bool doNotAskAgain = false;

    friend bool operator==(const FileAnswer&, const FileAnswer&) = default;
};

// The "Directory Exists..." question as the engine settles it; the windows only present it.
struct DirectoryQuestion {
    // What RenameFolder does: move the destination folder aside (whole targets), move
    // aside only the restored items that already exist in it (selections), or nothing: it is
    // not offered where moving the folder would move the user's home, a mount point or the
    // program's or the set's own folder.
    enum class Rename { Folder, Items, NotOffered };

    std::string folder;
    Rename rename = Rename::Folder;
    std::string renameRefusal;  // why rename is not offered ("it is your home folder")
    // The answer checked when the question opens, and the one taken where nobody can be asked.
    DirectoryAnswer preselected = DirectoryAnswer::RenameFolder;
    DirectoryAnswer unattended = DirectoryAnswer::RenameFolder;

    bool RenameOffered() const { return rename != Rename::NotOffered; }
};

// The text of `answer` to `question`.
std::string DirectoryAnswerText(const DirectoryQuestion& question, DirectoryAnswer answer);

class RestoreUi {
public:
    virtual ~RestoreUi() = default;

    // "Directory Exists..." (RenameFolder only when the question offers it).
    [[nodiscard]] virtual DirectoryAnswer AskDirectoryExists(const DirectoryQuestion& question) = 0;
    // "File Exists..." about `path`.
    [[nodiscard]] virtual FileAnswer AskFileExists(const std::string& path) = 0;

    // The modeless "Restoring..." window; opening it disables the main window, closing it
    // enables, repaints and focuses the main window again. A click on its Cancel button or
    // its close box calls onCancelRequest (from within PumpMessages); the engine then asks
    // its question through ShowMessage.
    virtual void OpenProgress(std::function<void()> onCancelRequest) = 0;
    virtual void CloseProgress() = 0;
    virtual void SetProgressFrom(const std::string& entryPath) = 0;
    virtual void SetProgressTo(const std::string& folder) = 0;
    virtual void SetTimeRemaining(const std::string& text) = 0;
    // Bar position, 0 to 1000.
    virtual void SetProgressBar(int position) = 0;
    // The path shortened to the width of the progress window's "To:" text.
    virtual std::string FitToProgressTo(const std::string& path) = 0;

    virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      MessageButtons buttons, MessageOwner owner) = 0;
    // Asks for the file of a missing archive (filter and pattern: the archive's name, default
    // extension ".TQBak", the file must exist). None when the user cancels.
    virtual std::optional<std::string> ChooseArchiveFile(const std::string& archiveName) = 0;
    // Lets pending window messages through (a click on Cancel among them). True only when it
    // stopped at a quit message.
    virtual bool PumpMessages() = 0;
};

}  // namespace halvex

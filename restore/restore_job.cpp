// Opening the archives of a set.
#include <exception>

#include "common/folder_utils.h"
#include "platform/file_attributes.h"
#include "restore/archive_set.h"
#include "restore/restore_errors.h"

namespace halvex {

namespace {

constexpr std::size_t kOpenErrorLimit = 260;

}  // namespace

bool ArchiveSet::OpenArchiveFile(const std::string& path, bool& retry) {
    try {
        zip_.Open(path, ZipOpenReadOnly, 0);
        return true;
    } catch (const std::exception& error) {
        zip_.Close(true);
        const MessageAnswer answer = ui_->ShowMessage(LimitText(ErrorText(error), kOpenErrorLimit), "Error",
                                                      MessageButtons::RetryCancel, MessageOwner::MainWindow);
        retry = answer == MessageAnswer::Retry;
        return false;
    }
}

bool ArchiveSet::OpenArchiveForRestore(int number) {
    const std::uint32_t start = tick_();
    const std::string* name = GetArchiveName(number);
    bool opened = false;
    CloseArchive();
    if (name != nullptr) {
        for (bool retry = true; retry && !opened;) {
            retry = false;
            if (platform::PathExists(*name)) {
                opened = OpenArchiveFile(*name, retry);
                continue;
            }
            // The archive is not where the set says: the user may know where it is.
            std::optional<std::string> chosen = ui_->ChooseArchiveFile(*name);
            if (!chosen) {
                retry = ui_->ShowMessage("Are you sure you want to abort?", "Abort?", MessageButtons::YesNo,
                                         MessageOwner::MainWindow) != MessageAnswer::Yes;
                continue;
            }
            opened = OpenArchiveFile(*chosen, retry);
            // Later archives are looked for beside the chosen one.
            if (opened) ChangeToParentFolder(*chosen);
        }
    }
    startTick_ += tick_() - start;
    return opened;
}

void ArchiveSet::CloseArchive() { zip_.Close(true); }

}  // namespace halvex

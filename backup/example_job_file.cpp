// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/example_job_file.h"

#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "resources/example_backup_ini.h"

namespace halvex {

bool WriteExampleJobFile(const std::string& path) {
    std::string_view text = kExampleBackupIniText.substr(0, kExampleBackupIniText.find('\x1a'));
    platform::File file;
    if (!file.TryOpen(path, platform::File::Mode::CreateNew)) return false;
    try {
        file.Write(text.data(), text.size());
        file.Sync();
        file.Close();
    } catch (const platform::FileError&) {
        // The file is ours (it did not exist): take the incomplete one away again.
        file.Abandon();
        platform::DeleteFile(path);
        return false;
    }
    // The file is complete; a refused flush of its folder entry does not change what the user
    // is told to do next.
    static_cast<void>(platform::SyncFolder(platform::FolderOfPath(path)));
    return true;
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/example_job_file.h"

#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/home_folder.h"
#include "resources/example_backup_ini.h"

namespace halvex {

std::string ExampleJobFileText(const std::string& home) {
    static constexpr std::string_view kHome = "@HOME@";
    const std::string_view source = kExampleBackupIniText.substr(0, kExampleBackupIniText.find('\x1a'));
    std::string text;
    text.reserve(source.size() + 8 * home.size());
    for (std::size_t at = 0;;) {
        const std::size_t found = source.find(kHome, at);
        text += source.substr(at, found == std::string_view::npos ? std::string_view::npos : found - at);
        if (found == std::string_view::npos) break;
        text += home;
        at = found + kHome.size();
    }
    return text;
}

bool WriteExampleJobFile(const std::string& path, const std::string& home) {
    std::string folder = home.empty() ? platform::HomeFolder() : home;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    // "/" as home: the folders hang from the root itself.
    if (folder == "/") folder.clear();
    const std::string text = ExampleJobFileText(folder);
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

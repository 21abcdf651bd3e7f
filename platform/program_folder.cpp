// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/program_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/home_folder.h"
#include "platform/process.h"

#ifndef HALVEX_INSTALL_BINDIR
#define HALVEX_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace halvex::platform {
namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// mkdir -p with mode 700: the folder will hold copies of private files.
bool MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = slash == std::string::npos ? path : path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool IsInstalledCopy(const std::string& executableFolder, const std::string& installBinFolder) {
    // The system's own bin folders count whoever runs the program (root can write them too).
    static const char* const kSystemBinFolders[] = {"/usr/bin", "/usr/local/bin", "/bin", "/usr/games"};
    if (executableFolder == installBinFolder) return true;
    for (const char* folder : kSystemBinFolders)
        if (executableFolder == folder) return true;
    return ::access(executableFolder.c_str(), W_OK) != 0;
}

std::string UserDataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return std::string(data) + "/halvex";
    const std::string base = HomeFolder();
    if (base.empty()) return {};
    return base + "/.local/share/halvex";
}

std::string ProgramFolder(std::string& error) {
    const std::string executable = ExecutablePath();
    const std::string folder = FolderOf(executable);
    if (folder.empty()) {
        error = "the program's own folder cannot be found";
        return {};
    }
    if (!IsInstalledCopy(folder, HALVEX_INSTALL_BINDIR)) return folder;
    const std::string data = UserDataFolder();
    if (data.empty()) {
        error = "no home folder for the program's files";
        return {};
    }
    if (!MakeFolders(data)) {
        error = "cannot create " + data + ": " + std::strerror(errno);
        return {};
    }
    return data;
}

}  // namespace halvex::platform

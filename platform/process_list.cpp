// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process_list.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "platform/nocase.h"

namespace halvex::platform {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool NamesProcess(const std::string& pidFolder, std::string_view name) {
    // The kernel's name is cut to 15 characters; the executable's path has the whole name.
    std::string comm;
    std::ifstream commFile(pidFolder + "/comm");
    if (commFile && std::getline(commFile, comm) && EqualNoCase(comm, name)) return true;
    char target[PATH_MAX];
    const ssize_t length = readlink((pidFolder + "/exe").c_str(), target, sizeof target - 1);
    if (length <= 0) return false;
    std::string executable(target, static_cast<std::size_t>(length));
    // A program replaced while it runs reads "... (deleted)".
    const std::string deleted = " (deleted)";
    if (executable.size() > deleted.size() &&
        executable.compare(executable.size() - deleted.size(), deleted.size(), deleted) == 0)
        executable.resize(executable.size() - deleted.size());
    return EqualNoCase(LastComponent(executable), name);
}

}  // namespace

bool IsProcessRunning(std::string_view name, int* processId) {
    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc) return false;
    while (const dirent* entry = readdir(proc.get())) {
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (errno != 0 || end == entry->d_name || *end != '\0' || pid <= 0) continue;
        if (!NamesProcess(std::string("/proc/") + entry->d_name, name)) continue;
        if (processId != nullptr) *processId = static_cast<int>(pid);
        return true;
    }
    return false;
}

}  // namespace halvex::platform

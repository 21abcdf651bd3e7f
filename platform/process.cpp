#include "platform/process.h"

#include <unistd.h>
#include <vector>

#include "platform/path_limits.h"

namespace halvex::platform {

std::string ExecutablePath() {
    std::vector<char> buffer(kPathLimit + 1);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string CurrentFolder() {
    std::vector<char> buffer(kPathLimit + 1);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
    return std::string(buffer.data());
}

bool SetCurrentFolder(const std::string& folder) { return ::chdir(folder.c_str()) == 0; }

}  // namespace halvex::platform

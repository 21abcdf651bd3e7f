// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"

#include <cstdlib>
#include <sched.h>
#include <thread>
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

unsigned UsableProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    const unsigned all = std::thread::hardware_concurrency();
    return all > 0 ? all : 1;
}

std::optional<int> ForcedThreadCount(const char* name, int most) {
    const char* forced = std::getenv(name);
    if (forced == nullptr) return std::nullopt;
    char* end = nullptr;
    const long n = std::strtol(forced, &end, 10);
    if (end == forced || *end != '\0' || n < 1 || n > most) return std::nullopt;
    return static_cast<int>(n);
}

}  // namespace halvex::platform

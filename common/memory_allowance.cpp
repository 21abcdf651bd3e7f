// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/memory_allowance.h"

#include <cerrno>
#include <cstdlib>

#include "platform/physical_memory.h"

namespace halvex {

namespace {

thread_local MemoryAllowance* current = nullptr;

constexpr std::uint64_t kMegabyte = std::uint64_t{1} << 20;
// When the machine cannot tell its memory.
constexpr std::uint64_t kFallbackLimit = std::uint64_t{1} << 31;

}  // namespace

std::uint64_t MemoryLimitBytes() {
    if (const char* text = std::getenv("HALVEX_MEMORY_LIMIT"); text != nullptr && text[0] != '\0') {
        char* end = nullptr;
        errno = 0;
        const unsigned long long megabytes = std::strtoull(text, &end, 10);
        if (errno == 0 && *end == '\0' && text[0] != '-' && megabytes > 0 && megabytes < (UINT64_MAX / kMegabyte))
            return megabytes * kMegabyte;
    }
    const std::uint64_t physical = platform::PhysicalMemoryBytes();
    return physical != 0 ? physical / 4 : kFallbackLimit;
}

std::string TooLargeToOpenMessage(const std::string& archive) {
    return archive + ": " + std::string(kTooLargeToOpen) + ".";
}

MemoryAllowance::MemoryAllowance(std::uint64_t limit) : left_(limit), outer_(current) { current = this; }

MemoryAllowance::~MemoryAllowance() { current = outer_; }

bool MemoryAllowance::Charge(std::uint64_t bytes) {
    MemoryAllowance* allowance = current;
    if (allowance == nullptr) return true;
    if (allowance->exceeded_ || bytes > allowance->left_) {
        allowance->exceeded_ = true;
        return false;
    }
    allowance->left_ -= bytes;
    return true;
}

}  // namespace halvex

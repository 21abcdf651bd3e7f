// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The memory that reading histories and trees may take. A crafted history of a few kilobytes
// can describe millions of folders; its reader counts the nodes and names it would create and
// stops before the machine runs out.
#include <cstdint>
#include <string>
#include <string_view>

namespace halvex {

// HALVEX_MEMORY_LIMIT (MB) when set to a positive number, else about a quarter of physical
// memory.
std::uint64_t MemoryLimitBytes();

// What the programs say of a set or store past the allowance, after the archive's name.
inline constexpr std::string_view kTooLargeToOpen = "too large to open with the memory allowed";
std::string TooLargeToOpenMessage(const std::string& archive);

// While alive, the nodes and names the file-tree reader creates on this thread are counted
// against `limit`. Past it the reader reports its tree as unreadable and Exceeded() tells the
// owner that the cause was memory, not damage. Allowances nest: the innermost one counts.
class MemoryAllowance {
public:
    explicit MemoryAllowance(std::uint64_t limit = MemoryLimitBytes());
    ~MemoryAllowance();
    MemoryAllowance(const MemoryAllowance&) = delete;
    MemoryAllowance& operator=(const MemoryAllowance&) = delete;

    bool Exceeded() const { return exceeded_; }

    // Takes `bytes` from the allowance in force on this thread: false once it is spent;
    // true when there is none.
    static bool Charge(std::uint64_t bytes);

private:
    std::uint64_t left_;
    bool exceeded_ = false;
    MemoryAllowance* outer_;
};

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it.
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace halvex::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(std::string_view relative) const;

private:
    std::string path_;
};

// Sets the process's umask (and so that of the programs it starts) for the guard's life.
class UmaskFor {
public:
    explicit UmaskFor(unsigned mask) : saved_(::umask(static_cast<mode_t>(mask))) {}
    ~UmaskFor() { ::umask(saved_); }
    UmaskFor(const UmaskFor&) = delete;
    UmaskFor& operator=(const UmaskFor&) = delete;

private:
    mode_t saved_;
};

// Small file helpers for tests; they throw std::runtime_error on failure.
void WriteFile(const std::string& path, std::string_view content);
std::string ReadFile(const std::string& path);
void MakeFolders(const std::string& path);  // like mkdir -p
void RemoveTree(const std::string& path);
// Sets a file's last-write time in seconds since 1970 plus nanoseconds.
void SetMtime(const std::string& path, std::int64_t seconds, long nanoseconds = 0);

}  // namespace halvex::test

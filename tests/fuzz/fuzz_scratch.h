// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private scratch folder for fuzz targets that must hand their input to code reading files,
// removed when the fuzzer exits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/file.h"

namespace halvex::fuzz {

// Never destroyed: the exit handler that removes the folder runs after static destructors.
inline const std::string& ScratchFolder() {
    static const std::string* folder = [] {
        // tmpfs when there is one: archives are synced when they are closed.
        std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        auto* f = new std::string(base + "/halvex-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(*f);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchFolder(), ec);
        });
        return f;
    }();
    return *folder;
}

inline void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    platform::File file(path, platform::File::Mode::CreateTruncate);
    if (size > 0) file.Write(data, size);
    file.Close();
}

}  // namespace halvex::fuzz

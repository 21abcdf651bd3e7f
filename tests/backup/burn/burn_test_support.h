// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the burner's and the copy-to-CD task's tests: environment settings for one test,
// whether the real burning library is there, and reading an image back with xorriso.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <optional>
#include <string>
#include <zlib.h>

#include "backup/burn/cd_burner.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex::burntest {

// Sets (or, with none, removes) an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~ScopedEnv() { saved_ ? setenv(name_, saved_->c_str(), 1) : unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

inline bool RealLibraryInstalled() {
    void* handle = dlopen(kDefaultBurnLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr && test::HasTool("xorriso");
}

inline FileDigest DigestOf(const std::string& content) {
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
    return {content.size(), static_cast<std::uint32_t>(crc)};
}

// Extracts the whole image into `to` with xorriso (an independent reader); answers the
// volume id of its last session, or none when extracting failed.
inline std::optional<std::string> ExtractImage(const std::string& image, const std::string& to) {
    if (test::RunCommand({"xorriso", "-osirrox", "on", "-indev", image, "-extract", "/", to}).exitCode != 0)
        return std::nullopt;
    const std::string info = test::RunCommand({"xorriso", "-indev", image, "-pvd_info"}).output;
    const std::string key = "Volume Id    : ";
    const std::size_t at = info.find(key);
    if (at == std::string::npos) return "";
    return info.substr(at + key.size(), info.find('\n', at) - at - key.size());
}

}  // namespace halvex::burntest

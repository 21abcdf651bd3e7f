#pragma once
// Shared by the burner's and the copy-to-CD task's tests: environment settings for one test,
// whether the real burning library is there, and reading an image file back with xorriso.
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

// Sets (or with none, removes) an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

inline bool RealLibraryInstalled() {
    void* handle = dlopen(kDefaultBurnLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

inline FileDigest DigestOf(const std::string& content) {
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.data()),
                            static_cast<uInt>(content.size()));
    return {content.size(), static_cast<std::uint32_t>(crc)};
}

// Extracts the whole image into `to` with xorriso (an independent reader). False when it fails.
inline bool ExtractImage(const std::string& image, const std::string& to, std::string* log = nullptr) {
    test::CommandResult r = test::RunCommand(
        {"xorriso", "-osirrox", "on", "-indev", image, "-extract", "/", to});
    if (log) *log = r.errors;
    return r.exitCode == 0;
}

// The volume id xorriso reads from the image's last session.
inline std::string XorrisoVolumeId(const std::string& image) {
    test::CommandResult r = test::RunCommand({"xorriso", "-indev", image, "-pvd_info"});
    const std::string key = "Volume Id    : ";
    const std::size_t at = r.output.find(key);
    if (at == std::string::npos) return "?";
    const std::size_t end = r.output.find('\n', at);
    return r.output.substr(at + key.size(), end - at - key.size());
}

}  // namespace halvex::burntest

// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/password_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvex {
namespace {

// A password file is one line; anything larger is some other file.
constexpr std::size_t kMaxPasswordFile = 4096;

}  // namespace

PasswordFileRead ReadPasswordFile(const std::string& path, bool privateOnly) {
    PasswordFileRead result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        result.error = "Could not open the password file '" + path + "': " + std::strerror(errno) + ".";
        return result;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.error = "The password file '" + path + "' is not a regular file.";
        return result;
    }
    if (privateOnly && (info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)) {
        result.error = "The password file '" + path +
                       "' must belong to you and be readable by you alone (chmod 600 '" + path + "').";
        return result;
    }
    std::string text(kMaxPasswordFile, '\0');
    std::size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = "Could not read the password file '" + path + "': " + std::strerror(errno) + ".";
            return result;
        }
        if (n == 0 || (got += static_cast<std::size_t>(n)) == text.size()) break;
    }
    text.resize(got);
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
        result.error = "The password file '" + path + "' holds no password on its first line.";
        return result;
    }
    result.weak = line.size() < kStrongPasswordLength;
    result.password = std::move(line);
    return result;
}

std::string WeakPasswordWarning(const std::string& path) {
    return "Warning: the password in '" + path + "' has fewer than " + std::to_string(kStrongPasswordLength) +
           " characters and can be guessed; 'halvex-backup --new-password FILE' makes a strong one.";
}

}  // namespace halvex

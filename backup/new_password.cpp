// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/new_password.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backup/backup_cli.h"
#include "zip/zip_aes.h"

namespace halvex {

std::string MakeRandomPassword() {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::array<unsigned char, 20> random{};
    RandomBytes(random);
    std::string password;
    // Five bits per character: 160 bits make 32 characters.
    for (std::size_t bit = 0; bit < random.size() * 8; bit += 5) {
        unsigned value = 0;
        for (std::size_t b = bit; b < bit + 5; ++b) value = (value << 1) | ((random[b / 8] >> (7 - b % 8)) & 1u);
        if (bit > 0 && bit % 20 == 0) password += '-';
        password += kAlphabet[value];
    }
    random.fill(0);
    return password;
}

std::string WriteNewPasswordFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errno == EEXIST ? "'" + path + "' exists already; it is not replaced."
                               : "Could not create '" + path + "': " + std::strerror(errno) + ".";
    }
    const std::string line = MakeRandomPassword() + "\n";
    // The umask may take bits away, never add them; made sure of anyway.
    bool good = ::fchmod(fd, 0600) == 0;
    std::size_t done = 0;
    while (good && done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        good = n > 0;
        if (good) done += static_cast<std::size_t>(n);
    }
    good = good && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!good) {
        ::unlink(path.c_str());
        return "Could not write '" + path + "': " + std::strerror(error) + ".";
    }
    return {};
}

int RunNewPassword(const std::string& path) {
    const std::string error = WriteNewPasswordFile(path);
    if (!error.empty()) {
        std::fprintf(stderr, "halvex-backup: %s\n", error.c_str());
        return kExitStartup;
    }
    std::printf("A new password is in %s (readable by you alone).\n"
                "Name it in a job with encrypt:\"%s\" and keep a copy away from the backups:\n"
                "without it, nothing in them can be restored.\n",
                path.c_str(), path.c_str());
    return kExitSucceeded;
}

}  // namespace halvex

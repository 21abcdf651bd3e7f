// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/set_password.h"

#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "common/password_file.h"
#include "zip/zip_archive_file.h"

namespace halvex {

bool ArchiveIsEncrypted(const std::string& path) {
    try {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly);
        return zip.HasAesEntries();
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::string> ArchiveRefusingPassword(const std::vector<std::string>& paths, const std::string& password) {
    for (const std::string& path : paths) {
        try {
            ZipArchiveFile zip;
            zip.SetPassword(password);
            zip.Open(path, ZipOpenReadOnly);
            for (int i = 0; i < zip.GetEntryCount(); ++i) {
                // One entry tells: every entry of an archive is written with the same password.
                if (const std::optional<bool> opens = zip.CheckPassword(i)) {
                    if (!*opens) return path;
                    break;
                }
            }
        } catch (const std::exception&) {
            // Damage is reported where the archive is read.
        }
    }
    return std::nullopt;
}

std::optional<std::string> FindSetPassword(const std::optional<std::string>& passwordFile,
                                           const std::function<std::optional<std::string>()>& ask, std::string& error) {
    std::optional<std::string> file = passwordFile;
    if (!file) {
        if (const char* named = std::getenv("HALVEX_PASSWORD_FILE"); named != nullptr && *named != '\0') file = named;
    }
    if (file) {
        PasswordFileRead read = ReadPasswordFile(*file, false);
        if (!read.password) error = read.error;
        return read.password;
    }
    return ask ? ask() : std::nullopt;
}

std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) return std::nullopt;
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ICANON;
    (void)!::write(fd, prompt.data(), prompt.size());
    if (::tcsetattr(fd, TCSAFLUSH, &quiet) != 0) return std::nullopt;
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    (void)!::write(fd, "\n", 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return std::nullopt;
    return line;
}

}  // namespace halvex

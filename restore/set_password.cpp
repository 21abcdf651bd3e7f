// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/set_password.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "common/password_file.h"
#include "zip/zip_archive_file.h"

namespace halvex {

bool ArchiveIsEncrypted(const std::string& path) {
    try {
        // The bookkeeping entries tell, and the catalog of the files is not needed for it.
        ZipArchiveFile zip;
        zip.OpenTopLevelOnly(path);
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
            // One entry tells: every entry of an archive is written with the same password. A
            // bookkeeping entry is looked for first, so that the whole catalog is read only for
            // an archive whose encrypted entries are all files.
            for (const bool topLevelOnly : {true, false}) {
                if (topLevelOnly)
                    zip.OpenTopLevelOnly(path);
                else
                    zip.Open(path, ZipOpenReadOnly);
                std::optional<bool> opens;
                for (int i = 0; i < zip.GetEntryCount() && !opens; ++i) opens = zip.CheckPassword(i);
                if (opens && !*opens) return path;
                const bool onlyFilesEncrypted = !opens && zip.HasAesEntries();
                zip.Close(true);
                if (!onlyFilesEncrypted) break;
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

bool TakeSetPassword(const std::vector<std::string>& archives, const std::optional<std::string>& passwordFile,
                     std::optional<std::string>& password,
                     const std::function<std::optional<std::string>(const std::string& archive)>& ask,
                     const std::function<void(const std::string& message)>& tell) {
    if (!password) {
        const auto encrypted = std::find_if(archives.begin(), archives.end(), ArchiveIsEncrypted);
        if (encrypted == archives.end()) return true;
        std::string error;
        password = FindSetPassword(passwordFile, [&] { return ask(*encrypted); }, error);
        if (!password) {
            tell(error.empty() ? "The set is encrypted: give its password with --password-file FILE or "
                                 "HALVEX_PASSWORD_FILE."
                               : error);
            return false;
        }
        ZipArchiveFile::SetReadPassword(*password);
    }
    if (const auto refused = ArchiveRefusingPassword(archives, *password)) {
        tell("wrong password for " + *refused);
        password.reset();  // the next attempt asks again
        ZipArchiveFile::SetReadPassword({});
        return false;
    }
    return true;
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

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_operations.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/file_time.h"

namespace halvex::platform {

std::string FolderOfPath(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOfPath(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

bool CopyFileReplace(const std::string& source, const std::string& destination) {
    std::string temporary = destination + ".halvex-copy";
    try {
        File in(source, File::Mode::Read);
        File out(temporary, File::Mode::CreateTruncate, File::Access::OwnerOnly);
        std::vector<unsigned char> buffer(1 << 16);
        for (;;) {
            std::size_t n = in.Read(buffer.data(), buffer.size());
            if (n == 0) break;
            out.Write(buffer.data(), n);
        }
        out.Sync();
        out.Close();
        FileTime t = 0;
        if (GetLastWriteTime(source, t)) SetLastWriteTime(temporary, t);
    } catch (const FileError& e) {
        ::unlink(temporary.c_str());
        errno = e.osError();
        return false;
    }
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    // The copy is in place; a refused flush of its folder entry does not undo that.
    static_cast<void>(SyncFolder(FolderOfPath(destination)));
    return true;
}

bool MovePath(const std::string& source, const std::string& destination) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot refuse replacement itself. A file: a second name that cannot
    // replace anything, then the first name goes.
    struct stat st {};
    if (::lstat(source.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (::link(source.c_str(), destination.c_str()) == 0) {
            ::unlink(source.c_str());  // in place under the new name even if the old one stays
            return true;
        }
        if (errno == EEXIST) return false;
    }
    // A folder, or no hard links there: check first.
    if (::lstat(destination.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(source.c_str(), destination.c_str()) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ReadLinkTarget(const std::string& path, std::string& target) {
    // A target may be up to PATH_MAX bytes on Linux; grown once more in case it is longer.
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        if (buffer.size() >= (1u << 20)) {
            errno = ENAMETOOLONG;
            return false;
        }
        buffer.resize(buffer.size() * 4);
    }
}

bool CreateFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

}  // namespace halvex::platform

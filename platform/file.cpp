// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_error.h"

namespace halvex::platform {
namespace {

int FlagsFor(File::Mode mode) {
    switch (mode) {
        case File::Mode::Read: return O_RDONLY;
        case File::Mode::ReadNoFollow: return O_RDONLY | O_NOFOLLOW;
        case File::Mode::ReadWrite: return O_RDWR;
        case File::Mode::CreateTruncate: return O_RDWR | O_CREAT | O_TRUNC;
        case File::Mode::Append: return O_WRONLY | O_CREAT | O_APPEND;
        case File::Mode::CreateNew: return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    }
    return O_RDONLY;
}

}  // namespace

File::~File() { Abandon(); }

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Abandon();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

bool File::TryOpen(const std::string& path, Mode mode, Access access) noexcept {
    return TryOpenAt(AT_FDCWD, path, mode, access);
}

bool File::TryOpenAt(int folder, const std::string& path, Mode mode, Access access) noexcept {
    Abandon();
    const bool ownerOnly = mode != Mode::Read && mode != Mode::ReadNoFollow && access == Access::OwnerOnly;
    int fd;
    do {
        // Non-blocking: a fifo without a writer, or a device, would otherwise hold the open.
        fd = ::openat(folder, path.c_str(), FlagsFor(mode) | O_NONBLOCK | O_CLOEXEC, ownerOnly ? 0600 : 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A fifo without a reader or a socket (opened to write), a device without its driver,
        // a folder opened to write.
        if (errno == ENXIO || errno == ENODEV || errno == EISDIR) errno = kNotRegularFile;
        return false;
    }
    auto refuse = [fd](int error) {
        ::close(fd);
        errno = error;
        return false;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0) return refuse(errno);
    // Checked before anything is changed: not even the permissions of a fifo are touched.
    if (!S_ISREG(st.st_mode)) return refuse(kNotRegularFile);
    // The umask may have taken bits from a new file, and an existing one may be open to others.
    if (ownerOnly && (st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) return refuse(errno);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return refuse(errno);
    fd_ = fd;
    try {
        path_ = path;
    } catch (...) {
        Abandon();
        errno = ENOMEM;
        return false;
    }
    return true;
}

bool File::TryOpenTemporary(const std::string& folder) noexcept {
    Abandon();
    std::string path;
    try {
        path = folder.empty() ? std::string(".") : folder;
    } catch (...) {
        errno = ENOMEM;
        return false;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // File systems without unnamed files: a named one, removed at once.
        std::string pattern;
        try {
            pattern = path + "/.halvex-tmp-XXXXXX";
        } catch (...) {
            errno = ENOMEM;
            return false;
        }
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0 && ::unlink(pattern.c_str()) != 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(pattern.c_str());
            errno = error;
            return false;
        }
    }
    if (fd < 0) return false;
    fd_ = fd;
    path_ = std::move(path);
    return true;
}

void File::Open(const std::string& path, Mode mode, Access access) {
    if (!TryOpen(path, mode, access)) ThrowFileError("open", path);
}

void File::Close() {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) ThrowFileError("close", path_);
}

void File::Abandon() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::size_t File::Read(void* buffer, std::size_t count) {
    auto* p = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd_, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("read", path_);
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void File::Write(const void* buffer, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("write", path_);
        }
        done += static_cast<std::size_t>(n);
    }
}

std::uint64_t File::Seek(std::uint64_t position) {
    off_t r = ::lseek(fd_, static_cast<off_t>(position), SEEK_SET);
    if (r < 0) ThrowFileError("seek", path_);
    return static_cast<std::uint64_t>(r);
}

std::uint64_t File::SeekToEnd() {
    off_t r = ::lseek(fd_, 0, SEEK_END);
    if (r < 0) ThrowFileError("seek", path_);
    return static_cast<std::uint64_t>(r);
}

std::uint64_t File::Position() const {
    off_t r = ::lseek(fd_, 0, SEEK_CUR);
    if (r < 0) ThrowFileError("seek", path_);
    return static_cast<std::uint64_t>(r);
}

std::uint64_t File::Length() const {
    struct stat st {};
    if (fstat(fd_, &st) != 0) ThrowFileError("stat", path_);
    return static_cast<std::uint64_t>(st.st_size);
}

void File::SetLength(std::uint64_t length) {
    int r;
    do {
        r = ::ftruncate(fd_, static_cast<off_t>(length));
    } while (r != 0 && errno == EINTR);
    if (r != 0) ThrowFileError("truncate", path_);
}

void File::Sync() {
    if (::fsync(fd_) != 0 && errno != EINVAL) ThrowFileError("sync", path_);
}

}  // namespace halvex::platform

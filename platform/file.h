// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An open file: RAII over a descriptor. Failures throw FileError.
#include <cstddef>
#include <cstdint>
#include <string>

namespace halvex::platform {

class File {
public:
    enum class Mode {
        Read,            // existing file, read only
        ReadNoFollow,    // as Read, but a symbolic link there is refused with ELOOP
        ReadWrite,       // existing file, read and write, no truncation
        CreateTruncate,  // create or truncate, read and write
        Append,          // create when missing, every write goes to the end
        CreateNew,       // create, read and write; fails when the path exists (even as a link)
    };
    // Every mode opens regular files only (links followed, except by ReadNoFollow): anything else there (fifo,
    // device, socket, folder) is refused at once, without waiting and without being changed,
    // with errno kNotRegularFile (file_error.h).
    // Who may read and write a file that an open creates, truncates or appends to.
    enum class Access {
        Shared,     // as the umask allows (an existing file keeps its permissions)
        OwnerOnly,  // mode 600 whatever the umask; an existing file is narrowed to 600 too
    };

    File() = default;
    File(const std::string& path, Mode mode, Access access = Access::Shared) { Open(path, mode, access); }
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // `access` matters only for the modes that write (CreateTruncate, Append, CreateNew,
    // ReadWrite): with OwnerOnly a file whose permissions cannot be narrowed is not opened.
    void Open(const std::string& path, Mode mode, Access access = Access::Shared);
    // As Open, but answers false (errno set) instead of throwing.
    bool TryOpen(const std::string& path, Mode mode, Access access = Access::Shared) noexcept;
    // As TryOpen for `name` in the open folder `folder` (openat); CreateNew never follows a
    // link there. Path() is `name`.
    bool TryOpenAt(int folder, const std::string& name, Mode mode, Access access = Access::Shared) noexcept;
    // Opens a new file in `folder` that has no name (it is gone once closed, also after a
    // crash where the file system allows), read and write, mode 600. Path() is `folder`.
    // False (errno set) when none can be made there.
    bool TryOpenTemporary(const std::string& folder) noexcept;
    // Closes and reports a failed close (data not written) as FileError.
    void Close();
    // Closes and ignores every error (after an exception).
    void Abandon() noexcept;

    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    int Descriptor() const { return fd_; }

    // Reads up to count bytes, fewer only at the end of the file.
    std::size_t Read(void* buffer, std::size_t count);
    // Writes all count bytes.
    void Write(const void* buffer, std::size_t count);
    std::uint64_t Seek(std::uint64_t position);
    std::uint64_t SeekToEnd();
    std::uint64_t Position() const;
    std::uint64_t Length() const;
    void SetLength(std::uint64_t length);
    // Makes the written data durable (fsync).
    void Sync();

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace halvex::platform

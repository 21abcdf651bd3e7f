// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Lists one folder: name, attributes, 64-bit size and last-write time of each entry.
#include <cstdint>
#include <string>

#include "platform/file_time.h"

namespace halvex::platform {

enum class EntryKind {
    Directory,
    RegularFile,
    Other,       // fifo, socket, device: never opened by a backup
    Unreadable,  // stat failed (a dangling link, or it vanished while listed)
};

// What an entry of kind Other is.
enum class SpecialKind { None, Fifo, Socket, CharacterDevice, BlockDevice };
// The kind of what a file mode describes (never Unreadable), and for Other which one it is.
EntryKind KindOfMode(unsigned mode, SpecialKind& special);

struct DirEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    bool isSymlink = false;         // the entry itself is a symbolic link
    std::uint32_t attributes = 0;   // of what the entry points to
    std::uint64_t size = 0;
    FileTime lastWriteTime = 0;
    SpecialKind special = SpecialKind::None;  // of what the entry points to, for kind Other
    // The link itself (lstat) when isSymlink: its size is the length of its target.
    std::uint64_t linkSize = 0;
    FileTime linkTime = 0;
};

// RAII folder listing; "." and ".." are never returned.
class DirectoryListing {
public:
    DirectoryListing() = default;
    explicit DirectoryListing(const std::string& folder) { Open(folder); }
    ~DirectoryListing();
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    // False (errno kept in Error()) when the folder cannot be listed.
    bool Open(const std::string& folder);
    bool IsOpen() const { return dir_ != nullptr; }
    // Next entry; false at the end.
    bool Next(DirEntry& entry);
    void Close();
    int Error() const { return error_; }

private:
    void* dir_ = nullptr;  // DIR*
    int error_ = 0;
};

}  // namespace halvex::platform

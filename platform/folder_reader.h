// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads one folder in chunks of plain entries (name, kind, size, time), each stat'ed relative
// to the folder's descriptor. A chunk owns its names, so it can be handed to another thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory_listing.h"

namespace halvex::platform {

struct ListedEntry {
    std::uint32_t nameStart = 0;  // in ListingChunk::names, followed by a '\0'
    std::uint32_t nameSize = 0;
    EntryKind kind = EntryKind::Other;
    SpecialKind special = SpecialKind::None;  // for kind Other
    bool isSymlink = false;
    // A regular file's size and last-write time; a link's own (lstat) ones, whatever it
    // points to (both 0 when the link vanished while listed).
    std::uint64_t size = 0;
    FileTime time = 0;
};

struct ListingChunk {
    std::vector<ListedEntry> entries;
    std::string names;
    bool last = false;
    // The listing's failure, in the last chunk: errno of the open (the folder could not be
    // listed at all) or of a read that broke off midway.
    int error = 0;
    bool opened = false;  // in the first chunk: the folder was opened
    // In the first chunk, when asked for and known: the folder's identity.
    bool hasIdentity = false;
    std::uint64_t device = 0, inode = 0;

    std::string_view Name(const ListedEntry& e) const { return {names.data() + e.nameStart, e.nameSize}; }
};

class FolderReader {
public:
    FolderReader() = default;
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // Opens `folder` and fills the first chunk's opened, error and identity fields (the
    // identity only with `identity`); a folder that cannot be opened gives a last chunk.
    void Open(const std::string& folder, bool identity, ListingChunk& chunk);
    // Appends up to `maxEntries` entries to `chunk`; marks it last (and closes the folder)
    // at the end of the listing or on an error.
    void Read(ListingChunk& chunk, std::size_t maxEntries);
    void Close();

private:
    void* dir_ = nullptr;  // DIR*
};

}  // namespace halvex::platform

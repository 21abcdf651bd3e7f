// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whole-file operations: copy, move, delete, folders, durability of folder entries.
#include <string>

namespace halvex::platform {

// Copies source over destination (replacing it), keeping the last-write time. The copy is
// written beside the destination under a temporary name, synced and then renamed into place,
// so the destination is either the old file or the complete copy. The copy is readable and
// writable by its owner only (mode 600): what is copied is the program's private data.
// False (errno set) on failure.
bool CopyFileReplace(const std::string& source, const std::string& destination);

// Renames a file or folder; fails when the destination exists. False (errno set) on failure.
bool MovePath(const std::string& source, const std::string& destination);

// Deletes a file (not a folder). False (errno set) on failure.
bool DeleteFile(const std::string& path);

// Creates one folder. False (errno set) when it cannot, also when it exists already.
bool CreateFolder(const std::string& path);

// Makes the folder's entries (created, renamed, deleted files) durable. False on failure.
[[nodiscard]] bool SyncFolder(const std::string& folder);

// The target of the symbolic link at `path`, as stored (never resolved). False (errno set)
// when `path` is not a link or cannot be read.
bool ReadLinkTarget(const std::string& path, std::string& target);

// The folder part of a path ("." when it has no '/'), and the part after the last '/'.
std::string FolderOfPath(const std::string& path);
std::string NameOfPath(const std::string& path);

}  // namespace halvex::platform

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windows-style attribute bits derived from Linux file modes.
#include <cstdint>
#include <optional>
#include <string>

#include <sys/types.h>

namespace halvex::platform {

inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;

std::uint32_t AttributesFromMode(mode_t mode);

// Attributes of a path (links followed); nullopt when it cannot be read.
std::optional<std::uint32_t> GetAttributes(const std::string& path);
// Applies the read-only bit: set clears every write permission; other bits are ignored.
bool SetAttributes(const std::string& path, std::uint32_t attributes);
// The same for an open file.
bool SetAttributes(int fd, std::uint32_t attributes);

// The mode (type and permission bits) of a path (links followed); nullopt when it cannot be read.
std::optional<mode_t> GetMode(const std::string& path);
// Sets the permission bits of the file at `path` to `permissions` & 0777 (set-user-ID,
// set-group-ID and sticky bits are never set from here). A link at `path` is not followed:
// false, as when the file cannot be opened for reading or changed.
bool SetPermissions(const std::string& path, std::uint32_t permissions);
// The same for an open file.
bool SetPermissions(int fd, std::uint32_t permissions);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);

}  // namespace halvex::platform

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one rule for names that become a single path component: a target name (the top folder
// of a mapping's entries, the name of its history entry, a folder made by a restore) and the
// names of files and folders read back from an archive. A name that breaks it cannot travel
// from backup.ini through the store and the archives to a restored folder and back.
#include <string_view>

namespace halvex {

// Whether the name holds a folder separator of either platform ('/' or '\') or a 0 byte.
bool HasPathSeparator(std::string_view name);

// A name that can stand as one path component below a folder: not empty, not "." or "..",
// without '/', '\' or a 0 byte.
bool IsSafeName(std::string_view name);

}  // namespace halvex

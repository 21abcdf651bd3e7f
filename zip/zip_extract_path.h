// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where an extracted entry lands: the relative path built from an entry name, refused when it
// could leave the destination folder, and the folders created on the way.
#include <optional>
#include <string>
#include <string_view>

namespace halvex {

// The path, relative to the destination folder and with '/' separators, of entry `name`
// ('\' separators; trailing ones are ignored, as folder entries of other tools carry one).
// Without fullPath: its last component. With fullPath: every component, after dropping a
// leading drive ("C:") and leading '\'; empty and "." components are skipped. nullopt when
// the result would be empty or could leave the folder: a ".." component, a last component
// that is empty, "." or "..", a component holding '/' or a NUL byte.
std::optional<std::string> ExtractionRelativePath(std::string_view name, bool fullPath);

// Creates `folder` and every missing parent ('/' separators). True when it exists as a folder
// afterwards.
bool CreateFolderPath(const std::string& folder);

}  // namespace halvex

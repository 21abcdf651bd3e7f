// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Choosing a folder (the File Browser page's "Browse"): the desktop's folder dialog.
#include <optional>
#include <string>

class QWidget;

namespace halvex {

// Shows a folder dialog owned by `owner`, titled `title` ("Open" when empty), starting at
// `initialFolder` when that is not empty. The chosen folder, or nothing when the user cancels.
std::optional<std::string> BrowseForFolder(QWidget* owner, const std::string& title, const std::string& initialFolder);

}  // namespace halvex

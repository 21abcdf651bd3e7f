// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Creating the folders above a path, and naming a file in a folder without moving there.
#include <string>

namespace halvex {

// Creates every missing folder above the path's last '/', outermost first (failures, such
// as a folder that exists already, are ignored). Answers whether the path itself exists
// afterwards; a path without '/' creates nothing and answers false.
// "a/b/c.txt" creates a and a/b; "a/b/" creates a and a/b and answers true.
bool CreateParentFolders(const std::string& path);

// `name` in `folder`: the name itself when it is a full path or the folder is "" or "."
// (the process's own folder resolves it then), otherwise folder + "/" + name.
std::string PathInFolder(const std::string& folder, const std::string& name);

}  // namespace halvex

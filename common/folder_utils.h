// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Creating the folders above a path, and moving to the folder that holds a path.
#include <string>

namespace halvex {

// Creates every missing folder above the path's last '/', outermost first (failures, such
// as a folder that exists already, are ignored). Answers whether the path itself exists
// afterwards; a path without '/' creates nothing and answers false.
// "a/b/c.txt" creates a and a/b; "a/b/" creates a and a/b and answers true.
bool CreateParentFolders(const std::string& path);

// Makes the folder above the path's last '/' the current folder ("/" for "/name").
// False when the path has no '/' or the folder cannot be entered.
bool ChangeToParentFolder(const std::string& path);

}  // namespace halvex

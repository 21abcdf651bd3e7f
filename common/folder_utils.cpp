// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/folder_utils.h"

#include "platform/file_attributes.h"
#include "platform/file_operations.h"

namespace halvex {

bool CreateParentFolders(const std::string& path) {
    std::size_t last = path.rfind('/');
    if (last == std::string::npos) return false;
    // Iterating over the separators from the left makes the outermost folder first, with no
    // recursion depth that grows with the path.
    for (std::size_t slash = path.find('/'); slash <= last; slash = path.find('/', slash + 1)) {
        if (slash > 0) platform::CreateFolder(path.substr(0, slash));
        if (slash == last) break;
    }
    return platform::PathExists(path);
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if ((!name.empty() && name.front() == '/') || folder.empty() || folder == ".") return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace halvex

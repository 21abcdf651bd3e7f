// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_extract_path.h"


#include "platform/file_attributes.h"
#include "platform/file_operations.h"

namespace halvex {
namespace {

bool IsSafeComponent(std::string_view part) {
    return !part.empty() && part != "." && part != ".." &&
           part.find('/') == std::string_view::npos && part.find('\0') == std::string_view::npos;
}

}  // namespace

std::optional<std::string> ExtractionRelativePath(std::string_view name, bool fullPath) {
    // Folder entries of other tools end with a separator: "dir\" names the folder "dir".
    while (!name.empty() && name.back() == '\\') name.remove_suffix(1);
    if (!fullPath) {
        auto slash = name.find_last_of('\\');
        std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
        if (!IsSafeComponent(last)) return std::nullopt;
        return std::string(last);
    }
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
        name.remove_prefix(2);
    }
    std::string result;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('\\', start);
        if (end == std::string_view::npos) end = name.size();
        std::string_view part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (!IsSafeComponent(part)) return std::nullopt;
        if (!result.empty()) result += '/';
        result.append(part);
    }
    if (result.empty()) return std::nullopt;
    return result;
}

bool CreateFolderPath(const std::string& folder) {
    if (folder.empty()) return false;
    if (platform::IsDirectory(folder)) return true;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = folder.find('/', position + 1);
        std::string prefix = folder.substr(0, position);
        if (prefix.empty() || platform::IsDirectory(prefix)) continue;
        if (!platform::CreateFolder(prefix) && !platform::IsDirectory(prefix)) return false;
    }
    return platform::IsDirectory(folder);
}

}  // namespace halvex

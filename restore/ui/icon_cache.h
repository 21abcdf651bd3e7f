// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The small icons of the restore window's trees and lists: six fixed images (the set, a
// target, a closed and an open folder, the way up, a symbolic link) and one icon per file type, looked up once
// per extension and kept.
#include <QIcon>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace halvex {

class IconCache {
public:
    enum FixedImage {
        kSetImage = 0,
        kTargetImage = 1,
        kFolderImage = 2,
        kOpenFolderImage = 3,
        kUpImage = 4,
        kLinkImage = 5,
    };

    IconCache();

    // The index of the icon for a file of this name: one per extension (the text after the
    // last '.', letter case ignored); every name without one shares one entry.
    int GetIconIndexForFile(std::string_view name);
    QIcon Icon(int index) const;
    int Count() const { return static_cast<int>(icons_.size()); }

    // The key a name is filed under: its extension in lower case, without the dot.
    static std::string ExtensionKey(std::string_view name);

private:
    std::vector<QIcon> icons_;
    std::unordered_map<std::string, int> byExtension_;
};

}  // namespace halvex

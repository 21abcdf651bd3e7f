// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers shared by the backup engine's tests: trees as sorted path lists, little-endian
// bytes, and a history built from tree texts.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "backup/target_history.h"
#include "common/file_tree.h"
#include "tests/common/file_tree_test_util.h"

namespace halvex::backuptest {

// Every folder (with a trailing '\') and file of a chain, by path below the root (the root
// folder itself is left out), sorted. Files get "|size|time" when `details` is set.
inline void CollectPaths(const FileTreeNode* node, const std::string& prefix, bool details,
                         std::vector<std::string>& out) {
    for (; node != nullptr; node = node->nextSibling) {
        std::string path = prefix;
        if (node->name[0] != '\0') {
            path += node->name;
            out.push_back(path + "\\");
            path += "\\";
        }
        for (const FileTreeFile* f = node->files; f != nullptr; f = f->next) {
            std::string line = path + f->name;
            if (details) {
                line += '|';
                line += std::to_string(f->size);
                line += '|';
                line += std::to_string(f->lastWriteTime);
            }
            out.push_back(line);
        }
        CollectPaths(node->firstChild, path, details, out);
    }
}

inline std::vector<std::string> Paths(const FileTreeNode* tree, bool details = false) {
    std::vector<std::string> out;
    CollectPaths(tree, "", details, out);
    std::sort(out.begin(), out.end());
    return out;
}

inline void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The serialized form of the tree a text describes.
inline std::string Serialized(std::string_view treeText) {
    test::OwnedTree tree(treeText);
    std::string out(FileTreeSerializedSize(tree.head), '\0');
    auto* cursor = reinterpret_cast<unsigned char*>(out.data());
    SaveFileTree(tree.head, cursor);
    return out;
}

inline HistoryBytes ToBytes(const std::string& s) { return HistoryBytes(s.begin(), s.end()); }

}  // namespace halvex::backuptest

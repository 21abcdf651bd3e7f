// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Owning handle for a file tree chain: frees the folder it holds, everything below it and
// its following siblings (FreeFileTree).
#include <memory>

#include "common/file_tree.h"

namespace halvex {

struct FileTreeFreer {
    void operator()(FileTreeNode* node) const noexcept { FreeFileTree(node); }
};

using FileTreePtr = std::unique_ptr<FileTreeNode, FileTreeFreer>;

// MergeFileTrees on owned chains; both keep what the merge leaves them, also when it throws.
inline void MergeFileTrees(FileTreePtr& target, FileTreePtr& source, MergeMode mode,
                           NameCase nameCase = kPlatformNameCase, MergeIndex* index = nullptr) {
    FileTreeNode* targetHead = target.release();
    FileTreeNode* sourceHead = source.release();
    try {
        MergeFileTrees(&targetHead, &sourceHead, mode, nameCase, index);
    } catch (...) {
        target.reset(targetHead);
        source.reset(sourceHead);
        throw;
    }
    target.reset(targetHead);
    source.reset(sourceHead);
}

}  // namespace halvex

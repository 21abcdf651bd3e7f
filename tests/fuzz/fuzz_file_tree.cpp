// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a run of serialized trees (as in a history): each tree that loads is
// saved again, cloned and merged with its clone in every mode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/file_tree.h"

using namespace halvex;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Exercise(FileTreeNode* tree, const unsigned char* recordStart, const unsigned char* recordEnd) {
    // Saving gives back exactly the bytes read, except that each folder's files come out in
    // reverse order: the size must match, and a second load and save must give the record back.
    const std::uint64_t size = FileTreeSerializedSize64(tree);
    Check(size == static_cast<std::uint64_t>(recordEnd - recordStart));
    Check(FileTreeSerializedSize(tree) == size);
    std::vector<unsigned char> saved(size);
    unsigned char* out = saved.data();
    Check(SaveFileTree(tree, out, saved.data() + saved.size()));
    Check(out == saved.data() + saved.size());
    const unsigned char* in = saved.data();
    bool ok = false;
    FileTreeNode* reloaded = LoadFileTree(in, saved.data() + saved.size(), 0, ok);
    Check(ok && in == saved.data() + saved.size());
    std::vector<unsigned char> again(size);
    out = again.data();
    SaveFileTree(reloaded, out);
    Check(std::equal(again.begin(), again.end(), recordStart));
    FreeFileTree(reloaded);

    SumFolderSizes(tree);
    AddToArchiveNumbers(tree, 1);
    for (int mode : {1, 2, 6, 14, 3}) {
        for (NameCase nameCase : {NameCase::Exact, NameCase::IgnoreCase}) {
            FileTreeNode* target = CloneFileTree(tree);
            FileTreeNode* source = CloneFileTree(tree);
            MergeFileTrees(&target, &source, static_cast<MergeMode>(mode), nameCase);
            FreeFileTree(target);
            FreeFileTree(source);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const unsigned char* cursor = data;
    const unsigned char* end = data + size;
    for (int archive = 1; cursor < end && archive <= 16; ++archive) {
        const unsigned char* start = cursor;
        bool ok = false;
        FileTreeNode* tree = LoadFileTree(cursor, end, static_cast<std::uint16_t>(archive), ok);
        if (!ok) {
            Check(tree == nullptr && cursor == start);
            break;
        }
        Check(tree != nullptr && cursor > start && cursor <= end);
        Exercise(tree, start, cursor);
        FreeFileTree(tree);
    }
    return 0;
}

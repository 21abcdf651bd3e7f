// SPDX-License-Identifier: GPL-3.0-or-later
// Merge time for one folder level holding N files (or N sub-folders) on each side, half of the
// names shared, in each merge mode. Run by hand: build/bench/merge_bench
#include <chrono>
#include <cstdio>
#include <string>

#include "common/file_tree.h"

using namespace halvex;

namespace {

std::string Name(const char* prefix, int i) {
    std::string name(prefix);
    name += std::to_string(i);
    return name;
}

// One folder "d" with `count` files; names start at `first`, so two such folders built with
// first = 0 and first = count / 2 share half their names (with the same times).
FileTreeNode* FolderOfFiles(int count, int first) {
    FileTreeNode* folder = NewFolderNode("d");
    FileTreeFile** link = &folder->files;
    for (int i = first; i < first + count; ++i) {
        *link = NewFileNode(Name("file", i) + ".dat", 1000, 132000000000000000ULL + i);
        link = &(*link)->next;
    }
    return folder;
}

// A chain of `count` folders, each holding one file.
FileTreeNode* ChainOfFolders(int count, int first) {
    FileTreeNode* head = nullptr;
    FileTreeNode** link = &head;
    for (int i = first; i < first + count; ++i) {
        *link = NewFolderNode(Name("folder", i));
        (*link)->files = NewFileNode("f", 1, 132000000000000000ULL);
        link = &(*link)->nextSibling;
    }
    return head;
}

double MergeMs(FileTreeNode* (*make)(int, int), int count, int mode) {
    FileTreeNode* target = make(count, 0);
    FileTreeNode* source = make(count, count / 2);
    const auto start = std::chrono::steady_clock::now();
    MergeFileTrees(&target, &source, static_cast<MergeMode>(mode));
    const auto stop = std::chrono::steady_clock::now();
    FreeFileTree(target);
    FreeFileTree(source);
    return std::chrono::duration<double, std::milli>(stop - start).count();
}

}  // namespace

int main() {
    const int counts[] = {1000, 10000, 50000};
    const int modes[] = {1, 2, 6, 14};
    std::printf("merge of two folder levels, 50%% shared names (ms)\n");
    std::printf("%-8s %7s %10s %10s %10s %10s\n", "each", "count", "mode 1", "mode 2", "mode 6",
                "mode 14");
    for (const auto& [label, make] :
         {std::pair{"files", &FolderOfFiles}, std::pair{"folders", &ChainOfFolders}}) {
        for (int count : counts) {
            std::printf("%-8s %7d", label, count);
            for (int mode : modes) std::printf(" %10.2f", MergeMs(make, count, mode));
            std::printf("\n");
        }
    }
    return 0;
}

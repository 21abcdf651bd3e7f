// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/file_tree.h"

#include <cstring>

#include "common/file_tree_walk.h"

namespace halvex {

char* NewFileTreeName(std::string_view name) {
    char* copy = new char[name.size() + 1];
    if (!name.empty()) std::memcpy(copy, name.data(), name.size());
    copy[name.size()] = '\0';
    return copy;
}

FileTreeNode* NewFolderNode(std::string_view name, std::uint16_t archiveNumber) {
    char* copy = NewFileTreeName(name);
    FileTreeNode* node;
    try {
        node = new FileTreeNode;
    } catch (...) {
        delete[] copy;
        throw;
    }
    node->name = copy;
    node->archiveNumber = archiveNumber;
    return node;
}

FileTreeFile* NewFileNode(std::string_view name, std::uint64_t size, std::uint64_t lastWriteTime,
                          std::uint16_t archiveNumber) {
    char* copy = NewFileTreeName(name);
    FileTreeFile* file;
    try {
        file = new FileTreeFile;
    } catch (...) {
        delete[] copy;
        throw;
    }
    file->name = copy;
    file->size = size;
    file->lastWriteTime = lastWriteTime;
    file->archiveNumber = archiveNumber;
    return file;
}

void FreeFileList(FileTreeFile* file) {
    while (file != nullptr) {
        FileTreeFile* next = file->next;
        delete[] file->name;
        delete file;
        file = next;
    }
}

void FreeFileTree(FileTreeNode* node) {
    // Each folder's sub-folder chain is spliced in front of its following siblings before the
    // folder goes, so the whole tree becomes one chain that is freed front to back.
    while (node != nullptr) {
        if (FileTreeNode* child = node->firstChild) {
            FileTreeNode* last = child;
            while (last->nextSibling != nullptr) last = last->nextSibling;
            last->nextSibling = node->nextSibling;
            node->nextSibling = child;
            node->firstChild = nullptr;
        }
        FileTreeNode* next = node->nextSibling;
        FreeFileList(node->files);
        delete[] node->name;
        delete node;
        node = next;
    }
}

namespace {

FileTreeFile* CloneFileList(const FileTreeFile* file) {
    FileTreeFile* head = nullptr;
    FileTreeFile** link = &head;
    try {
        for (; file != nullptr; file = file->next) {
            FileTreeFile* copy = NewFileNode(file->name, file->size, file->lastWriteTime,
                                             file->archiveNumber);
            copy->kind = file->kind;
            *link = copy;
            link = &copy->next;
        }
    } catch (...) {
        FreeFileList(head);
        throw;
    }
    return head;
}

}  // namespace

FileTreeNode* CloneFileTree(const FileTreeNode* node) {
    FileTreeNode* root = nullptr;
    FileTreeNode** link = &root;            // where the next copy is hung
    std::vector<FileTreeNode**> afterChildren;  // sibling links waiting for the sub-folders
    try {
        detail::WalkFolders(
            node,
            [&](const FileTreeNode* original) {
                FileTreeNode* copy = NewFolderNode(original->name, original->archiveNumber);
                *link = copy;
                copy->kind = original->kind;
                copy->totalSize = original->totalSize;
                copy->files = CloneFileList(original->files);
                if (original->firstChild != nullptr) {
                    afterChildren.push_back(&copy->nextSibling);
                    link = &copy->firstChild;
                } else {
                    link = &copy->nextSibling;
                }
            },
            [&](const FileTreeNode* original) {
                if (original->firstChild != nullptr) {
                    link = afterChildren.back();
                    afterChildren.pop_back();
                }
            });
    } catch (...) {
        FreeFileTree(root);
        throw;
    }
    return root;
}

void SumFolderSizes(FileTreeNode* node) {
    detail::WalkFolders(
        node, [](FileTreeNode*) {},
        [](FileTreeNode* folder) {  // sub-folders are summed before their parent
            std::uint64_t total = 0;
            for (const FileTreeNode* child = folder->firstChild; child != nullptr;
                 child = child->nextSibling)
                total += child->totalSize;
            for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next)
                total += file->size;
            folder->totalSize = total;
        });
}

void AddToArchiveNumbers(FileTreeNode* node, int delta) {
    const auto add = [delta](std::uint16_t& number) {
        number = static_cast<std::uint16_t>(number + static_cast<unsigned>(delta));
    };
    detail::ForEachFolder(node, [&](FileTreeNode* folder) {
        add(folder->archiveNumber);
        for (FileTreeFile* file = folder->files; file != nullptr; file = file->next)
            add(file->archiveNumber);
    });
}

bool SameFileTime(std::uint64_t a, std::uint64_t b) {
    // Halved as signed values; both halves lie within +/-2^62, so the difference cannot
    // overflow.
    const std::int64_t difference =
        (static_cast<std::int64_t>(a) >> 1) - (static_cast<std::int64_t>(b) >> 1);
    return difference == 0 || difference == 20000000000LL || difference == -20000000000LL;
}

}  // namespace halvex

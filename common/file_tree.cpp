// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/file_tree.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "common/file_tree_walk.h"

namespace halvex {

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define HALVEX_TREE_POOLS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HALVEX_TREE_POOLS 0
#endif
#endif
#ifndef HALVEX_TREE_POOLS
#define HALVEX_TREE_POOLS 1
#endif

// Blocks of sizes rounded up to 8 bytes, carved from slabs of their own size (so a block is
// only ever next to blocks of the same size) and kept on a free list per size once freed.
// Freed blocks are reused by the next trees rather than given back. Under the address
// sanitizer every block is its own heap block, so that misuse is still caught.
class BlockPool {
public:
    static constexpr std::size_t kGranule = 8;
    static constexpr std::size_t kLargest = 512;
    [[maybe_unused]] static constexpr std::size_t kSlabBytes = 64 * 1024;  // unused without pools

    static constexpr std::size_t Rounded(std::size_t size) { return (size + kGranule - 1) & ~(kGranule - 1); }

    void* Get(std::size_t size) {
#if HALVEX_TREE_POOLS
        SizeClass& sizeClass = classes_[Rounded(size) / kGranule];
        Lock lock(busy_);
        if (FreeBlock* block = sizeClass.free) {
            sizeClass.free = block->next;
            return block;
        }
        const std::size_t bytes = Rounded(size);
        if (static_cast<std::size_t>(sizeClass.end - sizeClass.next) < bytes) {
            slabs_.reserve(slabs_.size() + 1);
            slabs_.push_back(std::make_unique<char[]>(kSlabBytes));
            sizeClass.next = slabs_.back().get();
            sizeClass.end = sizeClass.next + kSlabBytes / bytes * bytes;
        }
        void* block = sizeClass.next;
        sizeClass.next += bytes;
        return block;
#else
        return ::operator new(size);
#endif
    }

    void Put(void* block, std::size_t size) noexcept {
#if HALVEX_TREE_POOLS
        SizeClass& sizeClass = classes_[Rounded(size) / kGranule];
        Lock lock(busy_);
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = sizeClass.free;
        sizeClass.free = freed;
#else
        (void)size;
        ::operator delete(block);
#endif
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    struct SizeClass {
        FreeBlock* free = nullptr;
        char* next = nullptr;
        char* end = nullptr;
    };
    // Trees are built and freed on more than one thread; holding the lock is a few
    // instructions, so waiters spin.
    class Lock {
    public:
        explicit Lock(std::atomic_flag& flag) : flag_(flag) {
            while (flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
        }
        ~Lock() { flag_.clear(std::memory_order_release); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        std::atomic_flag& flag_;
    };

    std::array<SizeClass, kLargest / kGranule + 1> classes_{};
    std::vector<std::unique_ptr<char[]>> slabs_;
    std::atomic_flag busy_;
};

// Never destroyed: trees may still be freed while static objects are being destroyed.
BlockPool& NodePool() {
    static BlockPool& pool = *new BlockPool;
    return pool;
}
// Names apart from nodes: a separate name is then never found right after a node's fields,
// where a node carries its own name.
BlockPool& NamePool() {
    static BlockPool& pool = *new BlockPool;
    return pool;
}

// Reached from the node's own address, not through the 4-byte member, since the name runs on
// past it into the rest of the block.
template <class Node>
char* InlineName(Node* node) {
    return reinterpret_cast<char*>(node) + offsetof(Node, nameStart);
}

// The block of a node that carries a name of `length` bytes and its 0.
template <class Node>
constexpr std::size_t NamedNodeSize(std::size_t length) {
    return std::max(sizeof(Node), offsetof(Node, nameStart) + length + 1);
}
static_assert(sizeof(FileTreeFile) == offsetof(FileTreeFile, nameStart) + 4);
static_assert(sizeof(FileTreeNode) == offsetof(FileTreeNode, nameStart) + 4);

// A node with every link null and a copy of `name`, in the same block when it fits.
// A name ends at its first 0 byte, as freeing measures it.
std::string_view UpToZero(std::string_view name) { return name.substr(0, name.find('\0')); }

template <class Node>
Node* NewNamedNode(std::string_view name) {
    name = UpToZero(name);
    const std::size_t withName = NamedNodeSize<Node>(name.size());
    if (withName <= BlockPool::kLargest) {
        Node* node = ::new (NodePool().Get(withName)) Node;
        char* copy = InlineName(node);
        if (!name.empty()) std::memcpy(copy, name.data(), name.size());
        copy[name.size()] = '\0';
        node->name = copy;
        return node;
    }
    char* copy = NewFileTreeName(name);
    void* block;
    try {
        block = NodePool().Get(sizeof(Node));
    } catch (...) {
        FreeFileTreeName(copy);
        throw;
    }
    Node* node = ::new (block) Node;
    node->name = copy;
    return node;
}

template <class Node>
void FreeNamedNode(Node* node) {
    std::size_t size = sizeof(Node);
    if (node->name == InlineName(node)) {
        size = NamedNodeSize<Node>(std::strlen(node->name));
    } else {
        FreeFileTreeName(node->name);
    }
    node->~Node();
    NodePool().Put(node, size);
}

}  // namespace

void* FileTreeFile::operator new(std::size_t size) { return NodePool().Get(size); }
void FileTreeFile::operator delete(void* block, std::size_t size) noexcept { NodePool().Put(block, size); }
void* FileTreeNode::operator new(std::size_t size) { return NodePool().Get(size); }
void FileTreeNode::operator delete(void* block, std::size_t size) noexcept { NodePool().Put(block, size); }

char* NewFileTreeName(std::string_view name) {
    name = UpToZero(name);
    const std::size_t size = name.size() + 1;
    char* copy = size <= BlockPool::kLargest ? static_cast<char*>(NamePool().Get(size)) : new char[size];
    if (!name.empty()) std::memcpy(copy, name.data(), name.size());
    copy[name.size()] = '\0';
    return copy;
}

void FreeFileTreeName(char* name) {
    if (name == nullptr) return;
    const std::size_t size = std::strlen(name) + 1;
    if (size <= BlockPool::kLargest) {
        NamePool().Put(name, size);
    } else {
        delete[] name;
    }
}

FileTreeNode* NewFolderNode(std::string_view name, std::uint16_t archiveNumber) {
    FileTreeNode* node = NewNamedNode<FileTreeNode>(name);
    node->archiveNumber = archiveNumber;
    return node;
}

FileTreeFile* NewFileNode(std::string_view name, std::uint64_t size, std::uint64_t lastWriteTime,
                          std::uint16_t archiveNumber) {
    FileTreeFile* file = NewNamedNode<FileTreeFile>(name);
    file->size = size;
    file->lastWriteTime = lastWriteTime;
    file->archiveNumber = archiveNumber;
    return file;
}

void RenameFileTreeNode(FileTreeNode*& node, std::string_view name) {
    FileTreeNode* renamed = NewNamedNode<FileTreeNode>(name);
    // Field by field: the new node's name begins inside it.
    renamed->firstChild = node->firstChild;
    renamed->nextSibling = node->nextSibling;
    renamed->files = node->files;
    renamed->totalSize = node->totalSize;
    renamed->archiveNumber = node->archiveNumber;
    renamed->kind = node->kind;
    node->firstChild = nullptr;
    node->nextSibling = nullptr;
    node->files = nullptr;
    FreeNamedNode(node);
    node = renamed;
}

void FreeFileList(FileTreeFile* file) {
    while (file != nullptr) {
        FileTreeFile* next = file->next;
        FreeNamedNode(file);
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
        FreeNamedNode(node);
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

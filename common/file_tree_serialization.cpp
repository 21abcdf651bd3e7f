// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/file_tree.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "common/file_tree_walk.h"
#include "common/memory_allowance.h"

namespace halvex {

namespace {

constexpr unsigned char kEndOfFiles = 0;
constexpr unsigned char kSubFoldersFollow = 1;
constexpr unsigned char kSiblingFollows = 2;
constexpr unsigned char kNoSibling = 0;

std::uint64_t ReadLittleEndian64(const unsigned char* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

void WriteLittleEndian64(unsigned char*& cursor, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) *cursor++ = static_cast<unsigned char>(value >> (8 * i));
}

// The 0-terminated name at p, within [p, end); false when its 0 byte is not there.
bool ReadName(const unsigned char*& p, const unsigned char* end, std::string_view& name) {
    const void* zero = std::memchr(p, 0, static_cast<std::size_t>(end - p));
    if (zero == nullptr) return false;
    const auto* terminator = static_cast<const unsigned char*>(zero);
    name = std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(terminator - p));
    p = terminator + 1;
    return true;
}

// What a node of `nodeSize` bytes named `name` costs in memory: one pooled block holding the
// node and its name, rounded to 8 bytes (a long name takes a heap block of its own).
std::uint64_t NodeCost(std::size_t nodeSize, std::string_view name) {
    return (nodeSize + name.size() + 1 + 7 + 16) & ~std::uint64_t{7};
}

// Builds the nodes of a tree as the parser reads them. `link` is where the next folder goes.
class TreeBuilder {
public:
    using Folder = FileTreeNode*;
    TreeBuilder(FileTreeNode*& root, std::uint16_t archiveNumber) : link_(&root), archiveNumber_(archiveNumber) {}

    Folder AddFolder(std::string_view name, std::size_t /*depth*/) {
        FileTreeNode* folder = NewFolderNode(name, archiveNumber_);
        *link_ = folder;
        return folder;
    }
    void AddFile(Folder folder, std::string_view name, std::uint64_t lastWriteTime, std::uint64_t size) {
        FileTreeFile* file = NewFileNode(name, size, lastWriteTime, archiveNumber_);
        file->next = folder->files;
        folder->files = file;
    }
    void ChildFollows(Folder folder) { link_ = &folder->firstChild; }
    void SiblingFollows(Folder folder) { link_ = &folder->nextSibling; }

private:
    FileTreeNode** link_;
    std::uint16_t archiveNumber_;
};

// Builds nothing: it only looks at the names as they go by.
class TreeSkipper {
public:
    using Folder = bool;  // nothing to hold
    TreeSkipper(FileTreeNameCheck check, SkippedTreeNames& names) : check_(check), names_(names) {}

    Folder AddFolder(std::string_view name, std::size_t depth) {
        if (depth == 0) {
            if (topFolders_++ != 0 || !name.empty()) names_.oneUnnamedTop = false;
        } else if (names_.namesPass && check_ != nullptr && !check_(name)) {
            names_.namesPass = false;
        }
        return true;
    }
    void AddFile(Folder, std::string_view name, std::uint64_t, std::uint64_t) {
        if (names_.namesPass && check_ != nullptr && !check_(name)) names_.namesPass = false;
    }
    void ChildFollows(Folder) {}
    void SiblingFollows(Folder) {}

private:
    FileTreeNameCheck check_;
    SkippedTreeNames& names_;
    std::size_t topFolders_ = 0;
};

// Reads the file records of one folder and its end-of-files byte.
template <class Builder>
bool ReadFiles(const unsigned char*& p, const unsigned char* end, Builder& builder, typename Builder::Folder folder) {
    for (;;) {
        if (p == end) return false;
        if (*p == kEndOfFiles) {
            ++p;
            return true;
        }
        std::string_view name;
        if (!ReadName(p, end, name)) return false;
        if (end - p < 16) return false;
        const std::uint64_t lastWriteTime = ReadLittleEndian64(p);
        const std::uint64_t size = ReadLittleEndian64(p + 8);
        p += 16;
        if (!MemoryAllowance::Charge(NodeCost(sizeof(FileTreeFile), name))) return false;
        builder.AddFile(folder, name, lastWriteTime, size);
    }
}

// Parses one tree; returns false on a damaged record. The builder gets every folder and file
// in stored order; the memory the nodes take is charged whether or not it builds them, so
// that a skipped tree is refused exactly where a built one is.
template <class Builder>
bool ParseTree(const unsigned char*& p, const unsigned char* end, Builder& builder) {
    using Folder = typename Builder::Folder;
    std::vector<Folder> open;  // folders whose sub-folder chain is being read
    for (;;) {
        std::string_view name;
        if (!ReadName(p, end, name)) return false;
        if (!MemoryAllowance::Charge(NodeCost(sizeof(FileTreeNode), name))) return false;
        Folder folder = builder.AddFolder(name, open.size());
        if (!ReadFiles(p, end, builder, folder)) return false;

        if (p == end) return false;
        if (*p == kSubFoldersFollow) {
            ++p;
            // The sub-folder would sit at depth open.size() + 2.
            if (open.size() + 2 > kFileTreeMaxDepth) return false;
            open.push_back(folder);
            builder.ChildFollows(folder);
            continue;
        }
        // Sibling links, climbing out of every chain that ends here.
        for (;;) {
            if (p == end) return false;
            const unsigned char marker = *p++;
            if (marker == kSiblingFollows) {
                builder.SiblingFollows(folder);
                break;
            }
            if (marker != kNoSibling) return false;
            if (open.empty()) return true;
            folder = open.back();
            open.pop_back();
        }
    }
}

}  // namespace

FileTreeNode* LoadFileTree(const unsigned char*& cursor, const unsigned char* end,
                           std::uint16_t archiveNumber, bool& ok) {
    ok = false;
    if (cursor == nullptr || end == nullptr || end <= cursor) return nullptr;
    const unsigned char* p = cursor;
    FileTreeNode* root = nullptr;
    bool parsed;
    try {
        TreeBuilder builder(root, archiveNumber);
        parsed = ParseTree(p, end, builder);
    } catch (...) {
        FreeFileTree(root);
        throw;
    }
    if (!parsed) {
        FreeFileTree(root);
        return nullptr;
    }
    cursor = p;
    ok = true;
    return root;
}

bool SkipFileTree(const unsigned char*& cursor, const unsigned char* end, FileTreeNameCheck check,
                  SkippedTreeNames& names) {
    names = SkippedTreeNames{};
    if (cursor == nullptr || end == nullptr || end <= cursor) return false;
    const unsigned char* p = cursor;
    TreeSkipper skipper(check, names);
    if (!ParseTree(p, end, skipper)) return false;
    cursor = p;
    return true;
}

namespace {

// The byte form of a tree, written through `out` (Name, U64, Byte, and PieceDone where a
// piece may end): one walk for the in-place and the piecewise writers.
template <class Out>
void WriteTree(const FileTreeNode* node, Out& out) {
    detail::WalkFolders(
        node,
        [&](const FileTreeNode* folder) {
            out.Name(folder->name);
            for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next) {
                out.Name(file->name);
                out.U64(file->lastWriteTime);
                out.U64(file->size);
                out.PieceDone();
            }
            out.Byte(kEndOfFiles);
            if (folder->firstChild != nullptr) out.Byte(kSubFoldersFollow);
        },
        [&](const FileTreeNode* folder) {
            out.Byte(folder->nextSibling != nullptr ? kSiblingFollows : kNoSibling);
            out.PieceDone();
        });
}

struct CursorOut {
    unsigned char*& cursor;
    void Name(const char* name) {
        const std::size_t length = std::strlen(name) + 1;
        std::memcpy(cursor, name, length);
        cursor += length;
    }
    void U64(std::uint64_t value) { WriteLittleEndian64(cursor, value); }
    void Byte(unsigned char value) { *cursor++ = value; }
    void PieceDone() {}
};

struct PieceOut {
    std::size_t pieceSize;
    const std::function<void(std::span<const unsigned char>)>& sink;
    std::vector<unsigned char> piece;
    void Name(const char* name) { piece.insert(piece.end(), name, name + std::strlen(name) + 1); }
    void U64(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) piece.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    void Byte(unsigned char value) { piece.push_back(value); }
    void PieceDone() {
        if (piece.size() < pieceSize) return;
        sink(piece);
        piece.clear();
    }
};

}  // namespace

void SaveFileTree(const FileTreeNode* node, unsigned char*& cursor) {
    CursorOut out{cursor};
    WriteTree(node, out);
}

void SaveFileTreeInPieces(const FileTreeNode* node, std::size_t pieceSize,
                          const std::function<void(std::span<const unsigned char>)>& sink) {
    PieceOut out{pieceSize, sink, {}};
    out.piece.reserve(pieceSize + 64);
    WriteTree(node, out);
    if (!out.piece.empty()) sink(out.piece);
}

bool SaveFileTree(const FileTreeNode* node, unsigned char*& cursor, const unsigned char* end) {
    if (cursor > end) return false;
    const std::uint64_t size = FileTreeSerializedSize64(node);
    if (size > static_cast<std::uint64_t>(end - cursor)) return false;
    SaveFileTree(node, cursor);
    return true;
}

std::uint64_t FileTreeSerializedSize64(const FileTreeNode* node) {
    std::uint64_t size = 0;
    detail::ForEachFolder(node, [&size](const FileTreeNode* folder) {
        size += std::strlen(folder->name) + 1 + 2;
        if (folder->firstChild != nullptr) size += 1;
        for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next)
            size += std::strlen(file->name) + 17;
    });
    return size;
}

std::uint32_t FileTreeSerializedSize(const FileTreeNode* node) {
    const std::uint64_t size = FileTreeSerializedSize64(node);
    return size >= kFileTreeTooLarge ? kFileTreeTooLarge : static_cast<std::uint32_t>(size);
}

}  // namespace halvex

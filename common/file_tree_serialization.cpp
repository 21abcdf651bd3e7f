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

// Reads the file records of one folder and its end-of-files byte.
bool ReadFiles(const unsigned char*& p, const unsigned char* end, FileTreeNode* folder,
               std::uint16_t archiveNumber) {
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
        FileTreeFile* file = NewFileNode(name, size, lastWriteTime, archiveNumber);
        file->next = folder->files;
        folder->files = file;
    }
}

// Parses one tree; returns false on a damaged record. Whatever was built hangs from `root`.
bool ParseTree(const unsigned char*& p, const unsigned char* end, std::uint16_t archiveNumber,
               FileTreeNode*& root) {
    FileTreeNode** link = &root;     // where the next folder record's node goes
    std::vector<FileTreeNode*> open;  // folders whose sub-folder chain is being read
    for (;;) {
        std::string_view name;
        if (!ReadName(p, end, name)) return false;
        if (!MemoryAllowance::Charge(NodeCost(sizeof(FileTreeNode), name))) return false;
        FileTreeNode* folder = NewFolderNode(name, archiveNumber);
        *link = folder;
        if (!ReadFiles(p, end, folder, archiveNumber)) return false;

        if (p == end) return false;
        if (*p == kSubFoldersFollow) {
            ++p;
            // The sub-folder would sit at depth open.size() + 2.
            if (open.size() + 2 > kFileTreeMaxDepth) return false;
            open.push_back(folder);
            link = &folder->firstChild;
            continue;
        }
        // Sibling links, climbing out of every chain that ends here.
        for (;;) {
            if (p == end) return false;
            const unsigned char marker = *p++;
            if (marker == kSiblingFollows) {
                link = &folder->nextSibling;
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
        parsed = ParseTree(p, end, archiveNumber, root);
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

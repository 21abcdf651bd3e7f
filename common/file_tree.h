// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The in-memory picture of a folder hierarchy: folders with their sub-folders and files, each
// file with its last-write time, size and the number of the archive that holds it.
//
// Nodes and names live in the module's pools (blocks of a few sizes carved from large slabs;
// a node made here carries its name in the same block), so a large tree costs little more
// than its fields. Chains are reached through the pointer to their first element, and whoever
// holds that pointer owns the chain: it goes through FreeFileTree / FreeFileList, and names
// through FreeFileTreeName. Nothing is ever sorted: siblings and files keep the order
// in which they were inserted or loaded. Nodes are never shared between two trees.
//
// Every walker here iterates along sibling chains and file lists and never recurses along
// them, so chains of any length are safe. Merges recurse into sub-folders only; trees that
// come from outside are loaded with their depth bounded (kFileTreeMaxDepth).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include <memory>

#include "common/name_compare.h"

namespace halvex {

inline constexpr std::int16_t kFileTreeFolderKind = 1;
inline constexpr std::int16_t kFileTreeFileKind = 0;

// Fields ordered so that no padding is wasted: a name made with the node begins in its last
// bytes (nameStart) and runs on past its end, in the same block, so assign fields one by one,
// never a whole node onto one of those. `new` and `delete` on the types use the module's pools
// too (shallow copies made that way never own their names).
struct FileTreeFile {
    char* name = nullptr;
    FileTreeFile* next = nullptr;
    std::uint64_t size = 0;
    std::uint64_t lastWriteTime = 0;  // 100-ns units since 1601-01-01 UTC
    std::uint16_t archiveNumber = 0;
    std::int16_t kind = kFileTreeFileKind;
    char nameStart[4] = {};

    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;
};

struct FileTreeNode {
    char* name = nullptr;
    FileTreeNode* firstChild = nullptr;
    FileTreeNode* nextSibling = nullptr;
    FileTreeFile* files = nullptr;
    std::uint64_t totalSize = 0;  // filled by SumFolderSizes
    std::uint16_t archiveNumber = 0;
    std::int16_t kind = kFileTreeFolderKind;
    char nameStart[4] = {};

    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;
};

// --- building and freeing --------------------------------------------------------------------

// A pooled copy of `name` with its terminating 0, for a node made with `new`; it goes back
// with FreeFileTreeName (or with the node, through FreeFileTree / FreeFileList). Names here
// end at their first 0 byte, in this copy as in the nodes'.
char* NewFileTreeName(std::string_view name);
void FreeFileTreeName(char* name);
// A lone folder / file with a copy of `name` and every link null.
FileTreeNode* NewFolderNode(std::string_view name, std::uint16_t archiveNumber = 0);
FileTreeFile* NewFileNode(std::string_view name, std::uint64_t size, std::uint64_t lastWriteTime,
                          std::uint16_t archiveNumber = 0);

// Gives the folder `node` (a chain head the caller holds the only link to) the name `name`:
// the node may move, and `node` is set to where it is now.
void RenameFileTreeNode(FileTreeNode*& node, std::string_view name);

// Frees `node`, its sub-tree and ALL its following siblings, with files and names (null is
// fine). To free one folder of a chain, unlink it and clear its nextSibling first.
void FreeFileTree(FileTreeNode* node);
// Frees `file` and every file after it, with their names (null is fine).
void FreeFileList(FileTreeFile* file);

// Deep copy of `node`, its following siblings and all descendants, keeping kind, totalSize,
// archive numbers, names, times, sizes and the order of files. Null gives null.
FileTreeNode* CloneFileTree(const FileTreeNode* node);

// --- sums and archive numbers ----------------------------------------------------------------

// Sets totalSize of `node`, its siblings and all descendants to the sum of the sizes of every
// file below each folder (64-bit).
void SumFolderSizes(FileTreeNode* node);

// Adds `delta` (wrapping at 16 bits) to the archive number of `node`, its following siblings,
// all descendants and all their files.
void AddToArchiveNumbers(FileTreeNode* node, int delta);

// Whether two last-write times count as the same. Both are halved (arithmetic shift of the
// signed value) and the halves may differ by 0 or by exactly +/-20,000,000,000.
bool SameFileTime(std::uint64_t a, std::uint64_t b);

// --- serialized form -------------------------------------------------------------------------
//
// Folder record: name, 0; each file record; 0 (end of files); if the folder has sub-folders,
// 1 and the folder record of the first sub-folder; then 2 and the folder record of the next
// sibling, or 0 when there is none. File record: name, 0; lastWriteTime (8 bytes LE); size
// (8 bytes LE). kind, totalSize and archiveNumber are not stored. A file with an empty name
// cannot be stored (its record would read as the end of the files); names from a directory
// listing are never empty.

// Deepest nesting LoadFileTree accepts (top-level folders are depth 1). A path of at most
// 4,096 bytes cannot hold more levels.
inline constexpr std::size_t kFileTreeMaxDepth = 2048;

// Reads one serialized tree from [cursor, end). On success returns the tree (never null),
// advances `cursor` past its last byte, sets ok = true; every folder and file gets
// `archiveNumber`. Each file is pushed at the head of its folder's list, so the files of a
// folder come out in the reverse of their stored order; folders keep theirs.
// A record that runs past `end`, an unknown link byte or nesting deeper than
// kFileTreeMaxDepth gives nullptr with ok = false: everything built is freed, `cursor` is left
// where it was, and no byte at or after `end` is read.
FileTreeNode* LoadFileTree(const unsigned char*& cursor, const unsigned char* end,
                           std::uint16_t archiveNumber, bool& ok);

// What SkipFileTree saw of a tree's names: whether its top chain is one folder with the
// empty name, and whether every name below it passed the check.
struct SkippedTreeNames {
    bool oneUnnamedTop = true;
    bool namesPass = true;
};
using FileTreeNameCheck = bool (*)(std::string_view name);

// Reads past one serialized tree as LoadFileTree reads it, with the same checks and the same
// memory charged for the nodes, but builds nothing: true, with `cursor` advanced, exactly when
// LoadFileTree would succeed. Every name below the top chain goes through `check` (none: all
// pass).
bool SkipFileTree(const unsigned char*& cursor, const unsigned char* end, FileTreeNameCheck check,
                  SkippedTreeNames& names);

// Writes `node` and all its following siblings with their sub-trees; advances `cursor`. The
// caller provides FileTreeSerializedSize64(node) bytes at `cursor`.
void SaveFileTree(const FileTreeNode* node, unsigned char*& cursor);
// The same into [cursor, end): writes nothing and returns false when the tree does not fit.
bool SaveFileTree(const FileTreeNode* node, unsigned char*& cursor, const unsigned char* end);
// The same bytes handed to `sink` in order, in pieces of about `pieceSize` bytes: for a tree
// whose whole serialized form is not to be held beside it.
void SaveFileTreeInPieces(const FileTreeNode* node, std::size_t pieceSize,
                          const std::function<void(std::span<const unsigned char>)>& sink);

// Byte count of the serialized form of `node`, its siblings and all descendants (0 for null).
std::uint64_t FileTreeSerializedSize64(const FileTreeNode* node);
// The same as a 32-bit count. A tree whose form would need kFileTreeTooLarge bytes or more
// gives kFileTreeTooLarge: callers must test for it (or use the 64-bit count) before they
// allocate, or the unchecked SaveFileTree would write past their buffer.
inline constexpr std::uint32_t kFileTreeTooLarge = 0xFFFFFFFFu;
std::uint32_t FileTreeSerializedSize(const FileTreeNode* node);

// --- merging ---------------------------------------------------------------------------------
//
// target and source are the addresses of two chain heads; both chains change according to
// `mode`, and afterwards each node belongs to exactly one of them (the caller frees both).
// The numbers are the modes' long-standing codes.
enum class MergeMode : int {
    // Adds the source (an added-files record) to the target, replacing entries of the same
    // name; what moved is gone from the source.
    AddRecord = 1,
    // Removes from the target the files the source lists with the same time and the folders
    // it lists as empty leaves; below the top chain, a folder the source lists with contents
    // and leaves with nothing goes too. The source loses nothing but takes the removed
    // folders' files.
    RemoveRecord = 2,
    // As RemoveRecord, but matching source entries are consumed.
    RemoveConsuming = 6,
    // Target (a fresh scan) keeps only new and changed files and the folders leading to them,
    // and the folders still on disk whose stored entries all vanished (replaying the source
    // takes them out of the state); source (the stored state) keeps only what vanished, gone
    // folders as empty leaves at any depth.
    SplitScan = 14,
};
// The hashed lookups of one state's long chains, kept from one merge to the next, so that
// merging a small record into a large state costs what the record touches rather than the
// size of every chain it touches. Pass one index to every merge into one state in
// AddRecord, RemoveRecord or RemoveConsuming mode, and change that state in no other way
// while the index lives (dropping the index is always fine).
class MergeIndex {
public:
    MergeIndex();
    ~MergeIndex();
    MergeIndex(const MergeIndex&) = delete;
    MergeIndex& operator=(const MergeIndex&) = delete;

    struct Chains;
    std::unique_ptr<Chains> chains;
};

// Any other value only copies archive numbers of matching folders and recurses.
// Names are looked up with `nameCase`; the first equal name in the target wins.
void MergeFileTrees(FileTreeNode** target, FileTreeNode** source, MergeMode mode,
                    NameCase nameCase = kPlatformNameCase, MergeIndex* index = nullptr);
// The same for the file lists of two matching folders.
void MergeFileLists(FileTreeFile** target, FileTreeFile** source, MergeMode mode,
                    NameCase nameCase = kPlatformNameCase);

}  // namespace halvex

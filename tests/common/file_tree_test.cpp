// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

#include "common/file_tree.h"
#include "common/name_compare.h"
#include "tests/common/file_tree_test_util.h"

using namespace halvex;
using halvex::test::Cat;
using halvex::test::Describe;
using halvex::test::OwnedTree;
using halvex::test::Tree;

TEST(NameCompare, LinuxKeepsCaseTwinsApartAndIgnoreCaseFoldsOnlyAscii) {
    EXPECT_EQ(kPlatformNameCase, NameCase::Exact);
    EXPECT_FALSE(SameName("Makefile", "makefile"));
    EXPECT_TRUE(SameName("Makefile", "Makefile"));
    EXPECT_TRUE(SameName("Makefile", "mAKEFILE", NameCase::IgnoreCase));
    EXPECT_FALSE(SameName("abc", "abcd", NameCase::IgnoreCase));
    EXPECT_FALSE(SameName("\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9", NameCase::IgnoreCase));
    EXPECT_FALSE(SameName("a_", "a\x7f", NameCase::IgnoreCase));
}

TEST(NameCompare, HashAgreesWithEqualityInBothCases) {
    const NameHash exact{NameCase::Exact};
    const NameHash folded{NameCase::IgnoreCase};
    EXPECT_EQ(folded("Read Me.TXT"), folded("read me.txt"));
    // Used as a hashed set, the comparison merges exactly the names it calls equal.
    std::unordered_set<std::string, NameHash, NameEqual> ignoring(0, folded,
                                                                  NameEqual{NameCase::IgnoreCase});
    std::unordered_set<std::string, NameHash, NameEqual> keeping(0, exact, NameEqual{NameCase::Exact});
    for (const char* name : {"Makefile", "makefile", "MAKEFILE", "make", "Make", "\xc3\x89", "\xc3\xa9"}) {
        ignoring.insert(name);
        keeping.insert(name);
    }
    EXPECT_EQ(ignoring.size(), 4u);
    EXPECT_EQ(keeping.size(), 7u);
    EXPECT_EQ(ignoring.count(std::string_view("mAkEfIlE")), 1u);
    EXPECT_EQ(keeping.count(std::string_view("mAkEfIlE")), 0u);
}

TEST(SameFileTime, ComparesHalvesWithTheFixedTolerance) {
    // Only the halves count.
    EXPECT_TRUE(SameFileTime(4, 5));
    EXPECT_TRUE(SameFileTime(5, 4));
    EXPECT_FALSE(SameFileTime(5, 6));
    EXPECT_FALSE(SameFileTime(6, 5));
    // Halves 20,000,000,000 apart are the same, whichever is later.
    const std::uint64_t base = 132000000000000000ULL;
    EXPECT_TRUE(SameFileTime(base, base + 40000000000ULL));
    EXPECT_TRUE(SameFileTime(base + 40000000000ULL, base));
    EXPECT_TRUE(SameFileTime(base, base + 40000000001ULL));  // halves still 2e10 apart
    EXPECT_FALSE(SameFileTime(base, base + 40000000002ULL));
    EXPECT_FALSE(SameFileTime(base, base + 39999999998ULL));
    EXPECT_FALSE(SameFileTime(base, base + 36000000000ULL));  // one hour is not the tolerance
    // Times with the top bit set are halved as negative values (arithmetic shift).
    EXPECT_TRUE(SameFileTime(0xFFFFFFFFFFFFFFFEULL, 0xFFFFFFFFFFFFFFFFULL));
    EXPECT_FALSE(SameFileTime(0xFFFFFFFFFFFFFFFFULL, 0x7FFFFFFFFFFFFFFFULL));
}

TEST(FileTree, CloneIsDeepAndKeepsEverything) {
    OwnedTree original("a#3(x@1:2#4,y@3:4#5)[b(z@9:9)[c]] d#7");
    original.head->totalSize = 99;
    original.head->files->kind = 5;  // copied as it is
    OwnedTree copy(CloneFileTree(original.head));
    EXPECT_EQ(copy.Text(), original.Text());
    EXPECT_EQ(copy.head->totalSize, 99u);
    EXPECT_EQ(copy.head->kind, kFileTreeFolderKind);
    EXPECT_EQ(copy.head->files->kind, 5);
    // Nothing is shared: names, nodes and files are new blocks.
    EXPECT_NE(copy.head->name, original.head->name);
    EXPECT_NE(copy.head->files, original.head->files);
    EXPECT_NE(copy.head->firstChild->files->name, original.head->firstChild->files->name);
    copy.head->firstChild->files->name[0] = 'Q';
    EXPECT_EQ(Describe(original.head->firstChild), "b(z@9:9)[c]");
    EXPECT_EQ(CloneFileTree(nullptr), nullptr);
}

TEST(FileTree, SumFolderSizesTotalsEveryLevel) {
    OwnedTree tree("a(f:5,g:7)[b(h:100)[c(i:1000)] d] e(j:3)");
    SumFolderSizes(tree.head);
    const FileTreeNode* a = tree.head;
    const FileTreeNode* b = a->firstChild;
    EXPECT_EQ(a->totalSize, 1112u);
    EXPECT_EQ(b->totalSize, 1100u);
    EXPECT_EQ(b->firstChild->totalSize, 1000u);
    EXPECT_EQ(b->nextSibling->totalSize, 0u);
    EXPECT_EQ(a->nextSibling->totalSize, 3u);

    // Stale totals are replaced, and sums go past 32 bits.
    OwnedTree big("r(f:4294967295,g:4294967295)");
    big.head->totalSize = 12345;
    SumFolderSizes(big.head);
    EXPECT_EQ(big.head->totalSize, 8589934590u);
}

TEST(FileTree, AddToArchiveNumbersReachesEveryEntryAndWraps) {
    OwnedTree tree("a#1(f#1)[b#65535(g#65534)] c#2(h#0)");
    AddToArchiveNumbers(tree.head, 3);
    EXPECT_EQ(tree.Text(), "a#4(f#4)[b#2(g#1)] c#5(h#3)");
    AddToArchiveNumbers(tree.head, -5);
    EXPECT_EQ(tree.Text(), "a#65535(f#65535)[b#65533(g#65532)] c(h#65534)");
    AddToArchiveNumbers(nullptr, 1);
}

TEST(FileTree, FreeingTheFirstFolderFreesTheWholeChain) {
    // Under the sanitizer build a leak here fails the test run.
    FreeFileTree(Tree("a(f)[b[c(g)] d] e[f] g"));
    FreeFileTree(nullptr);
    FreeFileList(nullptr);
}

TEST(FileTree, ConstructorsCopyNames) {
    std::string name = "report.doc";
    FileTreeFile* file = NewFileNode(name, 10, 20, 3);
    FileTreeNode* folder = NewFolderNode(std::string_view("dir\0x", 3), 4);
    name[0] = 'X';
    EXPECT_STREQ(file->name, "report.doc");
    EXPECT_EQ(file->kind, kFileTreeFileKind);
    EXPECT_EQ(file->archiveNumber, 3);
    EXPECT_STREQ(folder->name, "dir");
    EXPECT_EQ(folder->kind, kFileTreeFolderKind);
    EXPECT_EQ(folder->archiveNumber, 4);
    folder->files = file;
    FreeFileTree(folder);
}

// Short names share their node's block, long ones get their own; both must survive cloning,
// renaming and freeing at every length around the limits.
TEST(FileTree, NamesOfEveryLengthSurviveCloneRenameAndFree) {
    const std::size_t lengths[] = {0, 1, 3, 4, 5, 7, 8, 9, 40, 455, 456, 463, 464, 465, 467,
                                   468, 475, 476, 511, 512, 513, 600, 5000};
    for (const std::size_t length : lengths) {
        SCOPED_TRACE(length);
        const std::string name(length, 'n');
        const std::string other(lengths[(length * 7) % std::size(lengths)], 'o');
        FileTreeNode* folder = NewFolderNode(name, 2);
        folder->files = NewFileNode(name, 5, 6, 7);
        folder->firstChild = NewFolderNode(other);
        char* loose = NewFileTreeName(name);
        EXPECT_EQ(std::string(loose), name);
        FreeFileTreeName(loose);

        FileTreeNode* copy = CloneFileTree(folder);
        RenameFileTreeNode(folder, other);
        EXPECT_EQ(std::string(folder->name), other);
        EXPECT_EQ(folder->archiveNumber, 2);
        ASSERT_NE(folder->files, nullptr);
        EXPECT_EQ(std::string(folder->files->name), name);
        ASSERT_NE(folder->firstChild, nullptr);
        EXPECT_EQ(std::string(folder->firstChild->name), other);
        EXPECT_EQ(std::string(copy->name), name);
        EXPECT_EQ(std::string(copy->files->name), name);
        EXPECT_EQ(copy->files->size, 5u);
        FreeFileTree(folder);
        FreeFileTree(copy);
    }
}

// A folder with `count` sub-folders in one chain, every one holding a file.
static FileTreeNode* WideTree(std::size_t count) {
    FileTreeNode* root = NewFolderNode("root");
    FileTreeNode** link = &root->firstChild;
    for (std::size_t i = 0; i < count; ++i) {
        FileTreeNode* folder = NewFolderNode(Cat({"d", std::to_string(i)}), 1);
        folder->files = NewFileNode("f", i, i);
        *link = folder;
        link = &folder->nextSibling;
    }
    return root;
}

// `depth` folders each inside the previous one, each with one file.
static FileTreeNode* DeepTree(std::size_t depth) {
    FileTreeNode* root = nullptr;
    FileTreeNode** link = &root;
    for (std::size_t i = 0; i < depth; ++i) {
        *link = NewFolderNode("d");
        (*link)->files = NewFileNode("f", 1, 1);
        link = &(*link)->firstChild;
    }
    return root;
}

TEST(FileTree, LongChainsAndDeepTreesDoNotExhaustTheStack) {
    constexpr std::size_t kCount = 100000;
    OwnedTree wide(WideTree(kCount));
    // A long file list too.
    for (std::size_t i = 0; i < kCount; ++i) {
        FileTreeFile* file = NewFileNode(Cat({"x", std::to_string(i)}), 1, 2);
        file->next = wide.head->files;
        wide.head->files = file;
    }
    SumFolderSizes(wide.head);
    EXPECT_EQ(wide.head->totalSize, kCount + (kCount - 1) * kCount / 2);
    AddToArchiveNumbers(wide.head, 1);
    EXPECT_EQ(wide.head->firstChild->archiveNumber, 2);

    OwnedTree copy(CloneFileTree(wide.head));
    const std::uint64_t size = FileTreeSerializedSize64(wide.head);
    EXPECT_EQ(FileTreeSerializedSize64(copy.head), size);
    std::vector<unsigned char> bytes(size);
    unsigned char* out = bytes.data();
    SaveFileTree(copy.head, out);
    EXPECT_EQ(out, bytes.data() + size);
    const unsigned char* in = bytes.data();
    bool ok = false;
    OwnedTree loaded(LoadFileTree(in, bytes.data() + size, 0, ok));
    ASSERT_TRUE(ok);
    EXPECT_EQ(FileTreeSerializedSize64(loaded.head), size);

    // A tree as deep as the loader accepts, walked by every function.
    OwnedTree deep(DeepTree(kFileTreeMaxDepth));
    SumFolderSizes(deep.head);
    EXPECT_EQ(deep.head->totalSize, kFileTreeMaxDepth);
    OwnedTree deepCopy(CloneFileTree(deep.head));
    EXPECT_EQ(FileTreeSerializedSize64(deepCopy.head), FileTreeSerializedSize64(deep.head));
    MergeFileTrees(&deepCopy.head, &deep.head, MergeMode::SplitScan);
    EXPECT_EQ(deepCopy.head, nullptr);
    EXPECT_EQ(deep.head, nullptr);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/file_tree.h"
#include "tests/common/file_tree_test_util.h"

using namespace halvex;
using halvex::test::Describe;
using halvex::test::OwnedTree;
using halvex::test::Tree;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Save(const FileTreeNode* tree) {
    Bytes bytes(FileTreeSerializedSize64(tree));
    unsigned char* cursor = bytes.data();
    SaveFileTree(tree, cursor);
    EXPECT_EQ(cursor, bytes.data() + bytes.size()) << "size and written bytes differ";
    return bytes;
}

Bytes SaveText(std::string_view text) {
    OwnedTree tree(text);
    return Save(tree.head);
}

// Loads from a heap block of exactly the given bytes, so the sanitizer catches any read past it.
struct LoadResult {
    bool ok = false;
    std::size_t consumed = 0;
    std::string text;
};

LoadResult Load(const unsigned char* data, std::size_t size, std::uint16_t archive = 0) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    std::copy(data, data + size, block.get());
    const unsigned char* cursor = block.get();
    LoadResult result;
    OwnedTree tree(LoadFileTree(cursor, block.get() + size, archive, result.ok));
    result.consumed = static_cast<std::size_t>(cursor - block.get());
    result.text = tree.Text();
    if (!result.ok) {
        EXPECT_EQ(tree.head, nullptr);
    }
    return result;
}

LoadResult Load(const Bytes& bytes, std::uint16_t archive = 0) {
    return Load(bytes.data(), bytes.size(), archive);
}

void Append(Bytes& bytes, std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }

// A chain of `depth` folders "d", each inside the previous, written by hand.
Bytes NestedBytes(std::size_t depth) {
    Bytes bytes;
    for (std::size_t i = 1; i < depth; ++i) Append(bytes, std::string_view("d\0\0\1", 4));
    Append(bytes, std::string_view("d\0\0\0", 4));
    bytes.insert(bytes.end(), depth - 1, 0);
    return bytes;
}

}  // namespace

TEST(FileTreeSerialization, WritesTheExactBytes) {
    OwnedTree tree("a(f@1:2)[b] c");
    tree.head->files->lastWriteTime = 0x0102030405060708ULL;
    tree.head->files->size = 0x1122334455667788ULL;
    const Bytes expected = {
        'a', 0,                                          // folder a
        'f', 0,                                          // its file f
        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  //   last-write time
        0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  //   size
        0,                                               // end of a's files
        1,                                               // a's sub-folders follow
        'b', 0, 0,                                       // folder b, no files
        0,                                               // b has no next sibling
        2,                                               // a has a next sibling
        'c', 0, 0, 0,                                    // folder c, last of the chain
    };
    EXPECT_EQ(Save(tree.head), expected);
    EXPECT_EQ(FileTreeSerializedSize(tree.head), expected.size());
}

TEST(FileTreeSerialization, SizeFollowsTheCountingRule) {
    // An empty leaf is its name and two zero bytes.
    EXPECT_EQ(SaveText("name").size(), 4u + 3u);
    EXPECT_EQ(FileTreeSerializedSize(nullptr), 0u);
    EXPECT_EQ(FileTreeSerializedSize64(nullptr), 0u);
    // Per folder: name + 1, per file name + 17, + 2, + 1 with sub-folders.
    OwnedTree tree("top(a.txt,bb.txt)[sub(c)[deep] other] next");
    const std::uint64_t expected = (3 + 1 + 5 + 17 + 6 + 17 + 2 + 1) + (3 + 1 + 1 + 17 + 2 + 1) +
                                   (4 + 1 + 2) + (5 + 1 + 2) + (4 + 1 + 2);
    EXPECT_EQ(FileTreeSerializedSize64(tree.head), expected);
    EXPECT_EQ(FileTreeSerializedSize(tree.head), expected);
    EXPECT_EQ(Save(tree.head).size(), expected);
}

TEST(FileTreeSerialization, LoadingReversesEachFolderFilesAndSavingAgainRestoresThem) {
    const std::string stored = "a(f1@1:10,f2@2:20,f3@3:30)[b(g1,g2)[c] d] e(h1,h2)";
    LoadResult first = Load(SaveText(stored), 7);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.text,
              "a#7(f3@3:30#7,f2@2:20#7,f1@1:10#7)[b#7(g2#7,g1#7)[c#7] d#7] e#7(h2#7,h1#7)");

    OwnedTree loaded;
    {
        Bytes bytes = SaveText(stored);
        const unsigned char* cursor = bytes.data();
        bool ok = false;
        loaded.head = LoadFileTree(cursor, bytes.data() + bytes.size(), 0, ok);
        ASSERT_TRUE(ok);
        // What LoadFileTree makes: folders of kind 1 with no total, files of kind 0.
        EXPECT_EQ(loaded.head->kind, kFileTreeFolderKind);
        EXPECT_EQ(loaded.head->totalSize, 0u);
        EXPECT_EQ(loaded.head->files->kind, kFileTreeFileKind);
    }
    LoadResult second = Load(Save(loaded.head));
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.text, stored);
}

TEST(FileTreeSerialization, TreesInARowAdvanceTheCursorRecordByRecord) {
    // Like a history: several trees back to back, read one after the other.
    Bytes bytes = SaveText("(new.txt@5:1)[docs(a@1)]");
    const std::size_t firstSize = bytes.size();
    Bytes second = SaveText("(gone.txt@9:2)");
    bytes.insert(bytes.end(), second.begin(), second.end());
    bytes.push_back(0xEE);  // something that is not a tree

    const unsigned char* cursor = bytes.data();
    const unsigned char* end = bytes.data() + bytes.size();
    bool ok = false;
    OwnedTree a(LoadFileTree(cursor, end, 1, ok));
    ASSERT_TRUE(ok);
    EXPECT_EQ(cursor, bytes.data() + firstSize);
    OwnedTree b(LoadFileTree(cursor, end, 2, ok));
    ASSERT_TRUE(ok);
    EXPECT_EQ(cursor, end - 1);
    EXPECT_EQ(a.Text(), "#1(new.txt@5:1#1)[docs#1(a@1#1)]");
    EXPECT_EQ(b.Text(), "#2(gone.txt@9:2#2)");
    // An empty name is the top folder of a history's trees; it survives a round trip.
    EXPECT_STREQ(b.head->name, "");
}

TEST(FileTreeSerialization, EveryTruncationFailsWithoutReadingPastTheEnd) {
    const Bytes bytes = SaveText("top(a@1:2,b@3:4)[s1(c@5:6)[s2] s3] sib(d@7:8)");
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        LoadResult result = Load(bytes.data(), cut);
        EXPECT_FALSE(result.ok) << "cut at " << cut;
        EXPECT_EQ(result.consumed, 0u) << "cut at " << cut;
    }
    EXPECT_TRUE(Load(bytes).ok);

    const unsigned char* cursor = nullptr;
    bool ok = true;
    EXPECT_EQ(LoadFileTree(cursor, nullptr, 0, ok), nullptr);
    EXPECT_FALSE(ok);
}

TEST(FileTreeSerialization, UnknownLinkBytesAreRejected) {
    Bytes bytes = SaveText("a[b] c");  // a 0 0 1 b 0 0 0 2 c 0 0 0
    ASSERT_EQ(bytes.size(), 13u);
    for (std::size_t at : {3u, 7u, 8u, 12u}) {
        for (unsigned char wrong : {3, 0xFF}) {
            Bytes damaged = bytes;
            damaged[at] = wrong;
            EXPECT_FALSE(Load(damaged).ok) << "byte " << at << " = " << int(wrong);
        }
    }
    // A sub-folder link where only a sibling link may stand.
    bytes[7] = 1;
    EXPECT_FALSE(Load(bytes).ok);
    // A time and size cut short inside a file record.
    Bytes shortFile = {'a', 0, 'f', 0, 1, 2, 3, 0, 0};
    EXPECT_FALSE(Load(shortFile).ok);
}

TEST(FileTreeSerialization, NestingIsBoundedAndNeverOverflowsTheStack) {
    LoadResult atLimit = Load(NestedBytes(kFileTreeMaxDepth));
    EXPECT_TRUE(atLimit.ok);
    EXPECT_EQ(atLimit.consumed, NestedBytes(kFileTreeMaxDepth).size());
    EXPECT_FALSE(Load(NestedBytes(kFileTreeMaxDepth + 1)).ok);

    // Far deeper than any real path, and unterminated: refused at the limit.
    Bytes hostile;
    for (int i = 0; i < 1000000; ++i) Append(hostile, std::string_view("\0\0\1", 3));
    EXPECT_FALSE(Load(hostile).ok);
}

TEST(FileTreeSerialization, LongSiblingChainsLoad) {
    Bytes bytes;
    constexpr int kCount = 200000;
    for (int i = 0; i < kCount; ++i) Append(bytes, std::string_view("x\0\0\2", 4));
    Append(bytes, std::string_view("x\0\0\0", 4));
    const unsigned char* cursor = bytes.data();
    bool ok = false;
    OwnedTree tree(LoadFileTree(cursor, bytes.data() + bytes.size(), 0, ok));
    ASSERT_TRUE(ok);
    EXPECT_EQ(FileTreeSerializedSize64(tree.head), bytes.size());
    EXPECT_EQ(Save(tree.head), bytes);
}

TEST(FileTreeSerialization, CheckedSaveRefusesASmallBuffer) {
    OwnedTree tree("a(f@1:2)[b]");
    const std::uint64_t size = FileTreeSerializedSize64(tree.head);
    Bytes buffer(size + 1, 0xAA);
    unsigned char* cursor = buffer.data();
    EXPECT_FALSE(SaveFileTree(tree.head, cursor, buffer.data() + size - 1));
    EXPECT_EQ(cursor, buffer.data());
    EXPECT_EQ(buffer, Bytes(size + 1, 0xAA));
    EXPECT_TRUE(SaveFileTree(tree.head, cursor, buffer.data() + size));
    EXPECT_EQ(cursor, buffer.data() + size);
    EXPECT_EQ(buffer.back(), 0xAA);
}

TEST(FileTreeSerialization, SavingInPiecesGivesTheSameBytesInBoundedPieces) {
    OwnedTree tree("top(a.txt@1:2,bb.txt@3:4)[sub(c)[deep(d,e)] other(f)] next(g)[h]");
    const Bytes whole = Save(tree.head);
    for (const std::size_t pieceSize : {std::size_t{1}, std::size_t{20}, whole.size(), std::size_t{1} << 20}) {
        SCOPED_TRACE(pieceSize);
        Bytes joined;
        std::size_t largest = 0;
        SaveFileTreeInPieces(tree.head, pieceSize, [&](std::span<const unsigned char> piece) {
            EXPECT_FALSE(piece.empty());
            largest = std::max(largest, piece.size());
            joined.insert(joined.end(), piece.begin(), piece.end());
        });
        EXPECT_EQ(joined, whole);
        // At most one file record (here under 30 bytes) past the piece size.
        EXPECT_LT(largest, std::max(pieceSize, std::size_t{1}) + 30);
    }
    SaveFileTreeInPieces(nullptr, 16, [](std::span<const unsigned char>) { ADD_FAILURE() << "a piece of no tree"; });
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "common/file_tree.h"
#include "tests/common/file_tree_test_util.h"

using namespace halvex;
using halvex::test::Cat;
using halvex::test::OwnedTree;

namespace {

struct Outcome {
    std::string target;
    std::string source;
};

Outcome Merge(std::string_view target, std::string_view source, int mode,
              NameCase nameCase = kPlatformNameCase) {
    OwnedTree t(target), s(source);
    MergeFileTrees(&t.head, &s.head, static_cast<MergeMode>(mode), nameCase);
    return {t.Text(), s.Text()};
}

Outcome MergeLists(std::string_view target, std::string_view source, int mode,
                   NameCase nameCase = kPlatformNameCase) {
    // The lists of two single folders "t" and "s".
    OwnedTree t(Cat({"t(", target, ")"}));
    OwnedTree s(Cat({"s(", source, ")"}));
    MergeFileLists(&t.head->files, &s.head->files, static_cast<MergeMode>(mode), nameCase);
    return {t.Text(), s.Text()};
}

void ExpectOutcome(const Outcome& got, std::string_view target, std::string_view source) {
    EXPECT_EQ(got.target, target);
    EXPECT_EQ(got.source, source);
}

}  // namespace

TEST(MergeMode1, AddsARecordReplacingEntriesOfTheSameName) {
    ExpectOutcome(Merge("a#1(x@1#1,y@1#1,v@1#1)[b#1(z@1#1)]",
                        "a#2(y@5#2,w@5#2)[b#2(z@7#2) c#2(q@7#2)]", 1),
                  // y keeps its place, w goes last; c moves over whole
                  "a#2(x@1#1,y@5#2,v@1#1,w@5#2)[b#2(z@7#2) c#2(q@7#2)]",
                  // matched folders stay behind, emptied
                  "a#2[b#2]");
    // A target folder without files takes the source's whole list.
    ExpectOutcome(Merge("a[b]", "a(f@1,g@2)[b(h)]", 1), "a(f@1,g@2)[b(h)]", "a[b]");
    // Later duplicates in a record replace earlier ones: the first equal name always wins.
    ExpectOutcome(MergeLists("f@5,g@5", "f@1,f@2,n@3,n@4", 1), "t(f@2,g@5,n@4)", "s");
}

TEST(MergeMode1, AnEmptyTargetTakesTheWholeSourceChain) {
    OwnedTree target, source("a(f)[b] c");
    FileTreeNode* moved = source.head;
    MergeFileTrees(&target.head, &source.head, MergeMode::AddRecord);
    EXPECT_EQ(target.head, moved);
    EXPECT_EQ(source.head, nullptr);
    EXPECT_EQ(target.Text(), "a(f)[b] c");
    // A second merge finds nothing left in the source.
    MergeFileTrees(&target.head, &source.head, MergeMode::AddRecord);
    EXPECT_EQ(target.Text(), "a(f)[b] c");
    // Other modes leave both alone when the target is empty.
    for (int mode : {2, 6, 14, 3}) ExpectOutcome(Merge("", "a(f)", mode), "", "a(f)");
}

TEST(MergeMode2, RemovesSameTimeFilesAndEmptyLeafFoldersFromTheState) {
    // Same time: gone from the target; the record keeps its entry (the caller frees the copy).
    ExpectOutcome(MergeLists("a@10,b@10,c@10", "a@11,b@12,z@10", 2), "t(b@10,c@10)",
                  "s(a@11,b@12,z@10)");
    // An empty leaf removes the folder; its files go to the leaf, which stays.
    ExpectOutcome(Merge("r#1[gone#1(f@1)[sub(g)] kept(h@1,i@1)]", "r#4[gone#3 kept#3(h@1)]", 2),
                  "r#4[kept#3(i@1)]", "r#4[gone#3(f@1) kept#3(h@1)]");
}

TEST(MergeMode6, ConsumesMatchingRecordEntries) {
    // A matched source file is consumed; the target file goes only with the same time.
    ExpectOutcome(MergeLists("a@10,b@10,c@10", "a@11,b@12,z@10", 6), "t(b@10,c@10)", "s(z@10)");
    // Once its only namesake is gone, a later duplicate finds nothing and stays.
    ExpectOutcome(MergeLists("a@10", "a@11,a@10", 6), "t", "s(a@10)");
    // The folder named as an empty leaf goes from both sides.
    ExpectOutcome(Merge("r[gone(f)[sub] kept(h@1,i@1)]", "r[gone kept(h@1) other]", 6), "r[kept(i@1)]",
                  "r[kept other]");
}

TEST(MergeMode14, TargetKeepsNewAndChangedSourceKeepsWhatVanished) {
    ExpectOutcome(Merge("src(a@1,b@2,c@3)[sub(d@4) new(e@5)]",
                        "src(a@1,b@9,z@1)[sub(d@4) gone(y@1)[deeper(q)]]", 14),
                  "src(b@2,c@3)[new(e@5)]", "src(z@1)[gone]");
    // Nothing changed: both sides prune down to nothing.
    ExpectOutcome(Merge("a(f@1)[b(g@2)]", "a(f@1)[b(g@2)]", 14), "", "");
    // Times within the tolerance count as unchanged.
    ExpectOutcome(Merge("a(f@41)", "a(f@40000000041)", 14), "", "");
}

TEST(MergeMode14, StoredFoldersMissingFromTheScanBecomeEmptyLeavesAtAnyDepth) {
    // The scanned folder has no sub-folders at all.
    ExpectOutcome(Merge("src(a@1)", "src(a@1)[old(f@1)[older(g@1)]]", 14), "", "src[old]");
    // All scanned sub-folders were pruned before the walk reached the rest.
    ExpectOutcome(Merge("src(n@1)[a(x@1)]", "src[a(x@1) b(y@1)[c]]", 14), "src(n@1)", "src[b]");
    ExpectOutcome(Merge("a", "a b(f)[c]", 14), "", "b");
    ExpectOutcome(Merge("a x(n)", "a b(f)[c]", 14), "x(n)", "b");
    // A folder still on disk that lost everything it held stays in the change tree, since the
    // record's replay takes it out of the state; one that kept an entry is pruned as before.
    ExpectOutcome(Merge("r[kept]", "r[kept(f@1)[sub(g@1)]]", 14), "r[kept]", "r[kept(f@1)[sub]]");
    ExpectOutcome(Merge("r[kept(h@1)]", "r[kept(f@1,h@1)]", 14), "", "r[kept(f@1)]");
    ExpectOutcome(Merge("r[kept[sub]]", "r[kept(f@1)[sub]]", 14), "", "r[kept(f@1)]");
}

TEST(MergeMode2, ARecordThatEmptiesANestedFolderRemovesIt) {
    // Earlier records listed a deleted folder with its contents: every level it empties goes,
    // a folder that keeps something stays, and the root (the target itself) always stays.
    ExpectOutcome(Merge("r[gone(f@1)[deep[deeper(g@1)]] kept(h@1) part(a@1,b@1)]",
                        "r[gone(f@1)[deep[deeper(g@1)]] part(a@1)]", 2),
                  "r[kept(h@1) part(b@1)]", "r[gone(f@1)[deep[deeper(g@1)]] part(a@1)]");
    ExpectOutcome(Merge("r(a@1)[only(b@1)]", "r(a@1)[only(b@1)]", 6), "r", "r[only]");
    // A changed time removes nothing, so nothing is emptied.
    ExpectOutcome(Merge("r[p(a@5)]", "r[p(a@9)]", 2), "r[p(a@5)]", "r[p(a@9)]");
    // Replaying what the scan comparison records gives back the folders still on disk.
    for (const char* scanned : {"r[kept]", "r[kept[sub]]", "r", "r[kept(n@2)]"}) {
        OwnedTree stored("r[kept(f@1)[sub(g@1)]]");
        OwnedTree state("r[kept(f@1)[sub(g@1)]]");
        OwnedTree scan(scanned);
        MergeFileTrees(&scan.head, &stored.head, MergeMode::SplitScan);
        MergeFileTrees(&state.head, &stored.head, MergeMode::RemoveConsuming);
        MergeFileTrees(&state.head, &scan.head, MergeMode::AddRecord);
        OwnedTree expected(scanned);
        EXPECT_EQ(state.Text(), expected.Text()) << scanned;
    }
}

TEST(MergeOtherModes, OnlyCopyArchiveNumbersOfMatchingFolders) {
    for (int mode : {0, 3, 7, 15, -1}) {
        ExpectOutcome(Merge("a#1(f@1#1)[b#1 c#1]", "a#5(f@9#5,g#5)[b#6(h) d#7]", mode),
                      "a#5(f@1#1)[b#6 c#1]", "a#5(f@9#5,g#5)[b#6(h) d#7]");
        ExpectOutcome(MergeLists("f@1", "f@1,g", mode), "t(f@1)", "s(f@1,g)");
    }
}

TEST(MergeNames, CaseTwinsAreTwoFilesOnLinuxAndOneWhenCaseIsIgnored) {
    // Linux keeps Makefile and makefile apart in every mode.
    ExpectOutcome(MergeLists("Makefile@1", "makefile@1", 1), "t(Makefile@1,makefile@1)", "s");
    ExpectOutcome(MergeLists("Makefile@1", "makefile@1", 2), "t(Makefile@1)", "s(makefile@1)");
    ExpectOutcome(MergeLists("Makefile@1", "makefile@1", 6), "t(Makefile@1)", "s(makefile@1)");
    ExpectOutcome(Merge("Src(a@1)", "src(a@1)", 14), "Src(a@1)", "src");
    // Ignoring case they are the same file for every mode.
    const NameCase ignore = NameCase::IgnoreCase;
    ExpectOutcome(MergeLists("Makefile@1", "makefile@2", 1, ignore), "t(makefile@2)", "s");
    ExpectOutcome(MergeLists("Makefile@1", "makefile@1", 2, ignore), "t", "s(makefile@1)");
    ExpectOutcome(MergeLists("Makefile@1", "makefile@1", 6, ignore), "t", "s");
    ExpectOutcome(Merge("Src(a@1)", "src(A@1)", 14, ignore), "", "");
    ExpectOutcome(Merge("Src#1", "src#2(f)", 1, ignore), "Src#2(f)", "src#2");
}

TEST(MergeLongLists, IndexedLookupsKeepFirstNameWinsOrder) {
    // Lists long enough for the hashed lookup, with duplicates on both sides: target file i is
    // f(i % 50) with time i + 1.
    const auto targetFile = [](int i) {
        return Cat({"f", std::to_string(i % 50), "@", std::to_string(i + 1)});
    };
    const auto listWithout = [&](std::initializer_list<int> removed, auto&& text) {
        std::string list;
        for (int i = 0; i < 100; ++i) {
            if (std::find(removed.begin(), removed.end(), i) != removed.end()) continue;
            if (!list.empty()) list += ',';
            list += text(i);
        }
        return Cat({"t(", list, ")"});
    };
    std::string target, source;
    for (int i = 0; i < 100; ++i) {
        if (i) target += ',', source += ',';
        target += targetFile(i);
        source += Cat({"f", std::to_string(i % 25), "@1000"});
    }
    // Mode 6: every source file meets the first target file of its name, whose time differs:
    // all source files are consumed and the target is untouched.
    ExpectOutcome(MergeLists(target, source, 6), Cat({"t(", target, ")"}), "s");
    // Mode 1: each source file replaces the first target file of its name, in place.
    ExpectOutcome(MergeLists(target, source, 1), listWithout({}, [&](int i) {
                      return i < 25 ? Cat({"f", std::to_string(i), "@1000"}) : targetFile(i);
                  }),
                  "s");
    // Mode 2 removes the first holder of each name per matching source entry; the second f1
    // meets f1@52, whose time differs.
    ExpectOutcome(MergeLists(target, "f0@1,f0@51,f1@2,f1@2,f7@8", 2),
                  listWithout({0, 50, 1, 7}, targetFile), "s(f0@1,f0@51,f1@2,f1@2,f7@8)");
}

TEST(MergeLongLists, FiftyThousandFilesPerFolderMergeInEveryMode) {
    // Quadratic lookups would take many seconds here; the limit is left to the benchmark.
    constexpr int kCount = 50000;
    for (int mode : {1, 2, 6, 14, 3}) {
        OwnedTree target(NewFolderNode("d")), source(NewFolderNode("d"));
        for (int i = kCount - 1; i >= 0; --i) {
            FileTreeFile* t = NewFileNode(Cat({"f", std::to_string(i)}), 1, i);
            t->next = target.head->files;
            target.head->files = t;
            FileTreeFile* s = NewFileNode(Cat({"f", std::to_string(i + kCount / 2)}), 2, i + kCount / 2);
            s->next = source.head->files;
            source.head->files = s;
        }
        MergeFileTrees(&target.head, &source.head, static_cast<MergeMode>(mode));
        std::size_t targetFiles = 0, sourceFiles = 0;
        if (target.head)
            for (FileTreeFile* f = target.head->files; f; f = f->next) ++targetFiles;
        if (source.head)
            for (FileTreeFile* f = source.head->files; f; f = f->next) ++sourceFiles;
        switch (mode) {
            case 1: EXPECT_EQ(targetFiles, 75000u); EXPECT_EQ(sourceFiles, 0u); break;
            case 2: EXPECT_EQ(targetFiles, 25000u); EXPECT_EQ(sourceFiles, 50000u); break;
            case 6:
            case 14: EXPECT_EQ(targetFiles, 25000u); EXPECT_EQ(sourceFiles, 25000u); break;
            default: EXPECT_EQ(targetFiles, 50000u); EXPECT_EQ(sourceFiles, 50000u); break;
        }
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The merge against a plain reference: singly linked lists, linear lookups, written straight
// from the merge rules. Random trees with duplicate names, case twins, empty lists and empty
// leaves, long enough chains for the hashed lookups, in every mode and both name comparisons.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <strings.h>

#include "common/file_tree.h"
#include "tests/common/file_tree_test_util.h"

using namespace halvex;
using halvex::test::Cat;
using halvex::test::Describe;
using halvex::test::OwnedTree;

namespace {

// --- reference ---------------------------------------------------------------------------------

bool RefSameName(const char* a, const char* b, bool ignoreCase) {
    return ignoreCase ? strcasecmp(a, b) == 0 : std::string(a) == b;
}

bool RefSameTime(std::uint64_t a, std::uint64_t b) {
    const std::int64_t d = (static_cast<std::int64_t>(a) >> 1) - (static_cast<std::int64_t>(b) >> 1);
    return d == 0 || d == 20000000000LL || d == -20000000000LL;
}

void RefFreeFile(FileTreeFile* f) {
    f->next = nullptr;
    FreeFileList(f);
}

void RefFreeFolder(FileTreeNode* n) {
    n->nextSibling = nullptr;
    FreeFileTree(n);
}

void RefMergeFileLists(FileTreeFile** target, FileTreeFile** source, int mode, bool ignoreCase) {
    FileTreeFile** sl = source;
    while (FileTreeFile* s = *sl) {
        FileTreeFile** tl = target;  // ends at the match or at the end link
        while (*tl != nullptr && !RefSameName((*tl)->name, s->name, ignoreCase)) tl = &(*tl)->next;
        FileTreeFile* t = *tl;
        if (mode == 1) {
            *sl = s->next;
            s->next = t ? t->next : nullptr;
            *tl = s;
            if (t) RefFreeFile(t);
        } else if (mode == 2) {
            if (t && RefSameTime(t->lastWriteTime, s->lastWriteTime)) {
                *tl = t->next;
                RefFreeFile(t);
            }
            sl = &s->next;
        } else if ((mode == 6 || mode == 14) && t) {
            const bool same = RefSameTime(t->lastWriteTime, s->lastWriteTime);
            *sl = s->next;
            RefFreeFile(s);
            if (same) {
                *tl = t->next;
                RefFreeFile(t);
            }
        } else {
            sl = &s->next;
        }
    }
}

void RefEmptyLeaf(FileTreeNode* s) {
    FreeFileTree(s->firstChild);
    s->firstChild = nullptr;
    FreeFileList(s->files);
    s->files = nullptr;
}

bool RefEmpty(const FileTreeNode* n) { return n->files == nullptr && n->firstChild == nullptr; }

int RefCountFiles(const FileTreeFile* f) {
    int count = 0;
    for (; f != nullptr; f = f->next) ++count;
    return count;
}

// Mode 14 answers whether replaying the source chain left behind takes all its folders out of
// the stored state (each an empty leaf, or one that kept every entry it held).
bool RefMergeFileTrees(FileTreeNode** target, FileTreeNode** source, int mode, bool ignoreCase,
                       bool nested = false) {
    if (*source == nullptr) return true;
    if (*target == nullptr) {
        if (mode == 1) {
            *target = *source;
            *source = nullptr;
        }
        if (mode == 14 && nested) {
            for (FileTreeNode* s = *source; s; s = s->nextSibling) RefEmptyLeaf(s);
            return true;
        }
        return false;
    }
    bool allGone = mode == 14;
    FileTreeNode** sl = source;
    while (FileTreeNode* s = *sl) {
        if ((mode == 2 || mode == 6) && *target == nullptr) break;
        FileTreeNode** tl = target;
        while (*tl != nullptr && !RefSameName((*tl)->name, s->name, ignoreCase)) tl = &(*tl)->nextSibling;
        FileTreeNode* t = *tl;
        if (t == nullptr) {
            if (mode == 1) {
                *sl = s->nextSibling;
                s->nextSibling = nullptr;
                *tl = s;
                continue;
            }
            if (mode == 14) RefEmptyLeaf(s);
            sl = &s->nextSibling;
            continue;
        }
        t->archiveNumber = s->archiveNumber;
        const bool hadContent = !RefEmpty(s);
        const int filesBefore = RefCountFiles(s->files);
        if (s->files) {
            if (t->files) {
                RefMergeFileLists(&t->files, &s->files, mode, ignoreCase);
            } else if (mode == 1) {
                t->files = s->files;
                s->files = nullptr;
            }
        } else if ((mode == 2 || mode == 6) && s->firstChild == nullptr) {
            *tl = t->nextSibling;
            s->files = t->files;
            t->files = nullptr;
            RefFreeFolder(t);
            if (mode == 6) {
                *sl = s->nextSibling;
                RefFreeFolder(s);
            } else {
                sl = &s->nextSibling;
            }
            continue;
        }
        const bool childrenGone = RefMergeFileTrees(&t->firstChild, &s->firstChild, mode, ignoreCase, true);
        const bool emptied = hadContent && RefEmpty(t);
        if (mode == 14) {
            const bool gone = hadContent && RefCountFiles(s->files) == filesBefore && childrenGone;
            allGone = allGone && gone;
            if (RefEmpty(t) && !(gone && nested)) {
                *tl = t->nextSibling;
                RefFreeFolder(t);
            }
            if (RefEmpty(s)) {
                *sl = s->nextSibling;
                RefFreeFolder(s);
                continue;
            }
        } else if ((mode == 2 || mode == 6) && nested && emptied) {
            *tl = t->nextSibling;
            RefFreeFolder(t);
        }
        sl = &s->nextSibling;
    }
    return allGone;
}

// --- random trees ------------------------------------------------------------------------------

class TreeMaker {
public:
    explicit TreeMaker(std::uint32_t seed) : rng_(seed) {}

    FileTreeNode* Chain(int depth) {
        const int length = Length(depth == 0 ? 50 : depth == 1 ? 40 : 6);
        FileTreeNode* head = nullptr;
        FileTreeNode** link = &head;
        for (int i = 0; i < length; ++i) {
            FileTreeNode* folder = NewFolderNode(Name(length), Archive());
            *link = folder;
            link = &folder->nextSibling;
            folder->files = Files(depth);
            if (depth < 3 && Chance(depth == 0 ? 45 : 25)) folder->firstChild = Chain(depth + 1);
        }
        return head;
    }

private:
    bool Chance(int percent) { return Pick(100) < percent; }
    int Pick(int n) { return static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }

    int Length(int longest) {
        const int kind = Pick(10);
        if (kind < 3) return Pick(4);  // often empty or tiny
        if (kind < 7) return Pick(longest / 2 + 1);
        return Pick(longest + 1);
    }

    std::string Name(int length) {
        static const char* const kTwins[] = {"a", "A", "b", "B", "ab", "aB", "Ab", "AB"};
        if (Chance(50)) return kTwins[Pick(8)];
        return Cat({"n", std::to_string(Pick(length + 1))});
    }

    std::uint16_t Archive() { return static_cast<std::uint16_t>(Pick(4)); }

    std::uint64_t Time() {
        // 100 and 101 halve alike; 102 does not; +40,000,000,000 is within the tolerance.
        static const std::uint64_t kTimes[] = {100, 101, 102, 103, 40000000100ULL, 40000000104ULL};
        return kTimes[Pick(6)];
    }

    FileTreeFile* Files(int depth) {
        const int count = Chance(30) ? 0 : Length(depth <= 1 ? 45 : 8);
        FileTreeFile* head = nullptr;
        FileTreeFile** link = &head;
        for (int i = 0; i < count; ++i) {
            *link = NewFileNode(Name(count), static_cast<std::uint64_t>(Pick(1000)), Time(), Archive());
            link = &(*link)->next;
        }
        return head;
    }

    std::mt19937 rng_;
};

struct Merged {
    std::string target;
    std::string source;
};

Merged RunTrees(std::uint32_t seed, int mode, bool ignoreCase, bool reference) {
    TreeMaker maker(seed);
    OwnedTree target(maker.Chain(0));
    OwnedTree source(maker.Chain(0));
    if (reference) {
        RefMergeFileTrees(&target.head, &source.head, mode, ignoreCase);
    } else {
        MergeFileTrees(&target.head, &source.head, static_cast<MergeMode>(mode),
                       ignoreCase ? NameCase::IgnoreCase : NameCase::Exact);
    }
    return {Describe(target.head), Describe(source.head)};
}

// Two file lists of one folder each, merged directly.
Merged RunLists(std::uint32_t seed, int mode, bool ignoreCase, bool reference) {
    TreeMaker maker(seed);
    OwnedTree target(NewFolderNode("t")), source(NewFolderNode("s"));
    OwnedTree donor(maker.Chain(1));
    OwnedTree donor2(maker.Chain(1));
    // Take the first file list found in each random chain (often long, sometimes empty).
    for (FileTreeNode* n = donor.head; n && !target.head->files; n = n->nextSibling)
        std::swap(target.head->files, n->files);
    for (FileTreeNode* n = donor2.head; n && !source.head->files; n = n->nextSibling)
        std::swap(source.head->files, n->files);
    if (reference) {
        RefMergeFileLists(&target.head->files, &source.head->files, mode, ignoreCase);
    } else {
        MergeFileLists(&target.head->files, &source.head->files, static_cast<MergeMode>(mode),
                       ignoreCase ? NameCase::IgnoreCase : NameCase::Exact);
    }
    return {Describe(target.head), Describe(source.head)};
}

constexpr int kModes[] = {1, 2, 6, 14, 5};

}  // namespace

TEST(MergeAgainstReference, RandomTreesGiveIdenticalChainsInEveryMode) {
    std::size_t nonTrivial = 0;
    for (std::uint32_t seed = 1; seed <= 70; ++seed) {
        for (int mode : kModes) {
            for (bool ignoreCase : {false, true}) {
                const Merged expected = RunTrees(seed, mode, ignoreCase, true);
                const Merged got = RunTrees(seed, mode, ignoreCase, false);
                ASSERT_EQ(got.target, expected.target)
                    << "seed " << seed << " mode " << mode << " ignoreCase " << ignoreCase;
                ASSERT_EQ(got.source, expected.source)
                    << "seed " << seed << " mode " << mode << " ignoreCase " << ignoreCase;
                if (expected.target.size() > 200) ++nonTrivial;
            }
        }
    }
    EXPECT_GT(nonTrivial, 250u);  // the trees are not all tiny
}

TEST(MergeAgainstReference, RandomFileListsGiveIdenticalListsInEveryMode) {
    for (std::uint32_t seed = 1000; seed < 1300; ++seed) {
        for (int mode : kModes) {
            for (bool ignoreCase : {false, true}) {
                const Merged expected = RunLists(seed, mode, ignoreCase, true);
                const Merged got = RunLists(seed, mode, ignoreCase, false);
                ASSERT_EQ(got.target, expected.target)
                    << "seed " << seed << " mode " << mode << " ignoreCase " << ignoreCase;
                ASSERT_EQ(got.source, expected.source)
                    << "seed " << seed << " mode " << mode << " ignoreCase " << ignoreCase;
            }
        }
    }
}

// A state built record by record with its chains' lookups kept between merges must be the
// state built with fresh lookups each time: random removal and addition records, with the
// removals that a restore's date change makes and those a backup's replay makes.
TEST(MergeAgainstReference, KeptIndexReplayEqualsFreshReplayOnRandomRecordSequences) {
    std::size_t longStates = 0;
    for (std::uint32_t seed = 1; seed <= 60; ++seed) {
        for (const MergeMode removal : {MergeMode::RemoveConsuming, MergeMode::RemoveRecord}) {
            for (const NameCase nameCase : {NameCase::Exact, NameCase::IgnoreCase}) {
                TreeMaker maker(seed);
                OwnedTree fresh, kept;
                MergeIndex index;
                std::size_t largest = 0;
                for (int record = 0; record < 14; ++record) {
                    // Removals follow what the state holds only by chance: names and times
                    // repeat often enough for both matches and misses at every depth.
                    const bool removes = record > 0 && record % 2 == 0;
                    const MergeMode mode = removes ? removal : MergeMode::AddRecord;
                    FileTreeNode* part = NewFolderNode("");
                    part->firstChild = maker.Chain(1);
                    if (removes && record % 3 == 0 && fresh.head != nullptr) {
                        // Everything the state holds (or every file of its top folders, which
                        // keep their sub-folders): long lists empty out, then fill again.
                        FreeFileTree(part);
                        part = CloneFileTree(fresh.head);
                        for (FileTreeNode* top = part->firstChild; top != nullptr && seed % 2 == 0; top = top->nextSibling) {
                            FreeFileTree(top->firstChild);
                            top->firstChild = nullptr;
                        }
                    }
                    OwnedTree a(part), b(CloneFileTree(part));
                    MergeFileTrees(&fresh.head, &a.head, mode, nameCase);
                    MergeFileTrees(&kept.head, &b.head, mode, nameCase, &index);
                    ASSERT_EQ(Describe(kept.head), Describe(fresh.head))
                        << "seed " << seed << " record " << record << " removal " << static_cast<int>(removal);
                    ASSERT_EQ(Describe(b.head), Describe(a.head)) << "seed " << seed << " record " << record;
                    largest = std::max(largest, Describe(fresh.head).size());
                }
                if (largest > 2000) ++longStates;
            }
        }
    }
    EXPECT_GT(longStates, 100u);  // the states grow past the hashed lookups' threshold
}

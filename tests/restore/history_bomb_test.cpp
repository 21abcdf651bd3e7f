// SPDX-License-Identifier: GPL-3.0-or-later
// Crafted histories that describe far more tree than their bytes: refused through the real
// program, as damage when they inflate like no real history, else when their trees pass the
// memory allowed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/restore/set_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
// A refused set costs little. AddressSanitizer's shadow memory and quarantine multiply what a
// process holds, so a sanitized build is held to 512 MB instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kRefusedPeakKb = 512 * 1024;
#else
constexpr long kRefusedPeakKb = 64 * 1024;
#endif

namespace {

using test::Day;

// Serialized trees. A folder record is its name and 0, its files, an end-of-files 0, then 1
// when sub-folders follow or, per chain that ends, 2 (a sibling follows) or 0.
std::string Wide(int folders) {
    std::string tree("\0\0\1", 3);
    for (int i = 0; i < folders; ++i) {
        tree += std::string("a\0\0", 3);
        tree += i + 1 < folders ? '\2' : '\0';
    }
    return tree + '\0';
}

std::string Deep(int chains, int depth) {
    std::string tree("\0\0\1", 3);
    for (int c = 0; c < chains; ++c) {
        for (int d = 0; d < depth; ++d) tree += std::string(d + 1 < depth ? "d\0\0\1" : "d\0\0", d + 1 < depth ? 4 : 3);
        tree += std::string(static_cast<std::size_t>(depth - 1), '\0');
        tree += c + 1 < chains ? '\2' : '\0';
    }
    return tree + '\0';
}

std::string LongNames(int files, std::size_t nameLength) {
    std::string tree(1, '\0');
    for (int i = 0; i < files; ++i) tree += std::string(nameLength, 'n') + std::string(17, '\0');
    return tree + std::string(2, '\0');
}

class HistoryBombTest : public ::testing::Test {
protected:
    // A one-archive set whose target "Data" has `tree` as its only added tree.
    std::string WriteSet(const std::string& name, const std::string& tree, int level) {
        const std::string path = temp.path() + "/" + name + ".TQBak";
        const std::string history = test::HistoryBytes("/src/data", std::vector<test::RawRecord>{{Day(1), 0, "", 1, tree}});
        test::WriteArchive(path, {{"Data.tq", history, level}, {"ToDirs.tq", test::ToDirsBytes(0, {"Data"}), 0}});
        return path;
    }

    // Runs the program with HALVEX_MEMORY_LIMIT set to `megabytes` (none when empty).
    test::CommandResult Restore(const std::string& mode, const std::string& archive, const char* megabytes) {
        if (megabytes != nullptr) ::setenv("HALVEX_MEMORY_LIMIT", megabytes, 1);
        test::CommandResult r = test::RunCommand({test::BuiltProgram("halvex-restore"), mode, archive});
        ::unsetenv("HALVEX_MEMORY_LIMIT");
        return r;
    }

    test::TempFolder temp;
};

TEST_F(HistoryBombTest, TreesPastTheAllowanceAreRefusedWithinIt) {
    // Each some 10 MB of nodes and names, from stored (1:1) histories.
    const struct {
        const char* shape;
        std::string tree;
    } cases[] = {
        {"wide", Wide(120'000)},
        {"deep", Deep(60, 2000)},
        {"long", LongNames(20, 512 * 1024)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape);
        const std::string archive = WriteSet(c.shape, c.tree, 0);
        for (const char* mode : {"--list", "--files"}) {
            const test::CommandResult refused = Restore(mode, archive, "4");
            EXPECT_EQ(refused.exitCode, 2) << mode;
            EXPECT_NE(refused.errors.find(archive + ": too large to open with the memory allowed"), std::string::npos)
                << refused.errors;
            EXPECT_EQ(refused.output, "");
            // Under the machine's own allowance the same set opens: the refusal was memory.
            const test::CommandResult opened = Restore(mode, archive, nullptr);
            EXPECT_EQ(opened.exitCode, 0) << mode << opened.errors;
        }
        const test::CommandResult refused = Restore("--list", archive, "4");
        EXPECT_LT(refused.peakMemoryKb, kRefusedPeakKb);
    }
}

TEST_F(HistoryBombTest, AHistoryInflatingLikeNoRealOneIsDamage) {
    // The wide tree deflates some 1000:1; stored it opens (above), deflated it is refused as
    // a damaged set before any tree is built, whatever memory is allowed.
    const std::string archive = WriteSet("bomb", Wide(120'000), 9);
    const test::CommandResult r = Restore("--list", archive, nullptr);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errors.find("Error opening archive."), std::string::npos) << r.errors;
    EXPECT_EQ(r.errors.find("too large"), std::string::npos) << r.errors;
    // A real history deflating well within the rule still opens.
    const test::CommandResult real = Restore("--list", WriteSet("real", LongNames(200, 40), 9), nullptr);
    EXPECT_EQ(real.exitCode, 0) << real.errors;
}

}  // namespace
}  // namespace halvex

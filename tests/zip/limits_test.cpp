// SPDX-License-Identifier: GPL-3.0-or-later
// Limits of the format (lowered for the test): a refused entry leaves the archive exactly as
// it was before the entry was begun.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;
namespace fs = std::filesystem;

TEST(Limits, SetLimitsOnlyLowers) {
    ZipArchiveFile zip;
    const ZipLimits format;
    ZipLimits asked{0xFFFFFFFFu, ~0ull, 1ull << 40, ~0ull, 100000, ~0ull};
    zip.SetLimits(asked);
    EXPECT_EQ(zip.GetLimits().maxEntries, format.maxEntries);
    EXPECT_EQ(zip.GetLimits().maxEntrySize, format.maxEntrySize);
    EXPECT_EQ(zip.GetLimits().maxArchiveSize, 1ull << 40);
    EXPECT_EQ(zip.GetLimits().classicMaxValue, 0xFFFFFFFEull);
    EXPECT_EQ(zip.GetLimits().classicMaxEntries, 0xFFFFull);
    EXPECT_EQ(zip.GetLimits().localZip64From, format.localZip64From);
}

TEST(Limits, EntryCount) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "n.zip", ZipCreate);
    zip.SetLimits(ZipLimits{3, 0xFFFFFFFE, 0xFFFFFFFF});
    for (const char* name : {"e0", "e1", "e2"}) AddEntry(zip, name, "x");
    const auto length = fs::file_size(dir / "n.zip");
    EXPECT_FALSE(zip.OpenNewEntry(Named("e3"), 9));
    EXPECT_EQ(zip.LastRefusal(), ZipRefusal::TooManyEntries);
    EXPECT_EQ(fs::file_size(dir / "n.zip"), length);
    test::WriteFile(dir / "f.txt", "f");
    EXPECT_FALSE(zip.AddFile(dir / "f.txt", 9));
    EXPECT_EQ(zip.LastRefusal(), ZipRefusal::TooManyEntries);
    zip.DeleteEntry(0);
    EXPECT_TRUE(zip.AddFile(dir / "f.txt", 9));  // room again
    EXPECT_EQ(zip.LastRefusal(), ZipRefusal::None);
    zip.Close();
}

TEST(Limits, UncompressedSizeBoundary) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "u.zip", ZipCreate);
    zip.SetLimits(ZipLimits{65535, 1000, 0xFFFFFFFF});
    for (int level : {0, 9}) {
        SCOPED_TRACE(level);
        ASSERT_TRUE(zip.OpenNewEntry(Named("fits"), level));
        EXPECT_TRUE(zip.WriteNewEntry(std::string(600, 'a').data(), 600));
        EXPECT_TRUE(zip.WriteNewEntry(std::string(400, 'a').data(), 400));
        EXPECT_TRUE(zip.CloseNewEntry());
        const auto length = fs::file_size(dir / "u.zip");
        ASSERT_TRUE(zip.OpenNewEntry(Named("too big"), level));
        EXPECT_TRUE(zip.WriteNewEntry(std::string(600, 'a').data(), 600));
        EXPECT_FALSE(zip.WriteNewEntry(std::string(401, 'a').data(), 401));
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::EntryTooLarge);
        EXPECT_FALSE(zip.CloseNewEntry());  // already abandoned
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::None);
        EXPECT_EQ(fs::file_size(dir / "u.zip"), length);
    }
    EXPECT_EQ(zip.GetEntryCount(), 2);
    zip.Close();
    std::string log;
    EXPECT_TRUE(UnzipAccepts(dir / "u.zip", &log)) << log;
}

TEST(Limits, CompressedSizeIsCheckedWhenTheStreamIsFinished) {
    // Random bytes grow a little when deflated: under the limit uncompressed, over it compressed.
    TempFolder dir;
    const std::string noise = RandomBytes(5000, 8);
    ZipArchiveFile zip;
    zip.Open(dir / "c.zip", ZipCreate);
    zip.SetLimits(ZipLimits{65535, 5000, 0xFFFFFFFF});
    ASSERT_TRUE(zip.OpenNewEntry(Named("noise"), 9));
    EXPECT_TRUE(zip.WriteNewEntry(noise.data(), noise.size()));
    EXPECT_FALSE(zip.CloseNewEntry());
    EXPECT_EQ(zip.LastRefusal(), ZipRefusal::EntryTooLarge);
    EXPECT_EQ(zip.GetEntryCount(), 0);
    AddEntry(zip, "stored", noise, 0);  // exactly 5,000 bytes stored still fits
    zip.Close();
    ZipArchiveFile expected;
    expected.Open(dir / "e.zip", ZipCreate);
    AddEntry(expected, "stored", noise, 0);
    expected.Close();
    EXPECT_EQ(Bytes(dir / "c.zip"), Bytes(dir / "e.zip"));
}

TEST(Limits, ArchiveSizeCountsTheDirectoryStillToBeWritten) {
    TempFolder dir;
    const std::string a = TextBytes(20000), b = RandomBytes(30000, 5);
    {
        ZipArchiveFile zip;
        zip.Open(dir / "full.zip", ZipCreate);
        AddEntry(zip, "a", a, 9);
        AddEntry(zip, "b", b, 0);
        zip.Close();
    }
    const std::uint64_t exact = fs::file_size(dir / "full.zip");
    // A limit of exactly the finished size: both entries fit.
    {
        ZipArchiveFile zip;
        zip.Open(dir / "x.zip", ZipCreate);
        zip.SetLimits(ZipLimits{65535, 0xFFFFFFFE, exact});
        AddEntry(zip, "a", a, 9);
        AddEntry(zip, "b", b, 0);
        zip.Close();
        EXPECT_EQ(Bytes(dir / "x.zip"), Bytes(dir / "full.zip"));
    }
    // One byte less: "b" is refused while it is written, and the archive ends with "a" alone.
    {
        ZipArchiveFile zip;
        zip.Open(dir / "x.zip", ZipCreate);
        zip.SetLimits(ZipLimits{65535, 0xFFFFFFFE, exact - 1});
        AddEntry(zip, "a", a, 9);
        ASSERT_TRUE(zip.OpenNewEntry(Named("b"), 0));
        EXPECT_FALSE(zip.WriteNewEntry(b.data(), b.size()));
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::ArchiveTooLarge);
        // A name too long for what is left is refused before anything is written.
        EXPECT_FALSE(zip.OpenNewEntry(Named(std::string(40000, 'n')), 0));
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::ArchiveTooLarge);
        zip.Close();
    }
    ZipArchiveFile expected;
    expected.Open(dir / "a.zip", ZipCreate);
    AddEntry(expected, "a", a, 9);
    expected.Close();
    EXPECT_EQ(Bytes(dir / "x.zip"), Bytes(dir / "a.zip"));
}

TEST(Limits, DeflatedEntryPassingTheArchiveLimitWhileStreaming) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "s.zip", ZipCreate);
    zip.SetLimits(ZipLimits{65535, 0xFFFFFFFE, 100000});
    AddEntry(zip, "small", "small", 9);
    const auto length = fs::file_size(dir / "s.zip");
    ASSERT_TRUE(zip.OpenNewEntry(Named("grows"), 9));
    // A source that keeps growing: fed in chunks until the layer refuses it.
    bool refused = false;
    for (std::uint32_t i = 0; i < 100 && !refused; ++i) refused = !zip.WriteNewEntry(RandomBytes(16384, i).data(), 16384);
    EXPECT_TRUE(refused);
    EXPECT_EQ(zip.LastRefusal(), ZipRefusal::ArchiveTooLarge);
    EXPECT_EQ(fs::file_size(dir / "s.zip"), length);  // cut back to the entry's local header
    AddEntry(zip, "after", "after", 9);
    zip.Close();
    ZipArchiveFile check;
    check.Open(dir / "s.zip", ZipOpenReadOnly);
    ASSERT_EQ(check.GetEntryCount(), 2);
    EXPECT_EQ(ReadWhole(check, 1), "after");
    std::string log;
    EXPECT_TRUE(UnzipAccepts(dir / "s.zip", &log)) << log;
}

TEST(Limits, ExistingArchiveWithACommentIsUnchangedByARefusal) {
    if (!test::HasTool("python3")) GTEST_SKIP();
    TempFolder dir;
    auto r = test::RunCommand({"python3", "-c", R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("old.txt", b"old" * 100)
    z.comment = b"c" * 1000
)PY", dir / "old.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    const std::string before = Bytes(dir / "old.zip");
    // The new entry needs 30 + 7 + 1,000 bytes and a 53-byte central record: 1,090 more. The
    // comment (rewritten after the directory) is part of the size already.
    for (std::uint64_t room : {1089u, 1090u}) {
        SCOPED_TRACE(room);
        test::WriteFile(dir / "x.zip", before);
        ZipArchiveFile zip;
        zip.Open(dir / "x.zip", ZipOpenExisting);
        zip.SetLimits(ZipLimits{65535, 0xFFFFFFFE, before.size() + room});
        ASSERT_TRUE(zip.OpenNewEntry(Named("new.bin"), 0));
        bool written = zip.WriteNewEntry(std::string(1000, 'n').data(), 1000) && zip.CloseNewEntry();
        zip.Close();
        if (room == 1089) {
            EXPECT_FALSE(written);
            EXPECT_EQ(zip.LastRefusal(), ZipRefusal::ArchiveTooLarge);
            EXPECT_EQ(Bytes(dir / "x.zip"), before);
        } else {
            EXPECT_TRUE(written);
            EXPECT_EQ(Bytes(dir / "x.zip").size(), before.size() + room);
        }
    }
}

TEST(Limits, AbandonNewEntryRestoresTheArchive) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "a.zip", ZipCreate);
    AddEntry(zip, "kept", TextBytes(1000), 9);
    const auto length = fs::file_size(dir / "a.zip");
    ASSERT_TRUE(zip.OpenNewEntry(Named("dropped"), 9));
    ASSERT_TRUE(zip.WriteNewEntry(RandomBytes(200000, 1).data(), 200000));
    EXPECT_TRUE(zip.AbandonNewEntry());
    EXPECT_EQ(fs::file_size(dir / "a.zip"), length);
    EXPECT_EQ(zip.GetEntryCount(), 1);
    EXPECT_EQ(zip.FindEntryFast("dropped", true), -1);
    zip.Close();
    ZipArchiveFile expected;
    expected.Open(dir / "e.zip", ZipCreate);
    AddEntry(expected, "kept", TextBytes(1000), 9);
    expected.Close();
    EXPECT_EQ(Bytes(dir / "a.zip"), Bytes(dir / "e.zip"));
}

TEST(Limits, FieldTooLongRaises16AndChangesNothing) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "a.zip", ZipCreate);
    AddEntry(zip, "kept", "kept", 9);
    const auto length = fs::file_size(dir / "a.zip");
    ZipEntryHeader h = Named(std::string(65536, 'n'));
    EXPECT_EQ(ZipErrorOf([&] { zip.OpenNewEntry(h, 9); }), kZipFieldTooLong);
    EXPECT_EQ(fs::file_size(dir / "a.zip"), length);
    EXPECT_EQ(zip.GetEntryCount(), 1);
    zip.Close();
}

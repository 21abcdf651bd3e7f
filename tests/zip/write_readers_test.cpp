// SPDX-License-Identifier: GPL-3.0-or-later
// Archives written by the layer: exact bytes, and acceptance by independent readers.
#include <gtest/gtest.h>

#include <zlib.h>

#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;

namespace {

std::uint32_t Crc(const std::string& s) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

}  // namespace

TEST(ZipWrite, EmptyArchiveIsTheEndRecordAlone) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "empty.zip", ZipCreate);
    zip.Close();
    EXPECT_EQ(Bytes(dir / "empty.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    std::string log;
    EXPECT_TRUE(SevenZipAccepts(dir / "empty.zip", &log)) << log;  // (unzip -t warns "zipfile is empty")
    PyArchive py = InspectWithPython(dir / "empty.zip");
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_TRUE(py.entries.empty());
}

TEST(ZipWrite, StoredEntryBytesAreExact) {
    TempFolder dir;
    const std::string path = dir / "one.zip";
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    AddEntry(zip, "dir\\a.txt", "hello", 0);
    zip.Close();
    const std::string b = Bytes(path);
    ASSERT_EQ(b.size(), 30u + 9 + 5 + 46 + 9 + 22);
    // Local header: CRC and sizes were patched in; no extra field; '/' on disk.
    EXPECT_EQ(U32(b, 0), 0x04034b50u);
    EXPECT_EQ(U16(b, 4), 20);
    EXPECT_EQ(U16(b, 6), 0);  // stored: no deflate option bits
    EXPECT_EQ(U16(b, 8), 0);
    EXPECT_EQ(U16(b, 10), 13 * 2048 + 45 * 32 + 15);
    EXPECT_EQ(U16(b, 12), (2021 - 1980) * 512 + 6 * 32 + 15);
    EXPECT_EQ(U32(b, 14), Crc("hello"));
    EXPECT_EQ(U32(b, 18), 5u);
    EXPECT_EQ(U32(b, 22), 5u);
    EXPECT_EQ(U16(b, 26), 9);
    EXPECT_EQ(U16(b, 28), 0);
    EXPECT_EQ(b.substr(30, 9), "dir/a.txt");
    EXPECT_EQ(b.substr(39, 5), "hello");
    // Central header.
    const std::size_t c = 44;
    EXPECT_EQ(U32(b, c), 0x02014b50u);
    EXPECT_EQ(U16(b, c + 4), 20);
    EXPECT_EQ(U16(b, c + 6), 20);
    EXPECT_EQ(U16(b, c + 8), 0);
    EXPECT_EQ(U16(b, c + 10), 0);
    EXPECT_EQ(U32(b, c + 16), Crc("hello"));
    EXPECT_EQ(U16(b, c + 28), 9);
    EXPECT_EQ(U16(b, c + 30), 0);
    EXPECT_EQ(U16(b, c + 32), 0);
    EXPECT_EQ(U16(b, c + 34), 0);
    EXPECT_EQ(U16(b, c + 36), 0);
    EXPECT_EQ(U32(b, c + 38), 0x20u);
    EXPECT_EQ(U32(b, c + 42), 0u);
    EXPECT_EQ(b.substr(c + 46, 9), "dir/a.txt");
    // End record.
    const std::size_t e = c + 55;
    EXPECT_EQ(U32(b, e), 0x06054b50u);
    EXPECT_EQ(U16(b, e + 4), 0);
    EXPECT_EQ(U16(b, e + 6), 0);
    EXPECT_EQ(U16(b, e + 8), 1);
    EXPECT_EQ(U16(b, e + 10), 1);
    EXPECT_EQ(U32(b, e + 12), 55u);
    EXPECT_EQ(U32(b, e + 16), 44u);
    EXPECT_EQ(U16(b, e + 20), 0);
}

TEST(ZipWrite, IndependentReadersAcceptEveryKindOfEntry) {
    TempFolder dir;
    const std::string path = dir / "mixed.zip";
    const std::string text = TextBytes(1 << 20);
    const std::string noise = RandomBytes(200000, 3);
    struct Case {
        std::string name;
        std::string content;
        int level;
        std::uint32_t attributes;
        int flags;   // expected general purpose flags
        int method;  // expected method
    };
    const std::vector<Case> cases = {
        {"Job\\stored.txt", "stored bytes", 0, 0x20, 0, 0},
        {"Job\\best.txt", text, 9, 0x20, 2, 8},
        {"Job\\level8.txt", text.substr(0, 5000), 8, 0x20, 2, 8},
        {"Job\\fast.txt", text.substr(0, 7000), 1, 0x20, 6, 8},
        {"Job\\fast2.txt", text.substr(0, 7000), 2, 0x20, 4, 8},
        {"Job\\normal.txt", text.substr(0, 9000), 5, 0x20, 0, 8},
        {"Job\\default.txt", text.substr(0, 9000), -1, 0x20, 0, 8},
        {"Job\\noise.bin", noise, 9, 0x20, 2, 8},
        {"Job\\empty-deflated", "", 9, 0x20, 2, 8},
        {"Job\\empty-stored", "", 0, 0x20, 0, 0},
        {"Job\\read-only.txt", "ro", 9, 0x21, 2, 8},
        {"Job\\Sub", "", 9, 0x10, 0, 0},  // folder entry: always stored, flags 0
        {"Job\\J\xC3\xB6rg \xC3\xBC" "ber.txt", "utf-8 name", 9, 0x20, 2 | 0x800, 8},
        {"Job\\Sub\\deep\\x.txt", "deep", 0, 0x20, 0, 0},
    };
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        for (const auto& c : cases) AddEntry(zip, c.name, c.content, c.level, c.attributes);
        zip.Close();
    }
    std::string log;
    EXPECT_TRUE(UnzipAccepts(path, &log)) << log;
    EXPECT_TRUE(SevenZipAccepts(path, &log)) << log;

    PyArchive py = InspectWithPython(path);
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_EQ(py.testzip, "None");
    EXPECT_EQ(py.comment, "");
    ASSERT_EQ(py.entries.size(), cases.size());
    std::uint64_t previousOffset = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const PyEntry& e = py.entries[i];
        std::string diskName = cases[i].name;
        for (auto& ch : diskName)
            if (ch == '\\') ch = '/';
        if (cases[i].attributes & 0x10) diskName += '/';  // folders end with a separator
        SCOPED_TRACE(diskName);
        EXPECT_EQ(e.name, diskName);  // central directory in entry order, '/' on disk
        EXPECT_EQ(e.flags, cases[i].flags);
        EXPECT_EQ(e.method, cases[i].method);
        EXPECT_EQ(e.madeBy, 20);
        EXPECT_EQ(e.needed, 20);
        EXPECT_EQ(e.crc, Crc(cases[i].content));
        EXPECT_EQ(e.size, cases[i].content.size());
        EXPECT_EQ(e.externalAttributes, cases[i].attributes);
        EXPECT_EQ(e.extraLength, 0u);
        EXPECT_EQ(e.commentLength, 0u);
        if (i > 0) {
            EXPECT_GT(e.offset, previousOffset);
        }
        previousOffset = e.offset;
    }
    // The stored data of the best-compressed entry is really raw deflate that unzip inflates.
    if (test::HasTool("unzip")) {
        auto r = test::RunCommand({"unzip", "-p", path, "Job/best.txt"});
        EXPECT_EQ(r.output, text);
    }
}

TEST(ZipWrite, OtherToolsExtractFoldersAsFoldersWithTheirFiles) {
    TempFolder dir;
    const std::string path = dir / "tree.zip";
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        AddEntry(zip, "Data", "", 0, 0x10);
        AddEntry(zip, "Data\\Docs", "", 0, 0x10);
        AddEntry(zip, "Data\\Docs\\a.txt", "hello", 9, 0x20);
        zip.Close();
    }
    if (test::HasTool("unzip")) {
        auto r = test::RunCommand({"unzip", "-q", path, "-d", dir / "unzip"});
        EXPECT_EQ(r.exitCode, 0) << r.output << r.errors;
        EXPECT_EQ(test::ReadFile(dir / "unzip/Data/Docs/a.txt"), "hello");
    }
    auto py = test::RunCommand({"python3", "-c",
                                "import sys,zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])",
                                path, dir / "python"});
    EXPECT_EQ(py.exitCode, 0) << py.errors;
    EXPECT_EQ(test::ReadFile(dir / "python/Data/Docs/a.txt"), "hello");
}

TEST(ZipWrite, LayerReadsBackWhatItWrote) {
    TempFolder dir;
    const std::string path = dir / "back.zip";
    const std::string big = TextBytes(300000) + RandomBytes(100000, 9);
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        AddEntry(zip, "a", big, 9);
        AddEntry(zip, "b", big, 0);
        AddEntry(zip, "", "unnamed", 9);  // named from its position
        zip.Close();
    }
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    ASSERT_EQ(zip.GetEntryCount(), 3);
    int result = 0;
    EXPECT_EQ(ReadWhole(zip, 0, &result, 65535), big);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadWhole(zip, 1, &result, 7), big);
    EXPECT_EQ(result, 1);
    ZipEntryHeader h;
    ASSERT_TRUE(zip.GetEntryInfo(h, 2));
    EXPECT_EQ(h.GetFileName(), "file3");
    EXPECT_EQ(h.uncompressedSize, 7u);
    platform::SystemTime t = h.GetTime();
    EXPECT_EQ(t.year, 2021);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.second, 30);
    EXPECT_FALSE(zip.GetEntryInfo(h, 3));
    EXPECT_FALSE(zip.GetEntryInfo(h, -1));
}

TEST(ZipWrite, ChangingAForeignArchiveKeepsItsExtrasCommentsAndComment) {
    if (!test::HasTool("python3")) GTEST_SKIP();
    TempFolder dir;
    const std::string path = dir / "foreign.zip";
    auto r = test::RunCommand({"python3", "-c", R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    i = zipfile.ZipInfo("keep/one.txt", (2020, 1, 2, 3, 4, 6))
    i.extra = b"\x99\x99\x04\x00abcd"
    i.comment = b"entry comment"
    i.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(i, b"one" * 100)
    z.writestr("keep/two.txt", b"two")
    z.comment = b"archive comment"
)PY", path});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        ASSERT_EQ(zip.GetEntryCount(), 2);
        AddEntry(zip, "new\\three.txt", "three", 9);
        zip.Close();
    }
    PyArchive py = InspectWithPython(path);
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_EQ(py.testzip, "None");
    EXPECT_EQ(py.comment, "archive comment");
    ASSERT_EQ(py.entries.size(), 3u);
    EXPECT_EQ(py.entries[0].name, "keep/one.txt");
    EXPECT_EQ(py.entries[0].extraLength, 8u);
    EXPECT_EQ(py.entries[0].commentLength, 13u);
    EXPECT_EQ(py.entries[2].name, "new/three.txt");
    EXPECT_EQ(py.entries[2].extraLength, 0u);
    std::string log;
    EXPECT_TRUE(UnzipAccepts(path, &log)) << log;
    EXPECT_TRUE(SevenZipAccepts(path, &log)) << log;
}

TEST(ZipWrite, CloseFinishesAnEntryStillBeingWritten) {
    TempFolder dir;
    const std::string path = dir / "open.zip";
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        ZipEntryHeader h;
        h.SetFileName("unfinished.txt");
        ASSERT_TRUE(zip.OpenNewEntry(h, 9));
        ASSERT_TRUE(zip.WriteNewEntry("abc", 3));
        zip.Close();
        EXPECT_TRUE(zip.IsClosed());
        EXPECT_TRUE(zip.IsClosed(false));
    }
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    ASSERT_EQ(zip.GetEntryCount(), 1);
    EXPECT_EQ(ReadWhole(zip, 0), "abc");
}

TEST(ZipWrite, ArchiveNotClosedNormallyIsNeverCompleted) {
    TempFolder dir;
    const std::string path = dir / "abandoned.zip";
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        AddEntry(zip, "a", std::string(100000, 'a'), 0);
        zip.Close(true);
    }
    // Whatever reached the disk, it holds no end record: nobody takes it for a whole archive.
    std::string b = Bytes(path);
    EXPECT_EQ(b.find(std::string("PK\x05\x06", 4)), std::string::npos);
    {
        ZipArchiveFile zip;
        zip.Open(dir / "destroyed.zip", ZipCreate);
        AddEntry(zip, "a", "x", 0);
    }  // the destructor releases without writing the directory
    b = Bytes(dir / "destroyed.zip");
    EXPECT_EQ(b.find(std::string("PK\x05\x06", 4)), std::string::npos);
}

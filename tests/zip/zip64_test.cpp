// SPDX-License-Identifier: GPL-3.0-or-later
// Zip64 records: written past the classic fields (lowered here so that small archives reach
// them), read from other producers, changed in place, and refused when damaged.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;
namespace fs = std::filesystem;

namespace {

ZipLimits Classic(std::uint64_t maxValue, std::uint64_t maxEntries, std::uint64_t localFrom) {
    ZipLimits limits;
    limits.classicMaxValue = maxValue;
    limits.classicMaxEntries = maxEntries;
    limits.localZip64From = localFrom;
    return limits;
}

struct Content {
    std::string name;
    std::string data;
    int level;
    std::uint64_t expected;  // the size announced to OpenNewEntry
};

void Write(const std::string& path, const ZipLimits& limits, const std::vector<Content>& entries) {
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    zip.SetLimits(limits);
    for (const Content& c : entries) {
        ZipEntryHeader h = Named(c.name);
        h.uncompressedSize = c.expected;
        ASSERT_TRUE(zip.OpenNewEntry(h, c.level)) << c.name;
        ASSERT_TRUE(zip.WriteNewEntry(c.data.data(), c.data.size())) << c.name;
        ASSERT_TRUE(zip.CloseNewEntry()) << c.name;
    }
    zip.Close();
}

// The layer and the three independent readers see exactly `entries`.
void ExpectEveryoneReads(const std::string& path, const std::vector<Content>& entries) {
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    ASSERT_EQ(zip.GetEntryCount(), static_cast<int>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ZipEntryHeader h;
        ASSERT_TRUE(zip.GetEntryInfo(h, static_cast<int>(i)));
        EXPECT_EQ(h.fileName, entries[i].name);
        EXPECT_EQ(h.uncompressedSize, entries[i].data.size()) << entries[i].name;
        int closed = 0;
        EXPECT_EQ(ReadWhole(zip, static_cast<int>(i), &closed), entries[i].data) << entries[i].name;
        EXPECT_EQ(closed, 1) << entries[i].name;
    }
    zip.Close();
    std::string log;
    EXPECT_TRUE(UnzipAccepts(path, &log)) << log;
    EXPECT_TRUE(SevenZipAccepts(path, &log)) << log;
    if (!test::HasTool("python3")) return;
    PyArchive py = InspectWithPython(path);
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_EQ(py.testzip, "None");
    ASSERT_EQ(py.entries.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(py.entries[i].size, entries[i].data.size());
}

// Position of the zip64 end record of an archive without a comment, or npos.
std::size_t Zip64EndRecordAt(const std::string& bytes) {
    if (bytes.size() < 22 + 20 + 56) return std::string::npos;
    const std::size_t at = bytes.size() - 22 - 20 - 56;
    return U32(bytes, at) == 0x06064b50 && U32(bytes, at + 56) == 0x07064b50 ? at : std::string::npos;
}

}  // namespace

TEST(Zip64, RecordsPastTheClassicFieldsAreReadByEveryone) {
    const std::string text = TextBytes(5000), noise = RandomBytes(3000, 4);
    struct Case {
        const char* what;
        ZipLimits limits;
        std::vector<Content> entries;
        bool zip64End;
        std::vector<bool> localZip64;    // per entry: local header with 64-bit sizes
        std::vector<bool> centralZip64;  // per entry: central record with a zip64 block
        std::uint16_t endCount;          // the classic end record's count field
    };
    const std::vector<Case> cases = {
        {"sizes and offsets past 1,000",
         Classic(1000, 0xFFFF, 1000),
         {{"text.txt", text, 9, 5000}, {"noise.bin", noise, 0, 3000}, {"small.txt", "x", 9, 1}},
         true, {true, true, false}, {true, true, true}, 3},
        {"more entries than 3",
         Classic(0xFFFFFFFE, 3, 0xF0000000),
         {{"a", "a", 9, 0}, {"b", "b", 0, 0}, {"c", text, 9, 0}, {"d", "", 9, 0}, {"e", "e", 9, 0}},
         true, {false, false, false, false, false}, {false, false, false, false, false}, 0xFFFF},
        {"every local header with 64-bit sizes, nothing else past the classic fields",
         Classic(0xFFFFFFFE, 0xFFFF, 0),
         {{"text.txt", text, 9, 0}, {"noise.bin", noise, 0, 0}},
         false, {true, true}, {false, false}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        const std::string path = dir / "z.zip";
        Write(path, c.limits, c.entries);
        ExpectEveryoneReads(path, c.entries);
        const std::string bytes = Bytes(path);
        EXPECT_EQ(Zip64EndRecordAt(bytes) != std::string::npos, c.zip64End);
        EXPECT_EQ(U16(bytes, bytes.size() - 12), c.endCount);
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly);
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            ZipEntryHeader h;
            zip.GetEntryInfo(h, i);
            const std::size_t local = static_cast<std::size_t>(h.localHeaderOffset);
            const bool localZip64 = U32(bytes, local + 18) == 0xFFFFFFFF && U32(bytes, local + 22) == 0xFFFFFFFF &&
                                    U16(bytes, local + 30 + h.fileName.size()) == 1;
            EXPECT_EQ(localZip64, c.localZip64[static_cast<std::size_t>(i)]) << h.fileName;
            EXPECT_EQ(U16(bytes, local + 4), localZip64 ? 45 : 20) << h.fileName;
        }
        zip.Close();
        if (test::HasTool("python3")) {
            PyArchive py = InspectWithPython(path);
            for (std::size_t i = 0; i < py.entries.size(); ++i) {
                const bool centralZip64 = c.centralZip64[i];
                EXPECT_EQ(py.entries[i].extraLength > 0, centralZip64) << py.entries[i].name;
                EXPECT_EQ(py.entries[i].needed, centralZip64 || c.localZip64[i] ? 45 : 20) << py.entries[i].name;
            }
        }
    }
}

TEST(Zip64, AnEntryWithoutRoomInItsLocalHeaderIsRefusedWhenItPassesTheClassicSize) {
    TempFolder dir;
    const std::string path = dir / "g.zip";
    const std::string data = RandomBytes(1500, 2);
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    zip.SetLimits(Classic(1000, 0xFFFF, 2000));
    AddEntry(zip, "first", "first", 9);
    const auto length = fs::file_size(path);
    for (int level : {0, 9}) {
        SCOPED_TRACE(level);
        ZipEntryHeader h = Named("grew");
        h.uncompressedSize = 500;  // smaller than it turns out
        ASSERT_TRUE(zip.OpenNewEntry(h, level));
        const bool written = zip.WriteNewEntry(data.data(), data.size()) && zip.CloseNewEntry();
        EXPECT_FALSE(written);
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::EntryTooLarge);
        EXPECT_EQ(fs::file_size(path), length);
    }
    ZipEntryHeader h = Named("announced");
    h.uncompressedSize = 2000;
    ASSERT_TRUE(zip.OpenNewEntry(h, 0));
    ASSERT_TRUE(zip.WriteNewEntry(data.data(), data.size()));
    ASSERT_TRUE(zip.CloseNewEntry());
    zip.Close();
    ExpectEveryoneReads(path, {{"first", "first", 9, 0}, {"announced", data, 0, 0}});
}

TEST(Zip64, OtherProducersRecordsAreReadChangedAndWrittenBack) {
    if (!test::HasTool("python3")) GTEST_SKIP();
    TempFolder dir;
    const std::string path = dir / "py.zip";
    // Python's limits lowered: zip64 blocks past 1,000 bytes, the zip64 end record past 3
    // entries; one entry streamed with 64-bit sizes in its local header and data descriptor;
    // a stub in front of the archive, as a self-extractor has.
    auto r = test::RunCommand({"python3", "-c", std::string(kPythonPipe) + R"PY(
zipfile.ZIP64_LIMIT = 1000
zipfile.ZIP_FILECOUNT_LIMIT = 3
out = open(sys.argv[1], "wb")
out.write(b"#!stub\n" * 10)
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("one.txt", b"one" * 1000)
    z.writestr("two.bin", bytes(range(256)) * 8, zipfile.ZIP_STORED)
    z.writestr("three.txt", b"3")
    z.writestr("four.txt", b"four" * 10)
out.close()
with open(sys.argv[2], "wb") as f:
    with zipfile.ZipFile(Pipe(f), "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("streamed.txt", "w", force_zip64=True) as e:
            e.write(b"streamed " * 300)
        z.writestr("after.txt", b"after")
)PY", path, dir / "pipe.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    std::string two;
    for (int k = 0; k < 8; ++k)
        for (int b = 0; b < 256; ++b) two += static_cast<char>(b);
    std::vector<Content> entries = {{"one.txt", std::string(3000, 'o'), 9, 0},
                                    {"two.bin", two, 0, 0},
                                    {"three.txt", "3", 9, 0},
                                    {"four.txt", "", 9, 0}};
    for (int k = 0; k < 1000; ++k) entries[0].data.replace(3 * k, 3, "one");
    for (int k = 0; k < 10; ++k) entries[3].data += "four";
    ASSERT_NE(Zip64EndRecordAt(Bytes(path)), std::string::npos);
    ExpectEveryoneReads(path, entries);
    std::string streamed;
    for (int k = 0; k < 300; ++k) streamed += "streamed ";
    ExpectEveryoneReads(dir / "pipe.zip", {{"streamed.txt", streamed, 9, 0}, {"after.txt", "after", 9, 0}});

    // Changed in place: the layer's own records replace Python's, and still past the limits.
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        zip.SetLimits(Classic(1000, 3, 0xF0000000));
        ASSERT_TRUE(zip.DeleteEntry(0));
        AddEntry(zip, "added.txt", "added", 9);
        zip.Close();
    }
    entries.erase(entries.begin());
    entries.push_back({"added.txt", "added", 9, 0});
    EXPECT_NE(Zip64EndRecordAt(Bytes(path)), std::string::npos);
    ExpectEveryoneReads(path, entries);
    // With the classic limits back, the rewritten directory needs no zip64 record at all.
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        ASSERT_TRUE(zip.DeleteEntry(0));
        zip.Close();
    }
    entries.erase(entries.begin());
    EXPECT_EQ(Zip64EndRecordAt(Bytes(path)), std::string::npos);
    ExpectEveryoneReads(path, entries);
}

TEST(Zip64, DamagedRecordsAreRefused) {
    TempFolder dir;
    const std::string path = dir / "z.zip";
    Write(path, Classic(1000, 2, 1000),
          {{"a.txt", TextBytes(3000), 9, 3000}, {"b.bin", RandomBytes(2000, 3), 0, 2000}, {"c", "c", 9, 0}});
    const std::string good = Bytes(path);
    const std::size_t end64 = Zip64EndRecordAt(good);
    ASSERT_NE(end64, std::string::npos);
    const std::uint64_t directory = U32(good, end64 + 48);
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        int atOpen;   // code at Open
        int atEntry;  // code when entry 0 is read (Open succeeded)
    };
    auto put64 = [](std::string& b, std::size_t at, std::uint64_t v) {
        Put32(b, at, static_cast<std::uint32_t>(v));
        Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
    };
    const std::vector<Case> cases = {
        {"zip64 end record signature", [&](std::string& b) { b[end64] = 'X'; }, 10, 0},
        {"record size past the locator", [&](std::string& b) { put64(b, end64 + 4, 45); }, 10, 0},
        {"directory beyond the record", [&](std::string& b) { put64(b, end64 + 48, end64); }, 10, 0},
        {"directory size past the file", [&](std::string& b) { put64(b, end64 + 40, 1ull << 40); }, 10, 0},
        {"a count no directory holds", [&](std::string& b) { put64(b, end64 + 32, 1ull << 40); }, 10, 0},
        {"a volume number past 16 bits", [&](std::string& b) { Put32(b, end64 + 16, 0x10000); }, 10, 0},
        {"marker without a zip64 block",
         [&](std::string& b) { Put16(b, static_cast<std::size_t>(directory) + 46 + 5, 0x5555); }, 10, 0},
        {"local 64-bit size disagreeing", [&](std::string& b) { b[30 + 5 + 4] ^= 1; }, 0, 10},
        {"locator moved: the record is found before it", [&](std::string& b) { put64(b, end64 + 56 + 8, 12345); },
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        c.damage(bytes);
        test::WriteFile(path, bytes);
        ZipArchiveFile zip;
        EXPECT_EQ(ZipErrorOf([&] { zip.Open(path, ZipOpenReadOnly); }), c.atOpen);
        if (c.atOpen != 0) {
            EXPECT_TRUE(zip.IsClosed());
            continue;
        }
        EXPECT_EQ(ZipErrorOf([&] { ReadWhole(zip, 0); }), c.atEntry);
        zip.Close(true);
    }
}

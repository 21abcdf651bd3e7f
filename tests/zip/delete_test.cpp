// SPDX-License-Identifier: GPL-3.0-or-later
// Deleting entries: in-place compaction, offsets, folders, foreign layouts.
#include <gtest/gtest.h>

#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;

namespace {

struct Item {
    std::string name;
    std::string content;
    int level;
    std::uint32_t attributes = kZipAttrArchive;
};

void Write(const std::string& path, const std::vector<Item>& items) {
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    for (const auto& i : items) AddEntry(zip, i.name, i.content, i.level, i.attributes);
    zip.Close();
}

std::vector<Item> Sample() {
    return {{"a.txt", TextBytes(40000), 9}, {"b.bin", RandomBytes(30000, 1), 0},
            {"c.txt", TextBytes(5000), 9},  {"d.bin", RandomBytes(50000, 2), 9},
            {"e.txt", "", 9}};
}

std::vector<std::string> Names(ZipArchiveFile& zip) {
    std::vector<std::string> names;
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        ZipEntryHeader h;
        zip.GetEntryInfo(h, i);
        names.push_back(h.GetFileName());
    }
    return names;
}

}  // namespace

TEST(Delete, ResultEqualsAnArchiveWrittenWithoutTheEntries) {
    TempFolder dir;
    const auto items = Sample();
    for (const std::vector<int>& doomed :
         std::vector<std::vector<int>>{{0}, {4}, {2}, {0, 2}, {1, 3, 4}, {0, 1, 2, 3, 4}, {3, 3, 1, 99, -1}}) {
        SCOPED_TRACE(::testing::PrintToString(doomed));
        Write(dir / "x.zip", items);
        {
            ZipArchiveFile zip;
            zip.Open(dir / "x.zip", ZipOpenExisting);
            zip.DeleteEntries(doomed);
            zip.Close();
        }
        std::vector<Item> rest;
        for (int i = 0; i < static_cast<int>(items.size()); ++i)
            if (std::find(doomed.begin(), doomed.end(), i) == doomed.end()) rest.push_back(items[i]);
        Write(dir / "expected.zip", rest);
        EXPECT_EQ(Bytes(dir / "x.zip"), Bytes(dir / "expected.zip"));
    }
}

TEST(Delete, LastEntryOnlyShortensFirstEntryMovesTheRestDown) {
    TempFolder dir;
    Write(dir / "x.zip", Sample());
    const std::string before = Bytes(dir / "x.zip");
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipOpenExisting);
    std::vector<ZipEntryHeader> old(5);
    for (int i = 0; i < 5; ++i) zip.GetEntryInfo(old[i], i);
    ASSERT_TRUE(zip.DeleteEntry(4));
    zip.Close();
    std::string after = Bytes(dir / "x.zip");
    EXPECT_EQ(after.substr(0, old[4].localHeaderOffset), before.substr(0, old[4].localHeaderOffset));

    zip.Open(dir / "x.zip", ZipOpenExisting);
    ASSERT_TRUE(zip.DeleteEntry(0));
    const std::uint32_t removed = old[1].localHeaderOffset - old[0].localHeaderOffset;
    for (int i = 0; i < 3; ++i) {
        ZipEntryHeader h;
        ASSERT_TRUE(zip.GetEntryInfo(h, i));
        EXPECT_EQ(h.localHeaderOffset, old[i + 1].localHeaderOffset - removed);
    }
    EXPECT_EQ(ReadWhole(zip, 2), Sample()[3].content);  // readable before the archive is closed
    zip.Close();
    after = Bytes(dir / "x.zip");
    EXPECT_EQ(after.substr(0, old[4].localHeaderOffset - removed),
              before.substr(old[1].localHeaderOffset, old[4].localHeaderOffset - old[1].localHeaderOffset));
    std::string log;
    EXPECT_TRUE(UnzipAccepts(dir / "x.zip", &log)) << log;
}

TEST(Delete, AllEntriesLeaveTheEmptyArchive) {
    TempFolder dir;
    Write(dir / "x.zip", Sample());
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipOpenExisting);
    zip.DeleteEntries({4, 3, 2, 1, 0});
    EXPECT_EQ(zip.GetEntryCount(), 0);
    zip.Close();
    EXPECT_EQ(Bytes(dir / "x.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(Delete, FolderByNameIgnoringCase) {
    TempFolder dir;
    Write(dir / "x.zip", {{"Job", "", 9, kZipAttrDirectory},
                          {"Job\\x", "x", 9},
                          {"Jobs\\x", "other job", 9},
                          {"job\\sub\\y", "y", 0},
                          {"Jobx", "not in the folder", 9},
                          {"JOB", "a file named like the folder", 9}});
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipOpenExisting);
    zip.DeleteFolder("JOB");
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"Jobs\\x", "Jobx", "JOB"}));
    zip.Close();
    zip.Open(dir / "x.zip", ZipOpenReadOnly);
    EXPECT_EQ(ReadWhole(zip, 0), "other job");
    EXPECT_EQ(ReadWhole(zip, 2), "a file named like the folder");
}

TEST(Delete, EntriesAddedInTheSameSessionAndAfterwards) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipCreate);
    AddEntry(zip, "one", TextBytes(3000), 9);
    AddEntry(zip, "two", TextBytes(4000), 9);
    ASSERT_TRUE(zip.DeleteEntry(0));
    AddEntry(zip, "three", "3", 0);
    EXPECT_FALSE(zip.DeleteEntry(2));
    zip.Close();
    Write(dir / "expected.zip", {{"two", TextBytes(4000), 9}, {"three", "3", 0}});
    EXPECT_EQ(Bytes(dir / "x.zip"), Bytes(dir / "expected.zip"));
}

TEST(Delete, ForeignLayoutOutOfOrderWithDescriptors) {
    if (!test::HasTool("python3")) GTEST_SKIP();
    TempFolder dir;
    // Entries with data descriptors and a gap, and a directory listing them in reverse order.
    auto r = test::RunCommand({"python3", "-c", std::string(kPythonPipe) + R"PY(
buf = io.BytesIO()
with zipfile.ZipFile(Pipe(buf), "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(5):
        z.writestr("e%d.txt" % i, (b"entry %d " % i) * (500 * (i + 1)))
data = buf.getvalue()
end = data.rindex(b"PK\x05\x06")
count, size, offset = struct.unpack("<HII", data[end + 10:end + 20])
records, at = [], offset
for _ in range(count):
    n, e, c = struct.unpack("<HHH", data[at + 28:at + 34])
    records.append(data[at:at + 46 + n + e + c]); at += 46 + n + e + c
open(sys.argv[1], "wb").write(data[:offset] + b"".join(reversed(records)) + data[offset + size:])
)PY", dir / "rev.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ZipArchiveFile zip;
    zip.Open(dir / "rev.zip", ZipOpenExisting);
    ASSERT_EQ(Names(zip), (std::vector<std::string>{"e4.txt", "e3.txt", "e2.txt", "e1.txt", "e0.txt"}));
    zip.DeleteEntries({1, 4});  // e3 and e0 (the first in the file)
    zip.Close();
    PyArchive py = InspectWithPython(dir / "rev.zip");
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_EQ(py.testzip, "None");
    ASSERT_EQ(py.entries.size(), 3u);
    zip.Open(dir / "rev.zip", ZipOpenReadOnly);
    for (int i : {1, 2, 4}) {
        std::string expected;
        for (int k = 0; k < 500 * (i + 1); ++k) expected += "entry " + std::to_string(i) + " ";
        int result = 0;
        EXPECT_EQ(ReadWhole(zip, zip.FindEntry("e" + std::to_string(i) + ".txt", true), &result), expected);
        EXPECT_EQ(result, 1);
    }
}

TEST(Delete, SharedLocalHeadersAreRefusedBeforeAnythingChanges) {
    TempFolder dir;
    Write(dir / "x.zip", Sample());
    std::string b = Bytes(dir / "x.zip");
    std::size_t directory = U32(b, b.size() - 22 + 16);
    std::size_t second = directory + 46 + U16(b, directory + 28);
    Put32(b, second + 42, 0);  // entry 1 claims entry 0's local header
    test::WriteFile(dir / "x.zip", b);
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipOpenExisting);
    EXPECT_EQ(ZipErrorOf([&] { zip.DeleteEntry(3); }), kZipDamaged);
    zip.Close(true);
    EXPECT_EQ(Bytes(dir / "x.zip"), b);
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Multi-volume archives: split parts, scripted removable disks, the one-volume conversion and
// damaged spans.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "tests/zip/zip_test_support.h"

namespace halvex::ziptest {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

// name, content, level: stored random data runs across parts, text deflates, a folder.
const std::vector<std::tuple<std::string, std::string, int>> kEntries = {
    {"random.bin", RandomBytes(90000, 1), 0}, {"docs\\", "", 0},
    {"docs\\text.txt", TextBytes(40000), 9}, {"docs\\more.bin", RandomBytes(50000, 2), 6}};

void WriteEntries(ZipArchiveFile& zip) {
    for (const auto& [name, content, level] : kEntries)
        AddEntry(zip, name, content, level, name.back() == '\\' ? kZipAttrDirectory : kZipAttrArchive);
}

// Every entry reads back whole with its CRC checked.
void ExpectEntries(ZipArchiveFile& zip) {
    ASSERT_EQ(zip.GetEntryCount(), static_cast<int>(kEntries.size()));
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        int closed = 0;
        EXPECT_EQ(ReadWhole(zip, i, &closed, 5000), std::get<1>(kEntries[i])) << i;
        EXPECT_EQ(closed, 1) << i;
    }
}

// Scripted removable disks: "inserting" disk n puts its file at the archive's path.
struct Disks {
    std::string folder, archive;
    std::uint64_t capacity = 70000;
    std::vector<std::pair<int, long long>> asked;
    int stopAt = 0;         // answer stop when this volume is asked for
    bool keepOnce = false;  // the first new disk still holds the archive's file
    std::string Disk(int n) const { return folder + "/disk" + std::to_string(n); }
} disks;

bool ScriptedDisk(int volume, long long code, void*) {
    disks.asked.emplace_back(volume, code);
    if (volume == disks.stopAt) return false;
    if (code == kZipDiskForReading)
        fs::copy_file(disks.Disk(volume), disks.archive, fs::copy_options::overwrite_existing);
    else if (platform::PathExists(disks.archive) && !std::exchange(disks.keepOnce, false))
        fs::rename(disks.archive, disks.Disk(volume - 1));  // the full disk comes out
    return true;
}
const ZipDriveQueries kScriptedDrive = {[](const std::string&) { return true; },
                                        [](const std::string& path) -> std::uint64_t {
                                            std::error_code ec;
                                            const auto used = fs::file_size(path, ec);
                                            return disks.capacity - (ec ? 0 : std::min(used, disks.capacity));
                                        }};

class Span : public ::testing::Test {
protected:
    void SetUp() override {
        disks = Disks();
        disks.folder = dir.path();
        disks.archive = dir / "R.zip";
    }
    TempFolder dir;
    ZipArchiveFile zip;
};

}  // namespace

TEST_F(Span, SplitPartsAreNamedFilledAndReadBack) {
    test::MakeFolders(dir / "x.y");
    zip.Open(dir / "x.y/A", ZipCreateSpan, 65536);
    WriteEntries(zip);
    EXPECT_FALSE(zip.OpenEntry(0));  // nothing is read while a span is written
    zip.Close();
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir / "x.y")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A.000", "A.001", "A.zip"}));
    EXPECT_EQ(U32(Bytes(dir / "x.y/A.000"), 0), 0x08074B50u);
    // Data fills a part to its last byte; no local header straddles two parts.
    EXPECT_EQ(fs::file_size(dir / "x.y/A.000"), 65536u);
    EXPECT_EQ(fs::file_size(dir / "x.y/A.001"), 65536u);
    for (int mode : {ZipOpenReadOnly, ZipOpenExisting}) {
        zip.Open(dir / "x.y/A.zip", mode);
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            ZipEntryHeader h;
            ASSERT_TRUE(zip.GetEntryInfo(h, i) && h.HasDataDescriptor());
            EXPECT_LE(h.localHeaderOffset + 30 + h.fileName.size(), 65536u) << i;
        }
        ExpectEntries(zip);
        EXPECT_FALSE(zip.OpenNewEntry(Named("new"), 6));  // a span is never changed
        EXPECT_FALSE(zip.DeleteEntry(0));
        zip.Close();
    }
    // A header larger than a part comes whole onto its empty part, which grows.
    zip.Open(dir / "B.zip", ZipCreateSpan, 100);
    AddEntry(zip, std::string(300, 'n'), "short", 0);
    zip.Close();
    EXPECT_GT(fs::file_size(dir / "B.001"), 300u);
    zip.Open(dir / "B.zip", ZipOpenReadOnly);
    EXPECT_EQ(ReadWhole(zip, 0), "short");
}

TEST_F(Span, AnArchiveOnOneVolumeIsClosedAsAPlainArchive) {
    disks.capacity = 1 << 20;
    zip.SetVolumeCallback(ScriptedDisk);
    zip.SetDriveQueries(kScriptedDrive);
    for (const std::string& path : {dir / "S.zip", disks.archive}) {
        zip.Open(path, ZipCreateSpan, path == disks.archive ? 0 : 1 << 20);
        WriteEntries(zip);
        zip.Close();
        EXPECT_FALSE(platform::PathExists(dir / "S.000"));
        EXPECT_EQ(U32(Bytes(path), 0), 0x04034B50u) << path;
        PyArchive py = InspectWithPython(path);
        if (py.ran) {
            EXPECT_EQ(py.testzip, "None");
            ASSERT_EQ(py.entries.size(), kEntries.size());
            EXPECT_EQ(py.entries[0].offset, 0u);
            for (const auto& e : py.entries) EXPECT_EQ(e.flags & 8, 0) << e.name;
        }
        EXPECT_TRUE(UnzipAccepts(path) && SevenZipAccepts(path));
        zip.Open(path, ZipOpenReadOnly);
        ExpectEntries(zip);
        zip.Close();
    }
}

TEST_F(Span, RemovableDisksAreAskedForInTurn) {
    disks.keepOnce = true;
    // Without a callback, and on a fixed disk: refused before anything is created.
    EXPECT_EQ(ZipErrorOf([&] { zip.Open(disks.archive, ZipCreateSpan); }), kZipNoVolumeCallback);
    zip.SetVolumeCallback(ScriptedDisk);
    EXPECT_EQ(ZipErrorOf([&] { zip.Open(disks.archive, ZipCreateSpan); }), kZipNotRemovable);
    EXPECT_TRUE(disks.asked.empty());

    zip.SetDriveQueries(kScriptedDrive);
    zip.Open(disks.archive, ZipCreateSpan);
    WriteEntries(zip);
    zip.Close();
    fs::rename(disks.archive, disks.Disk(3));
    // Disk 1 first; disk 2 still held the file once (asked again); then disk 3.
    using Ask = std::pair<int, long long>;
    ASSERT_EQ(disks.asked.size(), 4u);
    EXPECT_EQ(disks.asked[0], (Ask{1, 4}));
    EXPECT_EQ(disks.asked[2], (Ask{2, kZipDiskHasFile}));
    EXPECT_EQ(disks.asked[3].first, 3);

    disks.asked.clear();
    fs::copy_file(disks.Disk(3), disks.archive);
    zip.Open(disks.archive, ZipOpenReadOnly);
    ExpectEntries(zip);
    zip.Close();
    EXPECT_EQ(disks.asked.front(), (Ask{1, kZipDiskForReading}));
    // Stopping at a disk is code 13 naming the archive.
    disks.stopAt = 1;
    zip.Open(disks.archive, ZipOpenReadOnly);
    try {
        ReadWhole(zip, 0);
        ADD_FAILURE() << "no stop";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.code, kZipVolumeAborted);
        EXPECT_EQ(e.fileName, disks.archive);
    }
    zip.Close(true);
    ZipArchiveFile without;
    without.SetDriveQueries(kScriptedDrive);
    EXPECT_EQ(ZipErrorOf([&] { without.Open(disks.archive, ZipOpenReadOnly); }), kZipNoVolumeCallback);
}

TEST_F(Span, EntriesAreCutBackOnlyOnTheirOwnVolumeAndVolumesEndAt999) {
    zip.Open(dir / "C.zip", ZipCreateSpan, 65536);
    AddEntry(zip, "kept", "kept data", 0);
    ASSERT_TRUE(zip.OpenNewEntry(Named("dropped"), 0) && zip.WriteNewEntry("xyz", 3));
    EXPECT_TRUE(zip.AbandonNewEntry());
    ASSERT_TRUE(zip.OpenNewEntry(Named("long"), 0));
    const std::string big = RandomBytes(70000, 3);
    ASSERT_TRUE(zip.WriteNewEntry(big.data(), big.size()));
    EXPECT_EQ(ZipErrorOf([&] { zip.AbandonNewEntry(); }), kZipDamaged);
    zip.Close(true);

    zip.Open(dir / "D.zip", ZipCreateSpan, 1);
    ASSERT_TRUE(zip.OpenNewEntry(Named("bytes"), 0));
    const std::string data(20000, 'b');  // the entry's buffer reaches the storage at 16 KiB
    EXPECT_EQ(ZipErrorOf([&] { zip.WriteNewEntry(data.data(), data.size()); }), kZipTooManyVolumes);
    zip.Close(true);
    EXPECT_TRUE(platform::PathExists(dir / "D.998"));
    EXPECT_FALSE(platform::PathExists(dir / "D.999"));
}

TEST_F(Span, DamagedSpansAreCode10) {
    zip.Open(dir / "A.zip", ZipCreateSpan, 65536);
    WriteEntries(zip);
    zip.Close();
    const std::string good = Bytes(dir / "A.zip");  // the directory is on this last part
    const std::size_t end = good.rfind("PK\x05\x06"), first = good.find("PK\x01\x02");
    const std::vector<std::pair<const char*, std::function<void(std::string&)>>> cases = {
        {"end record on volume 999", [&](std::string& b) { Put16(b, end + 4, 999); }},
        {"directory past the end record's volume", [&](std::string& b) { Put16(b, end + 6, 3); }},
        {"an entry on a volume past the last", [&](std::string& b) { Put16(b, first + 34, 5); }},
        {"an entry running past the last part", [&](std::string& b) { Put32(b, first + 20, 200000), Put32(b, first + 24, 200000); }},
    };
    for (const auto& [what, damage] : cases) {
        std::string b = good;
        damage(b);
        test::WriteFile(dir / "A.zip", b);
        EXPECT_EQ(ZipErrorOf([&] {
                      zip.Open(dir / "A.zip", ZipOpenReadOnly);
                      for (int i = 0; i < zip.GetEntryCount(); ++i) ReadWhole(zip, i, nullptr, 70000);
                  }),
                  kZipDamaged)
            << what;
        zip.Close(true);
    }
}

}  // namespace halvex::ziptest

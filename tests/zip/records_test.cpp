// SPDX-License-Identifier: GPL-3.0-or-later
// DOS times, entry header rules, extraction paths and the volume storage.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/file_attributes.h"
#include "platform/file_time.h"
#include "tests/zip/zip_test_support.h"
#include "zip/dos_time.h"
#include "zip/zip_extract_path.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::platform::SystemTime;
using halvex::test::TempFolder;

namespace {

// Runs the test body under a fixed time zone with daylight saving, restoring the old one.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (hadOld_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

}  // namespace

TEST(DosTime, FieldsPackAsTheFormatSays) {
    SystemTime t{2004, 2, 0, 29, 23, 59, 59, 999};
    DosDateTime d = SystemTimeToDos(t);
    EXPECT_EQ(d.time, 23 * 2048 + 59 * 32 + 29);  // odd seconds round down
    EXPECT_EQ(d.date, 24 * 512 + 2 * 32 + 29);
    SystemTime back = DosToSystemTime(d);
    EXPECT_EQ(back.year, 2004);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 29);
    EXPECT_EQ(back.second, 58);
}

TEST(DosTime, YearsOutsideTheFieldAreClampedNotWrapped) {
    EXPECT_EQ(SystemTimeToDos(SystemTime{1979, 12, 0, 31, 0, 0, 0, 0}).date >> 9, 0);
    EXPECT_EQ(SystemTimeToDos(SystemTime{1980, 1, 0, 1, 0, 0, 0, 0}).date, 1 * 32 + 1);
    // 2108 would need an eighth year bit; it must not come back as 1980.
    EXPECT_EQ(SystemTimeToDos(SystemTime{2150, 3, 0, 4, 0, 0, 0, 0}).date >> 9, 127);
}

TEST(DosTime, FileTimesGoThroughLocalTimeBothWays) {
    ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    // 2023-07-01 12:00:10 UTC is 14:00:10 summer time in this zone.
    platform::FileTime summer = platform::FileTimeFromUnixSeconds(1688212810);
    DosDateTime d = FileTimeToDos(summer);
    EXPECT_EQ(d.time, 14 * 2048 + 0 * 32 + 5);
    EXPECT_EQ(DosToFileTime(d), summer);
    // Winter: one hour ahead of UTC.
    platform::FileTime winter = platform::FileTimeFromUnixSeconds(1673784000);  // 2023-01-15 12:00 UTC
    EXPECT_EQ(FileTimeToDos(winter).time, 13 * 2048);
    EXPECT_EQ(DosToFileTime(FileTimeToDos(winter)), winter);
}

TEST(DosTime, DamagedFieldsAreNormalisedIntoTheFieldsRange) {
    // Month 0 and 15, day 0, hour 31, 62 seconds come from damaged archives: the result stays
    // a time between late 1979 and early 2109 instead of overflowing.
    const platform::FileTime low = platform::FileTimeFromUnixSeconds(9 * 365 * 86400LL);     // 1978
    const platform::FileTime high = platform::FileTimeFromUnixSeconds(140 * 365 * 86400LL);  // 2109
    for (std::uint16_t date : {0x0000, 0x01E0, 0xFFFF}) {
        for (std::uint16_t time : {0x0000, 0xFFFF}) {
            platform::FileTime t = DosToFileTime(DosDateTime{date, time});
            EXPECT_GT(t, low) << date << " " << time;
            EXPECT_LT(t, high) << date << " " << time;
        }
    }
}

TEST(EntryHeader, PrepareSetsMethodAndFlagsFromLevel) {
    struct Case {
        int level;
        std::uint32_t attributes;
        std::uint16_t method, flags;
    } cases[] = {{0, 0x20, 0, 0}, {1, 0x20, 8, 6}, {2, 0x20, 8, 4}, {3, 0x20, 8, 0},
                 {7, 0x20, 8, 0}, {8, 0x20, 8, 2}, {9, 0x20, 8, 2}, {-1, 0x20, 8, 0},
                 {9, 0x10, 0, 0}, {9, 0x11, 0, 0}};
    for (const auto& c : cases) {
        ZipEntryHeader h;
        h.SetFileName("x");
        h.externalAttributes = c.attributes;
        h.crc32 = 5;
        h.compressedSize = 6;
        h.flags = 0xFFFF;
        ASSERT_TRUE(h.PrepareForWrite(c.level, false));
        EXPECT_EQ(h.method, c.method) << c.level;
        EXPECT_EQ(h.flags, c.flags) << c.level;
        EXPECT_EQ(h.crc32, 0u);
        EXPECT_EQ(h.compressedSize, 0u);
        EXPECT_EQ(h.versionNeeded, 20);
    }
    ZipEntryHeader odd;
    odd.method = 12;  // an unknown method becomes deflate
    ASSERT_TRUE(odd.PrepareForWrite(6, true));
    EXPECT_EQ(odd.method, 8);
    EXPECT_EQ(odd.flags, 0x0008);  // data descriptor while a multi-volume archive is created
}

TEST(EntryHeader, NonAsciiNamesCarryTheUtf8Flag) {
    ZipEntryHeader ascii, utf8;
    ascii.SetFileName("plain\\name.txt");
    utf8.SetFileName("caf\xC3\xA9");
    ASSERT_TRUE(ascii.PrepareForWrite(9, false));
    ASSERT_TRUE(utf8.PrepareForWrite(9, false));
    EXPECT_EQ(ascii.flags & kFlagUtf8Name, 0);
    EXPECT_EQ(utf8.flags & kFlagUtf8Name, kFlagUtf8Name);
}

TEST(EntryHeader, FieldsOver65535BytesAreRefused) {
    ZipEntryHeader h;
    h.SetFileName(std::string(65535, 'n'));
    EXPECT_TRUE(h.PrepareForWrite(9, false));
    h.SetFileName(std::string(65536, 'n'));
    EXPECT_FALSE(h.PrepareForWrite(9, false));
    h.SetFileName("n");
    h.comment.assign(65536, 'c');
    EXPECT_FALSE(h.PrepareForWrite(9, false));
    h.comment.clear();
    h.extraField.assign(65536, 'e');
    EXPECT_FALSE(h.PrepareForWrite(9, false));
}

TEST(EntryHeader, CentralRecordRoundTripsAndConvertsSeparators) {
    ZipEntryHeader h;
    h.SetFileName("a\\b\\c.txt");
    h.extraField = "XY";
    h.comment = "note";
    h.crc32 = 0xDEADBEEF;
    h.compressedSize = 123;
    h.uncompressedSize = 456;
    h.localHeaderOffset = 0x01020304;
    h.externalAttributes = 0x21;
    h.modTime = 0x1234;
    h.modDate = 0x5678;
    std::string record;
    h.AppendCentralRecord(record);
    ASSERT_EQ(record.size(), h.CentralRecordSize());
    EXPECT_EQ(record.substr(46, 9), "a/b/c.txt");
    ZipEntryHeader back;
    ASSERT_EQ(back.ParseCentralRecord(reinterpret_cast<const unsigned char*>(record.data()), record.size()),
              record.size());
    EXPECT_EQ(back.GetFileName(), "a\\b\\c.txt");
    EXPECT_EQ(back.extraField, "XY");
    EXPECT_EQ(back.comment, "note");
    EXPECT_EQ(back.crc32, 0xDEADBEEFu);
    EXPECT_EQ(back.localHeaderOffset, 0x01020304u);
    EXPECT_EQ(back.externalAttributes, 0x21u);
    EXPECT_EQ(back.modDate, 0x5678);
    // One byte short, or a wrong signature: not a record.
    EXPECT_EQ(back.ParseCentralRecord(reinterpret_cast<const unsigned char*>(record.data()), record.size() - 1), 0u);
    record[0] = 'X';
    EXPECT_EQ(back.ParseCentralRecord(reinterpret_cast<const unsigned char*>(record.data()), record.size()), 0u);
}

TEST(ExtractPath, LastComponentOnlyWithoutFullPath) {
    EXPECT_EQ(ExtractionRelativePath("Job\\docs\\report.doc", false), "report.doc");
    EXPECT_EQ(ExtractionRelativePath("single", false), "single");
    EXPECT_EQ(ExtractionRelativePath("Job\\Folder\\", false), "Folder");  // other tools' folder entries
    for (const char* bad : {"", "\\", "Job\\..", "Job\\.", "..", "a\\b/../../x", "a\\..\\"}) {
        EXPECT_FALSE(ExtractionRelativePath(bad, false)) << bad;
    }
    EXPECT_FALSE(ExtractionRelativePath(std::string("a\\evil\0name", 11), false));
}

TEST(ExtractPath, FullPathDropsDriveAndRootButNeverClimbs) {
    EXPECT_EQ(ExtractionRelativePath("Job\\docs\\report.doc", true), "Job/docs/report.doc");
    EXPECT_EQ(ExtractionRelativePath("C:\\Job\\x", true), "Job/x");
    EXPECT_EQ(ExtractionRelativePath("\\\\Job\\.\\x", true), "Job/x");
    for (const char* bad : {"..\\x", "Job\\..\\..\\x", "Job\\..", "\\", "C:", "C:\\", "a/..\\x", "..\\"}) {
        EXPECT_FALSE(ExtractionRelativePath(bad, true)) << bad;
    }
}

TEST(Storage, WritesReachTheFileOnlyWhenTheBufferIsFull) {
    TempFolder dir;
    ZipVolumeStorage storage;
    storage.OpenStorage(dir / "s", 2, 0);
    const std::string piece(1000, 'x');
    for (int i = 0; i < 65; ++i) storage.Write(piece.data(), piece.size(), true);
    EXPECT_EQ(test::ReadFile(dir / "s").size(), 0u);  // 65,000 bytes still buffered
    EXPECT_EQ(storage.GetPosition(), 65000u);
    storage.Write(piece.data(), piece.size(), true);  // passes 65,535: one full buffer goes out
    EXPECT_EQ(test::ReadFile(dir / "s").size(), 65535u);
    storage.Flush();
    EXPECT_EQ(test::ReadFile(dir / "s").size(), 66000u);
    storage.Write("tail", 4, false);
    storage.CloseStorage(false);
    EXPECT_EQ(test::ReadFile(dir / "s").size(), 66004u);
    EXPECT_FALSE(storage.IsOpen());
}

TEST(Storage, CloseAfterExceptionWritesNothingBuffered) {
    TempFolder dir;
    ZipVolumeStorage storage;
    storage.OpenStorage(dir / "s", 2, 0);
    storage.Write("abc", 3, true);
    storage.CloseStorage(true);
    EXPECT_EQ(test::ReadFile(dir / "s"), "");
}

TEST(Storage, ShortReadsRaiseCode10) {
    TempFolder dir;
    test::WriteFile(dir / "s", std::string(100, 'z'));
    ZipVolumeStorage storage;
    storage.OpenStorage(dir / "s", 1, 0);
    char buffer[46];
    storage.Seek(90);  // 46 bytes asked, 10 there
    EXPECT_EQ(ZipErrorOf([&] { storage.Read(buffer, 46, true); }), kZipDamaged);
    storage.Seek(100);
    EXPECT_EQ(ZipErrorOf([&] { storage.Read(buffer, 1, false); }), kZipDamaged);
    storage.Seek(54);
    EXPECT_EQ(ZipErrorOf([&] { storage.Read(buffer, 46, true); }), 0);
}

TEST(Storage, TruncateKeepsOnlyWhatLiesBeforeTheCut) {
    TempFolder dir;
    ZipVolumeStorage storage;
    storage.OpenStorage(dir / "s", 2, 0);
    const std::string big(70000, 'a');
    storage.Write(big.data(), big.size(), false);  // 65,535 flushed, 4,465 buffered
    storage.TruncateTo(68000);
    storage.Write("END", 3, false);
    storage.Flush();
    std::string content = test::ReadFile(dir / "s");
    EXPECT_EQ(content.size(), 68003u);
    EXPECT_EQ(content.substr(68000), "END");
    storage.TruncateTo(10);  // before the flushed part
    storage.Write("Z", 1, false);
    storage.CloseStorage(false);
    EXPECT_EQ(test::ReadFile(dir / "s"), std::string(10, 'a') + "Z");
}

TEST(Storage, SplitPartNamesComeFromTheFileNameOnly) {
    EXPECT_EQ(ZipVolumeStorage::PartPath("x.y/A.zip", 12), "x.y/A.012");
    EXPECT_EQ(ZipVolumeStorage::PartPath("A.b.TQBak", 998, true), "A.b.zip");
}

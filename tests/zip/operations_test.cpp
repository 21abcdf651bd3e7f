// SPDX-License-Identifier: GPL-3.0-or-later
// Archive operations: open modes, entry states, reading, lookups, AddFile and ExtractEntry.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_time.h"
#include "tests/support/file_size_limit.h"
#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;
namespace fs = std::filesystem;

namespace {

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder)) names.insert(e.path().lexically_relative(folder).string());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

platform::FileTime MtimeOf(const std::string& path) {
    platform::FileTime t = 0;
    EXPECT_TRUE(platform::GetLastWriteTime(path, t)) << path;
    return t;
}

// Sets both CRC copies of the first entry of an archive written without comment to `crc`.
void SetFirstCrc(const std::string& path, std::uint32_t crc) {
    std::string b = Bytes(path);
    std::size_t directory = U32(b, b.size() - 22 + 16);
    Put32(b, 14, crc);
    Put32(b, directory + 16, crc);
    test::WriteFile(path, b);
}

}  // namespace

TEST(Open, ModesAndTheirFailures) {
    TempFolder dir;
    ZipArchiveFile zip;
    // Existing mode on a zero-length file creates a new archive there.
    test::WriteFile(dir / "empty.zip", "");
    zip.Open(dir / "empty.zip", ZipOpenExisting);
    EXPECT_FALSE(zip.IsClosed());
    EXPECT_EQ(zip.GetArchivePath(), dir / "empty.zip");
    zip.Open(dir / "other.zip", ZipCreate);  // already open: ignored
    EXPECT_EQ(zip.GetArchivePath(), dir / "empty.zip");
    zip.Close();
    EXPECT_EQ(Bytes(dir / "empty.zip").size(), 22u);
    EXPECT_FALSE(platform::PathExists(dir / "other.zip"));
    EXPECT_EQ(zip.GetArchivePath(), "");
    // A missing file is an operating-system failure, in both reading modes.
    EXPECT_THROW(zip.Open(dir / "missing.zip", ZipOpenExisting), platform::FileError);
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_THROW(zip.Open(dir / "missing.zip", ZipOpenReadOnly), platform::FileError);
    // Create replaces an existing file.
    test::WriteFile(dir / "old.zip", "old content");
    zip.Open(dir / "old.zip", ZipCreate);
    zip.Close();
    EXPECT_EQ(Bytes(dir / "old.zip").size(), 22u);
    // Removable disks need a volume callback.
    EXPECT_EQ(ZipErrorOf([&] { zip.Open(dir / "span.zip", ZipCreateSpan); }), kZipNoVolumeCallback);
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_TRUE(zip.IsClosed(false));
}

TEST(Open, UnchangedAndReadOnlyArchivesAreNotWritten) {
    TempFolder dir;
    const std::string path = dir / "a.zip";
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        AddEntry(zip, "x", "x content");
        AddEntry(zip, "y", "y content");
        zip.Close();
    }
    const std::string before = Bytes(path);
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        EXPECT_EQ(ReadWhole(zip, 1), "y content");
        zip.Close();
    }
    EXPECT_EQ(Bytes(path), before);
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    ZipEntryHeader h;
    h.SetFileName("z");
    EXPECT_FALSE(zip.OpenNewEntry(h, 9));
    EXPECT_FALSE(zip.DeleteEntry(0));
    zip.DeleteEntries({0, 1});
    zip.DeleteFolder("x");
    EXPECT_FALSE(zip.AddFile(path, 9));
    EXPECT_EQ(zip.GetEntryCount(), 2);
    zip.Close();
    EXPECT_EQ(Bytes(path), before);
}

TEST(EntryState, OneEntryAtATimeAndMisuseAnswersFalse) {
    TempFolder dir;
    ZipArchiveFile zip;
    ZipEntryHeader h;
    char buffer[8];
    // Closed archive.
    EXPECT_EQ(zip.GetEntryCount(), 0);
    EXPECT_EQ(zip.FindEntry("x", true), -1);
    EXPECT_EQ(zip.FindEntryFast("x", false), -1);
    EXPECT_FALSE(zip.OpenEntry(0));
    EXPECT_FALSE(zip.OpenNewEntry(h));
    EXPECT_FALSE(zip.IsFolderEntry(0));
    zip.Open(dir / "s.zip", ZipCreate);
    AddEntry(zip, "first", "12345678");
    // Writing: no reading, no second entry, no deletion.
    h.SetFileName("second");
    ASSERT_TRUE(zip.OpenNewEntry(h, 9));
    EXPECT_FALSE(zip.OpenNewEntry(h, 9));
    EXPECT_FALSE(zip.OpenEntry(0));
    EXPECT_FALSE(zip.DeleteEntry(0));
    EXPECT_EQ(zip.ReadEntry(buffer, sizeof buffer), 0u);
    EXPECT_EQ(zip.CloseEntry(), CloseEntryResult::NothingOpen);
    ASSERT_TRUE(zip.CloseNewEntry());
    EXPECT_FALSE(zip.CloseNewEntry());
    EXPECT_FALSE(zip.WriteNewEntry("a", 1));
    EXPECT_FALSE(zip.AbandonNewEntry());
    // Reading: no writing, no second entry.
    EXPECT_FALSE(zip.OpenEntry(2));
    EXPECT_FALSE(zip.OpenEntry(-1));
    ASSERT_TRUE(zip.OpenEntry(0));
    EXPECT_FALSE(zip.OpenEntry(1));
    EXPECT_FALSE(zip.OpenNewEntry(h, 9));
    EXPECT_FALSE(zip.WriteNewEntry("a", 1));
    EXPECT_EQ(zip.ReadEntry(nullptr, 8), 0u);
    EXPECT_EQ(zip.ReadEntry(buffer, 0), 0u);
    EXPECT_EQ(zip.CloseEntry(), CloseEntryResult::Short);  // nothing read yet
    EXPECT_FALSE(zip.OpenNewEntry(h, 10));  // level out of range
    EXPECT_FALSE(zip.OpenNewEntry(h, -2));
    zip.Close();
}

TEST(ReadEntry, LargerBufferGivesTheWholeEntryOnceThenZero) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "r.zip", ZipCreate);
    const std::string text = TextBytes(10000);
    AddEntry(zip, "deflated", text, 9);
    AddEntry(zip, "stored", text, 0);
    AddEntry(zip, "empty", "", 9);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        std::string buffer(20000, '\0');
        ASSERT_TRUE(zip.OpenEntry(i));
        std::size_t expected = i == 2 ? 0 : text.size();
        EXPECT_EQ(zip.ReadEntry(buffer.data(), buffer.size()), expected);
        EXPECT_EQ(buffer.substr(0, expected), text.substr(0, expected));
        EXPECT_EQ(zip.ReadEntry(buffer.data(), buffer.size()), 0u);
        EXPECT_EQ(zip.CloseEntry(), CloseEntryResult::Complete);
    }
    // Read exactly to the end, then close without another read: still checked and whole.
    std::string buffer(text.size(), '\0');
    ASSERT_TRUE(zip.OpenEntry(0));
    EXPECT_EQ(zip.ReadEntry(buffer.data(), buffer.size()), text.size());
    EXPECT_EQ(zip.CloseEntry(), CloseEntryResult::Complete);
}

TEST(ReadEntry, CloseEntryWithATargetSetsTimeAndAttributes) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "t.zip", ZipCreate);
    AddEntry(zip, "ro", "read only", 9, 0x21);
    ZipEntryHeader h;
    ASSERT_TRUE(zip.GetEntryInfo(h, 0));
    test::WriteFile(dir / "out", "x");
    ReadWhole(zip, 0);
    ASSERT_TRUE(zip.OpenEntry(0));
    char buffer[64];
    zip.ReadEntry(buffer, sizeof buffer);
    EXPECT_EQ(zip.CloseEntry(dir / "out"), CloseEntryResult::Complete);
    EXPECT_EQ(MtimeOf(dir / "out"), h.GetFileTime());
    EXPECT_EQ(ModeOf(dir / "out") & 0222, 0u);
    // An exact time replaces the entry's two-second DOS time.
    test::WriteFile(dir / "out2", "x");
    ASSERT_TRUE(zip.OpenEntry(0));
    zip.ReadEntry(buffer, sizeof buffer);
    const platform::FileTime exact = 133000000001234567ull;
    EXPECT_EQ(zip.CloseEntry(dir / "out2", exact), CloseEntryResult::Complete);
    EXPECT_EQ(MtimeOf(dir / "out2"), exact);
    // A target whose time cannot be set: said so, and the entry is released all the same.
    ASSERT_TRUE(zip.OpenEntry(0));
    zip.ReadEntry(buffer, sizeof buffer);
    EXPECT_EQ(zip.CloseEntry(dir / "no/such/file"), CloseEntryResult::TimeNotSet);
    EXPECT_TRUE(zip.OpenEntry(0));
    zip.AbandonEntry();
    EXPECT_TRUE(zip.OpenEntry(0));
    EXPECT_EQ(zip.CloseEntry(), CloseEntryResult::Short);
}

TEST(Find, ExactAndFoldedLookupsAgreeWithTheLinearScan) {
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "f.zip", ZipCreate);
    // Names that sort differently by bytes and by folded case ('_' and '[' lie between 'Z' and 'a').
    std::vector<std::string> names = {"Job\\a.txt", "Job\\A.txt", "job\\b_", "JOB\\B[", "Job\\Makefile",
                                      "Job\\makefile", "x", "X", "_", "[", "Job\\sub\\deep",
                                      "caf\xC3\xA9", "CAF\xC3\xA9", "Job\\a.txt"};
    for (std::size_t i = 0; i < 300; ++i) {
        std::string n = "gen\\";
        std::uint32_t v = static_cast<std::uint32_t>(i * 2654435761u);
        for (int k = 0; k < 6; ++k) n += "aZ_[bY"[(v >> (k * 3)) % 6];
        names.push_back(n);
    }
    for (const auto& n : names) AddEntry(zip, n, n, 0);
    std::vector<std::string> queries = names;
    for (std::string n : names) {
        for (auto& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        queries.push_back(n);
    }
    queries.push_back("missing");
    queries.push_back("");
    auto check = [&] {
        for (const auto& q : queries) {
            EXPECT_EQ(zip.FindEntryFast(q, true), zip.FindEntry(q, true)) << q;
            EXPECT_EQ(zip.FindEntryFast(q, false), zip.FindEntry(q, false)) << q;
        }
    };
    check();
    EXPECT_EQ(zip.FindEntry("Job\\a.txt", true), 0);  // the first of two equal names
    EXPECT_EQ(zip.FindEntry("job\\A.TXT", false), 0);
    EXPECT_EQ(zip.FindEntry("Job\\A.txt", true), 1);
    EXPECT_EQ(zip.FindEntryExactFirst("Job\\makefile"), 5);
    EXPECT_EQ(zip.FindEntryExactFirst("JOB\\MAKEFILE"), 4);
    EXPECT_EQ(zip.FindEntryExactFirst("nothing"), -1);
    // The index follows additions and deletions.
    AddEntry(zip, "late\\Entry", "", 0);
    zip.DeleteEntries({0, 7, 100});
    queries.push_back("late\\entry");
    check();
    EXPECT_GE(zip.FindEntryFast("LATE\\ENTRY", false), 0);
    zip.EnableFindFast(false);
    check();
    zip.Close();
}

TEST(AddFile, NamesTimesAttributesAndFolders) {
    TempFolder dir;
    test::MakeFolders(dir / "src/inner");
    test::WriteFile(dir / "src/inner/data.txt", TextBytes(150000));
    test::SetMtime(dir / "src/inner/data.txt", 1600000000);  // 2020-09-13
    test::WriteFile(dir / "src/locked.txt", "locked");
    chmod((dir / "src/locked.txt").c_str(), 0444);
    ZipArchiveFile zip;
    zip.Open(dir / "a.zip", ZipCreate);
    EXPECT_TRUE(zip.AddFile(dir / "src/inner/data.txt", 9, false, nullptr, nullptr, 4096));
    EXPECT_TRUE(zip.AddFile(dir / "src/locked.txt", 9, true));
    EXPECT_TRUE(zip.AddFile(dir / "src/inner", 9, false));
    ZipEntryHeader h;
    ASSERT_TRUE(zip.GetEntryInfo(h, 0));
    EXPECT_EQ(h.GetFileName(), "data.txt");
    EXPECT_EQ(h.GetFileTime(), platform::FileTimeFromUnixSeconds(1600000000));
    EXPECT_EQ(h.externalAttributes & 0xFFFF, 0x20u);
    EXPECT_EQ(h.externalAttributes >> 16 & kUnixTypeMask, kUnixTypeFile);
    EXPECT_EQ(h.uncompressedSize, 150000u);
    ASSERT_TRUE(zip.GetEntryInfo(h, 1));
    std::string full = (dir / "src/locked.txt").substr(1);
    for (auto& c : full)
        if (c == '/') c = '\\';
    EXPECT_EQ(h.GetFileName(), full);  // whole path without the leading '/'
    EXPECT_EQ(h.externalAttributes & 0xFFFF, 0x21u);
    EXPECT_EQ(h.UnixPermissions(), 0444u);
    ASSERT_TRUE(zip.GetEntryInfo(h, 2));
    EXPECT_EQ(h.GetFileName(), "inner\\");
    EXPECT_TRUE(h.IsFolder());
    EXPECT_EQ(h.externalAttributes >> 16 & kUnixTypeMask, kUnixTypeFolder);
    EXPECT_EQ(h.method, 0);
    EXPECT_EQ(h.flags, 0);
    EXPECT_EQ(h.compressedSize, 0u);
    EXPECT_EQ(ReadWhole(zip, 0), TextBytes(150000));
    zip.Close();
    std::string log;
    EXPECT_TRUE(UnzipAccepts(dir / "a.zip", &log)) << log;
}

TEST(AddFile, FailuresAddNothing) {
    TempFolder dir;
    test::WriteFile(dir / "file.txt", TextBytes(100000));
    ZipArchiveFile zip;
    zip.Open(dir / "a.zip", ZipCreate);
    AddEntry(zip, "kept", "kept");
    const std::uint64_t length = fs::file_size(dir / "a.zip");  // nothing else buffered after a patch
    EXPECT_FALSE(zip.AddFile(dir / "missing.txt", 9));
    EXPECT_FALSE(zip.AddFile(dir / "file.txt", 9, false, nullptr, nullptr, 0));
    EXPECT_FALSE(zip.AddFile(dir.path() + "/", 9, false));  // no name
    // A progress callback that stops the copy: the partial entry is not kept.
    struct Seen {
        int calls = 0;
        std::uint64_t lastTotal = 0, lastDone = 0;
    } seen;
    auto stopAtSecond = [](std::uint64_t total, std::uint64_t done, void* user) {
        auto* s = static_cast<Seen*>(user);
        ++s->calls;
        s->lastTotal = total;
        s->lastDone = done;
        return s->calls < 2;
    };
    EXPECT_FALSE(zip.AddFile(dir / "file.txt", 9, false, stopAtSecond, &seen, 30000));
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(seen.lastTotal, 100000u);
    EXPECT_EQ(seen.lastDone, 60000u);
    EXPECT_EQ(zip.GetEntryCount(), 1);
    EXPECT_EQ(fs::file_size(dir / "a.zip"), length);
    EXPECT_TRUE(zip.AddFile(dir / "file.txt", 9, false));
    zip.Close();
    ZipArchiveFile check;
    check.Open(dir / "a.zip", ZipOpenReadOnly);
    ASSERT_EQ(check.GetEntryCount(), 2);
    EXPECT_EQ(ReadWhole(check, 1), TextBytes(100000));
}

class Extract : public ::testing::Test {
protected:
    void SetUp() override {
        zip_.Open(dir_ / "x.zip", ZipCreate);
        AddEntry(zip_, "Job\\docs\\report.txt", text_, 9);      // 0
        AddEntry(zip_, "Job\\docs\\locked.txt", "ro", 9, 0x21);   // 1
        AddEntry(zip_, "Job\\docs", "", 9, 0x10);                 // 2 folder
        AddEntry(zip_, "Job\\..", "dots", 9);                      // 3 hostile
        AddEntry(zip_, "..\\..\\escape.txt", "esc", 9);            // 4 hostile with full path
        AddEntry(zip_, "Job\\ro-folder", "", 9, 0x11);             // 5 read-only folder
        zip_.Close();
        zip_.Open(dir_ / "x.zip", ZipOpenReadOnly);
    }
    TempFolder dir_;
    const std::string text_ = TextBytes(200000);
    ZipArchiveFile zip_;
};

TEST_F(Extract, FilesLandUnderTheirLastNameWithTimeAndAttributes) {
    const std::string out = dir_ / "out/nested";  // created as needed
    ASSERT_TRUE(zip_.ExtractEntry(0, out, false));
    EXPECT_EQ(test::ReadFile(out + "/report.txt"), text_);
    ZipEntryHeader h;
    ASSERT_TRUE(zip_.GetEntryInfo(h, 0));
    EXPECT_EQ(MtimeOf(out + "/report.txt"), h.GetFileTime());
    ASSERT_TRUE(zip_.ExtractEntry(1, out + "/", false));  // trailing '/' on the folder is fine
    EXPECT_EQ(ModeOf(out + "/locked.txt") & 0222, 0u);
    // New name, exact time, full path.
    const platform::FileTime exact = 132000000009999999ull;
    ASSERT_TRUE(zip_.ExtractEntry(0, out, false, "Other\\renamed.txt", nullptr, nullptr, 1000, exact));
    EXPECT_EQ(test::ReadFile(out + "/renamed.txt"), text_);
    EXPECT_EQ(MtimeOf(out + "/renamed.txt"), exact);
    ASSERT_TRUE(zip_.ExtractEntry(0, dir_ / "full", true));
    EXPECT_EQ(test::ReadFile(dir_ / "full/Job/docs/report.txt"), text_);
    // Folders: created; a read-only folder stays writable so its files can follow.
    ASSERT_TRUE(zip_.ExtractEntry(2, out, false));
    EXPECT_TRUE(platform::IsDirectory(out + "/docs"));
    ASSERT_TRUE(zip_.ExtractEntry(5, out, false));
    EXPECT_NE(ModeOf(out + "/ro-folder") & 0200, 0u);
    // Nothing but the extracted files: no temporary files left behind.
    EXPECT_EQ(FilesIn(out), (std::set<std::string>{"report.txt", "locked.txt", "renamed.txt", "docs", "ro-folder"}));
}

TEST_F(Extract, NamesThatWouldLeaveTheFolderAreRefused) {
    const std::string out = dir_ / "out";
    test::MakeFolders(out);
    EXPECT_FALSE(zip_.ExtractEntry(3, out, false));  // last component ".."
    EXPECT_FALSE(zip_.ExtractEntry(3, out, true));
    EXPECT_FALSE(zip_.ExtractEntry(4, out, true));   // climbs with full path
    EXPECT_TRUE(zip_.ExtractEntry(4, out, false));   // its last component alone is harmless
    EXPECT_FALSE(zip_.ExtractEntry(0, out, false, "sub/../../x"));
    EXPECT_FALSE(zip_.ExtractEntry(0, out, false, "dir\\.."));
    EXPECT_FALSE(zip_.ExtractEntry(0, "", false));
    EXPECT_FALSE(zip_.ExtractEntry(0, out, false, {}, nullptr, nullptr, 0));
    EXPECT_FALSE(zip_.ExtractEntry(9, out, false));
    EXPECT_EQ(FilesIn(dir_.path()), (std::set<std::string>{"x.zip", "out", "out/escape.txt"}));
}

TEST_F(Extract, ATargetSymlinkIsReplacedNotFollowed) {
    const std::string out = dir_ / "out";
    test::MakeFolders(out);
    test::WriteFile(dir_ / "outside.txt", "precious");
    ASSERT_EQ(symlink((dir_ / "outside.txt").c_str(), (out + "/report.txt").c_str()), 0);
    ASSERT_TRUE(zip_.ExtractEntry(0, out, false));
    EXPECT_EQ(test::ReadFile(dir_ / "outside.txt"), "precious");
    EXPECT_FALSE(fs::is_symlink(out + "/report.txt"));
    EXPECT_EQ(test::ReadFile(out + "/report.txt"), text_);
}

TEST_F(Extract, AStoppedOrFailedExtractionLeavesTheOldFileAlone) {
    const std::string out = dir_ / "out";
    test::MakeFolders(out);
    test::WriteFile(out + "/report.txt", "old version");
    auto stop = [](std::uint64_t, std::uint64_t done, void*) { return done < 100000; };
    EXPECT_FALSE(zip_.ExtractEntry(0, out, false, {}, stop, nullptr, 65535));
    EXPECT_EQ(test::ReadFile(out + "/report.txt"), "old version");
    EXPECT_EQ(FilesIn(out), std::set<std::string>{"report.txt"});
    // A CRC error: the exception reaches the caller, the old file stays, and a retry works
    // on the same open archive.
    zip_.Close();
    SetFirstCrc(dir_ / "x.zip", 0x12345678);
    zip_.Open(dir_ / "x.zip", ZipOpenReadOnly);
    EXPECT_EQ(ZipErrorOf([&] { zip_.ExtractEntry(0, out, false); }), kZipBadCrc);
    EXPECT_EQ(test::ReadFile(out + "/report.txt"), "old version");
    EXPECT_EQ(FilesIn(out), std::set<std::string>{"report.txt"});
    EXPECT_EQ(ZipErrorOf([&] { zip_.ExtractEntry(0, out, false); }), kZipBadCrc);
    EXPECT_TRUE(zip_.ExtractEntry(1, out, false));
}

TEST_F(Extract, ProgressReportsTheEntrySize) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    auto record = [](std::uint64_t total, std::uint64_t done, void* user) {
        static_cast<std::vector<std::pair<std::uint64_t, std::uint64_t>>*>(user)->emplace_back(total, done);
        return true;
    };
    ASSERT_TRUE(zip_.ExtractEntry(0, dir_ / "out", false, {}, record, &calls, 65535));
    ASSERT_EQ(calls.size(), 4u);  // 65,535 x 3 + 3,395
    EXPECT_EQ(calls[0], std::make_pair(std::uint64_t{200000}, std::uint64_t{65535}));
    EXPECT_EQ(calls[3], std::make_pair(std::uint64_t{200000}, std::uint64_t{200000}));
}

TEST(ExtractModes, AFileIsPrivateWhileWrittenThenTakesItsUnixPermissions) {
    test::UmaskFor umask(0);  // what a new file gets is then what the code asked for
    const struct {
        const char* name;
        std::uint32_t attributes;
        mode_t whileWritten, after;
    } cases[] = {
        {"run.sh", 0100755u << 16 | 0x20, 0600, 0755},
        {"read-only", 0100444u << 16 | 0x21, 0600, 0444},
        {"set-user-id", 0104750u << 16 | 0x20, 0600, 0750},
        {"dos", 0x20, 0666, 0666},                      // no Unix mode: made and left as before
        {"dos-read-only", 0x21, 0666, 0444},
        {"device-mode", 0020644u << 16 | 0x20, 0666, 0666},  // not a file's mode: ignored
    };
    TempFolder dir;
    {
        ZipArchiveFile zip;
        zip.Open(dir / "m.zip", ZipCreate);
        for (const auto& c : cases) AddEntry(zip, c.name, "data", 9, c.attributes);
        zip.Close();
    }
    ZipArchiveFile zip;
    zip.Open(dir / "m.zip", ZipOpenReadOnly);
    const std::string out = dir / "out";
    test::MakeFolders(out);
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].name);
        struct Seen {
            std::string folder;
            mode_t mode = 0;
        } seen{out};
        auto look = [](std::uint64_t, std::uint64_t, void* user) {
            auto* s = static_cast<Seen*>(user);
            for (const auto& e : fs::directory_iterator(s->folder))
                if (e.path().extension() == ".part") s->mode = ModeOf(e.path().string()) & 07777;
            return true;
        };
        ASSERT_TRUE(zip.ExtractEntry(i, out, false, {}, look, &seen));
        EXPECT_EQ(seen.mode, cases[i].whileWritten);
        EXPECT_EQ(ModeOf(out + "/" + cases[i].name) & 07777, cases[i].after);
    }
}

using test::FileSizeLimit;

TEST(OsFailures, AFailedWriteAbandonsTheEntryAndKeepsTheArchiveUsable) {
    TempFolder dir;
    const std::string path = dir / "full.zip";
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    AddEntry(zip, "first", TextBytes(5000), 9);
    const auto length = fs::file_size(path);
    ZipEntryHeader h;
    h.SetFileName("too big for the disk");
    const std::string noise = RandomBytes(1 << 20, 3);
    {
        FileSizeLimit limit(length + 200000);
        ASSERT_TRUE(zip.OpenNewEntry(h, 0));
        EXPECT_THROW(zip.WriteNewEntry(noise.data(), noise.size()), platform::FileError);
    }
    EXPECT_EQ(fs::file_size(path), length);
    EXPECT_EQ(zip.GetEntryCount(), 1);
    AddEntry(zip, "second", "fits", 9);
    zip.Close();
    zip.Open(path, ZipOpenReadOnly);
    ASSERT_EQ(zip.GetEntryCount(), 2);
    EXPECT_EQ(ReadWhole(zip, 1), "fits");
}

TEST(OsFailures, AFailedExtractionLeavesTheOldFileAndAllowsARetry) {
    TempFolder dir;
    const std::string noise = RandomBytes(300000, 4);
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipCreate);
    AddEntry(zip, "big.bin", noise, 9);
    zip.Close();
    zip.Open(dir / "x.zip", ZipOpenReadOnly);
    test::MakeFolders(dir / "out");
    test::WriteFile(dir / "out/big.bin", "old");
    {
        FileSizeLimit limit(100000);
        EXPECT_THROW(zip.ExtractEntry(0, dir / "out", false), platform::FileError);
    }
    EXPECT_EQ(test::ReadFile(dir / "out/big.bin"), "old");
    EXPECT_EQ(FilesIn(dir / "out"), std::set<std::string>{"big.bin"});
    ASSERT_TRUE(zip.ExtractEntry(0, dir / "out", false));
    EXPECT_EQ(test::ReadFile(dir / "out/big.bin"), noise);
}

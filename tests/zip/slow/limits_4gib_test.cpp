// The format's real limits: an entry passing 32 bits while it is written, an archive growing
// past 4 GiB, and the largest entry count.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <zlib.h>

#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;
namespace fs = std::filesystem;

namespace {

std::string Le16(std::uint16_t v) {
    std::string s(2, '\0');
    Put16(s, 0, v);
    return s;
}
std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    Put32(s, 0, v);
    return s;
}

// A one-entry archive whose stored entry is `size` zero bytes, written as a sparse file.
void WriteSparseArchive(const std::string& path, std::uint32_t size) {
    std::vector<unsigned char> zeros(1 << 20, 0);
    uLong crc = crc32(0, nullptr, 0);
    for (std::uint64_t done = 0; done < size;) {
        uInt n = static_cast<uInt>(std::min<std::uint64_t>(zeros.size(), size - done));
        crc = crc32(crc, zeros.data(), n);
        done += n;
    }
    const std::string name = "zeros.bin";
    std::string local = Le32(0x04034b50) + Le16(20) + Le16(0) + Le16(0) + Le16(0) + Le16(0x21) +
                        Le32(static_cast<std::uint32_t>(crc)) + Le32(size) + Le32(size) +
                        Le16(static_cast<std::uint16_t>(name.size())) + Le16(0) + name;
    std::string central = Le32(0x02014b50) + Le16(20) + Le16(20) + Le16(0) + Le16(0) + Le16(0) + Le16(0x21) +
                          Le32(static_cast<std::uint32_t>(crc)) + Le32(size) + Le32(size) +
                          Le16(static_cast<std::uint16_t>(name.size())) + Le16(0) + Le16(0) + Le16(0) + Le16(0) +
                          Le32(0x20) + Le32(0) + name;
    const std::uint64_t directory = local.size() + std::uint64_t{size};
    std::string end = Le32(0x06054b50) + Le16(0) + Le16(0) + Le16(1) + Le16(1) +
                      Le32(static_cast<std::uint32_t>(central.size())) + Le32(static_cast<std::uint32_t>(directory)) +
                      Le16(0);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, local.data(), local.size(), 0), static_cast<ssize_t>(local.size()));
    std::string tail = central + end;
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(directory)), static_cast<ssize_t>(tail.size()));
    ::close(fd);
}

}  // namespace

TEST(Limits4GiB, AStreamPassing32BitsIsRefusedAndCutBack) {
    TempFolder dir;
    const std::string path = dir / "stream.zip";
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    AddEntry(zip, "before.txt", "before", 9);
    const auto length = fs::file_size(path);
    ASSERT_TRUE(zip.OpenNewEntry(Named("endless.bin"), 1));
    const std::vector<char> chunk(64 << 20, '\0');
    std::uint64_t accepted = 0;
    while (zip.WriteNewEntry(chunk.data(), chunk.size())) accepted += chunk.size();
    EXPECT_EQ(zip.LastRefusal(), ZipRefusal::EntryTooLarge);
    EXPECT_EQ(accepted, 0xFFFFFFFEull / chunk.size() * chunk.size());  // refused at the chunk passing the limit
    EXPECT_EQ(fs::file_size(path), length);                         // cut back to the local header
    AddEntry(zip, "after.txt", "after", 9);
    zip.Close();
    std::string log;
    EXPECT_TRUE(UnzipAccepts(path, &log)) << log;
    EXPECT_TRUE(SevenZipAccepts(path, &log)) << log;
    PyArchive py = InspectWithPython(path);
    ASSERT_TRUE(py.ran) << py.errors;
    ASSERT_EQ(py.entries.size(), 2u);
    EXPECT_EQ(py.entries[1].name, "after.txt");
}

TEST(Limits4GiB, AnArchiveGrowingPast4GiBStopsBelowIt) {
    TempFolder dir;
    const std::string path = dir / "big.zip";
    const std::uint32_t first = 0xFFF00000u;  // 1 MiB short of 4 GiB
    WriteSparseArchive(path, first);
    const std::string mid = RandomBytes(512 * 1024, 7);
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        AddEntry(zip, "mid.bin", mid, 0);  // fits: its local header lies beyond 0xFFF00000
        const auto length = fs::file_size(path);
        ASSERT_TRUE(zip.OpenNewEntry(Named("too-much.bin"), 0));
        bool refused = false;
        for (int i = 0; i < 8 && !refused; ++i) refused = !zip.WriteNewEntry(mid.data(), 128 * 1024);
        EXPECT_TRUE(refused);
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::ArchiveTooLarge);
        EXPECT_EQ(fs::file_size(path), length);
        // Fill up to just below the limit, then even an empty entry's headers do not fit.
        // Directory of three entries (names of 9, 7 and 8 bytes), end record, fill's local header.
        const std::uint64_t room = 0xFFFFFFFFull - length - (22 + (46 + 9) + (46 + 7) + (46 + 8)) - (30 + 8);
        std::string fill(room, 'f');
        AddEntry(zip, "fill.bin", fill, 0);
        EXPECT_FALSE(zip.OpenNewEntry(Named("x"), 0));
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::ArchiveTooLarge);
        zip.Close();
    }
    EXPECT_EQ(fs::file_size(path), 0xFFFFFFFFull);  // exactly the largest archive the format holds
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    ASSERT_EQ(zip.GetEntryCount(), 3);
    ZipEntryHeader h;
    ASSERT_TRUE(zip.GetEntryInfo(h, 1));
    EXPECT_GT(h.localHeaderOffset, first);
    EXPECT_EQ(ReadWhole(zip, 1, nullptr, 65535), mid);
    // Independent readers check the entries near the top (the 4 GiB of zeros only cost time).
    if (test::HasTool("unzip")) {
        auto r = test::RunCommand({"unzip", "-t", path, "mid.bin", "fill.bin"});
        EXPECT_EQ(r.exitCode, 0) << r.output << r.errors;
    }
    if (test::HasTool("7z")) {
        auto r = test::RunCommand({"7z", "t", path, "mid.bin", "fill.bin"});
        EXPECT_EQ(r.exitCode, 0) << r.output << r.errors;
    }
    auto r = test::RunCommand({"python3", "-c", R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print(len(z.infolist()), len(z.read("mid.bin")), len(z.read("fill.bin")), z.getinfo("fill.bin").header_offset)
)PY", path});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output.substr(0, r.output.find(' ', r.output.find(' ') + 1)), "3 524288");
}

TEST(LimitsSlow, MostEntriesTheFormatHoldsAreReadByEveryone) {
    TempFolder dir;
    const std::string path = dir / "many.zip";
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        ZipEntryHeader h = Named("");
        for (int i = 0; i < 65535; ++i) {
            h.SetFileName("d\\" + std::to_string(i));
            ASSERT_TRUE(zip.OpenNewEntry(h, 0)) << i;
            ASSERT_TRUE(zip.CloseNewEntry());
        }
        EXPECT_FALSE(zip.OpenNewEntry(h, 0));
        EXPECT_EQ(zip.LastRefusal(), ZipRefusal::TooManyEntries);
        zip.Close();
    }
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    EXPECT_EQ(zip.GetEntryCount(), 65535);
    EXPECT_EQ(zip.FindEntryFast("d\\65534", true), 65534);
    std::string log;
    EXPECT_TRUE(UnzipAccepts(path, &log)) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
    EXPECT_TRUE(SevenZipAccepts(path, &log)) << log;
    PyArchive py = InspectWithPython(path);
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_EQ(py.entries.size(), 65535u);
}

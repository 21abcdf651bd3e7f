// SPDX-License-Identifier: GPL-3.0-or-later
// Past the classic fields for real: an entry passing 32 bits without room for 64-bit sizes, an
// archive growing past 4 GiB, and entry counts around 65,535.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

TEST(Limits4GiB, AnArchiveGrowsPast4GiBWithZip64OffsetsAndShrinksBackToClassic) {
    TempFolder dir;
    const std::string path = dir / "big.zip";
    const std::uint32_t first = 0xFFF00000u;  // 1 MiB short of 4 GiB
    WriteSparseArchive(path, first);
    const std::string mid = RandomBytes(512 * 1024, 7), across = RandomBytes(2 << 20, 8);
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        AddEntry(zip, "mid.bin", mid, 0);        // below 4 GiB
        AddEntry(zip, "across.bin", across, 0);  // its data crosses 4 GiB
        AddEntry(zip, "beyond.txt", TextBytes(100000), 9);  // its local header lies past 4 GiB
        zip.Close();
    }
    std::string tail(22 + 20 + 56, '\0');
    {
        std::ifstream in(path, std::ios::binary);
        in.seekg(-static_cast<std::streamoff>(tail.size()), std::ios::end);
        in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    }
    EXPECT_EQ(U32(tail, 0), 0x06064b50u);    // zip64 end record
    EXPECT_EQ(U32(tail, 56), 0x07064b50u);   // its locator
    EXPECT_EQ(U32(tail, 76 + 16), 0xFFFFFFFFu);  // the classic directory offset: the marker
    EXPECT_EQ(U16(tail, 76 + 10), 4);
    const std::vector<std::string> names = {"mid.bin", "across.bin", "beyond.txt"};
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly);
        ASSERT_EQ(zip.GetEntryCount(), 4);
        ZipEntryHeader h;
        ASSERT_TRUE(zip.GetEntryInfo(h, 3));
        EXPECT_GT(h.localHeaderOffset, 0xFFFFFFFFull);
        EXPECT_EQ(ReadWhole(zip, 1, nullptr, 65535), mid);
        EXPECT_EQ(ReadWhole(zip, 2, nullptr, 65535), across);
        EXPECT_EQ(ReadWhole(zip, 3), TextBytes(100000));
    }
    // Independent readers check the entries near the top (the 4 GiB of zeros only cost time).
    auto tools = [&](const std::vector<std::string>& entries) {
        if (test::HasTool("unzip")) {
            std::vector<std::string> argv = {"unzip", "-t", path};
            argv.insert(argv.end(), entries.begin(), entries.end());
            auto r = test::RunCommand(argv);
            EXPECT_EQ(r.exitCode, 0) << r.output << r.errors;
        }
        if (test::HasTool("7z")) {
            std::vector<std::string> argv = {"7z", "t", path};
            argv.insert(argv.end(), entries.begin(), entries.end());
            auto r = test::RunCommand(argv);
            EXPECT_EQ(r.exitCode, 0) << r.output << r.errors;
        }
        std::vector<std::string> argv = {"python3", "-c", R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print(len(z.infolist()), sum(len(z.read(n)) for n in sys.argv[2:]), z.infolist()[-1].header_offset > 0xFFFFFFFF)
)PY", path};
        argv.insert(argv.end(), entries.begin(), entries.end());
        return test::RunCommand(argv);
    };
    auto r = tools(names);
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output, "4 " + std::to_string(mid.size() + across.size() + 100000) + " True\n");

    // Deleting the 4 GiB entry moves the rest down: the archive needs no zip64 record again.
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        ASSERT_TRUE(zip.DeleteEntry(0));
        zip.Close();
    }
    EXPECT_LT(fs::file_size(path), 4u << 20);
    const std::string small = Bytes(path);
    EXPECT_EQ(small.find(std::string("PK\x06\x06", 4)), std::string::npos);
    std::string log;
    EXPECT_TRUE(UnzipAccepts(path, &log)) << log;
    EXPECT_TRUE(SevenZipAccepts(path, &log)) << log;
    r = tools(names);
    EXPECT_EQ(r.output, "3 " + std::to_string(mid.size() + across.size() + 100000) + " False\n");
}

TEST(LimitsSlow, MostEntriesOfTheClassicRecordAndOneMoreAreReadByEveryone) {
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
        zip.Close();
    }
    // 65,535 entries still fit the classic end record, as always.
    std::string bytes = Bytes(path);
    EXPECT_EQ(U16(bytes, bytes.size() - 12), 0xFFFF);
    EXPECT_NE(U32(bytes, bytes.size() - 22 - 20), 0x07064b50u);
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly);
        EXPECT_EQ(zip.GetEntryCount(), 65535);
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 1) {
            ZipArchiveFile zip;
            zip.Open(path, ZipOpenExisting);
            AddEntry(zip, "one more", "one more", 9);
            zip.Close();
            bytes = Bytes(path);
            EXPECT_EQ(U32(bytes, bytes.size() - 22 - 20), 0x07064b50u);  // the zip64 locator
        }
        const int count = 65535 + round;
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly);
        EXPECT_EQ(zip.GetEntryCount(), count);
        EXPECT_EQ(zip.FindEntryFast("d\\65534", true), 65534);
        std::string log;
        EXPECT_TRUE(UnzipAccepts(path, &log)) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
        EXPECT_TRUE(SevenZipAccepts(path, &log)) << log;
        PyArchive py = InspectWithPython(path);
        ASSERT_TRUE(py.ran) << py.errors;
        EXPECT_EQ(py.entries.size(), static_cast<std::size_t>(count));
    }
}

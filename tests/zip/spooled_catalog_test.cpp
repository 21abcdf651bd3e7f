// SPDX-License-Identifier: GPL-3.0-or-later
// A new archive's finished entries kept in a temporary file instead of memory: the archive
// written is the one memory would have written, byte for byte, whatever its entries hold, and
// a failure to keep them is reported without completing the archive.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_error.h"
#include "tests/support/file_size_limit.h"
#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;
namespace fs = std::filesystem;

namespace {

class SpoolBatch {
public:
    explicit SpoolBatch(std::size_t entries) { ZipCatalog::SetSpoolBatch(entries); }
    ~SpoolBatch() { ZipCatalog::SetSpoolBatch(ZipCatalog::kDefaultSpoolBatch); }
};

struct Shape {
    const char* label;
    std::uint64_t classicMax;  // lowered: offsets and sizes pass it, the zip64 records appear
    std::uint64_t classicEntries;
    const char* password;
    bool askMidway;  // headers asked for while the archive is written bring the entries back
};

// Entries of every kind the catalog keeps apart: folders, long and non-ASCII names, comments,
// extra fields, stored and deflated data.
void WriteArchive(const std::string& path, const Shape& shape) {
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    ZipLimits limits;
    limits.classicMaxValue = shape.classicMax;
    limits.classicMaxEntries = shape.classicEntries;
    zip.SetLimits(limits);
    if (*shape.password != '\0') zip.SetPassword(shape.password);
    for (int i = 0; i < 40; ++i) {
        std::string name = "folder" + std::to_string(i / 10) + "\\";
        if (i % 10 == 0) {
            AddEntry(zip, name, "", 0, kZipAttrDirectory);
            continue;
        }
        if (i % 7 == 3) name.append(3000 + i, 'n');
        else name.append(i % 7 == 4 ? "caf\xC3\xA9-" : "f").append(std::to_string(i));
        ZipEntryHeader header = Named(name);
        if (i % 5 == 2) header.comment = "comment " + std::to_string(i);
        if (i % 6 == 1) header.extraField = std::string("\x99\x99\x04\x00", 4) + "abcd";
        const std::string data = i % 3 == 0 ? RandomBytes(200 + i, i) : TextBytes(100 * i);
        ASSERT_TRUE(zip.OpenNewEntry(header, i % 4 == 0 ? 0 : 6)) << name;
        ASSERT_TRUE(zip.WriteNewEntry(data.data(), data.size())) << name;
        ASSERT_TRUE(zip.CloseNewEntry()) << name;
        if (shape.askMidway && i == 25) {
            ZipEntryHeader first;
            ASSERT_TRUE(zip.GetEntryInfo(first, 1));
            EXPECT_EQ(first.fileName, "folder0\\f1");
            EXPECT_EQ(zip.FindEntry("folder2\\f21", true), 21);
        }
    }
    zip.Close();
}

// The directory and the end record of a classic archive: what the catalog writes.
std::string Trailer(const std::string& bytes) {
    const std::size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
    return end == std::string::npos ? std::string() : bytes.substr(U32(bytes, end + 16));
}

TEST(SpooledCatalog, WritesTheSameArchiveAsMemory) {
    const Shape shapes[] = {
        {"classic", ZipEntryHeader::kClassicMaxValue, 0xFFFF, "", false},
        {"zip64 offsets, sizes and count", 5000, 7, "", false},
        {"encrypted", ZipEntryHeader::kClassicMaxValue, 0xFFFF, "secret", false},
        {"asked for midway", 5000, 0xFFFF, "", true},
    };
    TempFolder temp;
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.label);
        const std::string inMemory = temp / "memory.zip", spooled = temp / "spooled.zip";
        {
            SpoolBatch batch(0);
            WriteArchive(inMemory, shape);
        }
        {
            SpoolBatch batch(3);
            WriteArchive(spooled, shape);
        }
        const std::string a = Bytes(inMemory), b = Bytes(spooled);
        // Encrypted data differs by its random salts; the directory does not.
        if (*shape.password == '\0') {
            EXPECT_TRUE(a == b);
        } else {
            EXPECT_TRUE(Trailer(a) == Trailer(b));
            EXPECT_GT(Trailer(a).size(), 40u * 46u);
        }
        // Nothing is left beside the archive.
        EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 2);
        if (*shape.password == '\0' && test::HasTool("python3")) {
            const PyArchive py = InspectWithPython(spooled);
            EXPECT_EQ(py.testzip, "None") << py.errors;
            EXPECT_EQ(py.entries.size(), 40u);
        }
        fs::remove(inMemory);
        fs::remove(spooled);
    }
}

TEST(SpooledCatalog, AFullDiskWhileKeepingEntriesIsReportedAndTheArchiveNeverCompleted) {
    TempFolder temp;
    const std::string path = temp / "full.zip";
    SpoolBatch batch(2);
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    bool failed = false;
    {
        // Entries without data: their kept form outgrows the archive's own headers first.
        test::FileSizeLimit limit(4096);
        try {
            for (int i = 0; i < 200; ++i) AddEntry(zip, "entry" + std::to_string(i), "", 0);
        } catch (const platform::FileError& e) {
            failed = true;
            EXPECT_EQ(e.path(), temp.path());  // the kept entries' file, beside the archive
        }
    }
    EXPECT_TRUE(failed);
    zip.Close(true);
    ZipArchiveFile reader;
    EXPECT_EQ(ZipErrorOf([&] { reader.Open(path, ZipOpenReadOnly); }), kZipNoEndRecord);
}

}  // namespace

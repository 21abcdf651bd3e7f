// SPDX-License-Identifier: GPL-3.0-or-later
// The catalog's packed records: every header field of entries of each shape survives adding,
// deleting in the middle (which rebuilds the records), closing and reopening.
#include <gtest/gtest.h>

#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;

namespace {

struct Shape {
    std::string name, content, comment;
    int level;
    std::uint32_t attributes;
};

// Every field a header carries but its offset (deleting moves entries; reading them checks
// their local headers against it), as one comparable text.
std::string Fields(const ZipEntryHeader& h) {
    std::ostringstream out;
    out << h.fileName.size() << ':' << h.fileName.substr(0, 40) << '|' << h.versionMadeBy << '|' << h.versionNeeded << '|'
        << h.flags << '|' << h.method << '|' << h.modTime << '|' << h.modDate << '|' << h.crc32 << '|'
        << h.compressedSize << '|' << h.uncompressedSize << '|' << h.diskStart << '|' << h.internalAttributes << '|'
        << h.externalAttributes << '|' << std::string_view(h.extraField) << '|'
        << std::string_view(h.comment) << '|' << std::string_view(h.storedName);
    return out.str();
}

std::vector<std::string> AllFields(const ZipArchiveFile& zip) {
    std::vector<std::string> all;
    ZipEntryHeader header;
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        EXPECT_TRUE(zip.GetEntryInfo(header, i));
        all.push_back(Fields(header));
    }
    return all;
}

}  // namespace

TEST(Catalog, PackedRecordsKeepEveryFieldThroughDeletesAndReopening) {
    // A name of 65,535 bytes (the most a record holds) is kept out of line.
    const std::vector<Shape> shapes{
        {"plain.txt", std::string(5000, 'p'), "", 9, kZipAttrArchive},
        {"gone-1", "x", "", 9, kZipAttrArchive},
        {std::string(65531, 'n') + ".txt", "long name", "", 9, kZipAttrArchive},
        {"commented.txt", "c", "a comment", 0, kZipAttrArchive | kZipAttrReadOnly},
        {"gone-2", "y", "its comment", 0, kZipAttrArchive},
        {"Sub\\Folder\\", "", "", 0, kZipAttrDirectory},
        {"Sub\\\xC3\xA9t\xC3\xA9.txt", std::string(3000, 'e'), "", 9, kZipAttrArchive},
    };
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipCreate);
    for (const Shape& shape : shapes) {
        ZipEntryHeader header = Named(shape.name);
        header.externalAttributes = shape.attributes;
        header.comment = shape.comment;
        ASSERT_TRUE(zip.OpenNewEntry(header, shape.level)) << shape.name.size();
        ASSERT_TRUE(zip.WriteNewEntry(shape.content.data(), shape.content.size()));
        ASSERT_TRUE(zip.CloseNewEntry());
    }
    zip.EnableFindFast(true);
    std::vector<std::string> kept = AllFields(zip);
    ASSERT_EQ(kept.size(), shapes.size());
    kept.erase(kept.begin() + 4);
    kept.erase(kept.begin() + 1);
    zip.DeleteEntries({1, 4});
    EXPECT_EQ(AllFields(zip), kept);
    zip.Close();

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        zip.Open(dir / "x.zip");
        EXPECT_EQ(AllFields(zip), kept);
        std::size_t index = 0;
        for (const Shape& shape : shapes) {
            if (shape.name.rfind("gone", 0) == 0) {
                EXPECT_EQ(zip.FindEntryFast(shape.name, true), -1);
                continue;
            }
            // Entries deleted in the second round have moved the later ones down.
            if (round == 1 && index == 0) {
                ++index;
                continue;
            }
            const int at = static_cast<int>(index++) - round;
            EXPECT_EQ(zip.FindEntryFast(shape.name, true), at) << shape.name.size();
            std::string upper = shape.name;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(zip.FindEntryFast(upper, false), at);
            EXPECT_EQ(zip.FindEntry(shape.name, true), at);
            EXPECT_EQ(zip.IsFolderEntry(at), (shape.attributes & kZipAttrDirectory) != 0);
            if (!zip.IsFolderEntry(at)) {
                EXPECT_EQ(ReadWhole(zip, at), shape.content);
            }
        }
        // Deleting what was read from disk compacts the records read.
        if (round == 0) {
            zip.DeleteEntries({0});
            kept.erase(kept.begin());
            EXPECT_EQ(AllFields(zip), kept);
        }
        zip.Close();
    }
}

// A reader of bookkeeping entries keeps only the top level: lookups and reads find the kept
// entries at their own indices, and the next open sees every entry again.
TEST(Catalog, TopLevelOnlyKeepsTheTopLevelEntriesAndForgetsItselfAfterTheOpen) {
    const std::vector<std::pair<std::string, std::string>> entries{
        {"Data\\", ""}, {"Data\\a.txt", "a"}, {"ToDirs.tq", "dirs"}, {"Data\\sub\\b", "b"}, {"Data.tq", "history"}};
    TempFolder dir;
    ZipArchiveFile zip;
    zip.Open(dir / "x.zip", ZipCreate);
    for (const auto& [name, content] : entries) {
        // Only a file entry is encrypted: the top-level read must still tell that there is one.
        zip.SetPassword(name == "Data\\sub\\b" ? "secret" : "");
        AddEntry(zip, name, content);
    }
    zip.Close();

    zip.OpenTopLevelOnly(dir / "x.zip");
    EXPECT_EQ(zip.GetEntryCount(), 2);
    EXPECT_TRUE(zip.HasAesEntries());
    EXPECT_EQ(zip.FindEntry("Data\\a.txt", true), -1);
    for (const int index : {0, 1}) {
        const int found = zip.FindEntry(index == 0 ? "ToDirs.tq" : "data.TQ", false);
        ASSERT_EQ(found, index);
        EXPECT_EQ(ReadWhole(zip, found), index == 0 ? "dirs" : "history");
    }
    zip.Close();
    zip.Open(dir / "x.zip", ZipOpenReadOnly);
    EXPECT_EQ(zip.GetEntryCount(), static_cast<int>(entries.size()));
    zip.SetPassword("secret");
    EXPECT_EQ(ReadWhole(zip, 3), "b");
    zip.Close();
}

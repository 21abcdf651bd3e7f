// SPDX-License-Identifier: GPL-3.0-or-later
// Reading what rclone answers: listings, its log lines on standard error, remote or folder.
#include <gtest/gtest.h>

#include "common/offsite_copy.h"

namespace halvex {
namespace {

TEST(RcloneLogLine, ErrorsAndStatsAreRead) {
    struct Case {
        const char* line;
        const char* error;
        std::int64_t bytes;
        std::int64_t totalBytes;
    };
    const Case cases[] = {
        {R"({"level":"error","msg":"error listing: directory \"x\" not found\u00e9","source":"walk.go"})",
         "error listing: directory \"x\" not found\xC3\xA9", -1, -1},
        {R"({"level":"warning","msg":"Config file not found","source":"config.go"})", "", -1, -1},
        {R"({"level":"warning","msg":"\nTransferred:","stats":{"bytes":618496,"eta":null,"totalBytes":3000000}})", "",
         618496, 3000000},
        {"2026/12/08 05:25:08 Failed to create file system for \"nosuch:foo\": didn't find section in config file",
         "Failed to create file system for \"nosuch:foo\": didn't find section in config file", -1, -1},
        {"2026/12/08 05:25:08 ERROR : a.TQBak: Failed to copy: quota exceeded\r", "a.TQBak: Failed to copy: quota exceeded",
         -1, -1},
        {"2026/12/08 05:25:08 NOTICE: Config file \"/x\" not found - using defaults", "", -1, -1},
        {R"({"level":"error","msg":)", "", -1, -1},  // cut short: nothing read
        {"", "", -1, -1},
    };
    for (const Case& c : cases) {
        const RcloneLogLine read = ReadRcloneLogLine(c.line);
        EXPECT_EQ(read.error, c.error) << c.line;
        EXPECT_EQ(read.bytes, c.bytes) << c.line;
        EXPECT_EQ(read.totalBytes, c.totalBytes) << c.line;
    }
}

TEST(RcloneListing, FilesSizesAndHashes) {
    const auto files = ParseListing(
        "[\n{\"Path\":\"a.TQBak\",\"Name\":\"a.TQBak\",\"Size\":3000000,\"IsDir\":false,"
        "\"Hashes\":{\"md5\":\"57307c60\",\"sha1\":\"\"}},\n"
        "{\"Path\":\"sub\",\"Name\":\"sub\",\"Size\":-1,\"IsDir\":true,\"Tier\":[1,{\"x\":null}]}\n]");
    ASSERT_TRUE(files);
    ASSERT_EQ(files->size(), 2u);
    EXPECT_EQ((*files)[0].name, "a.TQBak");
    EXPECT_EQ((*files)[0].size, 3000000);
    EXPECT_FALSE((*files)[0].isFolder);
    EXPECT_EQ((*files)[0].hashes.at("md5"), "57307c60");
    EXPECT_EQ((*files)[0].hashes.at("sha1"), "");
    EXPECT_TRUE((*files)[1].isFolder);
    EXPECT_TRUE(ParseListing("[]")->empty());
    // Anything else is not a listing: a copy is never decided on half an answer.
    const std::string deep(100, '[');
    for (const char* bad : {"", "[", "{}", "[{\"Name\":\"a\"}]", "[{\"Size\":1}]", "[1]", "[{\"Name\":\"a\",\"Size\":1}] x",
                            "[{\"Name\":\"a\",\"Size\":1},]", deep.c_str()})
        EXPECT_FALSE(ParseListing(bad)) << bad;
}

TEST(OffsiteLocation, RemotesStayFoldersAreTakenInTheProgramFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"offsite:backups/Home", "offsite:backups/Home"},
        {"s3:", "s3:"},
        {"/mnt/usb/backups", "/mnt/usb/backups"},
        {"copies", "/prog/copies"},
        {"./a:b", "/prog/./a:b"},  // a colon after a '/' is part of a folder name
        {":sftp,host=h:x", ":sftp,host=h:x"},  // a remote made on the fly
    };
    for (const auto& [location, expected] : cases) EXPECT_EQ(OffsiteLocation(location, "/prog"), expected) << location;
    EXPECT_EQ(OffsiteLocation("-copies", "."), "./-copies");  // never taken for an option
}

}  // namespace
}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/folder_utils.h"
#include "platform/file_attributes.h"
#include "tests/support/temp_folder.h"

using halvex::CreateParentFolders;
using halvex::PathInFolder;
using halvex::platform::IsDirectory;
using halvex::platform::PathExists;
using halvex::test::TempFolder;
using halvex::test::WriteFile;

TEST(CreateParentFolders, CreatesEveryFolderAboveAFile) {
    TempFolder temp;
    std::string file = temp / "a/b/c.txt";
    EXPECT_FALSE(CreateParentFolders(file));  // the file itself is not made
    EXPECT_TRUE(IsDirectory(temp / "a"));
    EXPECT_TRUE(IsDirectory(temp / "a/b"));
    EXPECT_FALSE(PathExists(file));
    WriteFile(file, "x");
    EXPECT_TRUE(CreateParentFolders(file));  // existing folders are no failure
}

TEST(CreateParentFolders, TrailingSlashCreatesTheFolderItself) {
    TempFolder temp;
    EXPECT_TRUE(CreateParentFolders(temp / "x/y/z/"));
    EXPECT_TRUE(IsDirectory(temp / "x/y/z"));
    EXPECT_TRUE(CreateParentFolders("/"));
}

TEST(CreateParentFolders, PathsWithoutSeparatorAndBlockedPaths) {
    TempFolder temp;
    EXPECT_FALSE(CreateParentFolders("plain"));
    EXPECT_FALSE(CreateParentFolders(temp / "r/s.txt"));
    EXPECT_TRUE(IsDirectory(temp / "r"));
    // A file in the way stops the folders below it; nothing is reported as existing.
    WriteFile(temp / "blocker", "");
    EXPECT_FALSE(CreateParentFolders(temp / "blocker/sub/f"));
    EXPECT_FALSE(PathExists(temp / "blocker/sub"));
}

TEST(PathInFolder, NamesTheFileInTheFolderUnlessTheNameIsFull) {
    EXPECT_EQ(PathInFolder("/a/b", "c.ini"), "/a/b/c.ini");
    EXPECT_EQ(PathInFolder("/a/b/", "c.ini"), "/a/b/c.ini");
    EXPECT_EQ(PathInFolder("/", "c.ini"), "/c.ini");
    EXPECT_EQ(PathInFolder("rel", "sub/c"), "rel/sub/c");
    EXPECT_EQ(PathInFolder("/a", "/x/c"), "/x/c");
    EXPECT_EQ(PathInFolder(".", "c"), "c");
    EXPECT_EQ(PathInFolder("", "c"), "c");
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/folder_utils.h"
#include "platform/file_attributes.h"
#include "platform/process.h"
#include "tests/support/current_folder.h"
#include "tests/support/temp_folder.h"

using halvex::ChangeToParentFolder;
using halvex::CreateParentFolders;
using halvex::platform::IsDirectory;
using halvex::platform::PathExists;
using halvex::test::InFolder;
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

TEST(CreateParentFolders, RelativePathsAndPathsWithoutSeparator) {
    TempFolder temp;
    InFolder in(temp.path());
    ASSERT_TRUE(in.entered());
    EXPECT_FALSE(CreateParentFolders("plain"));
    EXPECT_FALSE(PathExists(temp / "plain"));
    EXPECT_FALSE(CreateParentFolders("r/s.txt"));
    EXPECT_TRUE(IsDirectory(temp / "r"));
    // A file in the way stops the folders below it; nothing is reported as existing.
    WriteFile(temp / "blocker", "");
    EXPECT_FALSE(CreateParentFolders("blocker/sub/f"));
    EXPECT_FALSE(PathExists(temp / "blocker/sub"));
}

TEST(ChangeToParentFolder, EntersTheFolderAboveThePath) {
    TempFolder temp;
    InFolder keep(temp.path());
    halvex::test::MakeFolders(temp / "p/q");
    EXPECT_TRUE(ChangeToParentFolder(temp / "p/q/file.txt"));
    EXPECT_EQ(halvex::platform::CurrentFolder(), temp / "p/q");
    EXPECT_FALSE(ChangeToParentFolder("nofolder"));
    EXPECT_EQ(halvex::platform::CurrentFolder(), temp / "p/q");
    EXPECT_FALSE(ChangeToParentFolder(temp / "missing/file"));
    EXPECT_TRUE(ChangeToParentFolder("/etc"));
    EXPECT_EQ(halvex::platform::CurrentFolder(), "/");
}

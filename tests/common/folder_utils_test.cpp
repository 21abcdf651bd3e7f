#include <gtest/gtest.h>

#include "common/folder_utils.h"
#include "platform/file_attributes.h"
#include "platform/process.h"
#include "tests/support/temp_folder.h"

using halvex::ChangeToParentFolder;
using halvex::CreateParentFolders;
using halvex::platform::IsDirectory;
using halvex::platform::PathExists;
using halvex::test::TempFolder;
using halvex::test::WriteFile;

namespace {

// Restores the current folder when a test has moved it.
class KeepCurrentFolder {
public:
    KeepCurrentFolder() : saved_(halvex::platform::CurrentFolder()) {}
    ~KeepCurrentFolder() { halvex::platform::SetCurrentFolder(saved_); }

private:
    std::string saved_;
};

}  // namespace

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
    KeepCurrentFolder keep;
    ASSERT_TRUE(halvex::platform::SetCurrentFolder(temp.path()));
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
    KeepCurrentFolder keep;
    halvex::test::MakeFolders(temp / "p/q");
    EXPECT_TRUE(ChangeToParentFolder(temp / "p/q/file.txt"));
    EXPECT_EQ(halvex::platform::CurrentFolder(), temp / "p/q");
    EXPECT_FALSE(ChangeToParentFolder("nofolder"));
    EXPECT_EQ(halvex::platform::CurrentFolder(), temp / "p/q");
    EXPECT_FALSE(ChangeToParentFolder(temp / "missing/file"));
    EXPECT_TRUE(ChangeToParentFolder("/etc"));
    EXPECT_EQ(halvex::platform::CurrentFolder(), "/");
}

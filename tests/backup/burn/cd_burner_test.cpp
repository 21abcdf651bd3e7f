// SPDX-License-Identifier: GPL-3.0-or-later
// The burner binding: what Connect answers for each way loading can end (stand-in libraries
// built by the tests), and real burns into an image file where libisoburn is installed, read
// back with the binding and with xorriso.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "backup/burn/burn_messages.h"
#include "common/file_tree_ptr.h"
#include "platform/file_time.h"
#include "tests/backup/burn/burn_test_support.h"

using namespace halvex;
using namespace halvex::burntest;
using halvex::test::ReadFile;

namespace {

TEST(BurnerLoader, ConnectAnswersHowLoadingEnded) {
    const std::string complete = FAKE_ISOBURN_COMPLETE_PATH, drive = "stdio:/tmp/x.iso";
    const struct {
        std::optional<std::string> library, mode, drive;
        ConnectResult answer;
    } cases[] = {
        {"/nonexistent/libisoburn.so.1", {}, drive, ConnectResult::NoLibrary},
        {FAKE_ISOBURN_PARTIAL_PATH, {}, drive, ConnectResult::NoLibrary},  // an entry point missing
        {complete, "old", drive, ConnectResult::NoLibrary},                // a version refused
        {complete, "init-fails", drive, ConnectResult::InitFailed},
        {complete, {}, {}, ConnectResult::NoDrive},
        {complete, {}, drive, ConnectResult::Connected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library.value_or("") + " " + c.mode.value_or(""));
        ScopedEnv library(kBurnLibraryVariable, c.library), mode("HALVEX_FAKE_ISOBURN", c.mode),
            named(kBurnDriveVariable, c.drive);
        CdBurner burner;
        EXPECT_EQ(burner.Connect(), c.answer);
        EXPECT_EQ(burner.Connect(), c.answer);  // a second try finds nothing left loaded, or connected
        EXPECT_EQ(burner.IsConnected(), c.answer == ConnectResult::Connected);
        burner.Disconnect();
        EXPECT_EQ(burner.OpenRecorder(), RecorderResult::NotConnected);
    }
}

FileTreePtr Folder(const std::string& path, std::initializer_list<const char*> names) {
    FileTreePtr folder(NewFolderNode(path));
    for (FileTreeFile** tail = &folder->files; const char* name : names) tail = &(*tail = NewFileNode(name, 0, 0))->next;
    return folder;
}

void OwnHandler(int) {}

TEST(ImageBurn, SessionsKeepEarlierFilesAndReplaceSameNamedOnes) {
    if (!RealLibraryInstalled()) GTEST_SKIP() << "libisoburn or xorriso is not installed";
    test::TempFolder dir;
    const std::string image = dir / "disc.iso", src = dir / "src";
    ScopedEnv drive(kBurnDriveVariable, "stdio:" + image), library(kBurnLibraryVariable, std::nullopt);
    test::MakeFolders(src);
    auto put = [&](const std::string& name, const std::string& content, std::int64_t seconds) {
        test::WriteFile(src + "/" + name, content);
        test::SetMtime(src + "/" + name, seconds, 0);
    };
    struct sigaction own {}, saved {}, now {};
    own.sa_handler = OwnHandler;
    sigaction(SIGTERM, &own, &saved);
    const std::string label = "Office Disc of the accounting department";  // 40 characters
    put("Data.TQBak", "first archive", 1600000000);
    put("halvex-restore", "restore v1", 1600000100);
    {
        CdBurner burner;
        ASSERT_EQ(burner.Connect(), ConnectResult::Connected);
        ASSERT_EQ(burner.OpenRecorder(), RecorderResult::Open);
        // A blank image file is writable and has no label; its tray does nothing.
        EXPECT_EQ(burner.DiscWritableState(), DiscState::Writable);
        EXPECT_EQ(burner.VolumeLabel(), "");
        EXPECT_TRUE(burner.DriveRoot().empty());
        EXPECT_EQ(burner.Eject(), TrayResult::Done);
        EXPECT_EQ(burner.Load(), TrayResult::Done);
        std::vector<std::string> shown;
        burner.SetProgress({[](int, int) {}, [&](int p) { shown.push_back(std::to_string(p)); },
                            [&](const std::string& s) { shown.push_back(s); }});
        EXPECT_EQ(burner.BurnFolders(Folder(src, {"Data.TQBak", "halvex-restore"}).get(), label), BurnResult::Burned);
        EXPECT_EQ(shown.front(), "0");
        EXPECT_EQ(shown[1], kRetrievingInfoText);
        EXPECT_EQ(shown[2], kPreparingLayoutText);
        EXPECT_EQ(shown.back(), "100");
        EXPECT_EQ(burner.VolumeLabel(), CutVolumeId(label));
        EXPECT_EQ(burner.DiscFileDigest("Data.TQBak"), DigestOf("first archive"));
        sigaction(SIGTERM, nullptr, &now);
        EXPECT_EQ(now.sa_handler, &OwnHandler);  // the library keeps no handler of its own
    }
    sigaction(SIGTERM, &saved, nullptr);
    put("Data2.TQBak", "second archive", 1600000000);
    put("halvex-restore", "restore v2", 1600000200);
    CdBurner burner;
    ASSERT_EQ(burner.Connect(), ConnectResult::Connected);
    ASSERT_EQ(burner.OpenRecorder(), RecorderResult::Open);
    EXPECT_EQ(burner.DriveRoot().size(), 2u);
    // Without a volume name the disc keeps its label.
    EXPECT_EQ(burner.BurnFolders(Folder(src, {"Data2.TQBak", "halvex-restore"}).get(), std::nullopt),
              BurnResult::Burned);
    std::vector<std::string> root;
    for (const DiscFile& f : burner.DriveRoot())
        root.push_back(f.name + " " + std::to_string(f.size) + " " +
                       std::to_string(platform::UnixSecondsFromFileTime(f.lastWriteTime)));
    std::sort(root.begin(), root.end());
    EXPECT_EQ(root, (std::vector<std::string>{"Data.TQBak 13 1600000000", "Data2.TQBak 14 1600000000",
                                              "halvex-restore 10 1600000200"}));
    EXPECT_EQ(burner.DiscFileDigest("halvex-restore"), DigestOf("restore v2"));
    EXPECT_EQ(burner.DiscFileDigest("Nothing.TQBak"), std::nullopt);

    // A file that cannot be read fails the burn with the library's reason and leaves the
    // disc as it was; nothing of the library reaches standard error.
    const std::string errors = dir / "stderr.txt";
    const int savedErr = dup(2), capture = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(capture, 2);
    std::string text;
    try {
        const BurnResult answer = burner.BurnFolders(Folder(src, {"Gone.TQBak"}).get(), std::string("X"));
        ADD_FAILURE() << "the burn answered " << static_cast<int>(answer) << " instead of throwing";
    } catch (const BurnError& e) {
        text = e.what();
    }
    dup2(savedErr, 2);
    close(savedErr);
    close(capture);
    EXPECT_EQ(text.rfind(std::string(kBurnTrackFailedText) + "\n\n" + src + "/Gone.TQBak: ", 0), 0u) << text;
    EXPECT_EQ(ReadFile(errors), "");
    EXPECT_EQ(burner.DriveRoot().size(), 3u);

    // An independent reader sees both sessions, the replaced file and the label.
    EXPECT_EQ(ExtractImage(image, dir / "out"), CutVolumeId(label));
    EXPECT_EQ(ReadFile(dir / "out/Data.TQBak") + ReadFile(dir / "out/Data2.TQBak") + ReadFile(dir / "out/halvex-restore"),
              "first archivesecond archiverestore v2");
}

}  // namespace

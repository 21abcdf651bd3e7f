// The burner binding: what Connect answers for each way loading can fail (stand-in libraries
// built by the tests), and real burns into image files where libisoburn is installed, read
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
using halvex::test::WriteFile;

namespace {

struct LoaderCase {
    const char* name;
    std::optional<std::string> library;
    std::optional<std::string> mode;
    std::optional<std::string> drive;
    int answer;
};

TEST(BurnerLoader, ConnectAnswersHowLoadingEnded) {
    const std::string complete = FAKE_ISOBURN_COMPLETE_PATH;
    const LoaderCase cases[] = {
        {"missing library", "/nonexistent/libisoburn.so.1", std::nullopt, "stdio:/tmp/x.iso", 1},
        {"missing entry point", FAKE_ISOBURN_PARTIAL_PATH, std::nullopt, "stdio:/tmp/x.iso", 1},
        {"refused version", complete, "old", "stdio:/tmp/x.iso", 1},
        {"failed initialisation", complete, "init-fails", "stdio:/tmp/x.iso", -1},
        {"no drive", complete, std::nullopt, std::nullopt, 2},
        {"drive named", complete, std::nullopt, "stdio:/tmp/x.iso", 0},
    };
    for (const LoaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv library(kBurnLibraryVariable, c.library);
        ScopedEnv mode("HALVEX_FAKE_ISOBURN", c.mode);
        ScopedEnv drive(kBurnDriveVariable, c.drive);
        CdBurner burner;
        EXPECT_EQ(burner.Connect(), c.answer);
        EXPECT_EQ(burner.IsConnected(), c.answer == 0);
        if (c.answer == 0) {
            EXPECT_EQ(burner.Connect(), 0);  // already connected
            EXPECT_EQ(burner.DriveAddress(), *c.drive);
            burner.Disconnect();
            EXPECT_FALSE(burner.IsConnected());
        } else {
            // Nothing stays loaded: the recorder cannot be opened.
            EXPECT_EQ(burner.OpenRecorder(), -1);
        }
    }
}

// A folder chain of one folder with the named files.
FileTreePtr Folder(const std::string& path, std::initializer_list<std::string> names) {
    FileTreePtr folder(NewFolderNode(path));
    FileTreeFile** tail = &folder->files;
    for (const std::string& name : names) {
        *tail = NewFileNode(name, 0, 0);
        tail = &(*tail)->next;
    }
    return folder;
}

void SigHandler(int) {}

class ImageBurn : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RealLibraryInstalled()) GTEST_SKIP() << "libisoburn is not installed";
        image = dir / "disc.iso";
        drive.emplace(kBurnDriveVariable, "stdio:" + image);
        library.emplace(kBurnLibraryVariable, std::nullopt);
        test::MakeFolders(dir / "src");
    }

    void Put(const std::string& name, const std::string& content, std::int64_t seconds = 1600000000) {
        WriteFile(dir / ("src/" + name), content);
        test::SetMtime(dir / ("src/" + name), seconds, 0);
    }

    std::vector<std::string> RootNames(CdBurner& burner) {
        std::vector<std::string> names;
        for (const DiscFile& f : burner.DriveRoot()) names.push_back(f.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempFolder dir;
    std::string image;
    std::optional<ScopedEnv> drive, library;
};

TEST_F(ImageBurn, SecondBurnKeepsTheFirstAndReplacesSameNamedFiles) {
    Put("Data.TQBak", "first archive");
    Put("halvex-restore", "restore v1", 1600000100);
    {
        CdBurner burner;
        ASSERT_EQ(burner.Connect(), 0);
        ASSERT_EQ(burner.OpenRecorder(), 0);
        // A blank image file is writable and has no label.
        EXPECT_EQ(burner.DiscWritableState(), 1);
        EXPECT_EQ(burner.VolumeLabel(), "");
        EXPECT_TRUE(burner.DriveRoot().empty());
        EXPECT_EQ(burner.Eject(), 0);
        EXPECT_EQ(burner.Load(), 0);
        std::vector<int> positions;
        std::vector<std::string> statuses;
        burner.SetProgress({[](int, int) {}, [&](int p) { positions.push_back(p); },
                            [&](const std::string& s) { statuses.push_back(s); }});
        FileTreePtr chain = Folder(dir / "src", {"Data.TQBak", "halvex-restore"});
        EXPECT_EQ(burner.BurnFolders(chain.get(), std::string("Office Disc"), false, false), 0);
        EXPECT_EQ(statuses, (std::vector<std::string>{std::string(kRetrievingInfoText), std::string(kPreparingLayoutText)}));
        ASSERT_FALSE(positions.empty());
        EXPECT_EQ(positions.front(), 0);
        EXPECT_EQ(positions.back(), 100);
        EXPECT_EQ(burner.VolumeLabel(), "Office Disc");
        EXPECT_EQ(burner.DiscFileDigest("Data.TQBak"), DigestOf("first archive"));
    }
    Put("Data2.TQBak", "second archive");
    Put("halvex-restore", "restore v2", 1600000200);
    {
        CdBurner burner;
        ASSERT_EQ(burner.Connect(), 0);
        ASSERT_EQ(burner.OpenRecorder(), 0);
        EXPECT_EQ(burner.DiscWritableState(), 1);
        EXPECT_EQ(burner.VolumeLabel(), "Office Disc");
        EXPECT_EQ(RootNames(burner), (std::vector<std::string>{"Data.TQBak", "halvex-restore"}));
        FileTreePtr chain = Folder(dir / "src", {"Data2.TQBak", "halvex-restore"});
        // No volume name: the disc keeps its label.
        EXPECT_EQ(burner.BurnFolders(chain.get(), std::nullopt, false, false), 0);
        EXPECT_EQ(burner.VolumeLabel(), "Office Disc");
        EXPECT_EQ(RootNames(burner), (std::vector<std::string>{"Data.TQBak", "Data2.TQBak", "halvex-restore"}));
        for (const DiscFile& f : burner.DriveRoot()) {
            if (f.name == "halvex-restore") {
                EXPECT_EQ(f.size, 10u);
                EXPECT_EQ(platform::UnixSecondsFromFileTime(f.lastWriteTime), 1600000200);
            }
        }
        EXPECT_EQ(burner.DiscFileDigest("Data.TQBak"), DigestOf("first archive"));
        EXPECT_EQ(burner.DiscFileDigest("halvex-restore"), DigestOf("restore v2"));
        EXPECT_EQ(burner.DiscFileDigest("Nothing.TQBak"), std::nullopt);
    }
    // An independent reader sees both burns, the replaced file and the label.
    if (!test::HasTool("xorriso")) return;
    std::string log;
    ASSERT_TRUE(ExtractImage(image, dir / "out", &log)) << log;
    EXPECT_EQ(ReadFile(dir / "out/Data.TQBak"), "first archive");
    EXPECT_EQ(ReadFile(dir / "out/Data2.TQBak"), "second archive");
    EXPECT_EQ(ReadFile(dir / "out/halvex-restore"), "restore v2");
    EXPECT_EQ(XorrisoVolumeId(image), "Office Disc");
}

TEST_F(ImageBurn, LongNameIsCutAndFailureLeavesTheDiscAsItWas) {
    Put("A.TQBak", "a");
    CdBurner burner;
    ASSERT_EQ(burner.Connect(), 0);
    ASSERT_EQ(burner.OpenRecorder(), 0);
    FileTreePtr chain = Folder(dir / "src", {"A.TQBak"});
    ASSERT_EQ(burner.BurnFolders(chain.get(), std::string(40, 'L'), false, false), 0);
    EXPECT_EQ(burner.VolumeLabel(), std::string(32, 'L'));

    // A file that cannot be read fails the burn with the library's reason, and nothing of
    // the library reaches standard error.
    FileTreePtr missing = Folder(dir / "src", {"Gone.TQBak"});
    const std::string errors = dir / "stderr.txt";
    const int saved = dup(2);
    const int capture = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(capture, 2);
    std::string text;
    try {
        burner.BurnFolders(missing.get(), std::string("X"), false, false);
    } catch (const BurnError& e) {
        text = e.what();
    }
    dup2(saved, 2);
    close(saved);
    close(capture);
    EXPECT_EQ(text.rfind(std::string(kBurnTrackFailedText), 0), 0u) << text;
    EXPECT_NE(text.find("Gone.TQBak"), std::string::npos) << text;
    EXPECT_EQ(ReadFile(errors), "");
    EXPECT_EQ(burner.DiscFileDigest("A.TQBak"), DigestOf("a"));
    EXPECT_EQ(burner.VolumeLabel(), std::string(32, 'L'));
}

TEST_F(ImageBurn, SignalHandlersStayTheProgramsOwn) {
    struct sigaction mine {}, before[2] {}, after {};
    mine.sa_handler = SigHandler;
    sigemptyset(&mine.sa_mask);
    const int signals[2] = {SIGINT, SIGTERM};
    for (int i = 0; i < 2; ++i) sigaction(signals[i], &mine, &before[i]);
    Put("A.TQBak", "a");
    {
        CdBurner burner;
        ASSERT_EQ(burner.Connect(), 0);
        ASSERT_EQ(burner.OpenRecorder(), 0);
        FileTreePtr chain = Folder(dir / "src", {"A.TQBak"});
        EXPECT_EQ(burner.BurnFolders(chain.get(), std::string("S"), false, false), 0);
        for (int s : signals) {
            sigaction(s, nullptr, &after);
            EXPECT_EQ(after.sa_handler, &SigHandler) << s;
        }
    }
    for (int i = 0; i < 2; ++i) sigaction(signals[i], &before[i], nullptr);
}

}  // namespace

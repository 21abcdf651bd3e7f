// SPDX-License-Identifier: GPL-3.0-or-later
// The source scan: filters, order, links and entries that cannot be backed up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backup/current_state.h"
#include "backup/source_scan.h"
#include "platform/directory_listing.h"
#include "platform/file_time.h"
#include "platform/path_limits.h"
#include "tests/backup/backup_test_support.h"
#include "tests/support/temp_folder.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::MakeFolders;
using halvex::test::TempFolder;
using halvex::test::WriteFile;

namespace {

std::vector<FilterRule> Rules(std::initializer_list<std::pair<bool, const char*>> rules) {
    std::vector<FilterRule> out;
    for (const auto& [exclude, pattern] : rules) out.push_back({exclude, pattern});
    return out;
}
constexpr bool kExclude = true;
constexpr bool kInclude = false;

struct Scan {
    FileTreePtr tree;
    std::vector<std::string> notices;
    std::vector<std::string> passedOver;  // left out on purpose
};

Scan ScanFolderTree(const std::string& folder, std::vector<FilterRule> mappingRules = {},
                    const std::vector<FilterRule>& global = {}) {
    RunControl control;
    control.Start();
    SourceScanner scanner(control);
    SourceMapping mapping{folder, "Data", std::move(mappingRules)};
    Scan scan;
    scan.tree = scanner.ScanSource(mapping, global, scan.notices);
    scan.passedOver = scanner.OwnFileNotices();
    return scan;
}

}  // namespace

TEST(IsExcluded, IncludeOnlyUndoesAnEarlierExclude) {
    const auto rules = Rules({{kExclude, "DIR1\\*"}, {kInclude, "DIR1\\KEEP.TXT"}});
    EXPECT_TRUE(IsExcluded("DIR1\\A.TXT", rules, {}));
    EXPECT_FALSE(IsExcluded("DIR1\\KEEP.TXT", rules, {}));
    EXPECT_FALSE(IsExcluded("DIR1", rules, {}));  // the folder itself is entered
    // An include before the exclude has nothing to undo.
    EXPECT_TRUE(IsExcluded("DIR1\\KEEP.TXT", Rules({{kInclude, "DIR1\\KEEP.TXT"}, {kExclude, "DIR1\\*"}}), {}));
    // A later exclude excludes again; global rules act after the mapping's.
    const auto three = Rules({{kExclude, "*.LOG"}, {kInclude, "KEEP*"}, {kExclude, "*OLD*"}});
    EXPECT_FALSE(IsExcluded("KEEP.LOG", three, {}));
    EXPECT_TRUE(IsExcluded("KEEP.OLD.LOG", three, {}));
    EXPECT_TRUE(IsExcluded("KEEP.TMP", Rules({{kInclude, "KEEP*"}}), Rules({{kExclude, "*.TMP"}})));
    EXPECT_FALSE(IsExcluded("A.TMP", Rules({{kExclude, "*.TMP"}}), Rules({{kInclude, "A*"}})));
    // The whole path must match, and '*' spans levels.
    EXPECT_TRUE(IsExcluded("DIR2\\X\\Y\\DEBUG", Rules({{kExclude, "DIR2\\*\\DEBUG"}}), {}));
    EXPECT_FALSE(IsExcluded("DIR2\\DEBUG\\A", Rules({{kExclude, "DIR2\\*\\DEBUG"}}), {}));
}

TEST(SourceScan, FiltersSeeUpperCasedRelativePathsAndExcludedFoldersAreNotEntered) {
    TempFolder dir;
    MakeFolders(dir / "src/Dir1/Deep");
    WriteFile(dir / "src/Dir1/keep.txt", "k");
    WriteFile(dir / "src/Dir1/other.txt", "o");
    WriteFile(dir / "src/Dir1/Deep/x.txt", "x");
    WriteFile(dir / "src/top.tmp", "t");
    WriteFile(dir / "src/Dir1/keep.tmp", "t");

    Scan s = ScanFolderTree(dir / "src", Rules({{kExclude, "DIR1\\*"}, {kInclude, "DIR1\\KEEP.*"}}),
                            Rules({{kExclude, "*.TMP"}}));
    // The folder Deep matches DIR1\* and is not entered; keep.tmp is included by the mapping,
    // then excluded again by the global rule.
    EXPECT_EQ(Paths(s.tree.get()), (std::vector<std::string>{"Dir1\\", "Dir1\\keep.txt"}));
    EXPECT_TRUE(s.notices.empty());

    // Excluding the folder itself: not entered, so the include cannot reach into it.
    s = ScanFolderTree(dir / "src", Rules({{kExclude, "DIR1"}, {kInclude, "DIR1\\KEEP.TXT"}}));
    EXPECT_EQ(Paths(s.tree.get()), (std::vector<std::string>{"top.tmp"}));
}

TEST(SourceScan, FilesComeInReverseListingOrderAndFoldersInListingOrder) {
    TempFolder dir;
    MakeFolders(dir / "src");
    for (int i = 0; i < 12; ++i) WriteFile(dir / ("src/f" + std::to_string(i)), std::string(i, 'x'));
    for (int i = 0; i < 6; ++i) MakeFolders(dir / ("src/d" + std::to_string(i)));
    std::vector<std::string> files, folders;
    platform::DirectoryListing listing(dir / "src");
    platform::DirEntry e;
    while (listing.Next(e)) (e.kind == platform::EntryKind::Directory ? folders : files).push_back(e.name);
    std::reverse(files.begin(), files.end());

    Scan s = ScanFolderTree(dir / "src");
    ASSERT_TRUE(s.tree);
    EXPECT_STREQ(s.tree->name, "");
    std::vector<std::string> gotFiles, gotFolders;
    for (FileTreeFile* f = s.tree->files; f; f = f->next) gotFiles.push_back(f->name);
    for (FileTreeNode* n = s.tree->firstChild; n; n = n->nextSibling) gotFolders.push_back(n->name);
    EXPECT_EQ(gotFiles, files);
    EXPECT_EQ(gotFolders, folders);
}

TEST(SourceScan, LinksAndSpecialEntries) {
    TempFolder dir;
    MakeFolders(dir / "src/real");
    MakeFolders(dir / "outside");
    WriteFile(dir / "outside/target.bin", std::string(1234, 'a'));
    WriteFile(dir / "src/real/inner.txt", "i");
    ASSERT_EQ(symlink((dir / "outside/target.bin").c_str(), (dir / "src/file-link").c_str()), 0);
    ASSERT_EQ(symlink((dir / "src").c_str(), (dir / "src/real/loop").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "src/out-link").c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "src/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "src/pipe").c_str(), 0600), 0);
    WriteFile(dir / "src/back\\slash.txt", "b");
    MakeFolders(dir / "src/back\\folder");

    struct timespec linkTime[2] = {{0, UTIME_OMIT}, {1600000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "src/file-link").c_str(), linkTime, AT_SYMLINK_NOFOLLOW), 0);

    Scan s = ScanFolderTree(dir / "src");
    // Every link is a file of the tree, whatever it points to, and none is followed: the loop
    // back to src is harmless. Its size is its target's length, its time its own.
    EXPECT_EQ(Paths(s.tree.get()), (std::vector<std::string>{"dangling", "file-link", "out-link", "real\\",
                                                             "real\\inner.txt", "real\\loop"}));
    for (FileTreeFile* f = s.tree->files; f; f = f->next) {
        EXPECT_EQ(f->size, std::filesystem::read_symlink(dir / "src/" + f->name).string().size()) << f->name;
        if (std::string(f->name) == "file-link") {
            EXPECT_EQ(f->lastWriteTime, platform::FileTimeFromUnixSeconds(1600000000));
        }
    }
    std::vector<std::string> notices = s.notices;
    std::sort(notices.begin(), notices.end());
    EXPECT_EQ(notices, (std::vector<std::string>{
                           "Skipped (Name contains a backslash): " + (dir / "src/back\\folder"),
                           "Skipped (Name contains a backslash): " + (dir / "src/back\\slash.txt"),
                       }));
    EXPECT_EQ(s.passedOver, (std::vector<std::string>{"Not backed up (fifo): " + (dir / "src/pipe")}));
}

TEST(SourceScan, PathsPastThePlatformLimitAreSkippedAndReported) {
    TempFolder dir;
    MakeFolders(dir / "src");
    // Nest folders of 200-byte names until the path passes the limit (built relative to an
    // open folder, as the whole path would be refused).
    const std::string name(200, 'n');
    int fd = open((dir / "src").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    std::size_t length = (dir / "src").size();
    int levels = 0;
    while (length + 1 + name.size() + 1 < platform::kPathLimit) {
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
        length += 1 + name.size();
        ++levels;
    }
    // This file's path still fits; the folder beside it does not.
    const std::string fits(platform::kPathLimit - 2 - length - 1, 'f');
    int file = openat(fd, fits.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(file, 0);
    close(file);
    ASSERT_EQ(mkdirat(fd, (fits + "xx").c_str(), 0700), 0);
    close(fd);

    Scan s = ScanFolderTree(dir / "src");
    const std::vector<std::string> paths = Paths(s.tree.get());
    ASSERT_EQ(paths.size(), static_cast<std::size_t>(levels) + 1);
    EXPECT_EQ(paths.back().substr(paths.back().rfind('\\') + 1), fits);
    ASSERT_EQ(s.notices.size(), 1u);
    EXPECT_EQ(s.notices[0].rfind("Skipped (Path too long): ", 0), 0u);
    EXPECT_EQ(s.notices[0].size(), std::string("Skipped (Path too long): ").size() + platform::kPathLimit);
}

TEST(SourceScan, FolderThatCannotBeListedIsLeftOutAndReported) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    TempFolder dir;
    MakeFolders(dir / "src/locked");
    WriteFile(dir / "src/locked/a", "a");
    WriteFile(dir / "src/b", "b");
    ASSERT_EQ(chmod((dir / "src/locked").c_str(), 0), 0);
    Scan s = ScanFolderTree(dir / "src");
    EXPECT_EQ(Paths(s.tree.get()), (std::vector<std::string>{"b"}));
    EXPECT_EQ(s.notices, (std::vector<std::string>{"Skipped Directory (Could not list): " + (dir / "src/locked")}));
}

TEST(SourceScan, RootFolderAndMissingSource) {
    // "/" as source: paths are built without a doubled separator.
    RunControl control;
    control.Start();
    SourceScanner scanner(control);
    std::vector<std::string> notices;
    SourceMapping missing{"/nonexistent-halvex-folder", "X", {}};
    EXPECT_FALSE(scanner.ScanSource(missing, {}, notices));
    EXPECT_EQ(notices, (std::vector<std::string>{"Skipped Directory (Could not list): /nonexistent-halvex-folder"}));

    TempFolder dir;
    WriteFile(dir / "a", "a");
    // A scan of the temporary folder through "/" would be slow; check the path building on the
    // folder's own notices instead: a fifo at the top level of "/tmp/..." is named exactly.
    ASSERT_EQ(mkfifo((dir / "p").c_str(), 0600), 0);
    Scan s = ScanFolderTree(dir.path() + "/");
    EXPECT_EQ(Paths(s.tree.get()), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(s.notices.empty());
    EXPECT_EQ(s.passedOver, (std::vector<std::string>{"Not backed up (fifo): " + (dir / "p")}));
}

namespace {

// Everything a scan answers, in its order.
struct ScanOutcome {
    bool hasTree = false;
    HistoryBytes tree;  // serialized: names, order, sizes and times
    std::vector<std::string> notices, passedOver;
    std::vector<std::vector<std::string>> unlisted;
};

ScanOutcome ScanOn(int threads, const std::string& folder, const std::vector<FilterRule>& rules,
                   const std::vector<OwnFilesFolder>& own) {
    RunControl control;
    control.Start();
    SourceScanner scanner(control);
    scanner.SetThreads(threads);
    scanner.SetOwnFiles(own);
    ScanOutcome out;
    FileTreePtr tree = scanner.ScanSource(SourceMapping{folder, "Data", rules}, {}, out.notices);
    out.hasTree = tree != nullptr;
    if (tree) out.tree = SerializeState(tree.get());
    out.passedOver = scanner.OwnFileNotices();
    out.unlisted = scanner.UnlistedFolders();
    return out;
}

// A tree with every kind of entry the scan treats apart, many folders (more than the
// listings that may wait) and a folder of many chunks.
void MakeAwkwardTree(const std::string& src) {
    MakeFolders(src + "/locked/inner");
    WriteFile(src + "/locked/inner/a", "a");
    MakeFolders(src + "/Excluded/locked");
    WriteFile(src + "/top.txt", "top");
    WriteFile(src + "/skip.tmp", "t");
    WriteFile(src + "/back\\slash", "b");
    ASSERT_EQ(mkfifo((src + "/fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("top.txt", (src + "/file-link").c_str()), 0);
    ASSERT_EQ(symlink("deep", (src + "/folder-link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (src + "/dangling").c_str()), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string sockPath = src + "/sock";
    ASSERT_LT(sockPath.size(), sizeof address.sun_path);
    std::copy(sockPath.begin(), sockPath.end(), address.sun_path);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(sock);
    MakeFolders(src + "/own/sub");
    for (const char* name : {"Job.TQBak", "Job12.TQBak.partial", "Other.TQBak", "FileLists.tq", "backups.log", "keep"})
        WriteFile(src + "/own/" + name, name);
    WriteFile(src + "/own/sub/Job.TQBak", "not own: another folder");
    std::string deep = src + "/deep";
    for (int level = 0; level < 60; ++level, deep += "/d") {
        MakeFolders(deep);
        WriteFile(deep + "/f", std::string(static_cast<std::size_t>(level), 'x'));
    }
    for (int i = 0; i < 300; ++i) {
        const std::string folder = src + "/many/m" + std::to_string(i);
        MakeFolders(folder + "/sub");
        WriteFile(folder + "/x", std::to_string(i));
    }
    MakeFolders(src + "/big");
    WriteFile(src + "/big/0", "same file under every name");  // links are made much faster than files
    for (std::size_t i = 1; i < ListingPipeline::kChunkEntries * (ListingPipeline::kChunksPerFolder + 2); ++i)
        ASSERT_EQ(link((src + "/big/0").c_str(), (src + "/big/" + std::to_string(i)).c_str()), 0);
}

// Runs the comparisons of a test where folder permissions hold: in a child without root's
// rights when the tests run as root.
void WithoutRootRights(const std::string& folder, const std::function<void()>& body) {
    if (geteuid() != 0) {
        body();
        return;
    }
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        body();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "root's rights cannot be dropped here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the scans without root's rights differ";
}

}  // namespace

TEST(SourceScan, ListingOnWorkerThreadsGivesTheSameScanAsOneThread) {
    TempFolder dir;
    const std::string src = dir / "src";
    MakeAwkwardTree(src);
    ASSERT_EQ(chmod((src + "/locked").c_str(), 0), 0);
    ASSERT_EQ(chmod((src + "/Excluded/locked").c_str(), 0), 0);
    const std::vector<OwnFilesFolder> own{{src + "/own", {"Job"}, true}};
    const auto filters = Rules({{kExclude, "EXCLUDED"}, {kExclude, "*.TMP"}, {kExclude, "MANY\\M1*\\SUB"}});
    struct Case {
        int threads;
        bool filtered;
    };
    const Case cases[] = {{2, false}, {2, true}, {3, true}, {9, false}};
    WithoutRootRights(dir / "", [&] {
        const ScanOutcome plain = ScanOn(1, src, {}, own);
        const ScanOutcome filtered = ScanOn(1, src, filters, own);
        // The single-thread scan itself sees every awkward case.
        ASSERT_TRUE(plain.hasTree);
        EXPECT_EQ(plain.unlisted, (std::vector<std::vector<std::string>>{{"Excluded", "locked"}, {"locked"}}));
        EXPECT_EQ(filtered.unlisted, (std::vector<std::vector<std::string>>{{"locked"}}));
        EXPECT_EQ(plain.notices.size(), 3u);  // the backslash and two unlisted folders
        EXPECT_EQ(plain.passedOver.size(), 6u);  // fifo, socket and four own files
        EXPECT_LT(filtered.tree.size(), plain.tree.size());
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.threads << " threads, filtered " << c.filtered);
            const ScanOutcome& one = c.filtered ? filtered : plain;
            for (int round = 0; round < 2; ++round) {
                const ScanOutcome many = ScanOn(c.threads, src, c.filtered ? filters : std::vector<FilterRule>{}, own);
                EXPECT_EQ(many.hasTree, one.hasTree);
                EXPECT_TRUE(many.tree == one.tree);
                EXPECT_EQ(many.notices, one.notices);
                EXPECT_EQ(many.passedOver, one.passedOver);
                EXPECT_EQ(many.unlisted, one.unlisted);
            }
        }
    });
}

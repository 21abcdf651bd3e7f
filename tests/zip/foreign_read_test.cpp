// SPDX-License-Identifier: GPL-3.0-or-later
// Archives made by other tools (Info-ZIP zip, Python's zipfile), read through the layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <unistd.h>

#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::RunCommand;
using halvex::test::TempFolder;

namespace {

// A small tree: text, numbers (deflates well), random bytes, an empty file and folder, and a
// non-ASCII name.
std::map<std::string, std::string> MakeTree(const TempFolder& dir) {
    std::map<std::string, std::string> files = {
        {"top/a.txt", "hello\n"},
        {"top/sub/numbers.txt", TextBytes(120000)},
        {"top/sub/noise.bin", RandomBytes(70000, 11)},
        {"top/empty.txt", ""},
        {"top/caf\xC3\xA9.txt", "accent"},
    };
    test::MakeFolders(dir / "src/top/sub");
    test::MakeFolders(dir / "src/top/nothing");
    for (const auto& [name, content] : files) test::WriteFile(dir / ("src/" + name), content);
    return files;
}

std::string Backslashed(std::string name) {
    for (auto& c : name)
        if (c == '/') c = '\\';
    return name;
}

// Reads every file entry and compares it with the tree; answers the number of folder entries.
int CheckAgainstTree(ZipArchiveFile& zip, const std::map<std::string, std::string>& files) {
    int folders = 0;
    std::size_t seen = 0;
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        ZipEntryHeader h;
        EXPECT_TRUE(zip.GetEntryInfo(h, i));
        if (zip.IsFolderEntry(i)) {
            ++folders;
            continue;
        }
        std::string name = h.GetFileName();
        EXPECT_EQ(name.find('/'), std::string::npos) << name;  // read with '\'
        auto it = std::find_if(files.begin(), files.end(),
                               [&](const auto& f) { return Backslashed(f.first) == name; });
        if (it == files.end()) {
            ADD_FAILURE() << "unexpected entry " << name;
            continue;
        }
        int result = 0;
        EXPECT_EQ(ReadWhole(zip, i, &result), it->second) << name;
        EXPECT_EQ(result, 1) << name;
        ++seen;
    }
    EXPECT_EQ(seen, files.size());
    return folders;
}

}  // namespace

class InfoZip : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(InfoZip, EveryEntryReadsBackWithItsCrcChecked) {
    if (!test::HasTool("zip")) GTEST_SKIP() << "zip not installed";
    TempFolder dir;
    auto files = MakeTree(dir);
    std::vector<std::string> argv = {"zip", "-q", "-r"};
    for (const auto& option : GetParam()) argv.push_back(option);
    argv.push_back(dir / "out.zip");
    argv.push_back("top");
    auto r = RunCommand(argv, {}, dir / "src");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ZipArchiveFile zip;
    zip.Open(dir / "out.zip", ZipOpenReadOnly);
    int folders = CheckAgainstTree(zip, files);
    bool noFolders = std::find(argv.begin(), argv.end(), "-D") != argv.end();
    EXPECT_EQ(folders, noFolders ? 0 : 3);  // top/, top/sub/, top/nothing/
    if (!noFolders) {
        int sub = zip.FindEntry("top\\sub\\", true);
        ASSERT_GE(sub, 0);
        EXPECT_TRUE(zip.IsFolderEntry(sub));
    }
    EXPECT_GE(zip.FindEntry("TOP\\SUB\\NUMBERS.TXT", false), 0);
    EXPECT_EQ(zip.FindEntry("TOP\\SUB\\NUMBERS.TXT", true), -1);
}

INSTANTIATE_TEST_SUITE_P(Options, InfoZip,
                         ::testing::Values(std::vector<std::string>{"-0"}, std::vector<std::string>{"-9"},
                                           std::vector<std::string>{"-0", "-D"},
                                           std::vector<std::string>{"-9", "-D"}));

// Links stored by `zip -y` come back as links, their targets exactly as stored.
TEST(ForeignRead, InfoZipLinksExtractAsLinks) {
    if (!test::HasTool("zip")) GTEST_SKIP();
    TempFolder dir;
    test::MakeFolders(dir / "src");
    ASSERT_EQ(::symlink("../gone", (dir / "src/none").c_str()), 0);
    ASSERT_EQ(::symlink("/etc", (dir / "src/abs").c_str()), 0);
    ASSERT_EQ(RunCommand({"zip", "-q", "-y", "../links.zip", "none", "abs"}, {}, dir / "src").exitCode, 0);
    ZipArchiveFile zip;
    zip.Open(dir / "links.zip", ZipOpenReadOnly);
    std::string target;
    ASSERT_TRUE(zip.ExtractEntry(0, dir / "out", false));
    EXPECT_TRUE(platform::ReadLinkTarget(dir / "out/none", target) && target == "../gone") << target;
    const int folder = ::open((dir / "out").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_TRUE(zip.ExtractEntryAt(1, folder, "abs", dir / "out/abs"));
    ::close(folder);
    EXPECT_TRUE(platform::ReadLinkTarget(dir / "out/abs", target) && target == "/etc") << target;
}

TEST(ForeignRead, InfoZipWritingToAPipeUsesDescriptorsAndZip64Sizes) {
    if (!test::HasTool("zip")) GTEST_SKIP();
    TempFolder dir;
    auto files = MakeTree(dir);
    // Output to a pipe: flag bit 3 and data descriptors; input from a pipe: 8-byte sizes.
    auto r = RunCommand({"sh", "-c", "zip -q -9 - top/a.txt top/sub/numbers.txt top/sub/noise.bin | cat > ../pipe.zip && "
                                     "cat top/sub/numbers.txt | zip -q -9 - - | cat > ../stdin.zip"},
                        {}, dir / "src");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    {
        ZipArchiveFile zip;
        zip.Open(dir / "pipe.zip", ZipOpenReadOnly);
        ASSERT_EQ(zip.GetEntryCount(), 3);
        for (int i = 0; i < 3; ++i) {
            ZipEntryHeader h;
            ASSERT_TRUE(zip.GetEntryInfo(h, i));
            EXPECT_TRUE(h.HasDataDescriptor());
            int result = 0;
            EXPECT_EQ(ReadWhole(zip, i, &result), files.at(
                [&] { std::string n = h.GetFileName(); for (auto& c : n) if (c == '\\') c = '/'; return n; }()));
            EXPECT_EQ(result, 1);
        }
    }
    ZipArchiveFile zip;
    zip.Open(dir / "stdin.zip", ZipOpenReadOnly);
    ASSERT_EQ(zip.GetEntryCount(), 1);
    int result = 0;
    EXPECT_EQ(ReadWhole(zip, 0, &result, 65535), files.at("top/sub/numbers.txt"));
    EXPECT_EQ(result, 1);
}

TEST(ForeignRead, PythonZipfileWithAndWithoutDescriptors) {
    if (!test::HasTool("python3")) GTEST_SKIP();
    TempFolder dir;
    auto r = RunCommand({"python3", "-c", std::string(kPythonPipe) + R"PY(
def fill(z):
    z.writestr("d/text.txt", b"abc" * 5000, zipfile.ZIP_DEFLATED)
    z.writestr("d/stored.bin", bytes(range(256)) * 40, zipfile.ZIP_STORED)
    z.writestr("d/empty", b"", zipfile.ZIP_DEFLATED)
    z.writestr("d/folder/", b"")
with zipfile.ZipFile(sys.argv[1] + "/seekable.zip", "w") as z: fill(z)
with open(sys.argv[1] + "/piped.zip", "wb") as f:
    with zipfile.ZipFile(Pipe(f), "w") as z: fill(z)
)PY", dir.path()});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    for (const char* name : {"seekable.zip", "piped.zip"}) {
        SCOPED_TRACE(name);
        ZipArchiveFile zip;
        zip.Open(dir / name, ZipOpenReadOnly);
        ASSERT_EQ(zip.GetEntryCount(), 4);
        std::string abc;
        for (int i = 0; i < 5000; ++i) abc += "abc";
        std::string bytes;
        for (int k = 0; k < 40; ++k)
            for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
        int result = 0;
        EXPECT_EQ(ReadWhole(zip, zip.FindEntry("d\\text.txt", true), &result), abc);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(ReadWhole(zip, zip.FindEntry("d\\stored.bin", true), &result), bytes);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(ReadWhole(zip, zip.FindEntry("d\\empty", true), &result), "");
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(zip.IsFolderEntry(zip.FindEntry("d\\folder\\", true)));
    }
}

TEST(ForeignRead, PrependedDataAndTheLongestCommentAreFound) {
    if (!test::HasTool("python3")) GTEST_SKIP();
    TempFolder dir;
    auto r = RunCommand({"python3", "-c", R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1] + "/plain.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("inside.txt", b"payload " * 1000)
    z.writestr("second.txt", b"more")
    z.comment = b"C" * 65535
)PY", dir.path()});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    const std::string plain = Bytes(dir / "plain.zip");
    std::string payload;
    for (int i = 0; i < 1000; ++i) payload += "payload ";
    // Data in front (a self-extractor stub): offsets stay as stored, the prefix is absorbed.
    test::WriteFile(dir / "prefixed.zip", RandomBytes(12345, 5) + plain);
    {
        ZipArchiveFile zip;
        zip.Open(dir / "prefixed.zip", ZipOpenReadOnly);
        ASSERT_EQ(zip.GetEntryCount(), 2);
        ZipEntryHeader h;
        ASSERT_TRUE(zip.GetEntryInfo(h, 0));
        EXPECT_EQ(h.localHeaderOffset, 0u);
        EXPECT_EQ(ReadWhole(zip, 0), payload);
        EXPECT_EQ(ReadWhole(zip, 1), "more");
    }
    // The end record lies exactly 65,557 bytes before the end: found.
    ZipArchiveFile zip;
    zip.Open(dir / "plain.zip", ZipOpenReadOnly);
    EXPECT_EQ(zip.GetEntryCount(), 2);
    zip.Close();
    // One byte more after the comment: beyond the search, no end record.
    test::WriteFile(dir / "trailing.zip", plain + "X");
    EXPECT_EQ(ZipErrorOf([&] { zip.Open(dir / "trailing.zip", ZipOpenReadOnly); }), kZipNoEndRecord);
    EXPECT_TRUE(zip.IsClosed());
}

TEST(ForeignRead, ChangingAPrefixedArchiveKeepsItReadable) {
    if (!test::HasTool("zip")) GTEST_SKIP();
    TempFolder dir;
    auto files = MakeTree(dir);
    auto r = RunCommand({"zip", "-q", "-r", "-9", dir / "plain.zip", "top"}, {}, dir / "src");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    test::WriteFile(dir / "sfx.zip", std::string(5000, '#') + Bytes(dir / "plain.zip"));
    {
        ZipArchiveFile zip;
        zip.Open(dir / "sfx.zip", ZipOpenExisting);
        zip.DeleteEntry(zip.FindEntry("top\\a.txt", true));
        AddEntry(zip, "added.txt", "added", 9);
        zip.Close();
    }
    ZipArchiveFile zip;
    zip.Open(dir / "sfx.zip", ZipOpenReadOnly);
    EXPECT_EQ(zip.FindEntry("top\\a.txt", true), -1);
    EXPECT_EQ(ReadWhole(zip, zip.FindEntry("added.txt", true)), "added");
    EXPECT_EQ(ReadWhole(zip, zip.FindEntry("top\\sub\\noise.bin", true)), files.at("top/sub/noise.bin"));
    // (unzip warns about the prefix; Python's zipfile reads such archives plainly.)
    PyArchive py = InspectWithPython(dir / "sfx.zip");
    ASSERT_TRUE(py.ran) << py.errors;
    EXPECT_EQ(py.testzip, "None");
    EXPECT_EQ(py.entries.size(), 8u);  // 3 folders + 5 files - a.txt + added.txt
}

// Names that DOS and Windows tools store without the UTF-8 flag are code page 437: every byte
// from 0x80 up reads as Python's zipfile reads it, the entries still open, and a directory
// written back keeps their stored bytes. Flagged names and names made on Unix stay as stored.
TEST(ForeignRead, CodePage437NamesReadAsUtf8) {
    TempFolder dir;
    const std::string path = dir / "dos.zip";
    const std::string utf8 = "caf\xC3\xA9.txt";
    const std::string unixName = "unix\xE9.txt";  // Latin-1 bytes a Unix tool stored as they were
    std::vector<std::string> dosNames;
    for (int b = 0x80; b <= 0xFF; ++b) dosNames.push_back(std::string("dos\\n") + static_cast<char>(b));
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        for (const auto& name : dosNames) AddEntry(zip, name, name, 9);
        AddEntry(zip, utf8, "utf8", 0);
        AddEntry(zip, unixName, "unix", 0);
        zip.Close();
    }
    // Clear the UTF-8 flag of every entry but the flagged one, in its local and central header;
    // the last entry is marked as made on Unix.
    std::string bytes = Bytes(path);
    std::size_t central = bytes.find(std::string("PK\1\2", 4));
    for (std::size_t i = 0; central != std::string::npos; ++i, central = bytes.find(std::string("PK\1\2", 4), central + 4)) {
        if (i == dosNames.size()) continue;
        if (i == dosNames.size() + 1) Put16(bytes, central + 4, 0x0314);
        const std::uint16_t flags = U16(bytes, central + 8) & ~kFlagUtf8Name;
        Put16(bytes, central + 8, flags);
        Put16(bytes, U32(bytes, central + 42) + 6, flags);
    }
    test::WriteFile(path, bytes);

    PyArchive py = InspectWithPython(path);
    ASSERT_TRUE(py.ran) << py.errors;
    ASSERT_EQ(py.entries.size(), dosNames.size() + 2);
    auto check = [&](const std::string& archive) {
        ZipArchiveFile zip;
        zip.Open(archive, ZipOpenReadOnly);
        for (std::size_t i = 0; i < dosNames.size(); ++i) {
            std::string expected = py.entries[i].name;  // zipfile decodes code page 437
            std::replace(expected.begin(), expected.end(), '/', '\\');
            ZipEntryHeader h;
            ASSERT_TRUE(zip.GetEntryInfo(h, static_cast<int>(i)));
            EXPECT_EQ(h.fileName, expected) << std::hex << 0x80 + i;
            EXPECT_EQ(ReadWhole(zip, static_cast<int>(i)), dosNames[i]);
        }
        EXPECT_EQ(zip.FindEntry("dos\\n\xE2\x96\x91", true), 0xB0 - 0x80);  // a shade block
        EXPECT_EQ(ReadWhole(zip, zip.FindEntry(utf8, true)), "utf8");
        EXPECT_EQ(ReadWhole(zip, zip.FindEntry(unixName, true)), "unix");
        zip.Close();
    };
    check(path);
    // Changed in place: the directory written back still matches the local headers.
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenExisting);
        AddEntry(zip, "added.txt", "added", 9);
        zip.Close();
    }
    check(path);
    EXPECT_EQ(InspectWithPython(path).testzip, "None");
}

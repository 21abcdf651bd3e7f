// SPDX-License-Identifier: GPL-3.0-or-later
// Deflated histories continued run by run: the joined stream must inflate to exactly the
// history a one-shot deflate would hold, in the store and in archives other tools read.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "backup/bookkeeping.h"
#include "backup/compressed_history.h"
#include "backup/file_list_store.h"
#include "tests/backup/run_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/zip/zip_test_support.h"
#include "zip/zip_whole_entry.h"

using namespace halvex;
using halvex::test::TempFolder;

namespace {

HistoryBytes InflateRaw(const std::vector<unsigned char>& deflated, std::size_t expected) {
    HistoryBytes out(expected + 1);
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<unsigned char*>(deflated.data());
    z.avail_in = static_cast<uInt>(deflated.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
    out.erase(out.begin() + (z.next_out - out.data()), out.end());
    inflateEnd(&z);
    return out;
}

// Record-like bytes: names that repeat across runs (so pieces refer back into their
// dictionary) mixed with numbers that do not.
HistoryBytes MakePart(std::mt19937& random, std::size_t size) {
    HistoryBytes part;
    while (part.size() < size) {
        const std::string name = "folder" + std::to_string(random() % 50) + "/file" + std::to_string(random() % 400);
        part.insert(part.end(), name.begin(), name.end());
        for (int i = 0; i < 12; ++i) part.push_back(static_cast<unsigned char>(random()));
    }
    part.resize(size);
    return part;
}

}  // namespace

TEST(CompressedHistory, JoinedRunsInflateToTheOneShotHistory) {
    // Part sizes per run: empty, tiny, around and well past the 32 KiB window.
    const std::size_t sizes[] = {0, 1, 300, 32767, 32768, 32769, 100000, 7, 0, 65536, 4096, 250000};
    std::mt19937 random(28);
    TempFolder dir;
    HistoryBytes whole = MakePart(random, 1000);
    CompressedHistory joined = CompressHistory(whole);
    for (int run = 1; run <= 48; ++run) {
        const HistoryBytes part = MakePart(random, sizes[static_cast<std::size_t>(run) % std::size(sizes)]);
        AppendToHistory(joined, part);
        whole.insert(whole.end(), part.begin(), part.end());
        SCOPED_TRACE("run " + std::to_string(run));
        ASSERT_EQ(InflateRaw(joined.deflated, whole.size()), whole);
        ASSERT_EQ(joined.size, whole.size());
        ASSERT_EQ(joined.crc, crc32(0, whole.data(), static_cast<uInt>(whole.size())));
        ASSERT_TRUE(std::equal(joined.tail.begin(), joined.tail.end(), whole.end() - static_cast<long>(joined.tail.size())));
        ASSERT_EQ(joined.tail.size(), std::min<std::size_t>(whole.size(), 32768));
        ASSERT_TRUE(EndsJoinable(joined.deflated));
        // Joining costs little against deflating the whole at once.
        if (run % 16 == 0) {
            EXPECT_LT(joined.deflated.size(), CompressHistory(whole).deflated.size() * 11 / 10);
        }
    }

    // The same bytes as an archive entry: the zip layer, Python, unzip and 7z read them back.
    const std::string path = dir / "joined.zip";
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        ASSERT_TRUE(WriteCompressedHistory(zip, "Data.tq", platform::SystemTime{2024, 5, 0, 6, 7, 8, 9, 0}, joined));
        zip.Close();
    }
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    std::uint64_t budget = 1u << 30;
    const std::optional<HistoryBytes> read = ReadWholeEntry(zip, 0, budget);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, whole);
    zip.Close();
    backuptest::ExpectReadersAccept(path);
}

// Histories of millions of files are deflated in pieces of input and output, and parts come
// in pieces: pieces that end mid-buffer and parts of several pieces inflate to the same bytes.
TEST(CompressedHistory, PartsLargerThanTheDeflatersPiecesInflateWhole) {
    std::mt19937 random(35);
    HistoryBytes whole = MakePart(random, (5u << 20) / 2 + 3);
    CompressedHistory joined = CompressHistory(whole);
    // The next part as a head and uneven pieces, as a run hands over its added tree.
    const HistoryBytes part = MakePart(random, (1u << 20) + 1);
    const std::span<const unsigned char> bytes(part);
    AppendToHistory(joined, bytes.first(100), [&](const std::function<void(std::span<const unsigned char>)>& sink) {
        for (std::size_t at = 100; at < bytes.size(); at += 300000)
            sink(bytes.subspan(at, std::min<std::size_t>(300000, bytes.size() - at)));
    });
    whole.insert(whole.end(), part.begin(), part.end());
    ASSERT_EQ(InflateRaw(joined.deflated, whole.size()), whole);
    EXPECT_EQ(joined.crc, crc32(0, whole.data(), static_cast<uInt>(whole.size())));
    EXPECT_TRUE(EndsJoinable(joined.deflated));
}

namespace {

class JoinedRunTest : public backuptest::RunFixture {
protected:
    // The deflated bytes of entry `name` as they lie in the zip file.
    static std::vector<unsigned char> Raw(const std::string& path, const std::string& name) {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly);
        std::vector<unsigned char> out;
        EXPECT_TRUE(zip.ReadStoredData(zip.FindEntry(name, true), out, 1u << 30)) << path << " " << name;
        zip.Close();
        return out;
    }
};

}  // namespace

// Run by run the archive and the store get the same bytes and each run's history continues
// the one before it; a history an older program stored is read, deflated anew once and
// continued from then on.
TEST_F(JoinedRunTest, ArchivesAndStoreShareOneContinuedStream) {
    Ini({"[Job]", "dir:\"" + (dir / "src") + "\"", "to:\"Data\"", "zip:\"" + (dir / "archives") + "\""});
    std::vector<unsigned char> previous;
    for (int run = 1; run <= 5; ++run) {
        Put("src/f" + std::to_string(run) + ".txt", std::string(static_cast<std::size_t>(run) * 700, 'a'));
        if (run == 4) {
            // The history as an older program left it: deflated in one go, nothing beside it.
            const std::string history = StoreEntry("Job\\Data.tq");
            ZipArchiveFile zip;
            zip.Open(program + "/FileLists.tq", ZipOpenExisting);
            zip.DeleteEntries({zip.FindEntry("Job\\Data.tq", false), zip.FindEntry("Job\\Data.end", false)});
            ziptest::AddEntry(zip, "Job\\Data.tq", history, 9);
            zip.Close();
        }
        ASSERT_EQ(Run(), BackupEngine::RunOutcome::Succeeded) << "run " << run;
        const std::string archive = dir / ("archives/Job" + (run == 1 ? std::string() : std::to_string(run)) + ".TQBak");
        const std::vector<unsigned char> history = Raw(archive, "Data.tq");
        EXPECT_EQ(Raw(program + "/FileLists.tq", "Job\\Data.tq"), history) << "run " << run;
        ASSERT_TRUE(EndsJoinable(history));
        const bool continued = previous.size() > 2 && history.size() > previous.size() &&
                               std::equal(previous.begin(), previous.end() - 2, history.begin());
        EXPECT_EQ(continued, run > 1 && run != 4) << "run " << run;
        previous = history;
    }
    EXPECT_EQ(backuptest::HistoryRecords(StoreEntry("Job\\Data.tq")).size(), 5u);
}

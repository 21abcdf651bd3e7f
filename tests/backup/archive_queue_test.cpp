// SPDX-License-Identifier: GPL-3.0-or-later
// Entries written through the archive queue: files deflated block by block on the pool join
// into streams that decode to the files, stored when deflating does not make them smaller,
// as our reader and the independent readers see them.
#include <gtest/gtest.h>

#include <cstring>

#include "backup/archive_queue.h"
#include "tests/backup/run_fixture.h"

using namespace halvex;
using namespace halvex::backuptest;
using halvex::test::TempFolder;

namespace {

// Adds `data` as the file `name`, block by block, as the run's walk does.
void QueueFile(ArchiveQueue& queue, const std::string& name, const std::string& data) {
    ArchiveQueue::Entry entry;
    entry.header = ziptest::Named(name);
    queue.MakeRoom();
    queue.BeginFile(std::move(entry));
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(data.size() - at, queue.BlockSize());
        queue.MakeRoom();
        std::memcpy(queue.BlockBuffer(), data.data() + at, n);
        at += n;
        queue.AddBlock(n, at == data.size());
    } while (at < data.size());
}

// The compressed size of `data` deflated at level 9 as one stream by one thread.
std::uint32_t OneStreamSize(const TempFolder& dir, const std::string& data) {
    ZipArchiveFile zip;
    zip.Open(dir / "one-stream.zip", ZipCreate);
    ziptest::AddEntry(zip, "x", data, 9);
    ZipEntryHeader header;
    zip.GetEntryInfo(header, 0);
    zip.Close();
    return header.compressedSize;
}

}  // namespace

TEST(ArchiveQueue, JoinedBlocksDecodeToTheFilesAndWhatDoesNotShrinkIsStored) {
    // Blocks smaller than the deflate window (the dictionary then reaches over several of
    // them), and larger; few blocks in flight, more threads than processors.
    for (const std::size_t block : {std::size_t{10000}, std::size_t{65536}}) {
        SCOPED_TRACE(block);
        const struct {
            const char* name;
            std::string data;
            int method;
            bool likeOneStream;  // within 1% of one stream's size
        } cases[] = {
            {"empty", "", 0, false},
            {"one byte", "x", 0, false},
            {"exactly one block", ziptest::TextBytes(block), 8, true},
            {"one block and a byte", ziptest::TextBytes(block + 1), 8, false},
            {"many blocks", ziptest::TextBytes(block * 9 + block / 2), 8, true},
            {"a run across the boundaries", ziptest::TextBytes(block - 7) + std::string(3 * block, 'z') + "end", 8, false},
            {"random", ziptest::RandomBytes(block * 4 + 3, 11), 0, false},
            {"random, one block", ziptest::RandomBytes(block / 3, 12), 0, false},
            {"text, then random", ziptest::TextBytes(block) + ziptest::RandomBytes(block * 2, 13), 8, false},
            {"random, then text", ziptest::RandomBytes(block, 14) + ziptest::TextBytes(block * 2), 0, false},
        };
        TempFolder dir;
        const std::string path = dir / "queued.zip";
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        ParallelDeflate::Settings settings;
        settings.threads = 3;
        settings.blockSize = block;
        settings.blocksInFlight = 3;
        std::vector<std::string> leftOut;
        {
            ArchiveQueue queue(zip, settings, [&](const ArchiveQueue::Entry& e, bool) { leftOut.push_back(e.sourcePath); });
            for (const auto& c : cases) QueueFile(queue, c.name, c.data);
            queue.Flush();
        }
        zip.Close();
        EXPECT_TRUE(leftOut.empty());

        ZipArchiveFile reader;
        reader.Open(path, ZipOpenReadOnly);
        ASSERT_EQ(reader.GetEntryCount(), std::size(cases));
        for (int i = 0; i < reader.GetEntryCount(); ++i) {
            const auto& c = cases[i];
            ZipEntryHeader header;
            reader.GetEntryInfo(header, i);
            EXPECT_EQ(header.fileName, c.name);
            EXPECT_EQ(header.method, c.method) << c.name;
            EXPECT_TRUE(ziptest::ReadWhole(reader, i) == c.data) << c.name;
            if (c.method == 0) {
                EXPECT_EQ(header.compressedSize, c.data.size()) << c.name;
            }
            // Priming each block with the one before costs almost nothing against one stream.
            if (c.likeOneStream) {
                EXPECT_LE(header.compressedSize, OneStreamSize(dir, c.data) * 1.01) << c.name;
            }
        }
        reader.Close();
        ExpectReadersAccept(path);
    }
}

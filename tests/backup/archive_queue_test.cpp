// SPDX-License-Identifier: GPL-3.0-or-later
// Entries written through the archive queue: files deflated block by block on the pool join
// into streams that decode to the files, stored when deflating does not make them smaller,
// as our reader and the independent readers see them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

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
        const std::size_t n = data.size() <= queue.WholeSize() ? data.size() : std::min(data.size() - at, queue.BlockSize());
        queue.MakeRoom(n);
        std::memcpy(queue.BlockBuffer(n), data.data() + at, n);
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

// Writes a new archive at `path` through a queue with `settings`, `queueOne` queueing file i
// of `count`; the source paths of the files the queue left out.
std::vector<std::string> WriteQueued(const std::string& path, const ParallelDeflate::Settings& settings,
                                     std::size_t count, const std::function<void(ArchiveQueue&, std::size_t)>& queueOne) {
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    std::vector<std::string> leftOut;
    {
        ArchiveQueue queue(zip, settings, [&](const ArchiveQueue::Entry& e, bool) { leftOut.push_back(e.sourcePath); });
        for (std::size_t i = 0; i < count; ++i) queueOne(queue, i);
        queue.Flush();
    }
    zip.Close();
    return leftOut;
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
            double likeOneStream;  // at most this times one zlib stream's size (0: not checked)
        } cases[] = {
            // A whole block goes through the other compressor: about as small, not smaller
            // on every input.
            {"empty", "", 0, 0},
            {"one byte", "x", 0, 0},
            {"exactly one block", ziptest::TextBytes(block), 8, 1.02},
            {"one block and a byte", ziptest::TextBytes(block + 1), 8, 0},
            {"many blocks", ziptest::TextBytes(block * 9 + block / 2), 8, 1.01},
            {"a run across the boundaries", ziptest::TextBytes(block - 7) + std::string(3 * block, 'z') + "end", 8, 0},
            {"random", ziptest::RandomBytes(block * 4 + 3, 11), 0, 0},
            {"random, one block", ziptest::RandomBytes(block / 3, 12), 0, 0},
            {"text, then random", ziptest::TextBytes(block) + ziptest::RandomBytes(block * 2, 13), 8, 0},
            {"random, then text", ziptest::RandomBytes(block, 14) + ziptest::TextBytes(block * 2), 0, 0},
        };
        TempFolder dir;
        const std::string path = dir / "queued.zip";
        ParallelDeflate::Settings settings;
        settings.threads = 3;
        settings.blockSize = block;
        settings.blocksInFlight = 3;
        EXPECT_TRUE(WriteQueued(path, settings, std::size(cases), [&](ArchiveQueue& queue, std::size_t i) {
                        QueueFile(queue, cases[i].name, cases[i].data);
                    }).empty());

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
            if (c.likeOneStream > 0) {
                EXPECT_LE(header.compressedSize, OneStreamSize(dir, c.data) * c.likeOneStream) << c.name;
            }
        }
        reader.Close();
        ExpectReadersAccept(path);
    }
}

TEST(ArchiveQueue, WholeFilesAndLevelsAroundTheBufferSize) {
    // A file up to the whole size is deflated whole (a larger one than a block only when its
    // first block's worth shrinks), a larger one joined from blocks; either way the entry
    // carries its level's option bits and decodes everywhere.
    const std::size_t block = CopyChunkSize;
    const std::string text = ziptest::TextBytes(block + 1);
    const std::string longer = ziptest::TextBytes(2 * block + 1);
    const struct {
        int level;
        std::string data;
        int method;
        int optionBits;  // general-purpose bits 1-2
    } cases[] = {
        {9, text.substr(0, 1), 0, 0},
        {9, text.substr(0, 1000), 8, 2},
        {9, text.substr(0, block - 1), 8, 2},
        {9, text.substr(0, block), 8, 2},
        {9, text, 8, 2},
        {9, ziptest::RandomBytes(block, 21), 0, 0},
        {8, text.substr(0, block), 8, 2},
        {6, text.substr(0, block), 8, 0},
        {6, text, 8, 0},
        {2, text.substr(0, block), 8, 4},
        {1, text.substr(0, block), 8, 6},
        {1, text, 8, 6},
        {0, text.substr(0, block), 0, 0},
        {0, text, 0, 0},
        {9, longer.substr(0, 2 * block), 8, 2},
        {9, longer, 8, 2},
        {1, longer, 8, 6},
        {9, ziptest::RandomBytes(2 * block, 22), 0, 0},
        {9, ziptest::RandomBytes(block, 23) + text, 0, 0},
        {9, text.substr(0, block) + ziptest::RandomBytes(block, 24), 8, 2},
    };
    TempFolder dir;
    const std::string path = dir / "levels.zip";
    ParallelDeflate::Settings settings;
    settings.threads = 2;
    settings.blockSize = block;
    settings.wholeSize = 2 * block;
    EXPECT_TRUE(WriteQueued(path, settings, std::size(cases), [&](ArchiveQueue& queue, std::size_t i) {
                    queue.SetLevel(cases[i].level);
                    QueueFile(queue, std::to_string(i), cases[i].data);
                }).empty());

    ZipArchiveFile reader;
    reader.Open(path, ZipOpenReadOnly);
    ASSERT_EQ(reader.GetEntryCount(), std::size(cases));
    std::map<int, std::uint64_t> wholeSizeByLevel;  // of the block-sized text
    for (int i = 0; i < reader.GetEntryCount(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(testing::Message() << "level " << c.level << ", " << c.data.size() << " bytes");
        ZipEntryHeader header;
        reader.GetEntryInfo(header, i);
        EXPECT_EQ(header.method, c.method);
        EXPECT_EQ(header.flags & 6, c.optionBits);
        EXPECT_TRUE(ziptest::ReadWhole(reader, i) == c.data);
        if (c.method == 8 && c.data.size() == block) wholeSizeByLevel[c.level] = header.compressedSize;
    }
    reader.Close();
    // The level reaches the compressor, not only the flags.
    EXPECT_GT(wholeSizeByLevel[1], wholeSizeByLevel[6]);
    EXPECT_GT(wholeSizeByLevel[6], wholeSizeByLevel[9]);
    ExpectReadersAccept(path);
}

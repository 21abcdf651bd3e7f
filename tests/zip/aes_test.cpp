// SPDX-License-Identifier: GPL-3.0-or-later
// AES-encrypted entries: known answers, round trips through every way of writing, other
// tools reading ours and we theirs, and wrong passwords told apart from damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

#include "tests/zip/zip_test_support.h"
#include "zip/parallel_deflate.h"
#include "zip/zip_aes.h"

namespace halvex {
namespace {

using namespace ziptest;
using test::TempFolder;

std::vector<unsigned char> Hex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string HexOf(const unsigned char* data, std::size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

TEST(AesKnownAnswers, Pbkdf2Sha1MatchesRfc6070) {
    struct Case {
        std::string password, salt;
        int iterations;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> out(c.expected.size() / 2);
        Pbkdf2Sha1(c.password, std::span(reinterpret_cast<const unsigned char*>(c.salt.data()), c.salt.size()),
                   c.iterations, out);
        EXPECT_EQ(HexOf(out.data(), out.size()), c.expected) << c.password << " " << c.iterations;
    }
}

// An entry 7-Zip encrypted (AES-256, stored): its keys, counter blocks and code must agree
// with ours whatever the pieces the data arrives in.
TEST(AesKnownAnswers, CounterModeAndCodeMatchAnotherTool) {
    const auto salt = Hex("55bdaf67ee5a906edcffdbe735a93e59");
    const std::string plain = "Halvex known answer: 40 bytes of text!!\n";
    const auto cipher = Hex("6a46053caf4f7e77f8d7d26f62f0865073683679c7e243f106589ec7d6edd910d7149f0201139ea9");
    for (std::size_t piece : {1u, 7u, 16u, 40u}) {
        AesEntryCipher aes("Secret1", salt, 3);
        EXPECT_EQ(HexOf(aes.Verifier().data(), 2), "8477");
        std::vector<unsigned char> data = cipher;
        for (std::size_t at = 0; at < data.size(); at += piece)
            aes.Decrypt(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(std::string(data.begin(), data.end()), plain) << piece;
        EXPECT_EQ(HexOf(aes.FinishMac().data(), kAesMacLength), "3aca96f690bd7930e7f1") << piece;

        AesEntryCipher again("Secret1", salt, 3);
        std::vector<unsigned char> back(plain.begin(), plain.end());
        for (std::size_t at = 0; at < back.size(); at += piece)
            again.Encrypt(back.data() + at, std::min(piece, back.size() - at));
        EXPECT_EQ(back, cipher) << piece;
    }
}

class Aes : public ::testing::Test {
protected:
    TempFolder dir;
    const std::string password = "correct horse battery";
    const std::vector<std::pair<std::string, std::string>> contents = {
        {"empty.txt", ""},
        {"one.txt", "x"},
        {"sub\\text.txt", TextBytes(300000)},
        {"noise.bin", RandomBytes(70000, 3)},
    };

    void WriteAll(ZipArchiveFile& zip, int level) {
        zip.SetPassword(password);
        for (const auto& [name, data] : contents) AddEntry(zip, name, data, level);
        ZipEntryHeader folder = Named("sub\\");
        folder.externalAttributes = kZipAttrDirectory;
        ASSERT_TRUE(zip.OpenNewEntry(folder, level));
        ASSERT_TRUE(zip.CloseNewEntry());
    }

    void ExpectAll(const std::string& path, const std::string& withPassword = {}) {
        ZipArchiveFile zip;
        zip.SetPassword(withPassword.empty() ? password : withPassword);
        zip.Open(path, ZipOpenReadOnly);
        for (const auto& [name, data] : contents) {
            const int index = zip.FindEntry(name, true);
            ASSERT_GE(index, 0) << name;
            EXPECT_TRUE(zip.IsAesEntry(index)) << name;
            int result = 0;
            EXPECT_EQ(ReadWhole(zip, index, &result), data) << name;
            EXPECT_EQ(result, 1) << name;
        }
        const int folder = zip.FindEntry("sub\\", true);
        ASSERT_GE(folder, 0);
        EXPECT_FALSE(zip.IsAesEntry(folder));
    }

    void ExpectSevenZipReads(const std::string& path) {
        if (!test::HasTool("7z")) return;
        auto t = test::RunCommand({"7z", "t", "-p" + password, path});
        EXPECT_EQ(t.exitCode, 0) << t.output << t.errors;
        auto x = test::RunCommand({"7z", "x", "-y", "-p" + password, "-o" + (dir / "7z"), path});
        ASSERT_EQ(x.exitCode, 0) << x.output << x.errors;
        for (const auto& [name, data] : contents) {
            std::string file = name;
            std::replace(file.begin(), file.end(), '\\', '/');
            EXPECT_EQ(test::ReadFile(dir / ("7z/" + file)), data) << name;
        }
        test::RemoveTree(dir / "7z");
    }

    // As the backup writes files: keyed, deflated and (when one block) encrypted on the pool.
    // Answers how many entries came encrypted from the pool.
    std::size_t WriteThroughPool(ZipArchiveFile& zip, std::size_t blockSize) {
        zip.SetPassword(password);
        ParallelDeflate::Settings settings;
        settings.threads = 2;
        settings.blockSize = blockSize;
        settings.blocksInFlight = 3;
        ParallelDeflate pool(settings);
        pool.SetPassword(password);
        std::size_t written = 0, encrypted = 0;
        const auto drain = [&] {
            ParallelDeflate::Piece piece;
            while (pool.Take(piece, true)) {
                const std::string& name = contents[written].first;
                switch (piece.kind) {
                    case ParallelDeflate::Piece::Kind::Method:
                        ASSERT_NE(piece.aes, nullptr) << name;
                        ASSERT_TRUE(zip.OpenPrecompressedEntry(Named(name), piece.stored ? 0 : 9, piece.aes));
                        break;
                    case ParallelDeflate::Piece::Kind::Data:
                        ASSERT_TRUE(zip.WritePrecompressedData(piece.data, piece.size, piece.originalSize, piece.encrypted));
                        break;
                    case ParallelDeflate::Piece::Kind::End:
                        ASSERT_TRUE(zip.ClosePrecompressedEntry(piece.crc, piece.encrypted ? &piece.mac : nullptr));
                        ++written;
                        encrypted += piece.encrypted;
                        break;
                    default: FAIL() << name << " failed";
                }
            }
        };
        for (const auto& [name, data] : contents) {
            pool.BeginEntry(9);
            std::size_t at = 0;
            do {
                while (!pool.HasFreeBlock()) drain();
                const std::size_t n = std::min(data.size() - at, blockSize);
                std::copy_n(data.data() + at, n, pool.NextBlockBuffer());
                at += n;
                pool.AddBlock(n, at == data.size());
            } while (at < data.size());
        }
        drain();
        EXPECT_EQ(written, contents.size());
        ZipEntryHeader folder = Named("sub\\");
        folder.externalAttributes = kZipAttrDirectory;
        EXPECT_TRUE(zip.OpenNewEntry(folder, 0) && zip.CloseNewEntry());
        return encrypted;
    }
};

TEST_F(Aes, EveryWayOfWritingReadsBackHereAndInOtherTools) {
    struct Case {
        const char* what;
        int level;
        bool zip64;
        bool precompressed;
        bool span;
        std::size_t poolBlock = 0;  // written through the pool in blocks of this size
        std::size_t onPool = 0;     // of which this many entries are encrypted there
    };
    const std::vector<Case> cases = {
        {"stored", 0, false, false, false},     {"deflated", 9, false, false, false},
        {"zip64", 6, true, false, false},       {"precompressed", 0, false, true, false},
        {"precompressed deflate", 6, false, true, false}, {"split volumes", 9, false, false, true},
        // Every entry one block, encrypted on the pool; then larger ones joined from blocks,
        // encrypted by the archive with the pool's keys.
        {"pool, whole", 9, false, true, false, 1 << 20, 4}, {"pool, blocks", 9, false, true, false, 65536, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / (std::string(c.what) + ".zip");
        ZipArchiveFile zip;
        zip.Open(path, c.span ? ZipCreateSpan : ZipCreate, c.span ? 65536 : 0);
        if (c.zip64) {
            ZipLimits limits;
            limits.classicMaxValue = 1000;
            limits.localZip64From = 0;
            zip.SetLimits(limits);
        }
        if (c.poolBlock > 0) {
            EXPECT_EQ(WriteThroughPool(zip, c.poolBlock), c.onPool);
        } else if (c.precompressed) {
            zip.SetPassword(password);
            for (const auto& [name, data] : contents) {
                std::string packed = data;
                if (c.level > 0) {
                    z_stream z{};
                    ASSERT_EQ(deflateInit2(&z, c.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
                    packed.resize(deflateBound(&z, data.size()));
                    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
                    z.avail_in = static_cast<uInt>(data.size());
                    z.next_out = reinterpret_cast<Bytef*>(packed.data());
                    z.avail_out = static_cast<uInt>(packed.size());
                    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
                    packed.resize(z.total_out);
                    deflateEnd(&z);
                }
                ASSERT_TRUE(zip.OpenPrecompressedEntry(Named(name), c.level));
                const std::size_t half = packed.size() / 2;
                ASSERT_TRUE(zip.WritePrecompressedData(packed.data(), half, data.size() / 2));
                ASSERT_TRUE(zip.WritePrecompressedData(packed.data() + half, packed.size() - half,
                                                       data.size() - data.size() / 2));
                const auto crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
                ASSERT_TRUE(zip.ClosePrecompressedEntry(static_cast<std::uint32_t>(crc)));
            }
            ZipEntryHeader folder = Named("sub\\");
            folder.externalAttributes = kZipAttrDirectory;
            ASSERT_TRUE(zip.OpenNewEntry(folder, 0) && zip.CloseNewEntry());
        } else {
            WriteAll(zip, c.level);
        }
        zip.Close();
        ExpectAll(path);
        ZipArchiveFile check;
        check.Open(path, ZipOpenReadOnly);
        ZipEntryHeader h;
        ASSERT_TRUE(check.GetEntryInfo(h, check.FindEntry("noise.bin", true)));
        EXPECT_EQ(h.method, kAesMethod);
        EXPECT_EQ(h.crc32, 0u);
        EXPECT_TRUE(h.IsEncrypted());
        EXPECT_EQ(h.versionNeeded, kAesVersionNeeded);
        check.Close();
        if (!c.span) ExpectSevenZipReads(path);
    }
}

TEST_F(Aes, ArchivesOfAnotherToolReadForEveryKeySize) {
    if (!test::HasTool("7z")) GTEST_SKIP() << "7z not installed";
    test::MakeFolders(dir / "src/sub");
    for (const auto& [name, data] : contents) {
        std::string file = name;
        std::replace(file.begin(), file.end(), '\\', '/');
        test::WriteFile(dir / ("src/" + file), data);
    }
    for (const char* method : {"AES128", "AES192", "AES256"}) {
        for (const char* level : {"-mx0", "-mx9"}) {
            SCOPED_TRACE(std::string(method) + level);
            const std::string path = dir / (std::string(method) + level + ".zip");
            auto r = test::RunCommand({"7z", "a", "-tzip", std::string("-mem=") + method, level, "-p" + password,
                                       path, "empty.txt", "one.txt", "sub", "noise.bin"},
                                      {}, dir / "src");
            ASSERT_EQ(r.exitCode, 0) << r.output << r.errors;
            ExpectAll(path);
        }
    }
}

// Wrong or missing passwords are told as such; any change to the data is damage.
TEST_F(Aes, WrongPasswordIsToldApartFromDamage) {
    const std::string path = dir / "a.zip";
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        WriteAll(zip, 0);
        zip.Close();
    }
    const std::string good = Bytes(path);
    ZipArchiveFile probe;
    probe.Open(path, ZipOpenReadOnly);
    ZipEntryHeader h;
    ASSERT_TRUE(probe.GetEntryInfo(h, probe.FindEntry("noise.bin", true)));
    probe.Close();
    const std::size_t data = h.localHeaderOffset + 30 + h.fileName.size() + 11;  // salt first
    const std::size_t size = h.compressedSize;
    auto flipped = [&](std::size_t at) {
        std::string b = good;
        b[at] = static_cast<char>(b[at] ^ 0x20);
        return b;
    };
    auto shortened = [&] {  // both headers declare the entry 5 bytes shorter than it is
        std::string b = good;
        Put32(b, h.localHeaderOffset + 18, static_cast<std::uint32_t>(size - 5));
        const std::size_t central = b.find("noise.bin", data + size) - 46;
        Put32(b, central + 20, static_cast<std::uint32_t>(size - 5));
        return b;
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::string password;
        ZipCode expected;
        bool whole = true;  // without an error: read to its declared end
    };
    const std::vector<Case> cases = {
        {"right password", good, password, 0},
        {"wrong password", good, "Correct horse battery", kZipBadPassword},
        {"no password", good, "", kZipNoPassword},
        {"verifier changed", flipped(data + 16), password, kZipBadPassword},
        {"data changed", flipped(data + 18 + 1000), password, kZipBadCrc},
        {"code changed", flipped(data + size - 1), password, kZipBadCrc},
        // Stored data that runs out before its declared size is reported short, as ever.
        {"entry cut short", shortened(), password, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFile(dir / "b.zip", c.bytes);
        ZipArchiveFile zip;
        zip.SetPassword(c.password);
        zip.Open(dir / "b.zip", ZipOpenReadOnly);
        const int index = zip.FindEntry("noise.bin", true);
        EXPECT_EQ(zip.CheckPassword(index), c.expected != kZipBadPassword && c.expected != kZipNoPassword);
        int result = 0;
        EXPECT_EQ(ZipErrorOf([&] { ReadWhole(zip, index, &result); }), c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(result, c.whole ? 1 : -1);
        }
        // Extraction writes nothing for any failure.
        const bool extracted = [&] {
            try {
                return zip.ExtractEntry(index, dir / "out");
            } catch (const CZipException&) {
                return false;
            }
        }();
        EXPECT_EQ(extracted, c.expected == 0 && c.whole);
        EXPECT_EQ(std::filesystem::exists(dir / "out/noise.bin"), c.expected == 0 && c.whole);
        test::RemoveTree(dir / "out");
    }
}

}  // namespace
}  // namespace halvex

namespace halvex {
namespace {

// Keys are derived ahead for entries near the one read: whatever the order of reading and
// however the password changes between entries, each entry reads back whole or is refused.
TEST_F(Aes, ManyEntriesReadInAnyOrderWithPasswordChanges) {
    const std::string path = dir / "many.zip";
    constexpr int kEntries = 150;
    {
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        zip.SetPassword(password);
        for (int i = 0; i < kEntries; ++i) AddEntry(zip, std::to_string(i) + ".bin", RandomBytes(100 + i, i), i % 2 ? 6 : 0);
        zip.Close();
    }
    std::vector<int> forward(kEntries);
    std::iota(forward.begin(), forward.end(), 0);
    std::vector<int> backward(forward.rbegin(), forward.rend());
    std::vector<int> shuffled = forward;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    struct Case {
        const char* what;
        std::vector<int> order;
        int wrongAt;  // the step read with a wrong password (-1: none)
    };
    const std::vector<Case> cases = {
        {"in order", forward, -1},
        {"backwards", backward, 40},
        {"shuffled", shuffled, 75},
        {"in order, wrong password on the way", forward, 3},
    };
    const std::string wrongPassword = "not the password";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ZipArchiveFile zip;
        zip.SetPassword(password);
        zip.Open(path, ZipOpenReadOnly);
        for (std::size_t step = 0; step < c.order.size(); ++step) {
            const int i = c.order[step];
            const int index = zip.FindEntry(std::to_string(i) + ".bin", true);
            ASSERT_GE(index, 0);
            const bool wrong = static_cast<int>(step) == c.wrongAt;
            zip.SetPassword(wrong ? wrongPassword : password);
            int result = 0;
            std::string read;
            EXPECT_EQ(ZipErrorOf([&] { read = ReadWhole(zip, index, &result); }), wrong ? ZipCode{kZipBadPassword} : ZipCode{0}) << i;
            if (!wrong) {
                EXPECT_EQ(read, RandomBytes(100 + i, i)) << i;
                EXPECT_EQ(result, 1) << i;
            }
        }
    }
}

}  // namespace
}  // namespace halvex

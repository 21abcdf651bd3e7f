// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged and hostile archives: every condition raises its documented code or answers false,
// and never delivers more than an entry declares.
#include <gtest/gtest.h>

#include "platform/file_error.h"
#include "tests/zip/zip_test_support.h"

using namespace halvex;
using namespace halvex::ziptest;
using halvex::test::TempFolder;

namespace {

// Positions inside an archive written without comment.
struct Layout {
    std::size_t end = 0;                 // end record
    std::size_t directory = 0;           // first central record
    std::vector<std::size_t> central;    // central record of each entry
    std::vector<std::size_t> local;      // local header of each entry
    std::vector<std::size_t> data;       // data of each entry
};

Layout LayoutOf(const std::string& b) {
    Layout l;
    l.end = b.size() - 22;
    l.directory = U32(b, l.end + 16);
    std::size_t at = l.directory;
    for (int i = 0; i < U16(b, l.end + 10); ++i) {
        l.central.push_back(at);
        std::size_t local = U32(b, at + 42);
        l.local.push_back(local);
        l.data.push_back(local + 30 + U16(b, local + 26) + U16(b, local + 28));
        at += 46 + U16(b, at + 28) + U16(b, at + 30) + U16(b, at + 32);
    }
    return l;
}

class Damage : public ::testing::Test {
protected:
    void SetUp() override {
        text_ = TextBytes(60000);
        stored_ = RandomBytes(2000, 4);
        ZipArchiveFile zip;
        zip.Open(dir_ / "good.zip", ZipCreate);
        AddEntry(zip, "a.txt", text_, 9);
        AddEntry(zip, "b.bin", stored_, 0);
        zip.Close();
        good_ = Bytes(dir_ / "good.zip");
        layout_ = LayoutOf(good_);
    }

    // Writes `bytes` and answers the code of opening them (0 when the open succeeds).
    ZipCode OpenCode(const std::string& bytes) {
        test::WriteFile(dir_ / "bad.zip", bytes);
        zip_.Close(true);
        ZipCode code = ZipErrorOf([&] { zip_.Open(dir_ / "bad.zip", ZipOpenReadOnly); });
        if (code != 0) {
            EXPECT_TRUE(zip_.IsClosed());  // a failed open leaves nothing open
        }
        return code;
    }
    // Opens `bytes` (must succeed) and answers the code of opening entry `index`; -1 when
    // OpenEntry answered false, 0 when it opened.
    ZipCode OpenEntryCode(const std::string& bytes, int index) {
        EXPECT_EQ(OpenCode(bytes), 0);
        int result = 0;
        ZipCode code = ZipErrorOf([&] { result = zip_.OpenEntry(index) ? 0 : -1; });
        if (code == 0 && result == 0) zip_.AbandonEntry();
        return code != 0 ? code : ZipCode(result);
    }
    // Changes both the local and the central copy of a 16-bit field of entry `index`.
    std::string WithBoth16(int index, std::size_t localAt, std::size_t centralAt, std::uint16_t v) {
        std::string b = good_;
        Put16(b, layout_.local[index] + localAt, v);
        Put16(b, layout_.central[index] + centralAt, v);
        return b;
    }
    std::string WithBoth32(int index, std::size_t localAt, std::size_t centralAt, std::uint32_t v) {
        std::string b = good_;
        Put32(b, layout_.local[index] + localAt, v);
        Put32(b, layout_.central[index] + centralAt, v);
        return b;
    }

    TempFolder dir_;
    std::string text_, stored_, good_;
    Layout layout_;
    ZipArchiveFile zip_;
};

}  // namespace

TEST_F(Damage, EndRecordConditions) {
    EXPECT_EQ(OpenCode(good_), 0);
    EXPECT_EQ(OpenCode(good_.substr(0, good_.size() - 1)), kZipDamaged);   // cut inside the record
    EXPECT_EQ(OpenCode(good_.substr(0, layout_.end)), kZipNoEndRecord);    // record cut off
    EXPECT_EQ(OpenCode(""), kZipNoEndRecord);
    EXPECT_EQ(OpenCode("PK\x05"), kZipNoEndRecord);
    EXPECT_EQ(OpenCode(std::string(500, 'x') + "PK\x05\x06"), kZipDamaged);  // signature, no record
    // Trailing bytes: 65,535 are still comment space, one more is beyond the search.
    EXPECT_EQ(OpenCode(good_ + std::string(65535, 'T')), 0);
    EXPECT_EQ(OpenCode(good_ + std::string(65536, 'T')), kZipNoEndRecord);
    // A declared comment longer than what follows the record.
    std::string b = good_;
    Put16(b, layout_.end + 20, 10);
    EXPECT_EQ(OpenCode(b + "short"), kZipDamaged);
    EXPECT_EQ(OpenCode(b + "0123456789"), 0);
}

TEST_F(Damage, EndRecordInconsistentWithTheDirectory) {
    std::string b = good_;
    Put32(b, layout_.end + 16, static_cast<std::uint32_t>(layout_.end));  // offset + size beyond the record
    EXPECT_EQ(OpenCode(b), kZipDamaged);
    b = good_;
    Put32(b, layout_.end + 12, 0);  // no directory, but two entries
    EXPECT_EQ(OpenCode(b), kZipDamaged);
    b = good_;
    Put16(b, layout_.end + 10, 0);  // no entries, but a directory
    EXPECT_EQ(OpenCode(b), kZipDamaged);
    b = good_;
    Put16(b, layout_.end + 10, 3);  // one more entry than the directory holds
    EXPECT_EQ(OpenCode(b), kZipDamaged);
    b = good_;
    Put16(b, layout_.end + 4, 1);  // the last of two parts, the first one missing
    EXPECT_THROW(OpenCode(b), platform::FileError);
    b = good_;
    Put16(b, layout_.end + 6, 2);  // directory on a later volume than the end record
    EXPECT_EQ(OpenCode(b), kZipDamaged);
}

TEST_F(Damage, HugeCountsInTinyFilesAreRefusedAtOnce) {
    // 65,535 entries claimed in a 100-byte file: refused from the sizes, nothing allocated for it.
    std::string b(78, '\0');
    b += "PK\x05\x06";
    b += std::string(4, '\0');
    std::string counts(4, '\0');
    Put16(counts, 0, 0xFFFF);
    Put16(counts, 2, 0xFFFF);
    b += counts;
    std::string sizes(8, '\0');
    Put32(sizes, 0, 78);  // directory of 78 bytes at offset 0
    b += sizes + std::string(2, '\0');
    ASSERT_EQ(b.size(), 100u);
    EXPECT_EQ(OpenCode(b), kZipDamaged);
}

TEST_F(Damage, CentralRecordConditions) {
    std::string b = good_;
    b[layout_.central[1]] = 'Q';  // wrong central signature
    EXPECT_EQ(OpenCode(b), kZipDamaged);
    b = good_;
    Put16(b, layout_.central[1] + 28, 200);  // name runs past the directory
    EXPECT_EQ(OpenCode(b), kZipDamaged);
}

TEST_F(Damage, LocalHeaderDisagreementsRefuseTheEntryNotTheArchive) {
    std::string b = good_;
    b[layout_.local[0]] = 'Q';
    EXPECT_EQ(OpenEntryCode(b, 0), kZipDamaged);
    EXPECT_EQ(ReadWhole(zip_, 1), stored_);  // the other entry still reads
    b = good_;
    Put16(b, layout_.local[0] + 6, 0);  // flags differ
    EXPECT_EQ(OpenEntryCode(b, 0), kZipDamaged);
    b = good_;
    Put16(b, layout_.local[0] + 8, 0);  // method differs
    EXPECT_EQ(OpenEntryCode(b, 0), kZipDamaged);
    b = good_;
    Put16(b, layout_.local[0] + 26, 4);  // name length differs
    EXPECT_EQ(OpenEntryCode(b, 0), kZipDamaged);
    for (std::size_t field : {14u, 18u, 22u}) {  // CRC, compressed and uncompressed size
        b = good_;
        Put32(b, layout_.local[0] + field, U32(b, layout_.local[0] + field) + 1);
        EXPECT_EQ(OpenEntryCode(b, 0), kZipDamaged) << field;
    }
    b = good_;
    Put32(b, layout_.central[1] + 42, 0x7FFFFFF0);  // local header beyond the file
    EXPECT_EQ(OpenEntryCode(b, 1), kZipDamaged);
    b = good_;
    Put16(b, layout_.local[1] + 28, 0xFFFF);  // local extra field runs past the file
    EXPECT_EQ(OpenEntryCode(b, 1), kZipDamaged);
    // Data declared longer than what lies before the directory.
    EXPECT_EQ(OpenEntryCode(WithBoth32(1, 18, 20, 1 << 20), 1), kZipDamaged);
}

TEST_F(Damage, UnknownMethodsAndEncryption) {
    EXPECT_EQ(OpenEntryCode(WithBoth16(0, 8, 10, 12), 0), kZipDamaged);  // bzip2
    EXPECT_EQ(OpenEntryCode(WithBoth16(0, 8, 10, 99), 0), kZipDamaged);  // AES
    // The encrypted flag in both headers: refused without an exception.
    std::uint16_t flags = U16(good_, layout_.local[0] + 6) | 1;
    EXPECT_EQ(OpenEntryCode(WithBoth16(0, 6, 8, flags), 0), -1);
    EXPECT_EQ(ReadWhole(zip_, 1), stored_);  // nothing left open
}

TEST_F(Damage, CrcMismatchRaises11AfterAFullReadOnly) {
    std::string b = WithBoth32(0, 14, 16, U32(good_, layout_.local[0] + 14) ^ 1);
    ASSERT_EQ(OpenCode(b), 0);
    ASSERT_TRUE(zip_.OpenEntry(0));
    std::string out(text_.size() + 10, '\0');
    EXPECT_EQ(zip_.ReadEntry(out.data(), out.size()), text_.size());
    EXPECT_EQ(ZipErrorOf([&] { static_cast<void>(zip_.CloseEntry()); }), kZipBadCrc);
    EXPECT_EQ(zip_.CloseEntry(), CloseEntryResult::NothingOpen);  // already released
    // A partial read is not checked: -1, no exception.
    ASSERT_TRUE(zip_.OpenEntry(0));
    EXPECT_EQ(zip_.ReadEntry(out.data(), 100), 100u);
    EXPECT_EQ(zip_.CloseEntry(), CloseEntryResult::Short);
    // Stored entry too.
    b = WithBoth32(1, 14, 16, 0);
    ASSERT_EQ(OpenCode(b), 0);
    EXPECT_EQ(ZipErrorOf([&] { ReadWhole(zip_, 1); }), kZipBadCrc);
}

TEST_F(Damage, FlippedDeflateByteIsAnErrorOnlyWhenReached) {
    for (std::size_t at : {std::size_t{500}, std::size_t{3000}, std::size_t{7000}}) {
        SCOPED_TRACE(at);
        std::string b = good_;
        const std::size_t position = layout_.data[0] + at;
        ASSERT_LT(position, layout_.local[1]);
        b[position] = static_cast<char>(b[position] ^ 0x5A);
        ASSERT_EQ(OpenCode(b), 0);
        ASSERT_TRUE(zip_.OpenEntry(0));
        std::string out(text_.size(), '\0');
        std::size_t total = 0;
        std::optional<CloseEntryResult> result;
        ZipCode code = ZipErrorOf([&] {
            for (std::size_t n; (n = zip_.ReadEntry(out.data() + total, 1000)) > 0;) total += n;
            result = zip_.CloseEntry();
        });
        EXPECT_LE(total, text_.size());
        if (code != 0) {
            EXPECT_TRUE(code == kZipZlibDataError || code == kZipZlibBufError || code == kZipBadCrc) << code;
            zip_.AbandonEntry();
        } else {
            // A flip that ends the stream early is reported as short data, never as success.
            EXPECT_EQ(result, CloseEntryResult::Short);
            EXPECT_LT(total, text_.size());
        }
        // Reading only the first bytes (before the damage) raises nothing and closes with -1.
        ASSERT_TRUE(zip_.OpenEntry(0));
        EXPECT_EQ(zip_.ReadEntry(out.data(), 10), 10u);
        EXPECT_EQ(out.substr(0, 10), text_.substr(0, 10));
        EXPECT_EQ(zip_.CloseEntry(), CloseEntryResult::Short);
    }
}

TEST_F(Damage, DeflateDataBeyondTheDeclaredSizeIsNeverDelivered) {
    // The entry declares 1,000 bytes but its stream inflates to 60,000 (CRC of the first 1,000).
    std::string b = WithBoth32(0, 22, 24, 1000);
    std::uint32_t crcOfPrefix = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(text_.data()), 1000));
    Put32(b, layout_.local[0] + 14, crcOfPrefix);
    Put32(b, layout_.central[0] + 16, crcOfPrefix);
    for (std::size_t chunk : {std::size_t{1000}, std::size_t{65536}, std::size_t{333}}) {
        ASSERT_EQ(OpenCode(b), 0);
        ASSERT_TRUE(zip_.OpenEntry(0));
        std::string out(70000, '\0');
        std::size_t total = 0;
        ZipCode code = ZipErrorOf([&] {
            for (std::size_t n; (n = zip_.ReadEntry(out.data() + total, chunk)) > 0;) total += n;
            static_cast<void>(zip_.CloseEntry());
        });
        EXPECT_EQ(total, 1000u) << chunk;
        EXPECT_EQ(code, kZipZlibBufError) << chunk;
        zip_.AbandonEntry();
    }
}

TEST_F(Damage, DeclaredSizesLargerThanTheDataEndShort) {
    // Deflated: the stream ends before the declared size: all of it delivered, close says -1.
    std::string b = WithBoth32(0, 22, 24, static_cast<std::uint32_t>(text_.size() + 5));
    ASSERT_EQ(OpenCode(b), 0);
    int result = 0;
    EXPECT_EQ(ReadWhole(zip_, 0, &result), text_);
    EXPECT_EQ(result, -1);
    // Stored, compressed size smaller than the uncompressed: reading ends with the data.
    b = WithBoth32(1, 18, 20, 1500);
    ASSERT_EQ(OpenCode(b), 0);
    EXPECT_EQ(ReadWhole(zip_, 1, &result), stored_.substr(0, 1500));
    EXPECT_EQ(result, -1);
    // Stored, compressed size larger than the uncompressed: never more than declared.
    b = WithBoth32(1, 22, 24, 1000);
    ASSERT_EQ(OpenCode(b), 0);
    EXPECT_EQ(ZipErrorOf([&] { ReadWhole(zip_, 1, &result); }), kZipBadCrc);  // CRC of all 2,000
}

TEST_F(Damage, TruncatedDeflateStreamRaises8) {
    // Compressed size cut short: the stream runs out of input before its end.
    std::uint32_t compressed = U32(good_, layout_.local[0] + 18);
    std::string b = WithBoth32(0, 18, 20, compressed / 2);
    ASSERT_EQ(OpenCode(b), 0);
    EXPECT_EQ(ZipErrorOf([&] { ReadWhole(zip_, 0); }), kZipZlibBufError);
    zip_.AbandonEntry();
    EXPECT_EQ(ReadWhole(zip_, 1), stored_);
}

TEST(DamageDescriptor, DescriptorDisagreeingWithTheDirectoryRaises10) {
    if (!test::HasTool("python3")) GTEST_SKIP();
    TempFolder dir;
    auto r = test::RunCommand({"python3", "-c", std::string(kPythonPipe) + R"PY(
with open(sys.argv[1], "wb") as f:
    with zipfile.ZipFile(Pipe(f), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("x.txt", b"descriptor " * 300)
)PY", dir / "d.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    std::string b = Bytes(dir / "d.zip");
    std::size_t descriptor = b.find(std::string("PK\x07\x08", 4));
    ASSERT_NE(descriptor, std::string::npos);
    Put32(b, descriptor + 12, U32(b, descriptor + 12) + 1);  // uncompressed size
    test::WriteFile(dir / "d.zip", b);
    ZipArchiveFile zip;
    zip.Open(dir / "d.zip", ZipOpenReadOnly);
    EXPECT_EQ(ZipErrorOf([&] { ReadWhole(zip, 0); }), kZipDamaged);
    // A partial read does not look at the descriptor.
    ASSERT_TRUE(zip.OpenEntry(0));
    char buffer[10];
    EXPECT_EQ(zip.ReadEntry(buffer, sizeof buffer), 10u);
    EXPECT_EQ(zip.CloseEntry(), CloseEntryResult::Short);
}

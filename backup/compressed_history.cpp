// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/compressed_history.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "zip/block_deflate.h"
#include "zip/zip_bytes.h"
#include "zip/zlib_stream.h"

namespace halvex {
namespace {

// An empty stored block (the sync flush's marker) followed by an empty final fixed block.
constexpr unsigned char kJoinableEnd[] = {0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00};
constexpr std::size_t kFinalBlockSize = 2;
constexpr unsigned char kEndMagic[4] = {'H', 'X', 'E', '1'};

[[noreturn]] void DeflateFailed(int rc) {
    throw std::runtime_error("deflate failed on a history (zlib " + std::to_string(rc) + ")");
}

// Deflates `part`, primed with `dictionary`, onto the end of `out` and ends it with a sync
// flush. Input and output go through in pieces: a history runs to tens of megabytes, and a
// buffer for the whole of it beside the history itself would double the run's peak memory.
void DeflatePiece(std::span<const unsigned char> dictionary, std::span<const unsigned char> part,
                  std::vector<unsigned char>& out) {
    constexpr std::size_t kInputPiece = 1 << 20;
    constexpr std::size_t kOutputPiece = 1 << 16;
    ZlibStream stream;
    stream.StartDeflate(9, "history");
    z_stream& z = stream.Get();
    if (dictionary.size() > kDeflateWindow) dictionary = dictionary.last(kDeflateWindow);
    if (!dictionary.empty()) {
        const int rc = deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size()));
        if (rc != Z_OK) DeflateFailed(rc);
    }
    std::vector<unsigned char> buffer(kOutputPiece);
    std::size_t taken = 0;
    bool flushed = false;
    while (!flushed) {
        const std::size_t size = std::min(part.size() - taken, kInputPiece);
        flushed = taken + size == part.size();
        z.next_in = const_cast<unsigned char*>(part.data() + taken);
        z.avail_in = static_cast<uInt>(size);
        // Until zlib leaves room in the output: all input taken and, with the flush, all given out.
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<uInt>(buffer.size());
            const int rc = deflate(&z, flushed ? Z_SYNC_FLUSH : Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_BUF_ERROR) DeflateFailed(rc);
            out.insert(out.end(), buffer.data(), z.next_out);
        } while (z.avail_out == 0);
        taken += size;
    }
}

void AppendPiece(CompressedHistory& history, std::span<const unsigned char> part) {
    DeflatePiece(history.tail, part, history.deflated);
    history.deflated.insert(history.deflated.end(), std::end(kJoinableEnd) - kFinalBlockSize, std::end(kJoinableEnd));

    std::uint32_t partCrc = 0;
    for (std::size_t done = 0; done < part.size();) {
        const std::size_t n = std::min<std::size_t>(part.size() - done, 1u << 30);
        partCrc = static_cast<std::uint32_t>(crc32(partCrc, part.data() + done, static_cast<uInt>(n)));
        done += n;
    }
    history.crc = static_cast<std::uint32_t>(crc32_combine(history.crc, partCrc, static_cast<z_off_t>(part.size())));
    history.size += part.size();

    if (part.size() >= kDeflateWindow) {
        history.tail.assign(part.end() - static_cast<std::ptrdiff_t>(kDeflateWindow), part.end());
    } else {
        history.tail.insert(history.tail.end(), part.begin(), part.end());
        if (history.tail.size() > kDeflateWindow)
            history.tail.erase(history.tail.begin(),
                               history.tail.end() - static_cast<std::ptrdiff_t>(kDeflateWindow));
    }
}

}  // namespace

CompressedHistory CompressHistory(std::span<const unsigned char> history) {
    CompressedHistory out;
    AppendPiece(out, history);
    return out;
}

void AppendToHistory(CompressedHistory& history, std::span<const unsigned char> part) {
    if (!EndsJoinable(history.deflated)) throw std::logic_error("history stream cannot be continued");
    history.deflated.resize(history.deflated.size() - kFinalBlockSize);
    AppendPiece(history, part);
}

bool EndsJoinable(std::span<const unsigned char> deflated) {
    return deflated.size() >= sizeof kJoinableEnd &&
           std::equal(std::begin(kJoinableEnd), std::end(kJoinableEnd), deflated.end() - sizeof kJoinableEnd);
}

// Layout: magic, size (8 bytes), CRC (4), then the tail to the end.
std::vector<unsigned char> EncodeHistoryEnd(const CompressedHistory& history) {
    std::vector<unsigned char> out(std::begin(kEndMagic), std::end(kEndMagic));
    PutLe64(out, history.size);
    PutLe32(out, history.crc);
    out.insert(out.end(), history.tail.begin(), history.tail.end());
    return out;
}

bool DecodeHistoryEnd(std::span<const unsigned char> bytes, CompressedHistory& history) {
    constexpr std::size_t kFixed = sizeof kEndMagic + 8 + 4;
    if (bytes.size() < kFixed || !std::equal(std::begin(kEndMagic), std::end(kEndMagic), bytes.begin())) return false;
    history.size = GetLe64(bytes.data() + 4);
    history.crc = GetLe32(bytes.data() + 12);
    const std::size_t tail = bytes.size() - kFixed;
    if (tail > kDeflateWindow || tail != std::min<std::uint64_t>(history.size, kDeflateWindow)) return false;
    history.tail.assign(bytes.begin() + kFixed, bytes.end());
    return true;
}

}  // namespace halvex

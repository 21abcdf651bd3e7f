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

// Deflates a part given in pieces onto the end of `history`'s stream as one piece of it, primed
// with the history's tail, and ends it with a sync flush; size, CRC and tail follow each piece.
// Input and output go through in small buffers: a history runs to tens of megabytes, and a
// buffer for the whole of it beside the history itself would double the run's peak memory.
class PieceDeflater {
public:
    explicit PieceDeflater(CompressedHistory& history) : history_(history), buffer_(kOutputPiece) {
        stream_.StartDeflate(9, "history");
        if (!history.tail.empty()) {
            const std::span<const unsigned char> dictionary =
                std::span<const unsigned char>(history.tail).last(std::min(history.tail.size(), kDeflateWindow));
            const int rc = deflateSetDictionary(&stream_.Get(), dictionary.data(), static_cast<uInt>(dictionary.size()));
            if (rc != Z_OK) DeflateFailed(rc);
        }
    }

    void Add(std::span<const unsigned char> bytes) {
        for (std::size_t taken = 0; taken < bytes.size();) {
            const std::size_t size = std::min(bytes.size() - taken, kInputPiece);
            Deflate(bytes.subspan(taken, size), Z_NO_FLUSH);
            taken += size;
        }
        partCrc_ = static_cast<std::uint32_t>(Crc32Of(partCrc_, bytes));
        partSize_ += bytes.size();
        std::vector<unsigned char>& tail = history_.tail;
        if (bytes.size() >= kDeflateWindow) {
            tail.assign(bytes.end() - static_cast<std::ptrdiff_t>(kDeflateWindow), bytes.end());
        } else {
            tail.insert(tail.end(), bytes.begin(), bytes.end());
            if (tail.size() > kDeflateWindow)
                tail.erase(tail.begin(), tail.end() - static_cast<std::ptrdiff_t>(kDeflateWindow));
        }
    }

    void Finish() {
        Deflate({}, Z_SYNC_FLUSH);
        history_.deflated.insert(history_.deflated.end(), std::end(kJoinableEnd) - kFinalBlockSize, std::end(kJoinableEnd));
        history_.crc =
            static_cast<std::uint32_t>(crc32_combine(history_.crc, partCrc_, static_cast<z_off_t>(partSize_)));
        history_.size += partSize_;
    }

private:
    static constexpr std::size_t kInputPiece = 1 << 20;
    static constexpr std::size_t kOutputPiece = 1 << 16;

    static std::uint32_t Crc32Of(std::uint32_t crc, std::span<const unsigned char> bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - done, 1u << 30);
            crc = static_cast<std::uint32_t>(crc32(crc, bytes.data() + done, static_cast<uInt>(n)));
            done += n;
        }
        return crc;
    }

    void Deflate(std::span<const unsigned char> input, int flush) {
        z_stream& z = stream_.Get();
        z.next_in = const_cast<unsigned char*>(input.data());
        z.avail_in = static_cast<uInt>(input.size());
        // Until zlib leaves room in the output: all input taken and, with a flush, all given out.
        do {
            z.next_out = buffer_.data();
            z.avail_out = static_cast<uInt>(buffer_.size());
            const int rc = deflate(&z, flush);
            if (rc != Z_OK && rc != Z_BUF_ERROR) DeflateFailed(rc);
            history_.deflated.insert(history_.deflated.end(), buffer_.data(), z.next_out);
        } while (z.avail_out == 0);
    }

    CompressedHistory& history_;
    ZlibStream stream_;
    std::vector<unsigned char> buffer_;
    std::uint32_t partCrc_ = 0;
    std::uint64_t partSize_ = 0;
};

void AppendPiece(CompressedHistory& history, std::span<const unsigned char> head, const HistoryPieces* rest) {
    PieceDeflater deflater(history);
    deflater.Add(head);
    if (rest != nullptr) (*rest)([&deflater](std::span<const unsigned char> piece) { deflater.Add(piece); });
    deflater.Finish();
}

}  // namespace

CompressedHistory CompressHistory(std::span<const unsigned char> history) {
    CompressedHistory out;
    AppendPiece(out, history, nullptr);
    return out;
}

CompressedHistory CompressHistory(std::span<const unsigned char> head, const HistoryPieces& rest) {
    CompressedHistory out;
    AppendPiece(out, head, &rest);
    return out;
}

void AppendToHistory(CompressedHistory& history, std::span<const unsigned char> part) {
    if (!EndsJoinable(history.deflated)) throw std::logic_error("history stream cannot be continued");
    history.deflated.resize(history.deflated.size() - kFinalBlockSize);
    AppendPiece(history, part, nullptr);
}

void AppendToHistory(CompressedHistory& history, std::span<const unsigned char> head, const HistoryPieces& rest) {
    if (!EndsJoinable(history.deflated)) throw std::logic_error("history stream cannot be continued");
    history.deflated.resize(history.deflated.size() - kFinalBlockSize);
    AppendPiece(history, head, &rest);
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

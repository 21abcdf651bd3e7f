// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A target history in the deflated form it takes in the store and in every archive, kept so
// that a run only deflates what it adds.
//
// The data is a raw deflate stream made of pieces: each piece is deflated on its own, primed
// with the 32 KiB of history before it, and ends with a sync flush; the stream then ends with
// an empty final block. Appending strips that final block, adds the new piece and ends the
// stream again, so any inflater reads the joined stream as one history. The CRC of the whole
// is combined from the pieces' CRCs.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "common/target_history_reader.h"

namespace halvex {

struct CompressedHistory {
    std::vector<unsigned char> deflated;  // the complete raw deflate stream
    std::uint32_t crc = 0;                // CRC-32 of the history
    std::uint64_t size = 0;               // bytes of the history
    HistoryBytes tail;                    // its last bytes (up to the deflate window)
};

// Deflates `history` (at level 9) as the first piece of a stream that can be appended to.
CompressedHistory CompressHistory(std::span<const unsigned char> history);

// Appends `part` as the next piece. Throws std::runtime_error when zlib fails.
void AppendToHistory(CompressedHistory& history, std::span<const unsigned char> part);

// A part given in pieces: called with a sink, it hands the part's bytes to it in order.
using HistoryPieces = std::function<void(const std::function<void(std::span<const unsigned char>)>& sink)>;
// The same with the part given as `head` then the pieces of `rest`, never held whole.
CompressedHistory CompressHistory(std::span<const unsigned char> head, const HistoryPieces& rest);
void AppendToHistory(CompressedHistory& history, std::span<const unsigned char> head, const HistoryPieces& rest);

// Whether `deflated` ends the way CompressHistory and AppendToHistory end a stream, so that
// AppendToHistory may continue it.
bool EndsJoinable(std::span<const unsigned char> deflated);

// The small record the store keeps beside a deflated history: its size, CRC and tail.
std::vector<unsigned char> EncodeHistoryEnd(const CompressedHistory& history);
// Reads it back into `history` (size, crc, tail); false when it does not follow its layout.
bool DecodeHistoryEnd(std::span<const unsigned char> bytes, CompressedHistory& history);

}  // namespace halvex

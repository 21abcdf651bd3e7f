// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One piece of a raw deflate stream that is compressed piece by piece, each piece on its own:
// a piece is primed with the data before it as its dictionary and, unless it is the last,
// ends on a byte boundary without ending the stream. Pieces compressed apart (on different
// threads) and joined in order are then one valid deflate stream of the whole data.
#include <cstddef>
#include <span>
#include <vector>

#include "zip/zlib_stream.h"

namespace halvex {

// How far back deflate can refer: the most of the preceding data that matters to a piece.
inline constexpr std::size_t kDeflateWindow = 32768;

// Compresses `data` as the next piece of a stream whose data so far ends with `dictionary`
// (empty for the first piece; only its last kDeflateWindow bytes are used) into `out`
// (replaced). A piece that is not `last` ends with a sync flush; the last one ends the
// stream. `stream` is a started deflate stream (ZlibStream::StartDeflate), reset here, so one
// stream serves any number of pieces. Answers Z_OK or the zlib error.
int DeflateBlock(ZlibStream& stream, std::span<const unsigned char> dictionary, std::span<const unsigned char> data,
                 bool last, std::vector<unsigned char>& out);

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/block_deflate.h"

#include <algorithm>

namespace halvex {

int DeflateBlock(ZlibStream& stream, std::span<const unsigned char> dictionary, std::span<const unsigned char> data,
                 bool last, std::vector<unsigned char>& out) {
    z_stream& z = stream.Get();
    int rc = deflateReset(&z);
    if (rc != Z_OK) return rc;
    if (dictionary.size() > kDeflateWindow) dictionary = dictionary.last(kDeflateWindow);
    if (!dictionary.empty()) {
        rc = deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size()));
        if (rc != Z_OK) return rc;
    }
    // Room for data that does not compress (stored blocks) and the flush marker; grown when
    // that is not enough.
    out.resize(data.size() + data.size() / 64 + 64);
    std::size_t produced = 0;
    z.next_in = const_cast<unsigned char*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        if (produced == out.size()) out.resize(out.size() * 2);
        z.next_out = out.data() + produced;
        z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - produced, 1u << 30));
        const uInt room = z.avail_out;
        rc = deflate(&z, flush);
        produced += room - z.avail_out;
        if (rc == Z_STREAM_END) break;
        // A sync flush is complete once all input is taken and the output did not fill up.
        if (!last && z.avail_in == 0 && z.avail_out != 0 && rc != Z_STREAM_ERROR) break;
        if (rc == Z_BUF_ERROR && z.avail_out != 0) return rc;  // no progress possible
        if (rc != Z_OK && rc != Z_BUF_ERROR) return rc;
    }
    out.resize(produced);
    return Z_OK;
}

}  // namespace halvex

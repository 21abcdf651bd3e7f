// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zlib_stream.h"

#include <algorithm>
#include <cstdlib>

#include "zip/zip_exception.h"

namespace halvex {

ZlibStream::ZlibStream() { ResetStream(); }

void ZlibStream::ResetStream() {
    stream_ = z_stream{};
    stream_.zalloc = &ZlibStream::Allocate;
    stream_.zfree = &ZlibStream::Free;
    stream_.opaque = this;
}

voidpf ZlibStream::Allocate(voidpf opaque, uInt items, uInt size) {
    auto* self = static_cast<ZlibStream*>(opaque);
    if (size != 0 && items > static_cast<std::size_t>(-1) / size) return Z_NULL;
    void* block = std::calloc(items, size);
    if (block == nullptr) return Z_NULL;
    try {
        self->blocks_.push_back(block);
    } catch (...) {
        std::free(block);
        return Z_NULL;
    }
    return block;
}

void ZlibStream::Free(voidpf opaque, voidpf address) {
    auto* self = static_cast<ZlibStream*>(opaque);
    auto it = std::find(self->blocks_.begin(), self->blocks_.end(), address);
    if (it != self->blocks_.end()) self->blocks_.erase(it);
    std::free(address);
}

void ZlibStream::StartDeflate(int level, const std::string& archivePath) {
    Release();
    int rc = deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
        Release();
        RaiseZlibError(rc, archivePath);
    }
    kind_ = Kind::Deflate;
}

void ZlibStream::StartInflate(const std::string& archivePath) {
    Release();
    int rc = inflateInit2(&stream_, -MAX_WBITS);
    if (rc != Z_OK) {
        Release();
        RaiseZlibError(rc, archivePath);
    }
    kind_ = Kind::Inflate;
}

void ZlibStream::End(const std::string& archivePath) {
    int rc = Z_OK;
    if (kind_ == Kind::Deflate) rc = deflateEnd(&stream_);
    else if (kind_ == Kind::Inflate) rc = inflateEnd(&stream_);
    kind_ = Kind::None;
    // deflateEnd answers Z_DATA_ERROR when the stream was ended before its data was finished;
    // the blocks are freed all the same.
    Release();
    if (rc != Z_OK) RaiseZlibError(rc, archivePath);
}

void ZlibStream::Release() noexcept {
    if (kind_ == Kind::Deflate) deflateEnd(&stream_);
    else if (kind_ == Kind::Inflate) inflateEnd(&stream_);
    kind_ = Kind::None;
    for (void* block : blocks_) std::free(block);
    blocks_.clear();
    ResetStream();
}

}  // namespace halvex

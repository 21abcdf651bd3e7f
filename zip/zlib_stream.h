// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The zlib stream of the open entry: raw deflate or inflate (window bits -15, memory level 8,
// default strategy) with every block zlib obtains remembered, so that abandoning an entry
// after an exception releases all of them.
#include <cstddef>
#include <string>
#include <vector>

#include <zlib.h>

namespace halvex {

class ZlibStream {
public:
    ZlibStream();
    ~ZlibStream() { Release(); }
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;

    // Start a compressor at `level` (-1 default, 1-9) or a decompressor. A zlib failure raises
    // the matching CZipException for `archivePath`.
    void StartDeflate(int level, const std::string& archivePath);
    void StartInflate(const std::string& archivePath);
    // End the stream normally; a zlib failure raises.
    void End(const std::string& archivePath);
    // End the stream ignoring every error and free whatever zlib still holds.
    void Release() noexcept;

    bool IsActive() const { return kind_ != Kind::None; }
    z_stream& Get() { return stream_; }
    std::size_t BlocksHeld() const { return blocks_.size(); }

private:
    enum class Kind { None, Deflate, Inflate };
    static voidpf Allocate(voidpf opaque, uInt items, uInt size);
    static void Free(voidpf opaque, voidpf address);
    void ResetStream();

    z_stream stream_{};
    Kind kind_ = Kind::None;
    std::vector<void*> blocks_;  // compressorMemory
};

}  // namespace halvex

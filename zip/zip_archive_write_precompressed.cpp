// SPDX-License-Identifier: GPL-3.0-or-later
// Writing entries whose data was compressed elsewhere (on other threads): the archive still
// writes every header and checks every limit, as for the entries it compresses itself.
#include <algorithm>

#include "zip/zip_archive_file.h"

namespace halvex {

bool ZipArchiveFile::OpenPrecompressedEntry(const ZipEntryHeader& header, int level) {
    return BeginNewEntry(header, level, {}, true);
}

bool ZipArchiveFile::WritePrecompressedData(const void* data, std::size_t count, std::uint64_t originalCount) {
    lastRefusal_ = ZipRefusal::None;
    if (entryState_ != EntryState::Writing || !precompressed_ || (data == nullptr && count > 0)) return false;
    const ZipRefusal why = CheckNewEntrySizes(bytesIn_ + originalCount, bytesWritten_ + pendingOut_ + count);
    if (why != ZipRefusal::None) return Refuse(why);
    try {
        if (pendingOut_ > 0) WriteOut(pendingOut_);
        if (aes_) {
            // The caller's data stays as it is: encrypted through a buffer of our own.
            const auto* in = static_cast<const unsigned char*>(data);
            cryptBuffer_.resize(kIoBufferSize * 4);
            for (std::size_t done = 0; done < count;) {
                const std::size_t n = std::min(count - done, cryptBuffer_.size());
                std::copy_n(in + done, n, cryptBuffer_.data());
                aes_->Encrypt(cryptBuffer_.data(), n);
                storage_.Write(cryptBuffer_.data(), n, false);
                done += n;
            }
        } else if (count > 0) {
            storage_.Write(data, count, false);
        }
        bytesWritten_ += count;
        bytesIn_ += originalCount;
    } catch (...) {
        AbandonAfterError();
        throw;
    }
    return true;
}

bool ZipArchiveFile::ClosePrecompressedEntry(std::uint32_t crc) {
    lastRefusal_ = ZipRefusal::None;
    if (entryState_ != EntryState::Writing || !precompressed_) return false;
    runningCrc_ = crc;
    return FinishNewEntry();
}

}  // namespace halvex

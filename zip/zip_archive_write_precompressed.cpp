// SPDX-License-Identifier: GPL-3.0-or-later
// Writing entries whose data was compressed elsewhere (on other threads): the archive still
// writes every header and checks every limit, as for the entries it compresses itself.
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
        if (count > 0) storage_.Write(data, count, false);
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

// SPDX-License-Identifier: GPL-3.0-or-later
// Writing entries whose data was compressed elsewhere (on other threads): the archive still
// writes every header and checks every limit, as for the entries it compresses itself.
#include <algorithm>
#include <stdexcept>

#include "zip/zip_archive_file.h"

namespace halvex {

bool ZipArchiveFile::OpenPrecompressedEntry(const ZipEntryHeader& header, int level, AesCipherMaker::Made* aes) {
    return BeginNewEntry(header, level, {}, true, aes);
}

bool ZipArchiveFile::WritePrecompressedData(const void* data, std::size_t count, std::uint64_t originalCount,
                                            bool encrypted) {
    lastRefusal_ = ZipRefusal::None;
    if (entryState_ != EntryState::Writing || !precompressed_ || (data == nullptr && count > 0)) return false;
    // Encrypted bytes need the cipher they were made with, and cannot be mixed with bytes the
    // archive encrypts (the code covers all of them in one sequence).
    if (encrypted ? !aes_ || (bytesIn_ > 0 && !arrivesEncrypted_) : arrivesEncrypted_) {
        AbandonNewEntry();
        throw std::logic_error("encrypted and plain data mixed in one entry");
    }
    const ZipRefusal why = CheckNewEntrySizes(bytesIn_ + originalCount, bytesWritten_ + pendingOut_ + count);
    if (why != ZipRefusal::None) return Refuse(why);
    try {
        if (pendingOut_ > 0) WriteOut(pendingOut_);
        if (encrypted) {
            if (count > 0) storage_.Write(data, count, false);
            arrivesEncrypted_ = true;
        } else if (aes_) {
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

bool ZipArchiveFile::ClosePrecompressedEntry(std::uint32_t crc, const std::array<unsigned char, kAesMacLength>* mac) {
    lastRefusal_ = ZipRefusal::None;
    if (entryState_ != EntryState::Writing || !precompressed_) return false;
    // Data that came encrypted is authenticated by the code made with it, and only by that.
    if (mac != nullptr ? !aes_ || (bytesIn_ > 0 && !arrivesEncrypted_) : arrivesEncrypted_) {
        AbandonNewEntry();
        throw std::logic_error("an encrypted entry's code does not match how its data came");
    }
    if (mac != nullptr) givenMac_ = *mac;
    runningCrc_ = crc;
    return FinishNewEntry();
}

}  // namespace halvex

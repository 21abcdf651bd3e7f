// SPDX-License-Identifier: GPL-3.0-or-later
// Reading entries: OpenEntry, ReadEntry, CloseEntry and ExtractEntry.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <libdeflate.h>

#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/file_time.h"
#include "zip/zip_archive_file.h"
#include "zip/zip_extract_path.h"

namespace halvex {
namespace {

// zlib counts in 32-bit units: larger requests are served in slices of this size.
constexpr std::size_t kZlibSlice = std::size_t{1} << 30;

std::atomic<std::uint64_t> wholeInflateLimit{ZipArchiveFile::kDefaultWholeInflateLimit};

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One decompressor per thread: it is not shared, and allocating one per entry costs more than
// inflating a small file.
libdeflate_decompressor* ThreadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

// A buffer of at least `size` bytes for this thread's extractions. One of a small size is
// kept from entry to entry: allocating and clearing it anew costs more than a small file.
unsigned char* ScratchBuffer(std::size_t size) {
    constexpr std::size_t kKept = std::size_t{1} << 20;
    thread_local std::unique_ptr<unsigned char[]> buffer;
    thread_local std::size_t capacity = 0;
    if (capacity < size || (capacity > kKept && size <= kKept)) {
        buffer.reset();
        buffer.reset(new unsigned char[size]);  // left uninitialised: it is written before read
        capacity = size;
    }
    return buffer.get();
}

}  // namespace

std::uint64_t ZipArchiveFile::WholeInflateLimit() { return wholeInflateLimit.load(std::memory_order_relaxed); }

void ZipArchiveFile::SetWholeInflateLimit(std::uint64_t bytes) {
    // zlib's fallback takes the held input in one 32-bit count.
    wholeInflateLimit.store(std::min<std::uint64_t>(bytes, kZlibSlice), std::memory_order_relaxed);
}

bool ZipArchiveFile::InflateWhole(unsigned char* out) {
    const auto declared = static_cast<std::size_t>(bytesToDeliver_);
    wholeInput_.resize(static_cast<std::size_t>(bytesToRead_));
    if (!wholeInput_.empty()) storage_.Read(wholeInput_.data(), wholeInput_.size(), false);
    bytesToRead_ = 0;
    if (aes_) aes_->Decrypt(wholeInput_.data(), wholeInput_.size());
    libdeflate_decompressor* decompressor = ThreadDecompressor();
    std::size_t produced = 0;
    if (decompressor != nullptr &&
        libdeflate_deflate_decompress(decompressor, wholeInput_.data(), wholeInput_.size(), out, declared, &produced) ==
            LIBDEFLATE_SUCCESS &&
        produced == declared) {
        runningCrc_ = static_cast<std::uint32_t>(libdeflate_crc32(runningCrc_, out, declared));
        bytesToDeliver_ = 0;
        streamEnded_ = true;
        wholeInput_.clear();
        return true;
    }
    // Short, long or damaged: zlib's streaming inflate gives the answer (and the error) it
    // always gave, from the bytes in memory.
    z_stream& z = stream_.Get();
    z.next_in = wholeInput_.data();
    z.avail_in = static_cast<uInt>(wholeInput_.size());
    return false;
}

bool ZipArchiveFile::OpenEntry(int index) {
    if (IsClosed(true) || index < 0 || static_cast<std::size_t>(index) >= catalog_.Count() ||
        storage_.IsMultiVolume() == 1 || entryState_ != EntryState::None) {
        return false;
    }
    ioBuffer_ = std::make_unique<unsigned char[]>(kIoBufferSize);
    try {
        dataStart_ = catalog_.OpenEntryForRead(index);
        const ZipEntryHeader& entry = *catalog_.Current();
        dataMethod_ = entry.method;
        bytesToRead_ = entry.compressedSize;
        if (entry.IsEncrypted()) {
            const std::optional<AesExtra> fields =
                entry.method == kAesMethod ? FindAesExtra(entry.extraField) : std::nullopt;
            if (!fields) {
                ReleaseReadEntry();
                return false;
            }
            StartAesRead(index, entry, *fields);
        }
        if (dataMethod_ == 8) stream_.StartInflate(storage_.Path());
        bytesToDeliver_ = entry.uncompressedSize;
    } catch (...) {
        ReleaseReadEntry();
        throw;
    }
    runningCrc_ = 0;
    inputPosition_ = inputAvailable_ = 0;
    streamEnded_ = false;
    entryState_ = EntryState::Reading;
    return true;
}

bool ZipArchiveFile::ReadStoredData(int index, std::vector<unsigned char>& out, std::uint64_t maxBytes) {
    out.clear();
    if (!OpenEntry(index)) return false;
    try {
        if (bytesToRead_ > maxBytes) {
            ReleaseReadEntry();
            return false;
        }
        out.resize(static_cast<std::size_t>(bytesToRead_));
        if (!out.empty()) storage_.Read(out.data(), out.size(), false);
    } catch (...) {
        out.clear();
        ReleaseReadEntry();
        throw;
    }
    ReleaseReadEntry();
    return true;
}

void ZipArchiveFile::ReleaseReadEntry() noexcept {
    stream_.Release();
    // Kept while small, for the next entry.
    if (wholeInput_.capacity() > (std::size_t{1} << 20)) wholeInput_ = {};
    wholeInput_.clear();
    aes_.reset();
    catalog_.ForgetCurrent();
    ioBuffer_.reset();
    entryState_ = EntryState::None;
}

std::size_t ZipArchiveFile::ReadEntry(void* buffer, std::size_t count) {
    if (entryState_ != EntryState::Reading || buffer == nullptr || count == 0) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(count, bytesToDeliver_));
    std::uint64_t delivered = 0;

    if (dataMethod_ == 0) {
        while (room > 0) {
            if (inputAvailable_ == 0) {
                if (bytesToRead_ == 0) break;  // the stored data ran out before its declared size
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kIoBufferSize, bytesToRead_));
                ReadData(n);
                inputPosition_ = 0;
                inputAvailable_ = n;
            }
            std::size_t n = std::min(room, inputAvailable_);
            std::memcpy(out + delivered, ioBuffer_.get() + inputPosition_, n);
            runningCrc_ = static_cast<std::uint32_t>(libdeflate_crc32(runningCrc_, out + delivered, n));
            inputPosition_ += n;
            inputAvailable_ -= n;
            room -= n;
            delivered += n;
            bytesToDeliver_ -= n;
        }
        return static_cast<std::size_t>(delivered);
    }

    if (streamEnded_) return 0;
    z_stream& z = stream_.Get();
    if (room > 0 && room == bytesToDeliver_ && z.total_in == 0 && z.avail_in == 0 && wholeInput_.empty() &&
        room <= WholeInflateLimit() && bytesToRead_ <= WholeInflateLimit() && InflateWhole(out))
        return room;
    if (room == 0) {
        // Everything declared was delivered: consume what is left of the stream, which must
        // end without producing more (data beyond the declared size is an error).
        ConsumeRemainingInput();
        return 0;
    }
    while (room > 0) {
        if (z.avail_in == 0 && bytesToRead_ > 0) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kIoBufferSize, bytesToRead_));
            ReadData(n);
            z.next_in = ioBuffer_.get();
            z.avail_in = static_cast<uInt>(n);
        }
        const std::size_t slice = std::min(room, kZlibSlice);
        z.next_out = out + delivered;
        z.avail_out = static_cast<uInt>(slice);
        int rc = inflate(&z, Z_SYNC_FLUSH);
        const std::size_t produced = slice - z.avail_out;
        runningCrc_ = static_cast<std::uint32_t>(libdeflate_crc32(runningCrc_, out + delivered, produced));
        delivered += produced;
        room -= produced;
        bytesToDeliver_ -= produced;
        if (rc == Z_STREAM_END) {
            streamEnded_ = true;
            break;
        }
        if (rc == Z_NEED_DICT) break;  // not an error, but a raw stream cannot go on from here
        if (rc != Z_OK) RaiseZlibError(rc, storage_.Path());
    }
    return static_cast<std::size_t>(delivered);
}

void ZipArchiveFile::SkipUnreadData() {
    while (bytesToRead_ > 0) {
        ReadData(static_cast<std::size_t>(std::min<std::uint64_t>(kIoBufferSize, bytesToRead_)));
    }
}

void ZipArchiveFile::ReadData(std::size_t count) {
    storage_.Read(ioBuffer_.get(), count, false);
    bytesToRead_ -= count;
    if (aes_) aes_->Decrypt(ioBuffer_.get(), count);
}

void ZipArchiveFile::ConsumeRemainingInput() {
    z_stream& z = stream_.Get();
    unsigned char none = 0;
    while (!streamEnded_) {
        if (z.avail_in == 0) {
            // Data that stops without an end marker after the declared size is accepted (the
            // CRC still decides); only more output than declared is an error.
            if (bytesToRead_ == 0) return;
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kIoBufferSize, bytesToRead_));
            ReadData(n);
            z.next_in = ioBuffer_.get();
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = &none;
        z.avail_out = 0;
        int rc = inflate(&z, Z_SYNC_FLUSH);
        // With no room, a stream that still has output answers Z_BUF_ERROR: raised below.
        if (rc == Z_STREAM_END) streamEnded_ = true;
        else if (rc == Z_NEED_DICT) return;
        else if (rc != Z_OK) RaiseZlibError(rc, storage_.Path());
    }
}

void ZipArchiveFile::AbandonEntry() noexcept {
    if (entryState_ == EntryState::Reading) ReleaseReadEntry();
}

CloseEntryResult ZipArchiveFile::CloseEntry(const std::string& targetPath, std::optional<platform::FileTime> exactTime) {
    return CloseEntryAt(-1, targetPath, exactTime);
}

CloseEntryResult ZipArchiveFile::CloseEntryAt(int fd, const std::string& targetPath,
                                              std::optional<platform::FileTime> exactTime) {
    if (entryState_ != EntryState::Reading) return CloseEntryResult::NothingOpen;
    CloseEntryResult result = CloseEntryResult::Complete;
    try {
        const ZipEntryHeader& entry = *catalog_.Current();
        if (dataMethod_ == 8 && bytesToDeliver_ == 0 && !streamEnded_) {
            ConsumeRemainingInput();
        }
        if (bytesToDeliver_ != 0) {
            result = CloseEntryResult::Short;
        } else if (aes_) {
            // The code covers all the encrypted data, also what the stream left unread.
            SkipUnreadData();
            std::array<unsigned char, kAesMacLength> stored{};
            storage_.Read(stored.data(), stored.size(), false);
            if (aes_->FinishMac() != stored || (aesCrc_ && runningCrc_ != entry.crc32))
                RaiseZipError(kZipBadCrc, storage_.Path());
        } else if (runningCrc_ != entry.crc32) {
            RaiseZipError(kZipBadCrc, storage_.Path());
        }
        if (dataMethod_ == 8) stream_.End(storage_.Path());
        if (fd >= 0 || !targetPath.empty()) {
            platform::FileTime time = exactTime ? *exactTime : entry.GetFileTime();
            if (!(fd >= 0 ? platform::SetLastWriteTime(fd, time) : platform::SetLastWriteTime(targetPath, time))) {
                ReleaseReadEntry();
                return CloseEntryResult::TimeNotSet;
            }
            // A Unix mode is the whole truth about permissions; without one, only read-only.
            const std::optional<std::uint32_t> permissions = entry.UnixPermissions();
            bool applied;
            if (fd >= 0)
                applied = permissions ? platform::SetPermissions(fd, *permissions)
                                      : platform::SetAttributes(fd, entry.externalAttributes);
            else
                applied = permissions ? platform::SetPermissions(targetPath, *permissions)
                                      : platform::SetAttributes(targetPath, entry.externalAttributes);
            if (!applied) result = CloseEntryResult::AttributesNotSet;
        }
        // The descriptor follows the data: only checked when all of it was read. On a span the
        // data may end on another volume: read on to its end instead of seeking there.
        if (storage_.IsMultiVolume() == -1) {
            if (result != CloseEntryResult::Short) SkipUnreadData();
            catalog_.CloseEntryAfterRead(result != CloseEntryResult::Short, std::nullopt);
        } else {
            catalog_.CloseEntryAfterRead(result != CloseEntryResult::Short, dataStart_ + entry.compressedSize);
        }
    } catch (...) {
        ReleaseReadEntry();
        throw;
    }
    ReleaseReadEntry();
    return result;
}

namespace {

// A name for the file being extracted, beside its target, that nothing else uses.
std::string TemporaryNameIn(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    return folder + "/.halvex-extract-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + ".part";
}

}  // namespace

bool ZipArchiveFile::ExtractEntry(int index, const std::string& destinationFolder, bool fullPath,
                                  const std::string& newName, ZipProgressCallback progress,
                                  void* userData, std::size_t bufferSize,
                                  std::optional<platform::FileTime> exactTime) {
    if (bufferSize == 0 || destinationFolder.empty()) return false;
    if (IsClosed(true) || index < 0 || static_cast<std::size_t>(index) >= catalog_.Count()) return false;
    const ZipEntryHeader entry = catalog_.Header(index);
    auto relative = ExtractionRelativePath(newName.empty() ? entry.fileName : newName, fullPath);
    if (!relative) return false;
    std::string folder = destinationFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::string target = (folder == "/" ? folder : folder + "/") + *relative;

    if (entry.IsFolder()) {
        // A read-only attribute is not applied to a folder: files are restored into it next.
        return CreateFolderPath(target);
    }
    // The rest goes through a descriptor of the entry's folder, as the restore writes.
    const std::string parent = platform::FolderOfPath(target);
    if (!CreateFolderPath(parent)) platform::ThrowFileError("create folder", parent);
    const int folderFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) platform::ThrowFileError("open folder", parent);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{folderFd};
    return ExtractEntryAt(index, folderFd, platform::NameOfPath(target), target, progress, userData, bufferSize,
                          exactTime);
}

bool ZipArchiveFile::ExtractEntryAt(int index, int folder, const std::string& name, const std::string& shownPath,
                                    ZipProgressCallback progress, void* userData, std::size_t bufferSize,
                                    std::optional<platform::FileTime> exactTime) {
    if (bufferSize == 0 || folder < 0) return false;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return false;
    if (IsClosed(true) || index < 0 || static_cast<std::size_t>(index) >= catalog_.Count()) return false;
    const ZipEntryHeader entry = catalog_.Header(index);
    if (entry.IsFolder()) return false;
    if (entry.IsLink()) return ExtractLinkAt(index, folder, name, shownPath, progress, userData, exactTime);
    if (!OpenEntry(index)) return false;
    CZipBigFile out;
    std::string temporary;
    try {
        for (int attempt = 0; !out.IsOpen(); ++attempt) {
            temporary = platform::NameOfPath(TemporaryNameIn("."));
            const auto access = entry.UnixPermissions() ? platform::File::Access::OwnerOnly
                                                        : platform::File::Access::Shared;
            if (out.TryOpenAt(folder, temporary, platform::File::Mode::CreateNew, access)) break;
            if (errno != EEXIST || attempt > 100) {
                temporary.clear();
                platform::ThrowFileError("create", shownPath);
            }
        }
        // A deflated entry that fits the one-step limit is inflated whole; it is still written
        // (and its progress told) a buffer at a time.
        const bool whole = dataMethod_ == 8 && entry.uncompressedSize > bufferSize &&
                           entry.uncompressedSize <= WholeInflateLimit();
        const std::size_t size = whole ? static_cast<std::size_t>(entry.uncompressedSize) : bufferSize;
        unsigned char* const buffer = ScratchBuffer(size);
        std::uint64_t done = 0;
        bool stopped = false;
        for (;;) {
            const std::size_t n = ReadEntry(buffer, size);
            for (std::size_t at = 0; at < n && !stopped;) {
                const std::size_t piece = std::min(bufferSize, n - at);
                out.Write(buffer + at, piece);
                at += piece;
                done += piece;
                stopped = progress != nullptr && !progress(entry.uncompressedSize, done, userData);
            }
            if (stopped || n < size) break;
        }
        if (stopped) {
            // All of it may be in memory already: stopped is stopped, the file is not kept.
            AbandonEntry();
            out.Abandon();
            ::unlinkat(folder, temporary.c_str(), 0);
            return false;
        }
        const CloseEntryResult result = CloseEntryAt(out.Descriptor(), {}, exactTime);
        out.Close();
        if (result != CloseEntryResult::Complete) {
            ::unlinkat(folder, temporary.c_str(), 0);
            return false;
        }
        if (::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) platform::ThrowFileError("rename", shownPath);
    } catch (...) {
        out.Abandon();
        AbandonEntry();
        if (!temporary.empty()) ::unlinkat(folder, temporary.c_str(), 0);
        // The temporary name means nothing to whoever reads the error: it names the target.
        try {
            throw;
        } catch (const platform::FileError& error) {
            if (temporary.empty() || error.path() != temporary) throw;
            throw platform::FileError(error.operation(), shownPath, error.osError());
        }
    }
    return true;
}

bool ZipArchiveFile::ExtractLinkAt(int index, int folder, const std::string& name, const std::string& shownPath,
                                   ZipProgressCallback progress, void* userData,
                                   std::optional<platform::FileTime> exactTime) {
    // Longer than any target a file system keeps: damage, not a link.
    constexpr std::uint64_t kMaxLinkTarget = 65536;
    const ZipEntryHeader entry = catalog_.Header(index);
    if (entry.uncompressedSize == 0 || entry.uncompressedSize > kMaxLinkTarget)
        RaiseZipError(kZipDamaged, storage_.Path());
    if (!OpenEntry(index)) return false;
    std::string target(static_cast<std::size_t>(entry.uncompressedSize), '\0');
    try {
        std::size_t got = 0;
        while (got < target.size()) {
            const std::size_t n = ReadEntry(target.data() + got, target.size() - got);
            if (n == 0) break;
            got += n;
        }
        if (got != target.size() || CloseEntry() != CloseEntryResult::Complete) {
            AbandonEntry();
            return false;
        }
    } catch (...) {
        AbandonEntry();
        throw;
    }
    if (target.find('\0') != std::string::npos) RaiseZipError(kZipDamaged, storage_.Path());
    // Made under a temporary name and renamed into place, as files are: what was there stays
    // until the link is complete. The target is kept exactly, never resolved.
    std::string temporary;
    for (int attempt = 0;; ++attempt) {
        temporary = platform::NameOfPath(TemporaryNameIn("."));
        if (::symlinkat(target.c_str(), folder, temporary.c_str()) == 0) break;
        if (errno != EEXIST || attempt > 100) platform::ThrowFileError("create link", shownPath);
    }
    const platform::FileTime time = exactTime ? *exactTime : entry.GetFileTime();
    const timespec written = platform::TimespecFromFileTime(time);
    const timespec times[2] = {written, written};
    // A file system may not keep a link's own time: the link is good without it.
    (void)::utimensat(folder, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW);
    if (::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(folder, temporary.c_str(), 0);
        errno = error;
        platform::ThrowFileError("rename", shownPath);
    }
    // Made whole at once: a stop asked for now comes too late for it.
    if (progress != nullptr) (void)progress(target.size(), target.size(), userData);
    return true;
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
// A multi-volume archive that ends on its first volume is closed as a plain archive: the
// leading span signature and every data descriptor go, each local header gets its CRC and
// sizes, and the entries move down to close the gaps. Tools that know nothing of spans then
// read it.
#include <vector>

#include "zip/zip_bytes.h"
#include "zip/zip_catalog.h"
#include "zip/zip_exception.h"

namespace halvex {

void ZipCatalog::ConvertOneVolumeSpan() {
    // The directory must still fit on this volume once the gaps are closed; otherwise the
    // archive stays a span (of two volumes).
    std::uint64_t saved = 4;
    for (const PackedEntry& entry : entries_) saved += Zip64Local(entry) ? 24 : 16;
    const std::uint64_t end = storage_.GetPosition();
    if (end < saved || TrailerSize(end - saved) > storage_.FreeRoom() + saved) return;

    std::vector<unsigned char> buffer(65536);
    std::uint64_t write = 0;
    for (PackedEntry& entry : entries_) {
        const bool zip64Local = Zip64Local(entry);
        const std::uint64_t local = entry.localHeaderOffset;
        unsigned char fields[kLocalHeaderSize];
        storage_.Seek(local);
        storage_.Read(fields, sizeof fields, true);
        const std::uint64_t headerSize = kLocalHeaderSize + GetLe16(fields + 26) + GetLe16(fields + 28);
        const std::uint64_t block = headerSize + entry.compressedSize;
        const std::uint64_t descriptor = zip64Local ? 24 : 16;
        if (GetLe32(fields) != kLocalHeaderSignature || local < write || local + block + descriptor > end)
            RaiseDamaged();

        entry.flags &= static_cast<std::uint16_t>(~kFlagDataDescriptor);
        SetLe16(fields + 6, entry.flags);
        SetLe32(fields + 14, entry.crc32);
        if (!zip64Local) {
            SetLe32(fields + 18, static_cast<std::uint32_t>(entry.compressedSize));
            SetLe32(fields + 22, static_cast<std::uint32_t>(entry.uncompressedSize));
        }
        storage_.Patch(local, fields, sizeof fields);
        if (zip64Local) {
            // The zip64 block leads the local extra field: uncompressed, then compressed size.
            unsigned char sizes[16];
            SetLe64(sizes, entry.uncompressedSize);
            SetLe64(sizes + 8, entry.compressedSize);
            storage_.Patch(local + kLocalHeaderSize + GetLe16(fields + 26) + 4, sizes, sizeof sizes);
        }
        if (local != write && storage_.MoveDown(local, write, block, buffer.data(), buffer.size()) != block)
            RaiseZipError(kZipBadDeleteCount, storage_.Path());
        entry.localHeaderOffset = write;
        write += block;
    }
    // The entry being written is done by now; a copy of its header must not say otherwise.
    if (currentIndex_ >= 0) CopyHeader(currentIndex_, current_);
    storage_.TruncateTo(write);
    RecountCentralSize();
}

}  // namespace halvex

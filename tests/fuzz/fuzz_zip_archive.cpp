// SPDX-License-Identifier: GPL-3.0-or-later
// Opens an arbitrary byte string as an archive, lists it, looks every name up, reads every
// entry, extracts the entries of small archives, and changes a copy (delete, add, close, read
// again). The same bytes, cut at each kPartBreak, are also read as the parts of a split
// archive (span.000, span.001, ..., the last span.zip). Only the zip layer's and the file
// layer's own exceptions may come out of the layer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "platform/file.h"
#include "platform/file_error.h"
#include "tests/fuzz/fuzz_scratch.h"
#include "zip/zip_archive_file.h"

using namespace halvex;

namespace {

void ReadEverything(ZipArchiveFile& zip, bool extract) {
    std::vector<unsigned char> buffer(70000);
    const int count = zip.GetEntryCount();
    for (int i = 0; i < count; ++i) {
        ZipEntryHeader h;
        if (!zip.GetEntryInfo(h, i)) __builtin_trap();
        // Every name is found again, by both lookups.
        int exact = zip.FindEntryFast(h.GetFileName(), true);
        if (exact < 0 || exact > i || zip.FindEntry(h.GetFileName(), true) != exact) __builtin_trap();
        if (zip.FindEntryExactFirst(h.GetFileName()) != exact) __builtin_trap();
        try {
            if (zip.OpenEntry(i)) {
                std::uint64_t total = 0;
                for (std::size_t n; (n = zip.ReadEntry(buffer.data(), buffer.size())) > 0;) {
                    total += n;
                    if (total > h.uncompressedSize) __builtin_trap();  // never beyond the declared size
                }
                // Short only when less than the declared size came out.
                if (zip.CloseEntry() == CloseEntryResult::Short && total == h.uncompressedSize) __builtin_trap();
            }
        } catch (const CZipException&) {
            zip.AbandonEntry();
        }
        if (extract) {
            const std::string out = fuzz::ScratchFolder() + "/out";
            try {
                zip.ExtractEntry(i, out, true);
                zip.ExtractEntry(i, out, false);
            } catch (const CZipException&) {
            } catch (const platform::FileError&) {
            }
            std::error_code ec;
            std::filesystem::remove_all(out, ec);
        }
    }
}

// Reads the archive at `path` through; extracts too when asked and it is small.
void ReadArchive(const std::string& path, bool extractSmall) {
    ZipArchiveFile zip;
    try {
        zip.Open(path, ZipOpenReadOnly);
        ReadEverything(zip, extractSmall && zip.GetEntryCount() <= 8);
        zip.Close();
    } catch (const CZipException&) {
        zip.Close(true);
    } catch (const platform::FileError&) {
        zip.Close(true);
    }
}

constexpr std::string_view kPartBreak = "\n--part--\n";

void ReadAsSplitParts(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t cut = input.find(kPartBreak, at);
        if (cut == std::string_view::npos || parts.size() == 8) {
            parts.push_back(input.substr(at));
            break;
        }
        parts.push_back(input.substr(at, cut - at));
        at = cut + kPartBreak.size();
    }
    if (parts.size() < 2) return;
    const std::string base = fuzz::ScratchFolder() + "/span.zip";
    for (int i = 0; i < 8; ++i) std::filesystem::remove(ZipVolumeStorage::PartPath(base, i));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        fuzz::WriteBytes(ZipVolumeStorage::PartPath(base, static_cast<int>(i), last),
                         reinterpret_cast<const std::uint8_t*>(parts[i].data()), parts[i].size());
    }
    ReadArchive(base, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReadAsSplitParts(data, size);
    const std::string path = fuzz::ScratchFolder() + "/input.zip";
    const std::string copy = fuzz::ScratchFolder() + "/copy.zip";
    fuzz::WriteBytes(path, data, size);
    ReadArchive(path, true);
    ZipArchiveFile zip;

    // Change a copy: deleting from a hostile layout must not corrupt what remains readable.
    fuzz::WriteBytes(copy, data, size);
    try {
        zip.Open(copy, ZipOpenExisting);
        if (zip.GetEntryCount() > 0) zip.DeleteEntry(zip.GetEntryCount() / 2);
        ZipEntryHeader h;
        h.SetFileName("added\\entry.txt");
        bool added = zip.OpenNewEntry(h, 6) && zip.WriteNewEntry("fuzz", 4) && zip.CloseNewEntry();
        zip.Close();
        zip.Open(copy, ZipOpenReadOnly);
        const int last = zip.GetEntryCount() - 1;
        ZipEntryHeader back;
        if (added && zip.GetEntryInfo(back, last) && back.GetFileName() == "added\\entry.txt") {
            // What the layer wrote itself reads back.
            char buffer[8];
            if (!zip.OpenEntry(last) || zip.ReadEntry(buffer, sizeof buffer) != 4 || zip.CloseEntry() != CloseEntryResult::Complete)
                __builtin_trap();
        }
        ReadEverything(zip, false);
        zip.Close();
    } catch (const CZipException&) {
        zip.Close(true);
    } catch (const platform::FileError&) {
        zip.Close(true);
    }
    return 0;
}

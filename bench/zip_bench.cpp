// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the zip layer against bare zlib loops doing the same work on the same bytes:
// writing (deflate level 9 + CRC-32 + file writes + sync) and extracting (inflate + CRC-32 +
// file writes), and the time to delete entries from a 100 MB store in place.
//
//   zip_bench [work folder] [megabytes of mixed data, default 200] [repetitions, default 3]
//
// Each figure is the best of the repetitions. Ratio = layer throughput / bare throughput.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "zip/zip_archive_file.h"

using namespace halvex;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Deterministic mixed data in 1 MiB runs: text-like words, random bytes, and repetitive
// fixed-layout records with changing numbers.
std::vector<unsigned char> MixedData(std::size_t bytes) {
    std::vector<unsigned char> data;
    data.reserve(bytes);
    std::uint32_t x = 12345;
    auto next = [&] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    static const char* words[] = {"backup ", "archive ", "restore ", "the ", "of ", "file ", "folder ",
                                  "changed ", "report ", "2024 ", "and ", "entry\n", "data ", "zip "};
    int kind = 0;
    while (data.size() < bytes) {
        std::size_t run = std::min<std::size_t>(1 << 20, bytes - data.size());
        std::size_t end = data.size() + run;
        if (kind == 0) {
            while (data.size() < end) {
                const char* w = words[next() % 14];
                while (*w && data.size() < end) data.push_back(static_cast<unsigned char>(*w++));
            }
        } else if (kind == 1) {
            while (data.size() < end) data.push_back(static_cast<unsigned char>(next()));
        } else {
            char record[128];
            for (std::uint32_t id = 0; data.size() < end; ++id) {
                int n = std::snprintf(record, sizeof record, "REC|%08u|ACCT-%05u|%10.2f|STATUS=%s|\n", id,
                                      next() % 50000, (next() % 1000000) / 100.0, (next() & 1) ? "OK" : "PENDING");
                for (int i = 0; i < n && data.size() < end; ++i) data.push_back(static_cast<unsigned char>(record[i]));
            }
        }
        kind = (kind + 1) % 3;
    }
    return data;
}

void WriteAll(int fd, const unsigned char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w <= 0) {
            std::perror("write");
            std::exit(1);
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

constexpr std::size_t kChunk = 262144;  // the backup's copy chunk

double LayerWrite(const std::vector<unsigned char>& data, const std::string& path) {
    auto start = Clock::now();
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    ZipEntryHeader h;
    h.SetFileName("bench\\mixed.bin");
    if (!zip.OpenNewEntry(h, 9)) std::exit(1);
    for (std::size_t at = 0; at < data.size(); at += kChunk)
        if (!zip.WriteNewEntry(data.data() + at, std::min(kChunk, data.size() - at))) std::exit(1);
    if (!zip.CloseNewEntry()) std::exit(1);
    zip.Close();
    return Seconds(start);
}

double BareWrite(const std::vector<unsigned char>& data, const std::string& path, std::uint64_t* compressed) {
    auto start = Clock::now();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(65536);
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t at = 0; at < data.size(); at += kChunk) {
        std::size_t n = std::min(kChunk, data.size() - at);
        crc = crc32(crc, data.data() + at, static_cast<uInt>(n));
        z.next_in = const_cast<unsigned char*>(data.data() + at);
        z.avail_in = static_cast<uInt>(n);
        const bool last = at + n == data.size();
        int rc;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            WriteAll(fd, out.data(), out.size() - z.avail_out);
        } while (z.avail_in > 0 || (last && rc != Z_STREAM_END));
    }
    *compressed = z.total_out;
    deflateEnd(&z);
    ::fsync(fd);
    ::close(fd);
    if (crc == 1) std::puts("");  // keep the CRC alive
    return Seconds(start);
}

double LayerExtract(const std::string& archive, const std::string& folder) {
    auto start = Clock::now();
    ZipArchiveFile zip;
    zip.Open(archive, ZipOpenReadOnly);
    if (!zip.ExtractEntry(0, folder, false, {}, nullptr, nullptr, 65535)) std::exit(1);
    zip.Close();
    return Seconds(start);
}

double BareExtract(const std::string& archive, std::uint64_t dataOffset, std::uint64_t compressed,
                   const std::string& output) {
    auto start = Clock::now();
    int in = ::open(archive.c_str(), O_RDONLY);
    int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    std::vector<unsigned char> input(16384), out(65535);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t left = compressed, position = dataOffset;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0 && left > 0) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), left));
            if (::pread(in, input.data(), n, static_cast<off_t>(position)) != static_cast<ssize_t>(n)) std::exit(1);
            position += n;
            left -= n;
            z.next_in = input.data();
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_SYNC_FLUSH);
        if (rc < 0) std::exit(1);
        std::size_t produced = out.size() - z.avail_out;
        crc = crc32(crc, out.data(), static_cast<uInt>(produced));
        WriteAll(fd, out.data(), produced);
    }
    inflateEnd(&z);
    ::close(fd);
    ::close(in);
    if (crc == 1) std::puts("");
    return Seconds(start);
}

void DeletionFigures(const std::string& folder) {
    const std::string store = folder + "/store.zip";
    const int entries = 100;
    const std::vector<unsigned char> block = MixedData(1000000);
    auto build = [&] {
        ZipArchiveFile zip;
        zip.Open(store, ZipCreate);
        for (int i = 0; i < entries; ++i) {
            ZipEntryHeader h;
            h.SetFileName("Job\\file" + std::to_string(i));
            zip.OpenNewEntry(h, 0);
            zip.WriteNewEntry(block.data(), block.size());
            zip.CloseNewEntry();
        }
        zip.Close();
    };
    build();
    const double mb = std::filesystem::file_size(store) / 1e6;
    std::printf("delete from a %.1f MB store of %d stored 1 MB entries (16 KB buffer, in place):\n", mb, entries);
    struct Case {
        const char* what;
        std::vector<int> indices;
    };
    std::vector<int> everyOther, lastTen;
    for (int i = 0; i < entries; i += 2) everyOther.push_back(i);
    for (int i = entries - 10; i < entries; ++i) lastTen.push_back(i);
    for (const Case& c : {Case{"first entry", {0}}, Case{"every other entry (50)", everyOther},
                          Case{"last ten entries", lastTen}}) {
        build();
        ZipArchiveFile zip;
        zip.Open(store, ZipOpenExisting);
        auto start = Clock::now();
        zip.DeleteEntries(c.indices);
        double deleting = Seconds(start);
        start = Clock::now();
        zip.Close();
        double closing = Seconds(start);
        std::printf("  %-24s delete %6.3f s, close (directory + sync) %6.3f s, %.1f MB left\n", c.what, deleting,
                    closing, std::filesystem::file_size(store) / 1e6);
    }
    // One call per entry instead of one call for all: each call compacts once.
    build();
    ZipArchiveFile zip;
    zip.Open(store, ZipOpenExisting);
    auto start = Clock::now();
    for (int i = 0; i < 10; ++i) zip.DeleteEntry(0);
    std::printf("  %-24s delete %6.3f s\n", "first entry, 10 times", Seconds(start));
    zip.Close();
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string() + "/halvex-zip-bench";
    const std::size_t megabytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 200;
    const int repetitions = argc > 3 ? std::atoi(argv[3]) : 3;
    std::filesystem::create_directories(folder);
    const std::vector<unsigned char> data = MixedData(megabytes * 1000000);
    const double mb = data.size() / 1e6;
    std::printf("zip_bench: %.1f MB of mixed data (1 MiB runs of text, random bytes, records), chunks of %zu\n", mb,
                kChunk);

    double layerWrite = 1e9, bareWrite = 1e9;
    std::uint64_t compressed = 0;
    for (int r = 0; r < repetitions; ++r) {
        layerWrite = std::min(layerWrite, LayerWrite(data, folder + "/layer.zip"));
        bareWrite = std::min(bareWrite, BareWrite(data, folder + "/bare.deflate", &compressed));
    }
    std::printf("write, level 9:  layer %7.2f MB/s   bare deflate+crc32 %7.2f MB/s   ratio %.3f   (%.1f MB compressed)\n",
                mb / layerWrite, mb / bareWrite, bareWrite / layerWrite, compressed / 1e6);

    ZipArchiveFile zip;
    zip.Open(folder + "/layer.zip", ZipOpenReadOnly);
    ZipEntryHeader h;
    zip.GetEntryInfo(h, 0);
    zip.Close();
    const std::uint64_t dataOffset = h.localHeaderOffset + 30 + h.fileName.size();
    double layerExtract = 1e9, bareExtract = 1e9;
    for (int r = 0; r < repetitions + 2; ++r) {
        layerExtract = std::min(layerExtract, LayerExtract(folder + "/layer.zip", folder + "/out"));
        bareExtract = std::min(bareExtract, BareExtract(folder + "/layer.zip", dataOffset, h.compressedSize,
                                                        folder + "/bare.out"));
    }
    std::printf("extract:         layer %7.2f MB/s   bare inflate+crc32 %7.2f MB/s   ratio %.3f\n",
                mb / layerExtract, mb / bareExtract, bareExtract / layerExtract);

    DeletionFigures(folder);
    std::filesystem::remove_all(folder);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Where inflating an entry in one step (libdeflate, the whole entry in memory) pays against
// zlib's streaming inflate in 64 KiB steps: for entry sizes from 1 KiB to 64 MiB, the
// throughput of reading every entry of an archive (inflate + CRC-32, no file writes) both ways.
//
//   inflate_bench [work folder] [megabytes per size, default 64] [repetitions, default 3]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "zip/zip_archive_file.h"

using namespace halvex;
using Clock = std::chrono::steady_clock;

namespace {

// Text-like words with numbers, and a random run now and then: about 3:1 at level 6.
std::vector<unsigned char> Data(std::size_t bytes, std::uint32_t seed) {
    static const char* const words[] = {"backup ", "archive ", "folder ", "the ", "of ", "restore ", "file ", "\n"};
    std::vector<unsigned char> data;
    data.reserve(bytes);
    std::uint32_t x = seed | 1;
    const auto next = [&] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    while (data.size() < bytes) {
        if (next() % 16 == 0) {
            for (int i = 0; i < 64; ++i) data.push_back(static_cast<unsigned char>(next()));
        } else {
            for (const char* c = words[next() % 8]; *c != '\0'; ++c) data.push_back(static_cast<unsigned char>(*c));
            const std::string number = std::to_string(next() % 1000);
            data.insert(data.end(), number.begin(), number.end());
            data.push_back(' ');
        }
    }
    data.resize(bytes);
    return data;
}

// Seconds to read every entry, in `step` bytes per ReadEntry call.
double ReadAll(const std::string& path, std::size_t step) {
    const auto start = Clock::now();
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    std::vector<unsigned char> buffer(step);
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        if (!zip.OpenEntry(i)) std::exit(2);
        while (zip.ReadEntry(buffer.data(), buffer.size()) != 0) {
        }
        if (zip.CloseEntry() != CloseEntryResult::Complete) std::exit(3);
    }
    zip.Close(true);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string() + "/halvex-inflate-bench";
    const std::size_t total = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 64) << 20;
    const int repetitions = argc > 3 ? std::atoi(argv[3]) : 3;
    std::filesystem::create_directories(folder);
    const std::vector<unsigned char> data = Data(total, 7);
    std::printf("%10s %8s %14s %14s %7s\n", "entry", "entries", "zlib MB/s", "one-step MB/s", "ratio");
    for (std::size_t size = 1024; size <= (std::size_t{64} << 20) && size <= total; size *= 4) {
        const std::string path = folder + "/inflate.zip";
        std::filesystem::remove(path);
        ZipArchiveFile zip;
        zip.Open(path, ZipCreate);
        const std::size_t count = total / size;
        for (std::size_t i = 0; i < count; ++i) {
            ZipEntryHeader header;
            std::string name = std::to_string(i);
            name.insert(name.begin(), 'e');
            header.SetFileName(name);
            if (!zip.OpenNewEntry(header, 6) || !zip.WriteNewEntry(data.data() + i * size, size) || !zip.CloseNewEntry())
                return 1;
        }
        zip.Close();
        double streaming = 1e9, whole = 1e9;
        for (int r = 0; r < repetitions; ++r) {
            ZipArchiveFile::SetWholeInflateLimit(0);
            streaming = std::min(streaming, ReadAll(path, 65536));
            ZipArchiveFile::SetWholeInflateLimit(std::uint64_t{1} << 30);
            whole = std::min(whole, ReadAll(path, size));
        }
        const double mb = static_cast<double>(count * size) / 1e6;
        std::printf("%9zuK %8zu %14.1f %14.1f %7.2f\n", size >> 10, count, mb / streaming, mb / whole, streaming / whole);
    }
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers shared by the zip layer's tests: writing and reading whole entries, raw archive
// bytes, and the independent readers (Python's zipfile, unzip, 7z).
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"
#include "zip/zip_archive_file.h"

namespace halvex::ziptest {

// A header named `name` with the fixed time every test entry carries.
inline ZipEntryHeader Named(const std::string& name) {
    ZipEntryHeader h;
    h.SetFileName(name);
    h.SetTime(platform::SystemTime{2021, 6, 0, 15, 13, 45, 30, 0});
    return h;
}

// Python prelude: `Pipe(file)` is an unseekable stream, so zipfile writes data descriptors.
inline const char* kPythonPipe = R"PY(
import io, struct, sys, zipfile
class Pipe(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
)PY";

// Adds one entry with `content` (level 0 stored, 9 best); fails the test when refused.
inline void AddEntry(ZipArchiveFile& zip, const std::string& name, const std::string& content,
                     int level = 9, std::uint32_t attributes = kZipAttrArchive) {
    ZipEntryHeader header = Named(name);
    header.externalAttributes = attributes;
    ASSERT_TRUE(zip.OpenNewEntry(header, level)) << name;
    ASSERT_TRUE(zip.WriteNewEntry(content.data(), content.size())) << name;
    ASSERT_TRUE(zip.CloseNewEntry()) << name;
}

// Reads entry `index` whole in chunks of `chunk`; `closeResult` gets CloseEntry's answer.
inline std::string ReadWhole(ZipArchiveFile& zip, int index, int* closeResult = nullptr,
                             std::size_t chunk = 4096) {
    std::string out;
    if (!zip.OpenEntry(index)) {
        ADD_FAILURE() << "OpenEntry(" << index << ") failed";
        return out;
    }
    std::vector<char> buffer(chunk);
    for (;;) {
        std::size_t n = zip.ReadEntry(buffer.data(), buffer.size());
        out.append(buffer.data(), n);
        if (n == 0) break;
    }
    const CloseEntryResult r = zip.CloseEntry();
    if (closeResult) *closeResult = static_cast<int>(r);
    return out;
}

inline std::string Bytes(const std::string& path) { return test::ReadFile(path); }

inline std::uint16_t U16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(at)) |
                                      (static_cast<unsigned char>(b.at(at + 1)) << 8));
}
inline std::uint32_t U32(const std::string& b, std::size_t at) {
    return U16(b, at) | (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}
inline void Put16(std::string& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<char>(v & 0xFF);
    b.at(at + 1) = static_cast<char>(v >> 8);
}
inline void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// Pseudo-random bytes (deterministic).
inline std::string RandomBytes(std::size_t n, std::uint32_t seed) {
    std::string s(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return s;
}

// Text-like compressible bytes.
inline std::string TextBytes(std::size_t n) {
    static const char* words[] = {"backup ", "archive ", "restore ", "file ", "folder ", "the ",
                                  "of ", "zip ", "entry\n", "data "};
    std::string s;
    std::uint32_t x = 7;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += words[(x >> 16) % 10];
    }
    s.resize(n);
    return s;
}

// One entry as Python's zipfile sees it.
struct PyEntry {
    std::string name;
    int flags = 0, method = 0, madeBy = 0, needed = 0;
    std::uint32_t crc = 0, compressedSize = 0, size = 0, externalAttributes = 0;
    std::size_t extraLength = 0, commentLength = 0;
    std::uint64_t offset = 0;
};
struct PyArchive {
    bool ran = false;
    std::string testzip;  // "None" when every CRC is right
    std::string comment;
    std::vector<PyEntry> entries;
    std::string errors;
};

inline PyArchive InspectWithPython(const std::string& path) {
    static const char* script = R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print("testzip", repr(z.testzip()))
print("comment", z.comment.hex())
for i in z.infolist():
    print("entry", i.filename.encode("utf-8").hex(), i.flag_bits, i.compress_type, i.create_version,
          i.extract_version, i.CRC, i.compress_size, i.file_size, i.external_attr, len(i.extra),
          len(i.comment), i.header_offset)
)PY";
    PyArchive out;
    auto r = test::RunCommand({"python3", "-c", script, path});
    out.errors = r.errors;
    if (r.exitCode != 0) return out;
    out.ran = true;
    std::istringstream lines(r.output);
    std::string line;
    auto unhex = [](const std::string& h) {
        std::string s;
        for (std::size_t i = 0; i + 1 < h.size(); i += 2) s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
        return s;
    };
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string kind;
        f >> kind;
        if (kind == "testzip") {
            std::getline(f >> std::ws, out.testzip);
        } else if (kind == "comment") {
            std::string h;
            f >> h;
            out.comment = unhex(h);
        } else if (kind == "entry") {
            PyEntry e;
            std::string h;
            f >> h >> e.flags >> e.method >> e.madeBy >> e.needed >> e.crc >> e.compressedSize >> e.size >>
                e.externalAttributes >> e.extraLength >> e.commentLength >> e.offset;
            e.name = unhex(h);
            out.entries.push_back(e);
        }
    }
    return out;
}

// unzip -t and 7z t; true when the tool is missing (the check is then skipped).
inline bool UnzipAccepts(const std::string& path, std::string* log = nullptr) {
    if (!test::HasTool("unzip")) return true;
    auto r = test::RunCommand({"unzip", "-t", path});
    if (log) *log = r.output + r.errors;
    return r.exitCode == 0;
}
inline bool SevenZipAccepts(const std::string& path, std::string* log = nullptr) {
    if (!test::HasTool("7z")) return true;
    auto r = test::RunCommand({"7z", "t", path});
    if (log) *log = r.output + r.errors;
    return r.exitCode == 0;
}

// The code a test saw: a CZipException's code, or a number of the test's own (0 for none,
// -1 for a refusal) that compares with the tables' plain numbers.
struct ZipCode {
    int value = 0;
    ZipCode(int v = 0) : value(v) {}
    ZipCode(ZipErrorCode code) : value(static_cast<int>(code)) {}
    friend bool operator==(ZipCode a, ZipCode b) { return a.value == b.value; }
    friend bool operator==(ZipCode a, int b) { return a.value == b; }
    friend bool operator==(ZipCode a, ZipErrorCode b) { return a.value == static_cast<int>(b); }
    friend std::ostream& operator<<(std::ostream& out, ZipCode code) { return out << code.value; }
};

// Runs `fn` and answers the CZipException code it threw (0 when it threw none).
template <typename Fn>
ZipCode ZipErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const CZipException& e) {
        return e.code;
    }
    return 0;
}

}  // namespace halvex::ziptest

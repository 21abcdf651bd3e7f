// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Little-endian fields of zip records, read from and appended to byte buffers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace halvex {

inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;    // 50 4B 03 04
inline constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;  // 50 4B 01 02
inline constexpr std::uint32_t kEndRecordSignature = 0x06054b50;      // 50 4B 05 06
inline constexpr std::uint32_t kDescriptorSignature = 0x08074b50;     // 50 4B 07 08
inline constexpr std::uint32_t kZip64EndRecordSignature = 0x06064b50; // 50 4B 06 06
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;   // 50 4B 06 07

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndRecordSize = 22;
inline constexpr std::size_t kZip64EndRecordSize = 56;  // without extensible data
inline constexpr std::size_t kZip64LocatorSize = 20;

// Extra field block with 64-bit sizes, offset and disk number, and the classic fields'
// markers that send a reader to it.
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFFu;
inline constexpr std::uint16_t kZip64Marker16 = 0xFFFF;
// Version needed to extract an entry or archive with zip64 records (4.5).
inline constexpr std::uint16_t kZip64VersionNeeded = 45;

inline std::uint16_t GetLe16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetLe64(const unsigned char* p) {
    return GetLe32(p) | (static_cast<std::uint64_t>(GetLe32(p + 4)) << 32);
}
inline void PutLe16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}
inline void PutLe32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void PutLe64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void PutLe32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}
inline void PutLe64(std::vector<unsigned char>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}
inline void SetLe16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void SetLe64(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}
inline void SetLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

}  // namespace halvex

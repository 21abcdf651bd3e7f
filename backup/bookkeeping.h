// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The entries that make every archive self-describing, written after a job's files: per
// mapping "<target>.tq" (its TargetHistory), then "backup.ini", "ToDirs.tq" and
// "tqbackup.log". All but "backup.ini" carry the time at which the run began copying.
//
// ToDirs record (little-endian): the number of archives of the set before this one (signed
// 32-bit), then each mapping's target name with a 0 byte, in mapping order, to the end.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "backup/compressed_history.h"
#include "backup/job_config.h"
#include "platform/local_time.h"
#include "zip/zip_archive_file.h"

namespace halvex {

inline constexpr const char* kToDirsEntryName = "ToDirs.tq";
inline constexpr const char* kRunLogEntryName = "tqbackup.log";
// The most archives one set holds: file trees carry 16-bit archive numbers.
inline constexpr int kMaxArchivesInSet = 65535;
// Entries of the job file: read in chunks of this size.
inline constexpr std::size_t kJobFileEntryBuffer = 65535;

// "<target>.tq"
std::string HistoryEntryName(std::string_view targetName);

// The ToDirs record of archive `archiveNumber` of a job with these mappings.
std::string MakeToDirs(int archiveNumber, const std::vector<SourceMapping>& mappings);

// Writes entry `name` (level 0 stored, 9 best) made of `parts`, with `time` as its
// modification time. False when the archive refuses it for a limit (it is then not in the
// archive); the zip layer's and the platform's errors are thrown.
bool WriteWholeEntry(ZipArchiveFile& zip, std::string_view name, int level, const platform::SystemTime& time,
                     std::initializer_list<std::span<const unsigned char>> parts);

// Writes entry `name` holding `history` as it is deflated already (the same bytes wherever
// it is written). Answers and throws as WriteWholeEntry.
bool WriteCompressedHistory(ZipArchiveFile& zip, std::string_view name, const platform::SystemTime& time,
                            const CompressedHistory& history);

inline std::span<const unsigned char> BytesOf(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

}  // namespace halvex

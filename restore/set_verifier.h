// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Checking that an archive, or a whole set, can still be restored: every entry read to its end
// through the zip layer with its CRC checked, as a restore reads it; for a set, also that every
// file a backup's added tree assigns to an archive is there.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/listing_record.h"

namespace halvex {

class ArchiveSet;

struct VerifyLine {
    enum class Status { Ok, Error, Refused, Short, Missing, OpenFailed };
    Status status = Status::Ok;
    int code = 0;         // the zip error code (0 for an operating-system error or none)
    std::string archive;  // file name of the archive
    std::string entry;    // entry name with '\'
    std::optional<std::uint64_t> size;  // as the central directory declares it
    std::optional<std::uint32_t> crc;
    // Why an archive could not be used, for standard error (not part of the line).
    std::string note;

    // status TAB code TAB archive TAB entry TAB size TAB crc (8 lower-case hex digits); the
    // size and crc fields are empty when unknown. An archive that cannot be opened:
    // open-failed TAB code TAB archive TAB TAB.
    std::string Format() const;
    // The same fields as a listing record (status, code, archive, path, size, crc).
    ListingRecord Record() const;
};

const char* VerifyStatusText(VerifyLine::Status status);

struct VerifySummary {
    int archives = 0;
    int entries = 0;   // lines other than open-failed
    int problems = 0;  // lines other than ok
};

using VerifySink = std::function<void(const VerifyLine&)>;

// Reads every entry of the archive at `path` in catalog order; then reports every name of
// `needed` that is not an entry (exact letter case first, then ignoring it) as missing.
// `archiveName` names the archive in the lines. With an `expectedNumber` (not 0), an archive
// whose own ToDirs.tq does not give it that number in its set is not read: it is reported as
// open-failed with code 0 and a note, as an archive that is not there.
VerifySummary VerifyArchive(const std::string& path, const std::string& archiveName,
                            const std::vector<std::string>& needed, const VerifySink& sink,
                            int expectedNumber = 0);

// The entry names of the files that the target histories of `set` say archive `number` holds.
std::vector<std::string> FilesExpectedIn(const ArchiveSet& set, int number);

// Verifies archives 1 to ArchiveCount() of the open set (looked for in the set's folder as
// ArchiveSet::ArchiveFileToOpen finds them), each with the files the histories assign to it
// and its number checked.
VerifySummary VerifySet(const ArchiveSet& set, const VerifySink& sink);

// The summary line: "Verified 12 entries in 3 archives: all ok." / "...: 2 problems."
std::string VerifySummaryText(const VerifySummary& summary);

}  // namespace halvex

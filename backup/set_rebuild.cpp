// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/set_rebuild.h"

#include <algorithm>
#include <climits>

#include "backup/backup_engine.h"
#include "backup/bookkeeping.h"
#include "backup/run_messages.h"
#include "common/archive_naming.h"
#include "common/memory_allowance.h"
#include "common/safe_name.h"
#include "common/target_history_reader.h"
#include "platform/directory_listing.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"
#include "platform/nocase.h"
#include "zip/zip_archive_file.h"
#include "zip/zip_whole_entry.h"

namespace halvex {
namespace {

// Most bytes of bookkeeping read from one archive (histories of millions of files fit).
constexpr std::uint64_t kBookkeepingLimit = std::uint64_t{1} << 30;

// The whole entry, or none when it is missing, larger than `budget`, a bomb or damaged.
std::optional<HistoryBytes> ReadEntry(ZipArchiveFile& zip, const std::string& name, std::uint64_t& budget) {
    int index = zip.FindEntry(name, true);
    if (index < 0) index = zip.FindEntry(name, false);
    if (index < 0) return std::nullopt;
    return ReadWholeEntry(zip, index, budget);
}

// A history whose records all read back, no more of them than the archive's number.
bool IsWholeHistory(const HistoryBytes& bytes, int archiveNumber) {
    TargetHistoryReader reader(bytes);
    if (!reader.Valid()) return false;
    BackupRecord record;
    int records = 0;
    for (;;) {
        switch (reader.Next(record)) {
            case TargetHistoryReader::Step::Record:
                if (++records > archiveNumber) return false;
                break;
            case TargetHistoryReader::Step::End: return records > 0;
            case TargetHistoryReader::Step::Damaged: return false;
        }
    }
}

}  // namespace

std::vector<int> ArchiveNumbersOnDisk(const std::string& base) {
    const std::string prefix = platform::NameOfPath(base);
    const std::string extension(kArchiveExtension);
    std::vector<int> numbers;
    platform::DirectoryListing listing;
    if (!listing.Open(platform::FolderOfPath(base))) return numbers;
    platform::DirEntry entry;
    while (listing.Next(entry)) {
        const std::string& name = entry.name;
        if (name.size() < prefix.size() + extension.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - extension.size());
        if (digits.empty()) {
            numbers.push_back(1);
            continue;
        }
        if (digits.size() > 9 || digits[0] < '1' || digits[0] > '9' ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int number = std::stoi(digits);
        if (number >= 2) numbers.push_back(number);
    }
    std::sort(numbers.rbegin(), numbers.rend());
    return numbers;
}

std::optional<ArchiveBookkeeping> ReadArchiveBookkeeping(const std::string& path) {
    ZipArchiveFile zip;
    try {
        zip.Open(path, ZipOpenReadOnly);
        std::uint64_t budget = kBookkeepingLimit;
        // An archive whose histories need more memory than allowed is not taken as the set's.
        MemoryAllowance allowance;
        const std::optional<HistoryBytes> toDirs = ReadEntry(zip, kToDirsEntryName, budget);
        if (!toDirs || toDirs->size() < 4) return std::nullopt;
        const std::uint32_t earlier = static_cast<std::uint32_t>((*toDirs)[0]) |
                                      (static_cast<std::uint32_t>((*toDirs)[1]) << 8) |
                                      (static_cast<std::uint32_t>((*toDirs)[2]) << 16) |
                                      (static_cast<std::uint32_t>((*toDirs)[3]) << 24);
        if (earlier >= static_cast<std::uint32_t>(INT_MAX)) return std::nullopt;
        ArchiveBookkeeping result;
        result.archiveNumber = static_cast<int>(earlier) + 1;
        ZipEntryHeader header;
        if (zip.GetEntryInfo(header, zip.FindEntry(kToDirsEntryName, false))) result.time = header.GetTime();

        // The target names, each ended by a 0 byte, fill the rest exactly.
        std::size_t at = 4;
        while (at < toDirs->size()) {
            const auto end = std::find(toDirs->begin() + static_cast<std::ptrdiff_t>(at), toDirs->end(), 0);
            if (end == toDirs->end()) return std::nullopt;
            const std::string target(toDirs->begin() + static_cast<std::ptrdiff_t>(at), end);
            at = static_cast<std::size_t>(end - toDirs->begin()) + 1;
            if (!IsSafeName(target)) return std::nullopt;
            for (const auto& [known, history] : result.histories)
                if (platform::EqualNoCase(known, target)) return std::nullopt;
            std::optional<HistoryBytes> history = ReadEntry(zip, HistoryEntryName(target), budget);
            if (!history || !IsWholeHistory(*history, result.archiveNumber)) return std::nullopt;
            result.histories.emplace(target, std::move(*history));
        }
        zip.Close(true);
        return result;
    } catch (const std::exception&) {
        zip.Close(true);
        return std::nullopt;
    }
}

// ---- the run's side -----------------------------------------------------------------------


std::optional<int> BackupEngine::FindArchiveNumber(JobRun& run) {
    const Job& job = *run.job;
    if (startBrandNew_) return 0;  // refused by the checks while archives of the set exist
    const std::optional<int> stored = store_->ReadArchiveNumber(job.name, false);
    if (!stored) {
        DropJob(run, FillIn(kDamagedArchiveNumberFormat, {job.name}), ~JobSelected);
        return std::nullopt;
    }
    const std::string base = config_.PathOf(job.archiveBaseName);
    const std::string archiveFolder = platform::FolderOfPath(base);
    if (!platform::IsDirectory(archiveFolder)) return stored;  // no archive yet; locked when the first is made
    if (!LockArchiveFolder(run, archiveFolder)) return std::nullopt;
    // Archives past the store's number: the store was lost, damaged, replaced by an older
    // copy, or a run was killed after its archive was in place. The newest one that is
    // really of this set (its own number, one of the job's targets and folders) tells where
    // the set is.
    for (int number : ArchiveNumbersOnDisk(base)) {
        if (number <= *stored) break;
        const std::string path = MakeArchiveFileName(job.archiveBaseName, number);
        std::optional<ArchiveBookkeeping> archive = ReadArchiveBookkeeping(config_.PathOf(path));
        // Anything else under the name is another set's (Job1's archive 12 is Job12's
        // archive 1... of another program folder) or damaged: never written over, see
        // CreateArchive.
        if (!archive || archive->archiveNumber != number) continue;
        // Of this job: one of its targets, backed up from the same folder (two program
        // folders may give one archive folder to two jobs of one name).
        const bool ofThisJob = std::any_of(job.mappings.begin(), job.mappings.end(), [&](const SourceMapping& m) {
            return std::any_of(archive->histories.begin(), archive->histories.end(), [&](const auto& h) {
                return platform::EqualNoCase(h.first, m.targetName) &&
                       TargetHistoryReader(h.second).SourceFolder() == m.sourceFolder;
            });
        });
        if (!ofThisJob) continue;
        store_->SetRebuiltJob(job.name, number, std::move(archive->histories), archive->time);
        view_->ShowMessage(FillIn(kStoreRebuiltFormat, {path, job.name}), std::string(kStoreRebuiltCaption),
                           MessageButtons::Ok);
        return number;
    }
    return stored;
}

}  // namespace halvex

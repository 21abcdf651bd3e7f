// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/file_list_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>

#include "backup/bookkeeping.h"
#include "backup/current_state.h"
#include "common/memory_allowance.h"
#include "common/target_history_reader.h"
#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/nocase.h"
#include "zip/zip_whole_entry.h"

namespace halvex {
namespace {

// Most bytes one entry of the store may hold (the history of ten million files is some 400 MB).
constexpr std::uint64_t kMaxStoreEntryBytes = std::uint64_t{1} << 30;

// Opens the store for change. The store is always one file: an end record naming other
// volumes is damage like any other (code 10), not a reason to look for parts beside it.
void OpenStoreArchive(ZipArchiveFile& zip, const std::string& path) {
    try {
        zip.Open(path, ZipOpenExisting);
    } catch (const platform::FileError& error) {
        if (error.path() == path) throw;
        RaiseZipError(kZipDamaged, path);  // a part it named is missing
    }
    if (zip.IsMultiVolume()) {
        zip.Close(true);
        RaiseZipError(kZipDamaged, path);
    }
}

// A fifo, socket or device under the store's name: damage like any other, kept aside. (A
// folder is left where it is; the store then cannot be opened.)
bool IsForeignFile(const std::string& path) {
    return platform::PathExists(path) && !platform::IsRegularFile(path) && !platform::IsDirectory(path);
}

// The number an "\ArchNum.tq" entry holds; none when a run did not write it.
std::optional<int> ArchiveNumberOf(const HistoryBytes& bytes) {
    if (bytes.size() != 4) return std::nullopt;
    const std::uint32_t raw = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                              (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    // A negative number, or one that leaves no next number, was not written by a run.
    if (raw >= 0x7FFFFFFFu) return std::nullopt;
    return static_cast<int>(raw);
}

}  // namespace

std::string ArchiveNumberEntryName(std::string_view jobName) {
    std::string name(jobName);
    name += "\\ArchNum.tq";
    return name;
}

std::string TargetHistoryEntryName(std::string_view jobName, std::string_view targetName) {
    std::string name(jobName);
    name += '\\';
    name += targetName;
    name += ".tq";
    return name;
}

std::string HistoryEndEntryName(std::string_view historyEntryName) {
    std::string name(historyEntryName.substr(0, historyEntryName.size() >= 3 ? historyEntryName.size() - 3 : 0));
    name += ".end";
    return name;
}

std::string StateEntryName(std::string_view historyEntryName) {
    std::string name(historyEntryName.substr(0, historyEntryName.size() >= 3 ? historyEntryName.size() - 3 : 0));
    name += ".state";
    return name;
}

std::optional<std::string> KeepDamagedStore(const std::string& path) {
    for (int n = 1; n < 10000; ++n) {
        std::string kept = path + ".damaged-" + std::to_string(n);
        if (platform::MovePath(path, kept)) {
            static_cast<void>(platform::SyncFolder(platform::FolderOfPath(path)));  // kept aside either way
            return kept;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> KeepCopyOfDamagedStore(const std::string& path) {
    const std::string copy = path + ".damaged-copy";
    if (!platform::CopyFileReplace(path, copy)) return std::nullopt;
    for (int n = 1; n < 10000; ++n) {
        std::string kept = path + ".damaged-" + std::to_string(n);
        if (platform::MovePath(copy, kept)) {
            // The kept copy is a courtesy: the run goes on whether or not its name is on disk yet.
            static_cast<void>(platform::SyncFolder(platform::FolderOfPath(path)));
            return kept;
        }
        if (errno != EEXIST) break;
    }
    platform::DeleteFile(copy);
    return std::nullopt;
}

bool ReadLastBackupTimes(JobConfig& config, const std::string& folder, std::string* damagedKeptAs) {
    const std::string store = folder + "/" + kFileListsName;
    ZipArchiveFile zip;
    try {
        try {
            if (IsForeignFile(store)) RaiseZipError(kZipDamaged, store);
            if (platform::PathExists(store)) OpenStoreArchive(zip, store);
            else zip.Open(store, ZipCreate);
        } catch (const CZipException&) {
            zip.Close(true);
            // Kept as it is for the user; the jobs' entries come back from their archives.
            const std::optional<std::string> kept = KeepDamagedStore(store);
            if (!kept) return false;
            if (damagedKeptAs != nullptr) *damagedKeptAs = *kept;
            zip.Open(store, ZipCreate);
        }
    } catch (const std::exception&) {
        zip.Close(true);
        return false;
    }
    for (Job& job : config.jobs) {
        const int index = zip.FindEntry(ArchiveNumberEntryName(job.name), false);
        ZipEntryHeader header;
        if (index >= 0 && zip.GetEntryInfo(header, index)) job.lastBackup = header.GetTime();
    }
    zip.Close(true);
    return true;
}

FileListStore::FileListStore(std::string folder) : folder_(std::move(folder)) {}

FileListStore::~FileListStore() { Abandon(); }

std::string FileListStore::PathOf(const char* name) const { return folder_ + "/" + name; }

bool FileListStore::OpenForRun() {
    if (IsOpen()) return true;
    busy_ = false;
    damagedKeptAs_.clear();
    damagedJobs_.clear();
    rebuilt_.clear();
    const std::string store = PathOf(kFileListsName);
    const std::string working = PathOf(kFileListsWorkingName);
    if (!lock_.TryLock(folder_)) {
        busy_ = errno == EWOULDBLOCK;
        return false;
    }
    auto fail = [&] {
        zip_.Close(true);
        platform::DeleteFile(working);
        lock_.Unlock();
        return false;
    };
    try {
        bool existing = platform::PathExists(store);
        bool damaged = IsForeignFile(store);
        if (existing && !damaged) {
            if (!platform::CopyFileReplace(store, working)) return fail();
            try {
                OpenStoreArchive(zip_, working);
            } catch (const CZipException&) {
                zip_.Close(true);
                damaged = true;
            }
        }
        if (existing && !damaged) {
            damagedJobs_ = FindDamagedJobs();
            if (!damagedJobs_.empty()) {
                // Kept as it is for the user; the working copy goes on without those jobs, and
                // FileLists.bak keeps the last store that read back whole.
                const std::optional<std::string> kept = KeepCopyOfDamagedStore(store);
                if (!kept) return fail();
                damagedKeptAs_ = *kept;
                for (const std::string& job : damagedJobs_) zip_.DeleteFolder(job);
            }
        }
        if (damaged) {
            // Kept aside, never truncated; the run starts from an empty store.
            const std::optional<std::string> kept = KeepDamagedStore(store);
            if (!kept) return fail();
            damagedKeptAs_ = *kept;
            existing = false;
        }
        if (!existing) {
            platform::DeleteFile(working);  // the run's own name under the lock: whatever is there goes
            zip_.Open(working, ZipCreate);
        } else if (damagedJobs_.empty()) {
            // Only a store that read back whole becomes the copy.
            if (!platform::CopyFileReplace(store, PathOf(kFileListsBackupName))) return fail();
        }
    } catch (const std::exception&) {
        return fail();
    }
    return true;
}

FileListStore::RebuiltJob* FileListStore::FindRebuilt(std::string_view jobName) {
    for (RebuiltJob& job : rebuilt_)
        if (platform::EqualNoCase(job.name, jobName)) return &job;
    return nullptr;
}

void FileListStore::SetRebuiltJob(std::string_view jobName, int archiveNumber,
                                  std::map<std::string, HistoryBytes> histories, const platform::SystemTime& entryTime) {
    RebuiltJob* job = FindRebuilt(jobName);
    if (job == nullptr) job = &rebuilt_.emplace_back();
    job->name = std::string(jobName);
    job->archiveNumber = archiveNumber;
    job->histories = std::move(histories);
    job->entryTime = entryTime;
}

bool FileListStore::ReadWholeEntry(int index, HistoryBytes& out) {
    out.clear();
    try {
        std::uint64_t budget = kMaxStoreEntryBytes;
        std::optional<HistoryBytes> bytes = halvex::ReadWholeEntry(zip_, index, budget);
        if (!bytes) return false;
        out = std::move(*bytes);
        return true;
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
}

std::vector<std::string> FileListStore::FindDamagedJobs() {
    std::vector<std::string> damaged;
    ZipEntryHeader header;
    HistoryBytes bytes;
    for (int i = 0; i < zip_.GetEntryCount(); ++i) {
        if (!zip_.GetEntryInfo(header, i)) continue;
        // "<job>\ArchNum.tq" and "<job>\<target>.tq"; other entries are not the run's.
        const std::string& name = header.fileName;
        const std::size_t slash = name.find('\\');
        if (slash == std::string::npos || slash == 0 || header.IsFolder() || name.size() < 3 ||
            !platform::EqualNoCase(std::string_view(name).substr(name.size() - 3), ".tq"))
            continue;
        const std::string job = name.substr(0, slash);
        if (std::any_of(damaged.begin(), damaged.end(), [&](const std::string& d) { return platform::EqualNoCase(d, job); }))
            continue;
        const bool numberEntry = platform::EqualNoCase(name, ArchiveNumberEntryName(job));
        // A history its state vouches for was read whole when the state was made from it; a
        // byte changed since then changes the CRC of its deflated bytes.
        if (!numberEntry && VouchedByState(i, header)) continue;
        bool whole = ReadWholeEntry(i, bytes);
        if (whole && numberEntry) {
            whole = ArchiveNumberOf(bytes).has_value();
        } else if (whole) {
            // Every record, trees and times, as the analysis will read them. One too large for
            // memory is not damage: the analysis skips its job and says why.
            MemoryAllowance allowance;
            TargetHistoryReader reader(bytes);
            BackupRecord record;
            TargetHistoryReader::Step step = reader.Valid() ? reader.Next(record) : TargetHistoryReader::Step::Damaged;
            while (step == TargetHistoryReader::Step::Record) step = reader.Next(record);
            whole = step == TargetHistoryReader::Step::End || allowance.Exceeded();
        }
        if (!whole) damaged.push_back(job);
    }
    return damaged;
}

bool FileListStore::VouchedByState(int index, const ZipEntryHeader& header) {
    const int stateIndex = zip_.FindEntry(StateEntryName(header.fileName), false);
    HistoryBytes entry;
    DecodedState state;
    if (stateIndex < 0 || header.method != 8 || !ReadWholeEntry(stateIndex, entry) || !DecodeStateEntry(entry, state) ||
        state.tag.historySize != header.uncompressedSize || state.tag.historyCrc != header.crc32 ||
        state.tag.deflatedSize != header.compressedSize)
        return false;
    std::vector<unsigned char> deflated;
    try {
        if (!zip_.ReadStoredData(index, deflated, kMaxStoreEntryBytes)) return false;
    } catch (const std::exception&) {
        return false;
    }
    return TagOf(CompressedHistory{std::move(deflated), header.crc32, header.uncompressedSize, {}}) == state.tag;
}

std::optional<int> FileListStore::ReadArchiveNumber(std::string_view jobName, bool brandNew) {
    if (brandNew) return 0;
    if (const RebuiltJob* job = FindRebuilt(jobName)) return job->archiveNumber;
    const int index = zip_.FindEntry(ArchiveNumberEntryName(jobName), false);
    if (index < 0) return 0;
    HistoryBytes bytes;
    if (!ReadWholeEntry(index, bytes)) return std::nullopt;
    return ArchiveNumberOf(bytes);
}

FileListStore::Read FileListStore::ReadTargetHistory(const std::string& name, HistoryBytes& out) {
    out.clear();
    for (const RebuiltJob& job : rebuilt_) {
        // "<job>\<target>.tq": a rebuilt job has exactly the histories it was rebuilt with.
        const std::string_view entry(name);
        if (entry.size() <= job.name.size() || entry[job.name.size()] != '\\' ||
            !platform::EqualNoCase(entry.substr(0, job.name.size()), job.name))
            continue;
        for (const auto& [target, history] : job.histories) {
            if (platform::EqualNoCase(entry, TargetHistoryEntryName(job.name, target))) {
                out = history;
                return Read::Found;
            }
        }
        return Read::Missing;
    }
    const int index = zip_.FindEntry(name, false);
    if (index < 0) return Read::Missing;
    return ReadWholeEntry(index, out) ? Read::Found : Read::Damaged;
}

FileListStore::Read FileListStore::ReadCompressedHistory(const std::string& name, CompressedHistory& out) {
    out = CompressedHistory{};
    for (const RebuiltJob& job : rebuilt_) {
        const std::string_view entry(name);
        if (entry.size() > job.name.size() && entry[job.name.size()] == '\\' &&
            platform::EqualNoCase(entry.substr(0, job.name.size()), job.name))
            return Read::Missing;
    }
    const int index = zip_.FindEntry(name, false);
    const int endIndex = zip_.FindEntry(HistoryEndEntryName(name), false);
    ZipEntryHeader header;
    if (index < 0 || endIndex < 0 || !zip_.GetEntryInfo(header, index)) return Read::Missing;
    HistoryBytes end;
    try {
        if (header.method != 8 || !zip_.ReadStoredData(index, out.deflated, kMaxStoreEntryBytes)) return Read::Missing;
    } catch (const std::exception&) {
        out = CompressedHistory{};
        return Read::Damaged;
    }
    if (!ReadWholeEntry(endIndex, end) || !DecodeHistoryEnd(end, out) || !EndsJoinable(out.deflated) ||
        out.size != header.uncompressedSize || out.crc != header.crc32) {
        out = CompressedHistory{};
        return Read::Missing;
    }
    return Read::Found;
}

FileListStore::Read FileListStore::ReadCurrentState(const std::string& name, std::string_view sourceFolder,
                                                    CompressedHistory& history, HistoryBytes& serializedState) {
    history = CompressedHistory{};
    serializedState.clear();
    const int stateIndex = zip_.FindEntry(StateEntryName(name), false);
    HistoryBytes entry;
    DecodedState state;
    if (stateIndex < 0 || !ReadWholeEntry(stateIndex, entry) || !DecodeStateEntry(entry, state) ||
        state.sourceFolder != sourceFolder)
        return Read::Missing;
    // ReadCompressedHistory answers Missing for a rebuilt job.
    const Read read = ReadCompressedHistory(name, history);
    if (read != Read::Found) return read;
    if (TagOf(history) != state.tag) {
        history = CompressedHistory{};
        return Read::Missing;
    }
    serializedState.assign(state.serializedState.begin(), state.serializedState.end());
    return Read::Found;
}

void FileListStore::SaveJob(std::string_view jobName, int archiveNumber, std::span<const HistoryToSave> histories,
                            bool brandNew, const platform::SystemTime& entryTime) {
    // A rebuilt job's old entries go, whatever they were; its histories are in `histories`.
    const auto rebuilt = std::find_if(rebuilt_.begin(), rebuilt_.end(),
                                      [&](const RebuiltJob& job) { return platform::EqualNoCase(job.name, jobName); });
    if (rebuilt != rebuilt_.end()) {
        brandNew = true;
        rebuilt_.erase(rebuilt);
    }
    WriteJob(jobName, archiveNumber, histories, brandNew, entryTime);
}

void FileListStore::WriteJob(std::string_view jobName, int archiveNumber, std::span<const HistoryToSave> histories,
                             bool brandNew, const platform::SystemTime& entryTime) {
    const std::string numberName = ArchiveNumberEntryName(jobName);
    std::vector<std::string> names{numberName};
    for (const HistoryToSave& h : histories) {
        names.push_back(TargetHistoryEntryName(jobName, h.targetName));
        if (platform::EqualNoCase(names.back(), numberName))
            throw std::invalid_argument("target name takes the place of the archive number entry");
    }
    const std::size_t historyNames = names.size();
    for (std::size_t i = 1; i < historyNames; ++i) names.push_back(HistoryEndEntryName(names[i]));
    const std::size_t endNames = names.size();
    for (std::size_t i = 1; i < historyNames; ++i) names.push_back(StateEntryName(names[i]));
    if (brandNew) zip_.DeleteFolder(jobName);

    // Every entry to be replaced goes in one pass over the file.
    std::vector<int> doomed;
    ZipEntryHeader header;
    for (int i = 0; i < zip_.GetEntryCount(); ++i) {
        zip_.GetEntryInfo(header, i);
        if (std::any_of(names.begin(), names.end(),
                        [&](const std::string& n) { return platform::EqualNoCase(header.fileName, n); }))
            doomed.push_back(i);
    }
    zip_.DeleteEntries(doomed);

    const auto number = static_cast<std::uint32_t>(archiveNumber);
    const unsigned char numberBytes[4] = {static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
                                          static_cast<unsigned char>(number >> 16),
                                          static_cast<unsigned char>(number >> 24)};
    auto refused = [](const std::string& name) {
        return std::length_error("FileLists.tq cannot take the entry " + name);
    };
    if (!WriteWholeEntry(zip_, numberName, 0, entryTime, {numberBytes})) throw refused(numberName);
    for (std::size_t i = 0; i < histories.size(); ++i) {
        const HistoryToSave& h = histories[i];
        std::optional<CompressedHistory> made;
        if (h.compressed == nullptr) {
            HistoryBytes whole(h.history);
            whole.insert(whole.end(), h.addedPart.begin(), h.addedPart.end());
            made = CompressHistory(whole);
        }
        const CompressedHistory& compressed = made ? *made : *h.compressed;
        if (!WriteCompressedHistory(zip_, names[i + 1], entryTime, compressed)) throw refused(names[i + 1]);
        const std::vector<unsigned char> end = EncodeHistoryEnd(compressed);
        if (!WriteWholeEntry(zip_, names[historyNames + i], 0, entryTime, {end})) throw refused(names[historyNames + i]);
        if (h.state != nullptr && !WriteWholeEntry(zip_, names[endNames + i], 1, entryTime, {*h.state}))
            throw refused(names[endNames + i]);
    }
}

void FileListStore::SaveState(const std::string& name, std::span<const unsigned char> state) {
    const std::string stateName = StateEntryName(name);
    if (const int index = zip_.FindEntry(stateName, false); index >= 0) zip_.DeleteEntries({index});
    if (!WriteWholeEntry(zip_, stateName, 1, platform::CurrentLocalTime(), {state}))
        throw std::length_error("FileLists.tq cannot take the entry " + stateName);
}

void FileListStore::Close() {
    if (!IsOpen()) return;
    const std::string working = PathOf(kFileListsWorkingName);
    try {
        static const HistoryBytes kNothingAdded;
        for (const RebuiltJob& job : rebuilt_) {
            std::vector<HistoryToSave> histories;
            for (const auto& [target, history] : job.histories) histories.push_back({target, history, kNothingAdded});
            WriteJob(job.name, job.archiveNumber, histories, true, job.entryTime);
        }
        rebuilt_.clear();
        zip_.Close(false);
    } catch (...) {
        rebuilt_.clear();
        zip_.Close(true);
        platform::DeleteFile(working);
        lock_.Unlock();
        throw;
    }
    // It names every private file of every job, encrypted jobs' too: the user's alone.
    static_cast<void>(::chmod(working.c_str(), 0600));
    if (std::rename(working.c_str(), PathOf(kFileListsName).c_str()) != 0) {
        const int error = errno;
        platform::DeleteFile(working);
        lock_.Unlock();
        throw platform::FileError("rename", working, error);
    }
    // The rename is done; the store is in place even if this last flush is refused.
    static_cast<void>(platform::SyncFolder(folder_));
    lock_.Unlock();
}

void FileListStore::Abandon() noexcept {
    rebuilt_.clear();
    if (!IsOpen()) return;
    zip_.Close(true);
    platform::DeleteFile(PathOf(kFileListsWorkingName));
    lock_.Unlock();
}

}  // namespace halvex

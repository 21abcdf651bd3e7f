#include "backup/file_list_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "backup/bookkeeping.h"
#include "platform/file_attributes.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/nocase.h"

namespace halvex {
namespace {

constexpr std::size_t kReadChunk = 256 * 1024;

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

bool ReadLastBackupTimes(JobConfig& config, const std::string& folder) {
    const std::string store = folder + "/" + kFileListsName;
    const std::string backup = folder + "/" + kFileListsBackupName;
    ZipArchiveFile zip;
    try {
        try {
            zip.Open(store, platform::PathExists(store) ? ZipOpenExisting : ZipCreate);
        } catch (const CZipException&) {
            zip.Close(true);
            const bool copied = platform::CopyFileReplace(backup, store);
            zip.Open(store, copied ? ZipOpenExisting : ZipCreate);
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
    const std::string store = PathOf(kFileListsName);
    const std::string working = PathOf(kFileListsWorkingName);
    if (!lock_.TryLock(folder_)) return false;
    try {
        if (platform::PathExists(store)) {
            if (!platform::CopyFileReplace(store, PathOf(kFileListsBackupName)) ||
                !platform::CopyFileReplace(store, working)) {
                lock_.Unlock();
                return false;
            }
            zip_.Open(working, ZipOpenExisting);
        } else {
            zip_.Open(working, ZipCreate);
        }
    } catch (const std::exception&) {
        zip_.Close(true);
        platform::DeleteFile(working);
        lock_.Unlock();
        return false;
    }
    return true;
}

bool FileListStore::ReadWholeEntry(int index, HistoryBytes& out) {
    out.clear();
    try {
        if (!zip_.OpenEntry(index)) return false;
        for (;;) {
            const std::size_t at = out.size();
            out.resize(at + kReadChunk);
            const std::size_t n = zip_.ReadEntry(out.data() + at, kReadChunk);
            out.resize(at + n);
            if (n == 0) break;
        }
        return zip_.CloseEntry() == 1;
    } catch (const std::exception&) {
        zip_.CloseEntry({}, true);
        out.clear();
        return false;
    }
}

std::optional<int> FileListStore::ReadArchiveNumber(std::string_view jobName, bool brandNew) {
    if (brandNew) return 0;
    const int index = zip_.FindEntry(ArchiveNumberEntryName(jobName), false);
    if (index < 0) return 0;
    HistoryBytes bytes;
    if (!ReadWholeEntry(index, bytes) || bytes.size() != 4) return std::nullopt;
    const std::uint32_t raw = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                              (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    // A negative number, or one that leaves no next number, was not written by a run.
    if (raw >= 0x7FFFFFFFu) return std::nullopt;
    return static_cast<int>(raw);
}

FileListStore::Read FileListStore::ReadTargetHistory(const std::string& name, HistoryBytes& out) {
    out.clear();
    const int index = zip_.FindEntry(name, false);
    if (index < 0) return Read::Missing;
    return ReadWholeEntry(index, out) ? Read::Found : Read::Damaged;
}

void FileListStore::SaveJob(std::string_view jobName, int archiveNumber, std::span<const HistoryToSave> histories,
                            bool brandNew, const platform::SystemTime& entryTime) {
    const std::string numberName = ArchiveNumberEntryName(jobName);
    std::vector<std::string> names{numberName};
    for (const HistoryToSave& h : histories) {
        names.push_back(TargetHistoryEntryName(jobName, h.targetName));
        if (platform::EqualNoCase(names.back(), numberName))
            throw std::invalid_argument("target name takes the place of the archive number entry");
    }
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
        if (!WriteWholeEntry(zip_, names[i + 1], 9, entryTime, {histories[i].history, histories[i].addedPart}))
            throw refused(names[i + 1]);
    }
}

void FileListStore::Close() {
    if (!IsOpen()) return;
    const std::string working = PathOf(kFileListsWorkingName);
    try {
        zip_.Close(false);
    } catch (...) {
        zip_.Close(true);
        platform::DeleteFile(working);
        lock_.Unlock();
        throw;
    }
    if (std::rename(working.c_str(), PathOf(kFileListsName).c_str()) != 0) {
        const int error = errno;
        platform::DeleteFile(working);
        lock_.Unlock();
        throw platform::FileError("rename", working, error);
    }
    // The rename is done; the store is in place even if this last flush is refused.
    platform::SyncFolder(folder_);
    lock_.Unlock();
}

void FileListStore::Abandon() noexcept {
    if (!IsOpen()) return;
    zip_.Close(true);
    platform::DeleteFile(PathOf(kFileListsWorkingName));
    lock_.Unlock();
}

}  // namespace halvex

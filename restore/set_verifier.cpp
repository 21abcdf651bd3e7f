// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/set_verifier.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>

#include "common/file_tree_walk.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "restore/archive_set.h"
#include "restore/entry_pool.h"
#include "restore/restore_errors.h"
#include "restore/set_records.h"
#include "zip/zip_archive_file.h"

namespace halvex {

namespace {

int ErrorCode(const std::exception& error) {
    if (const auto* zip = dynamic_cast<const CZipException*>(&error)) return static_cast<int>(zip->code);
    return 0;
}

// Reads entry `index` to its end; the status and code of its line.
void VerifyEntry(ZipArchiveFile& zip, int index, std::vector<unsigned char>& buffer, VerifyLine& line) {
    try {
        if (!zip.OpenEntry(index)) {
            line.status = VerifyLine::Status::Refused;
            return;
        }
    } catch (const std::exception& error) {
        line.status = VerifyLine::Status::Error;
        line.code = ErrorCode(error);
        return;
    }
    try {
        while (zip.ReadEntry(buffer.data(), buffer.size()) != 0) {
        }
    } catch (const std::exception& error) {
        zip.AbandonEntry();
        line.status = VerifyLine::Status::Error;
        line.code = ErrorCode(error);
        return;
    }
    try {
        line.status = zip.CloseEntry() == CloseEntryResult::Complete ? VerifyLine::Status::Ok : VerifyLine::Status::Short;
    } catch (const std::exception& error) {
        line.status = VerifyLine::Status::Error;
        line.code = ErrorCode(error);
    }
}

constexpr std::size_t kVerifyBuffer = 65536;

// Room for the whole entry when it is inflated in one step, else one streaming buffer.
std::size_t VerifyBufferFor(const ZipEntryHeader& header) {
    const std::uint64_t memory = EntryReadMemory(header, kVerifyBuffer);
    if (memory <= kVerifyBuffer + ZipArchiveFile::kIoBufferSize) return kVerifyBuffer;
    return static_cast<std::size_t>(std::max<std::uint64_t>(header.uncompressedSize, kVerifyBuffer));
}

VerifyLine LineFor(const ZipEntryHeader& header, const std::string& archiveName) {
    VerifyLine line;
    line.archive = archiveName;
    line.entry = header.fileName;
    line.size = header.uncompressedSize;
    line.crc = header.crc32;
    return line;
}

// Reads every entry of the open `zip` (from `path`) on `threads` workers, each with an
// archive object of its own; the lines go out in catalog order.
void VerifyEntriesOnPool(ZipArchiveFile& zip, const std::string& path, const std::string& archiveName, int threads,
                         const std::function<void(const VerifyLine&)>& emit) {
    EntryPool pool(path, threads);
    std::deque<std::pair<std::uint64_t, std::shared_ptr<VerifyLine>>> pending;
    const auto settleOldest = [&](bool wait) {
        if (pending.empty()) return false;
        const std::optional<EntryOutcome> outcome =
            pool.Take(pending.front().first, std::chrono::milliseconds(wait ? 1000 : 0));
        if (!outcome) return false;
        VerifyLine& line = *pending.front().second;
        // The worker could not even open the archive: an error of this entry, never an ok.
        if (!outcome->complete) {
            line.status = VerifyLine::Status::Error;
            try {
                if (outcome->error) std::rethrow_exception(outcome->error);
            } catch (const std::exception& error) {
                line.code = ErrorCode(error);
            }
        }
        emit(line);
        pending.pop_front();
        return true;
    };
    const int count = zip.GetEntryCount();
    for (int index = 0; index < count; ++index) {
        ZipEntryHeader header;
        if (!zip.GetEntryInfo(header, index)) continue;
        auto line = std::make_shared<VerifyLine>(LineFor(header, archiveName));
        const std::uint64_t memory = EntryReadMemory(header, kVerifyBuffer);
        while (!pool.HasRoom(memory)) settleOldest(true);
        const std::size_t bufferSize = VerifyBufferFor(header);
        const std::uint64_t ticket = pool.Submit(memory, [line, index, bufferSize](const EntryWork& work) {
            // Each worker keeps its buffer from entry to entry, grown as entries need.
            thread_local std::vector<unsigned char> buffer;
            if (buffer.size() > (std::size_t{1} << 20) && bufferSize <= kVerifyBuffer) buffer = {};
            if (buffer.size() < bufferSize) buffer.resize(bufferSize);
            VerifyEntry(work.zip, index, buffer, *line);
            return true;
        });
        pending.emplace_back(ticket, std::move(line));
        while (settleOldest(false)) {
        }
    }
    while (!pending.empty()) settleOldest(true);
}

}  // namespace

const char* VerifyStatusText(VerifyLine::Status status) {
    switch (status) {
    case VerifyLine::Status::Ok: return "ok";
    case VerifyLine::Status::Error: return "error";
    case VerifyLine::Status::Refused: return "refused";
    case VerifyLine::Status::Short: return "short";
    case VerifyLine::Status::Missing: return "missing";
    case VerifyLine::Status::OpenFailed: return "open-failed";
    }
    return "";
}

std::string VerifyLine::Format() const { return Record().Tsv(); }

ListingRecord VerifyLine::Record() const {
    ListingRecord record;
    record.Text("status", VerifyStatusText(status)).Number("code", static_cast<std::uint64_t>(code)).Text("archive", archive);
    // An archive that cannot be opened has no entry: its line ends after two empty fields.
    if (status == Status::OpenFailed) return record.Text("path", std::nullopt).Text("size", std::nullopt);
    record.Text("path", entry).Number("size", size);
    std::optional<std::string> crcText;
    if (crc) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(*crc));
        crcText = hex;
    }
    return record.Text("crc", crcText);
}

VerifySummary VerifyArchive(const std::string& path, const std::string& archiveName,
                            const std::vector<std::string>& needed, const VerifySink& sink,
                            int expectedNumber) {
    VerifySummary summary;
    summary.archives = 1;
    auto emit = [&](const VerifyLine& line) {
        if (line.status != VerifyLine::Status::OpenFailed) ++summary.entries;
        if (line.status != VerifyLine::Status::Ok) ++summary.problems;
        sink(line);
    };
    ZipArchiveFile zip;
    try {
        zip.Open(path, ZipOpenReadOnly, 0);
    } catch (const std::exception& error) {
        zip.Close(true);
        VerifyLine line;
        line.status = VerifyLine::Status::OpenFailed;
        line.code = ErrorCode(error);
        line.archive = archiveName;
        // A fifo, device or folder under the archive's name: refused, and told.
        const auto* file = dynamic_cast<const platform::FileError*>(&error);
        if (file != nullptr && file->osError() == platform::kNotRegularFile) line.note = DescribeError(*file);
        emit(line);
        return summary;
    }
    if (expectedNumber != 0) {
        const std::optional<int> own = ReadOwnArchiveNumber(zip);
        if (own != expectedNumber) {
            zip.Close(true);
            VerifyLine line;
            line.status = VerifyLine::Status::OpenFailed;
            line.archive = archiveName;
            line.note = archiveName + (own ? " is archive " + std::to_string(*own) + " of its set"
                                           : std::string(" does not tell which archive of its set it is")) +
                        ", not archive " + std::to_string(expectedNumber) + ": it was not read.";
            emit(line);
            return summary;
        }
    }
    const int threads = RestoreThreadCount();
    if (threads > 1 && !zip.IsMultiVolume()) {
        VerifyEntriesOnPool(zip, path, archiveName, threads, emit);
    } else {
        std::vector<unsigned char> buffer;
        const int count = zip.GetEntryCount();
        for (int index = 0; index < count; ++index) {
            ZipEntryHeader header;
            if (!zip.GetEntryInfo(header, index)) continue;
            VerifyLine line = LineFor(header, archiveName);
            if (buffer.size() < VerifyBufferFor(header)) buffer.resize(VerifyBufferFor(header));
            VerifyEntry(zip, index, buffer, line);
            emit(line);
        }
    }
    for (const std::string& name : needed) {
        const int index = zip.FindEntryExactFirst(name);
        if (index >= 0 && !zip.IsFolderEntry(index)) continue;
        VerifyLine line;
        line.status = VerifyLine::Status::Missing;
        line.archive = archiveName;
        line.entry = name;
        emit(line);
    }
    zip.Close(true);
    return summary;
}

std::vector<std::string> FilesExpectedIn(const ArchiveSet& set, int number) {
    std::vector<std::string> names;
    for (int i = 0; i < set.TargetCount(); ++i) {
        const BackupTarget& target = set.GetTarget(i);
        for (int k = 0; k < target.backupCount; ++k) {
            const FileTreeNode* tree = target.addedTrees[k].get();
            if (tree == nullptr || tree->archiveNumber != number) continue;
            std::vector<std::size_t> lengths;  // path length before each open folder's name
            std::string path;
            detail::WalkFolders(
                tree,
                [&](const FileTreeNode* folder) {
                    lengths.push_back(path.size());
                    if (folder == tree) {
                        path += target.targetName;
                    } else {
                        path += '\\';
                        path += folder->name;
                    }
                    for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next)
                        names.push_back(path + "\\" + file->name);
                },
                [&](const FileTreeNode*) {
                    path.resize(lengths.back());
                    lengths.pop_back();
                });
        }
    }
    return names;
}

VerifySummary VerifySet(const ArchiveSet& set, const VerifySink& sink) {
    VerifySummary total;
    for (int number = 1; number <= set.ArchiveCount(); ++number) {
        const std::string path = set.ArchiveFileToOpen(number);
        const std::string name = platform::NameOfPath(path);
        // An archive of the set is named as the set names it, not by its path in the set's folder.
        const VerifySink named = [&](const VerifyLine& line) {
            VerifyLine shown = line;
            const std::size_t at = shown.note.find(path);
            if (at != std::string::npos) shown.note.replace(at, path.size(), name);
            sink(shown);
        };
        const VerifySummary one = VerifyArchive(path, name, FilesExpectedIn(set, number), named, number);
        total.archives += one.archives;
        total.entries += one.entries;
        total.problems += one.problems;
    }
    return total;
}

std::string VerifySummaryText(const VerifySummary& summary) {
    std::string text = "Verified " + std::to_string(summary.entries) + (summary.entries == 1 ? " entry" : " entries") +
                       " in " + std::to_string(summary.archives) + (summary.archives == 1 ? " archive" : " archives") +
                       ": ";
    if (summary.problems == 0) return text + "all ok.";
    return text + std::to_string(summary.problems) + (summary.problems == 1 ? " problem." : " problems.");
}

}  // namespace halvex

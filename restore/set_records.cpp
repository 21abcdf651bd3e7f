// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/set_records.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <unordered_set>

#include "common/file_tree_walk.h"
#include "common/target_history_reader.h"
#include "platform/nocase.h"
#include "zip/zip_archive_file.h"
#include "zip/zip_whole_entry.h"

namespace halvex {

namespace {

std::int32_t ReadInt32(const unsigned char* p) {
    std::uint32_t value = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                          (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(value);
}

void ClearHistory(BackupTarget& target) {
    target.sourceFolder.clear();
    target.backupCount = 0;
    target.backupTimes.clear();
    target.removedTrees.clear();
    target.addedTrees.clear();
}

}  // namespace

bool HasSafeNames(const FileTreeNode* root) {
    if (root == nullptr) return true;
    if (root->name == nullptr || root->name[0] != '\0' || root->nextSibling != nullptr) return false;
    bool safe = true;
    detail::ForEachFolder(root, [&](const FileTreeNode* folder) {
        if (!safe) return;
        if (folder != root && !IsSafeName(folder->name)) safe = false;
        for (const FileTreeFile* file = folder->files; safe && file != nullptr; file = file->next) {
            if (!IsSafeName(file->name)) safe = false;
        }
    });
    return safe;
}

std::optional<ToDirsRecord> ParseToDirs(std::span<const unsigned char> bytes, std::size_t maxTargets) {
    if (bytes.size() < 4) return std::nullopt;
    const std::int32_t earlier = ReadInt32(bytes.data());
    if (earlier < 0 || earlier >= kMaxArchiveCount) return std::nullopt;
    ToDirsRecord record;
    record.archiveCount = earlier + 1;
    std::span<const unsigned char> names = bytes.subspan(4);
    if (!names.empty() && names.back() != 0) return std::nullopt;
    std::unordered_set<std::string> seen;  // upper-cased
    const auto* p = reinterpret_cast<const char*>(names.data());
    const char* end = p + names.size();
    while (p < end) {
        const std::size_t length = std::strlen(p);  // ends at the latest at the final 0 byte
        std::string_view name(p, length);
        if (!IsSafeName(name) || record.targetNames.size() >= maxTargets) return std::nullopt;
        if (!seen.insert(platform::UpperCased(name)).second) return std::nullopt;
        record.targetNames.emplace_back(name);
        p += length + 1;
    }
    return record;
}

bool ParseTargetHistory(std::span<const unsigned char> bytes, int archiveCount, BackupTarget& target,
                        HistoryRead read) {
    ClearHistory(target);
    TargetHistoryReader reader(bytes.data(), bytes.size(), /*checkFirstRemovedFlag=*/true);
    if (!reader.Valid()) return false;
    target.sourceFolder = reader.SourceFolder();
    BackupRecord record;
    SkippedRecord skipped;
    const auto safe = [](const SkippedTreeNames& names) { return names.oneUnnamedTop && names.namesPass; };
    for (;;) {
        const int k = target.backupCount;
        const auto archiveNumber = static_cast<std::uint16_t>(k + 1);
        TargetHistoryReader::Step step;
        bool safeNames;
        if (read == HistoryRead::Trees) {
            step = reader.Next(record, archiveNumber);
            safeNames = HasSafeNames(record.removed.get()) && HasSafeNames(record.added.get());
        } else {
            step = reader.Skip(skipped, &IsSafeName);
            safeNames = safe(skipped.removed) && safe(skipped.added);
            record.runTime = skipped.runTime;
        }
        if (step == TargetHistoryReader::Step::End) return true;
        if (step == TargetHistoryReader::Step::Damaged || k >= archiveCount || !safeNames) {
            ClearHistory(target);
            return false;
        }
        target.backupTimes.push_back(record.runTime);
        target.removedTrees.push_back(std::move(record.removed));
        target.addedTrees.push_back(std::move(record.added));
        target.backupCount = k + 1;
    }
}

int FindBookkeepingEntry(const ZipArchiveFile& zip, const std::string& name) {
    const int exact = zip.FindEntry(name, true);
    return exact >= 0 ? exact : zip.FindEntry(name, false);
}

std::optional<std::vector<unsigned char>> ReadBookkeepingEntry(ZipArchiveFile& zip, int index,
                                                               std::uint64_t& budget, bool checkRatio) {
    return ReadWholeEntry(zip, index, budget, checkRatio);
}

std::optional<int> ReadOwnArchiveNumber(ZipArchiveFile& zip) {
    try {
        const int index = FindBookkeepingEntry(zip, "ToDirs.tq");
        if (index < 0) return std::nullopt;
        std::uint64_t budget = kMaxBookkeepingBytes;
        const auto bytes = ReadBookkeepingEntry(zip, index, budget);
        if (!bytes) return std::nullopt;
        const auto record = ParseToDirs(*bytes, zip.GetEntryCount());
        if (!record) return std::nullopt;
        return record->archiveCount;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace halvex

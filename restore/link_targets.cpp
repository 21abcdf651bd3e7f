// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/link_targets.h"

#include <exception>

#include "restore/archive_set.h"
#include "zip/zip_archive_file.h"

namespace halvex {
namespace {

// No file system keeps a longer target; a longer "link" is not read.
constexpr std::uint64_t kMaxLinkTarget = 65536;

std::map<std::string, std::string> ReadLinkEntries(const std::string& path) {
    std::map<std::string, std::string> links;
    if (path.empty()) return links;
    try {
        ZipArchiveFile zip;
        zip.Open(path, ZipOpenReadOnly, 0);
        const int count = zip.GetEntryCount();
        for (int i = 0; i < count; ++i) {
            ZipEntryHeader header;
            if (!zip.GetEntryInfo(header, i) || !header.IsLink() || header.uncompressedSize == 0 ||
                header.uncompressedSize > kMaxLinkTarget || !zip.OpenEntry(i))
                continue;
            std::string target(static_cast<std::size_t>(header.uncompressedSize), '\0');
            std::size_t got = 0;
            try {
                while (got < target.size()) {
                    const std::size_t n = zip.ReadEntry(target.data() + got, target.size() - got);
                    if (n == 0) break;
                    got += n;
                }
                if (got == target.size() && zip.CloseEntry() == CloseEntryResult::Complete)
                    links.emplace(header.fileName, std::move(target));
                else
                    zip.AbandonEntry();
            } catch (const std::exception&) {
                zip.AbandonEntry();  // a damaged entry: the others can still be read
            }
        }
        zip.Close(true);
    } catch (const std::exception&) {
        // An archive that cannot be read tells of no links; the restore reports it.
    }
    return links;
}

}  // namespace

std::optional<std::string> LinkTargets::TargetOf(const FileTreeFile& file, const std::string& entryPath) {
    if (file.size == 0 || file.size > kMaxLinkTarget) return std::nullopt;
    auto archive = links_.find(file.archiveNumber);
    if (archive == links_.end())
        archive = links_.emplace(file.archiveNumber, ReadLinkEntries(set_.ArchiveFileToOpen(file.archiveNumber))).first;
    const auto link = archive->second.find(entryPath);
    if (link == archive->second.end()) return std::nullopt;
    return link->second;
}

}  // namespace halvex

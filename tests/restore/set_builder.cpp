// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/restore/set_builder.h"

#include <dirent.h>
#include <stdexcept>

#include "common/archive_naming.h"
#include "tests/common/file_tree_test_util.h"
#include "zip/zip_archive_file.h"

namespace halvex::test {

namespace {

void AppendLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AddEntry(ZipArchiveFile& zip, const RawEntry& entry, std::uint64_t fileTime) {
    ZipEntryHeader header;
    header.SetFileName(entry.name);
    header.SetFileTime(fileTime);
    header.externalAttributes = entry.folder ? kZipAttrDirectory : kZipAttrArchive;
    if (entry.link) header.SetLinkAttributes();
    if (!zip.OpenNewEntry(header, entry.folder || entry.link ? 0 : entry.level)) throw std::runtime_error("entry refused: " + entry.name);
    if (!entry.content.empty() && !zip.WriteNewEntry(entry.content.data(), entry.content.size()))
        throw std::runtime_error("entry not written: " + entry.name);
    if (!zip.CloseNewEntry()) throw std::runtime_error("entry not closed: " + entry.name);
}

// The entries of an added tree: per folder its entry, its files, then its sub-folders.
void AddTreeEntries(std::vector<std::pair<RawEntry, std::uint64_t>>& out, const FileTreeNode* folder,
                    const std::string& path, int archive) {
    out.push_back({RawEntry{path, "", 0, true}, Day(0)});
    for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next) {
        const std::string name = path + "\\" + file->name;
        out.push_back({RawEntry{name, EntryContent(name, archive, file->size)}, file->lastWriteTime});
    }
    for (const FileTreeNode* sub = folder->firstChild; sub != nullptr; sub = sub->nextSibling)
        AddTreeEntries(out, sub, path + "\\" + sub->name, archive);
}

}  // namespace

std::uint64_t Day(int day, int seconds) {
    // 2023-01-01 00:00:00 UTC as a file time.
    constexpr std::uint64_t kYear2023 = 133170048000000000ULL;
    constexpr std::uint64_t kSecond = 10000000ULL;
    return kYear2023 + (static_cast<std::uint64_t>(day) * 86400 + 12 * 3600 + static_cast<std::uint64_t>(seconds)) * kSecond;
}

std::string TreeBytes(const std::string& treeText) {
    OwnedTree tree(treeText);
    std::string bytes(FileTreeSerializedSize64(tree.head), '\0');
    auto* cursor = reinterpret_cast<unsigned char*>(bytes.data());
    SaveFileTree(tree.head, cursor);
    return bytes;
}

std::string ToDirsBytes(std::int32_t earlier, const std::vector<std::string>& names) {
    std::string out;
    AppendLittleEndian(out, static_cast<std::uint32_t>(earlier), 4);
    for (const std::string& name : names) {
        out += name;
        out += '\0';
    }
    return out;
}

std::string HistoryBytes(const std::string& sourceFolder, const std::vector<RawRecord>& records) {
    std::string out = sourceFolder;
    out += '\0';
    for (const RawRecord& record : records) {
        AppendLittleEndian(out, record.time, 8);
        out += static_cast<char>(record.removedFlag);
        out += record.removedTree;
        out += static_cast<char>(record.addedFlag);
        out += record.addedTree;
    }
    return out;
}

std::string HistoryBytes(const std::string& sourceFolder, const std::vector<Record>& records) {
    std::vector<RawRecord> raw;
    for (const Record& record : records) {
        RawRecord r;
        r.time = record.time;
        if (!record.removed.empty()) {
            r.removedFlag = 1;
            r.removedTree = TreeBytes(record.removed);
        }
        if (!record.added.empty()) {
            r.addedFlag = 1;
            r.addedTree = TreeBytes(record.added);
        }
        raw.push_back(std::move(r));
    }
    return HistoryBytes(sourceFolder, raw);
}

void WriteArchive(const std::string& path, const std::vector<RawEntry>& entries) {
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    for (const RawEntry& entry : entries) AddEntry(zip, entry, Day(0));
    zip.Close();
}

std::string EntryContent(const std::string& entryName, int archive, std::uint64_t size) {
    const std::string unit = entryName + " from archive " + std::to_string(archive) + "\n";
    std::string content;
    content.reserve(size);
    while (content.size() < size) content += unit;
    content.resize(size);
    return content;
}

SetBuilder::SetBuilder(std::string folder, std::string base) : folder_(std::move(folder)), base_(std::move(base)) {}

void SetBuilder::AddTarget(const std::string& name, const std::string& sourceFolder) {
    targets_[name].sourceFolder = sourceFolder;
}

std::string SetBuilder::ArchivePath(int number) const { return MakeArchiveFileName(folder_ + "/" + base_, number); }

std::string SetBuilder::Run(std::uint64_t time, const std::vector<Change>& changes) {
    const int number = ++archiveCount_;
    std::vector<std::pair<RawEntry, std::uint64_t>> entries;
    std::vector<std::string> names;
    for (const Change& change : changes) {
        Target& target = targets_.at(change.target);
        target.records.push_back(Record{time, change.removed, change.added});
        if (!change.added.empty()) {
            OwnedTree added(change.added);
            AddTreeEntries(entries, added.head, change.target, number);
        }
        entries.push_back({RawEntry{change.target + ".tq", HistoryBytes(target.sourceFolder, target.records)}, time});
        names.push_back(change.target);
    }
    entries.push_back({RawEntry{"backup.ini", "[Job]\r\n"}, time});
    entries.push_back({RawEntry{"ToDirs.tq", ToDirsBytes(number - 1, names), 0}, time});
    entries.push_back({RawEntry{"tqbackup.log", "Log of archive " + std::to_string(number) + "\r\n"}, time});

    const std::string path = ArchivePath(number);
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    for (auto& [entry, entryTime] : entries) {
        if (const auto link = links.find(entry.name); link != links.end()) {
            entry.content = link->second;
            entry.link = true;
        }
        if (omit.count(entry.name) == 0) AddEntry(zip, entry, entryTime);
    }
    zip.Close();
    return path;
}

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++count;
        ::closedir(dir);
    }
    return count;
}

}  // namespace halvex::test

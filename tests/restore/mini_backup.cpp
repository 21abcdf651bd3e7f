#include "tests/restore/mini_backup.h"

#include <stdexcept>

#include "common/archive_naming.h"
#include "platform/directory_listing.h"
#include "tests/support/temp_folder.h"
#include "zip/zip_archive_file.h"

namespace halvex::test {

namespace {

// The folder's files and sub-folders as a tree whose top folder is unnamed.
FileTreeNode* ScanFolder(const std::string& folder, const std::string& name) {
    FileTreeNode* node = NewFolderNode(name);
    FileTreeFile** fileLink = &node->files;
    FileTreeNode** folderLink = &node->firstChild;
    platform::DirectoryListing listing(folder);
    platform::DirEntry entry;
    while (listing.Next(entry)) {
        if (entry.isSymlink) continue;
        if (entry.kind == platform::EntryKind::RegularFile) {
            *fileLink = NewFileNode(entry.name, entry.size, entry.lastWriteTime);
            fileLink = &(*fileLink)->next;
        } else if (entry.kind == platform::EntryKind::Directory) {
            *folderLink = ScanFolder(folder + "/" + entry.name, entry.name);
            folderLink = &(*folderLink)->nextSibling;
        }
    }
    return node;
}

void MergeCopy(FileTreeNode*& state, const FileTreeNode* record, int mode) {
    FileTreeNode* copy = CloneFileTree(record);
    MergeFileTrees(&state, &copy, mode);
    FreeFileTree(copy);
}

void AppendTree(std::string& out, const FileTreeNode* tree) {
    if (tree == nullptr) {
        out += '\0';
        return;
    }
    out += '\1';
    const std::size_t at = out.size();
    out.resize(at + FileTreeSerializedSize64(tree));
    auto* cursor = reinterpret_cast<unsigned char*>(out.data() + at);
    SaveFileTree(tree, cursor);
}

void AddEntry(ZipArchiveFile& zip, const std::string& name, const std::string& content, bool folder) {
    ZipEntryHeader header;
    header.SetFileName(name);
    header.SetFileTime(platform::CurrentFileTime());
    header.externalAttributes = folder ? kZipAttrDirectory : kZipAttrArchive;
    if (!zip.OpenNewEntry(header, folder ? 0 : 9) ||
        (!content.empty() && !zip.WriteNewEntry(content.data(), content.size())) || !zip.CloseNewEntry())
        throw std::runtime_error("cannot add " + name);
}

// Per folder: its entry, its files (read from the source), then its sub-folders.
void AddFiles(ZipArchiveFile& zip, const FileTreeNode* folder, const std::string& entryPath,
              const std::string& sourcePath) {
    AddEntry(zip, entryPath, "", true);
    for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next)
        AddEntry(zip, entryPath + "\\" + file->name, ReadFile(sourcePath + "/" + file->name), false);
    for (const FileTreeNode* sub = folder->firstChild; sub != nullptr; sub = sub->nextSibling)
        AddFiles(zip, sub, entryPath + "\\" + sub->name, sourcePath + "/" + sub->name);
}

}  // namespace

MiniBackup::MiniBackup(std::string archiveFolder, std::string base, std::string targetName, std::string sourceFolder)
    : archiveFolder_(std::move(archiveFolder)),
      base_(std::move(base)),
      targetName_(std::move(targetName)),
      sourceFolder_(std::move(sourceFolder)) {}

std::string MiniBackup::Run(std::uint64_t runTime) {
    // What the earlier runs left, replayed from the history.
    FileTreeNode* state = nullptr;
    for (const Record& record : records_) {
        if (record.removed) MergeCopy(state, record.removed.get(), 6);
        if (record.added) MergeCopy(state, record.added.get(), 1);
    }
    // The scan keeps the new and changed files; the state keeps what vanished.
    FileTreeNode* added = ScanFolder(sourceFolder_, "");
    MergeFileTrees(&added, &state, 14);
    records_.push_back(Record{runTime, FileTreePtr(state), FileTreePtr(added)});

    std::string history = sourceFolder_;
    history += '\0';
    for (const Record& record : records_) {
        for (int b = 0; b < 8; ++b) history += static_cast<char>((record.time >> (8 * b)) & 0xFF);
        AppendTree(history, record.removed.get());
        AppendTree(history, record.added.get());
    }
    const int number = static_cast<int>(records_.size());
    std::string toDirs(4, '\0');
    for (int b = 0; b < 4; ++b) toDirs[b] = static_cast<char>(((number - 1) >> (8 * b)) & 0xFF);
    toDirs += targetName_;
    toDirs += '\0';

    const std::string path = MakeArchiveFileName(archiveFolder_ + "/" + base_, number);
    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    if (added != nullptr) AddFiles(zip, added, targetName_, sourceFolder_);
    AddEntry(zip, targetName_ + ".tq", history, false);
    AddEntry(zip, "backup.ini", "[Job]\r\n", false);
    AddEntry(zip, "ToDirs.tq", toDirs, false);
    AddEntry(zip, "tqbackup.log", "run " + std::to_string(number) + "\r\n", false);
    zip.Close();
    return path;
}

}  // namespace halvex::test

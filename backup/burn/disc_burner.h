// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the copy-to-CD task needs of a disc burner: connecting to the burning library, the
// recorder and its tray, what the disc in it holds, and burning folders into a new session.
// CdBurner is the real one; tests give the task a fake.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/file_tree.h"

namespace halvex {

// A file in the root folder of the disc's last session.
struct DiscFile {
    std::string name;
    std::uint64_t size = 0;
    std::uint64_t lastWriteTime = 0;  // 100-ns units since 1601-01-01 UTC, whole seconds
};

// Size and CRC-32 of a file's content, on the disc or on the local disk.
struct FileDigest {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    bool operator==(const FileDigest&) const = default;
};

// A burn that failed; what() is the text the user is shown under "Burn Error".
class BurnError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a burn reports its progress: the progress window's bar (0..100) and "Status:" line.
struct BurnProgress {
    std::function<void(int minimum, int maximum)> setRange;
    std::function<void(int position)> setPosition;
    std::function<void(const std::string& text)> setStatus;
};

class DiscBurner {
public:
    virtual ~DiscBurner() = default;

    // 0 connected (also when already connected); 1 the library could not be found, loaded or
    // accepted; a negative number: its initialisation failed; 2 it lists no drive.
    virtual int Connect() = 0;
    // 0 a recorder is open; -1 not connected; -2 no writing drive; -4 the drive cannot be opened.
    virtual int OpenRecorder() = 0;
    // Closes the recorder (the drive is released, the tray stays as it is).
    virtual void CloseRecorder() = 0;
    virtual int Eject() = 0;
    virtual int Load() = 0;
    // -1 no disc information; 0 the disc cannot be written; 1 it can.
    virtual int DiscWritableState() = 0;
    // The disc's volume id; empty when there is none or it cannot be read.
    virtual std::string VolumeLabel() = 0;
    // The files in the root of the disc's last session (empty for a blank disc).
    virtual std::vector<DiscFile> DriveRoot() = 0;
    // Burns the files of each folder of the chain (folder path in `name`, file names in
    // `files`, sub-folders below) into the disc's root, in a new session that keeps every
    // earlier file; a file of the same name as one on the disc replaces it. The volume id is
    // volumeName, or the disc's own label when none is given. 0 on success, -1 without an
    // open recorder; a failure throws BurnError with the text to show.
    virtual int BurnFolders(const FileTreeNode* folders, const std::optional<std::string>& volumeName,
                            bool firstOption, bool secondOption) = 0;
    // Reads a file of the disc's root back from the disc itself; none when it is not there or
    // cannot be read.
    virtual std::optional<FileDigest> DiscFileDigest(const std::string& name) = 0;
    virtual void SetProgress(BurnProgress progress) = 0;
    virtual void Disconnect() = 0;
};

}  // namespace halvex

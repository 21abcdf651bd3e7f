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

// The answers of a burner. Their numbers are the burning library binding's own and are kept so.
enum class ConnectResult : int {
    Connected = 0,   // also when already connected
    NoLibrary = 1,   // the library could not be found, loaded or accepted
    NoDrive = 2,     // it lists no drive
    InitFailed = -1, // its initialisation failed
};
enum class RecorderResult : int {
    Open = 0,
    NotConnected = -1,
    NoWritingDrive = -2,
    CannotOpen = -4,  // the drive cannot be opened
};
enum class TrayResult : int { Done = 0, Failed = -1 };
enum class DiscState : int { Unknown = -1, NotWritable = 0, Writable = 1 };
enum class BurnResult : int { Burned = 0, NoRecorder = -1 };

class DiscBurner {
public:
    virtual ~DiscBurner() = default;

    [[nodiscard]] virtual ConnectResult Connect() = 0;
    [[nodiscard]] virtual RecorderResult OpenRecorder() = 0;
    // Closes the recorder (the drive is released, the tray stays as it is).
    virtual void CloseRecorder() = 0;
    // Callers may go on whatever the tray did: what the disc holds is asked next.
    virtual TrayResult Eject() = 0;
    virtual TrayResult Load() = 0;
    // Unknown when there is no disc information.
    [[nodiscard]] virtual DiscState DiscWritableState() = 0;
    // The disc's volume id; empty when there is none or it cannot be read.
    virtual std::string VolumeLabel() = 0;
    // The files in the root of the disc's last session (empty for a blank disc).
    virtual std::vector<DiscFile> DriveRoot() = 0;
    // Burns the files of each folder of the chain (folder path in `name`, file names in
    // `files`, sub-folders below) into the disc's root, in a new session that keeps every
    // earlier file; a file of the same name as one on the disc replaces it. The volume id is
    // volumeName, or the disc's own label when none is given. NoRecorder without an open
    // recorder; a failure throws BurnError with the text to show.
    [[nodiscard]] virtual BurnResult BurnFolders(const FileTreeNode* folders,
                                                 const std::optional<std::string>& volumeName) = 0;
    // Reads a file of the disc's root back from the disc itself; none when it is not there or
    // cannot be read.
    virtual std::optional<FileDigest> DiscFileDigest(const std::string& name) = 0;
    virtual void SetProgress(BurnProgress progress) = 0;
    virtual void Disconnect() = 0;
};

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// CdBurner: the backup program's session with the burning library, libisoburn (with libburn
// and libisofs), which is loaded with dlopen when the burner connects and unloaded when it
// disconnects. Nothing links against it, so the programs run where it is not installed
// (Connect then answers 1).
//
// Two environment variables, read here only, take the place of the library's settings:
// HALVEX_BURN_LIBRARY names the library file to load instead of libisoburn.so.1, and
// HALVEX_BURN_DRIVE the drive (a device such as /dev/sr0, or stdio:/path/image.iso, an image
// file that behaves as an overwritable disc with emulated multisession); without it the first
// drive that can write is used.
//
// The library prints nothing of its own (its messages are kept and added to failure texts)
// and keeps no signal handlers: SIGINT and SIGTERM go on meaning Cancel.
//
// One thread at a time uses a burner; the loaded library is process-wide, so only one burner
// is connected at a time.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/burn/disc_burner.h"

namespace halvex {

// The environment variables the binding reads.
inline constexpr const char* kBurnLibraryVariable = "HALVEX_BURN_LIBRARY";
inline constexpr const char* kBurnDriveVariable = "HALVEX_BURN_DRIVE";
inline constexpr const char* kDefaultBurnLibrary = "libisoburn.so.1";

// The longest volume id an ISO 9660 disc holds; longer CD names are cut to it.
inline constexpr std::size_t kVolumeIdLength = 32;
std::string CutVolumeId(const std::string& name);

class CdBurner : public DiscBurner {
public:
    CdBurner();
    // Closes the recorder and disconnects.
    ~CdBurner() override;
    CdBurner(const CdBurner&) = delete;
    CdBurner& operator=(const CdBurner&) = delete;

    [[nodiscard]] ConnectResult Connect() override;
    [[nodiscard]] RecorderResult OpenRecorder() override;
    void CloseRecorder() override;
    // Both do nothing for an image file.
    TrayResult Eject() override;
    TrayResult Load() override;
    [[nodiscard]] DiscState DiscWritableState() override;
    std::string VolumeLabel() override;
    std::vector<DiscFile> DriveRoot() override;
    [[nodiscard]] BurnResult BurnFolders(const FileTreeNode* folders,
                                         const std::optional<std::string>& volumeName) override;
    std::optional<FileDigest> DiscFileDigest(const std::string& name) override;
    void SetProgress(BurnProgress progress) override { progress_ = std::move(progress); }
    void Disconnect() override;

    bool IsConnected() const { return connected_; }
    // The drive's address (as the library names it) once connected.
    const std::string& DriveAddress() const { return driveAddress_; }

private:
    struct Drive;
    bool Acquire(bool loadTray);
    void Release(bool eject);
    bool IsImageFile() const;
    void ShowStatus(std::string_view text);

    bool connected_ = false;
    bool burning_ = false;
    std::string driveAddress_;
    bool recorderOpen_ = false;  // OpenRecorder succeeded and CloseRecorder was not called
    std::unique_ptr<Drive> drive_;  // the acquired drive, none while released (ejected)
    BurnProgress progress_;
};

}  // namespace halvex

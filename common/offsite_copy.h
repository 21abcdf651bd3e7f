// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Copies of a set's archives kept on other storage, through rclone: any remote the user has
// set up with `rclone config`, or a plain folder. rclone is found on PATH unless
// HALVEX_RCLONE names another binary; its configuration is the user's own (RCLONE_CONFIG).
//
// An archive is written under a temporary name ("<name>.partial") and moved into place only
// once complete, so a cut copy never takes an archive's name; each copied archive is then
// checked against the local file: its size and, where the remote offers one, a hash. Sending
// never changes or deletes a local file; fetching never replaces a local archive that already
// holds the remote's size.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvex {

inline constexpr const char* kRcloneVariable = "HALVEX_RCLONE";
inline constexpr std::string_view kOffsitePartialSuffix = ".partial";

// One file of a listing (rclone lsjson): its name, size and hashes by type ("md5": hex).
struct ListedFile {
    std::string name;
    std::int64_t size = -1;
    bool isFolder = false;
    std::map<std::string, std::string> hashes;
};

// The files of an lsjson answer; none when it is not one.
std::optional<std::vector<ListedFile>> ParseListing(std::string_view json);

// What one line rclone writes to standard error says, with --use-json-log: an error (with
// its text), transfer stats, or nothing of interest.
struct RcloneLogLine {
    std::string error;              // not empty for an error
    std::int64_t bytes = -1;        // stats: bytes moved so far, of totalBytes
    std::int64_t totalBytes = -1;
};
RcloneLogLine ReadRcloneLogLine(std::string_view line);

// Whether the location names an rclone remote ("name:path", ":backend,option=x:path") rather
// than a local folder: a colon before any '/'.
bool IsRemoteLocation(std::string_view location);
// The location as rclone is given it: a local folder without a leading '/' is taken in
// baseFolder (and one beginning with '-' gets "./"); a remote stays as it is.
std::string OffsiteLocation(const std::string& location, const std::string& baseFolder);

struct OffsiteHooks {
    std::function<void(const std::string& status)> onStatus;  // "Copying Data3.TQBak" ...
    std::function<void(int permille)> onProgress;             // of the bytes to copy
    std::function<bool()> shouldStop;                         // a cancel: rclone is stopped
};

struct OffsiteResult {
    bool ok = false;
    bool cancelled = false;
    std::string reason;               // why not ok: ours, then rclone's last error line
    std::vector<std::string> copied;  // file names copied, in order
};

// Copies the archives named (files of localFolder, oldest first) that `remote` lacks or holds
// with another size, the newest last, and checks each one copied.
OffsiteResult SendArchives(const std::string& localFolder, const std::vector<std::string>& names,
                           const std::string& remote, const OffsiteHooks& hooks = {});

// Copies the archives (*.TQBak) of `remote` that localFolder lacks or holds with another size
// into it, and checks each against the remote. `newest` gets the path of the archive to
// open: the highest-numbered archive of the newest file's set.
OffsiteResult FetchArchives(const std::string& remote, const std::string& localFolder, std::string& newest,
                            const OffsiteHooks& hooks = {});

}  // namespace halvex

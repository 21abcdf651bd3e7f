// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/burn/cd_burner.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <thread>

// The library's headers give the types of its entry points; nothing of it is linked.
#include <libburn/libburn.h>
#include <libisofs/libisofs.h>
#include <libisoburn/libisoburn.h>
#include <zlib.h>

#include "backup/burn/burn_messages.h"
#include "backup/burn/isoburn_entry_points.h"
#include "platform/file_time.h"

namespace halvex {
namespace {

// The oldest library whose calls and behaviour the binding relies on.
constexpr int kMinimumVersion[3] = {1, 2, 0};

// Drive flags: load the tray; take no ACLs or extended attributes from the files burned.
constexpr int kAcquireLoadTray = 1;
constexpr int kAcquireNoAclNoXattr = 32 | 64;

// For C++, libburn.h declares its calls and structures in namespace burn, while libisoburn.h
// names the same structures in the global namespace: the two are one type each, cast at
// the calls (DriveOf, LibburnOf).
namespace fn {
using namespace ::burn;
#define HALVEX_ENTRY_TYPE(name) using name = decltype(&name);
HALVEX_ISOBURN_ENTRY_POINTS(HALVEX_ENTRY_TYPE)
#undef HALVEX_ENTRY_TYPE
}  // namespace fn

struct Api {
#define HALVEX_ENTRY_FIELD(name) fn::name name = nullptr;
    HALVEX_ISOBURN_ENTRY_POINTS(HALVEX_ENTRY_FIELD)
#undef HALVEX_ENTRY_FIELD
};

// The process-wide loader state: the loaded library and its entry points.
void* g_library = nullptr;
Api g_api;

const Api& Lib() { return g_api; }

void UnloadLibrary() {
    if (g_library != nullptr) dlclose(g_library);
    g_library = nullptr;
    g_api = Api{};
}

// Puts back every signal disposition that was in force when it was made: the library may
// install handlers of its own while it starts, and SIGINT and SIGTERM must keep meaning Cancel.
class KeepSignalHandlers {
public:
    KeepSignalHandlers() {
        for (int s = 1; s < NSIG; ++s) saved_[s].valid = sigaction(s, nullptr, &saved_[s].action) == 0;
    }
    ~KeepSignalHandlers() {
        for (int s = 1; s < NSIG; ++s)
            if (saved_[s].valid && s != SIGKILL && s != SIGSTOP) sigaction(s, &saved_[s].action, nullptr);
    }
    KeepSignalHandlers(const KeepSignalHandlers&) = delete;
    KeepSignalHandlers& operator=(const KeepSignalHandlers&) = delete;

private:
    struct Saved {
        bool valid = false;
        struct sigaction action {};
    };
    std::array<Saved, NSIG> saved_{};
};

char* Text(const char* text) { return const_cast<char*>(text); }

::burn_drive* DriveOf(burn::burn_drive* drive) { return reinterpret_cast<::burn_drive*>(drive); }
burn::burn_drive* LibburnOf(::burn_drive* drive) { return reinterpret_cast<burn::burn_drive*>(drive); }

// The library keeps its messages in queues instead of printing them; failures add them to
// their texts.
void SilenceMessages() {
    Lib().burn_msgs_set_severities(Text("SORRY"), Text("NEVER"), Text(""));
    Lib().iso_set_msgs_severities(Text("SORRY"), Text("NEVER"), Text(""));
}

void DiscardMessages() {
    int code = 0, osErrno = 0, imageId = 0;
    std::string text(std::max(BURN_MSGS_MESSAGE_LEN, ISO_MSGS_MESSAGE_LEN) + 1, '\0');
    char severity[80];
    Lib().burn_msgs_obtain(Text("NEVER"), &code, text.data(), &osErrno, severity);
    Lib().iso_obtain_msgs(Text("NEVER"), &code, &imageId, text.data(), severity);
}

// The queued messages, one a line.
std::string TakeMessages() {
    std::string out;
    int code = 0, osErrno = 0, imageId = 0;
    std::string text(std::max(BURN_MSGS_MESSAGE_LEN, ISO_MSGS_MESSAGE_LEN) + 1, '\0');
    char severity[80] = {};
    auto add = [&] {
        text.back() = '\0';
        if (!out.empty()) out += '\n';
        out += text.c_str();
    };
    for (int i = 0; i < 64 && Lib().burn_msgs_obtain(Text("SORRY"), &code, text.data(), &osErrno, severity) == 1; ++i)
        add();
    for (int i = 0; i < 64 && Lib().iso_obtain_msgs(Text("SORRY"), &code, &imageId, text.data(), severity) == 1; ++i)
        add();
    return out;
}

// How a burn ended, numbered as the failure table numbers them (the outcomes 1, 2, 4 and 5
// have no cause in a libisoburn session, but keep their texts).
enum class BurnOutcome : int {
    Ok = 0,
    UnknownFormat = 1,
    InvalidDrive = 2,
    WriteFailed = 3,
    NotAllowed = 4,
    DriveNotAllowed = 5,
    ImportFailed = -3,
    TrackFailed = -4,
};

std::string_view FailureText(BurnOutcome result) {
    switch (result) {
        case BurnOutcome::UnknownFormat: return kBurnUnknownFormatText;
        case BurnOutcome::InvalidDrive: return kBurnInvalidDriveText;
        case BurnOutcome::WriteFailed: return kBurnFailedText;
        case BurnOutcome::NotAllowed: return kBurnNotAllowedText;
        case BurnOutcome::DriveNotAllowed: return kBurnDriveNotAllowedText;
        case BurnOutcome::ImportFailed: return kBurnImportFailedText;
        case BurnOutcome::TrackFailed: return kBurnTrackFailedText;
        case BurnOutcome::Ok: break;
    }
    return kBurnUnknownErrorText;
}

struct ImageUnref {
    void operator()(IsoImage* image) const {
        if (image != nullptr && Lib().iso_image_unref != nullptr) Lib().iso_image_unref(image);
    }
};
using ImagePtr = std::unique_ptr<IsoImage, ImageUnref>;

bool VersionAccepted(int major, int minor, int micro) {
    const std::array<int, 3> have{major, minor, micro};
    return !std::lexicographical_compare(have.begin(), have.end(), std::begin(kMinimumVersion),
                                         std::end(kMinimumVersion));
}

// The first drive the library finds that can write a CD or DVD; empty when there is none.
std::string FirstWritingDrive() {
    burn::burn_drive_info* infos = nullptr;
    unsigned int count = 0;
    std::string address;
    // The scan is asked again until it has finished (it answers 0 while it has not).
    int scanned = 0;
    for (int attempt = 0; attempt < 50 && (scanned = Lib().burn_drive_scan(&infos, &count)) == 0; ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (scanned > 0 && infos != nullptr) {
        for (unsigned int i = 0; i < count && address.empty(); ++i) {
            const burn::burn_drive_info& info = infos[i];
            if (!(info.write_cdr || info.write_cdrw || info.write_dvdr || info.write_dvdram)) continue;
            std::string adr(BURN_DRIVE_ADR_LEN + 1, '\0');
            if (Lib().burn_drive_get_adr(&infos[i], adr.data()) > 0) address = adr.c_str();
        }
        // The scan keeps the drives locked against other programs until they are forgotten.
        for (unsigned int i = 0; i < count; ++i) Lib().burn_drive_info_forget(&infos[i], 0);
    }
    if (infos != nullptr) Lib().burn_drive_info_free(infos);
    return address;
}

std::string JoinPath(const std::string& folder, const char* name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Adds the files and sub-folders of `folder` (found on disk below `path`) to `dir` of the
// image; an entry of the same name already there is replaced. On failure `why` names the
// file and the library's reason.
bool AddFolder(IsoImage* image, IsoDir* dir, const std::string& path, const FileTreeNode& folder, std::string& why) {
    for (const FileTreeFile* file = folder.files; file != nullptr; file = file->next) {
        IsoNode* existing = nullptr;
        if (Lib().iso_dir_get_node(dir, file->name, &existing) == 1) Lib().iso_node_remove(existing);
        const std::string source = JoinPath(path, file->name);
        IsoNode* node = nullptr;
        const int added = Lib().iso_tree_add_new_node(image, dir, file->name, source.c_str(), &node);
        if (added < 0) {
            const char* reason = Lib().iso_error_to_msg(added);
            why = source + ": " + (reason != nullptr ? reason : "error " + std::to_string(added));
            return false;
        }
        // The disc is read on other machines by other users: readable by all (the restore
        // program executable), not 600 as the archives are here.
        if (node != nullptr)
            Lib().iso_node_set_permissions(node, (Lib().iso_node_get_permissions(node) & 0111) != 0 ? 0555 : 0444);
    }
    for (const FileTreeNode* sub = folder.firstChild; sub != nullptr; sub = sub->nextSibling) {
        IsoNode* existing = nullptr;
        IsoDir* subDir = nullptr;
        if (Lib().iso_dir_get_node(dir, sub->name, &existing) == 1) {
            if (Lib().iso_node_get_type(existing) == LIBISO_DIR) {
                subDir = reinterpret_cast<IsoDir*>(existing);
            } else {
                Lib().iso_node_remove(existing);
            }
        }
        const std::string source = JoinPath(path, sub->name);
        if (subDir == nullptr && Lib().iso_tree_add_new_dir(dir, sub->name, &subDir) < 0) {
            why = source;
            return false;
        }
        if (!AddFolder(image, subDir, source, *sub, why)) return false;
    }
    return true;
}

}  // namespace

std::string CutVolumeId(const std::string& name) { return name.substr(0, std::min(name.size(), kVolumeIdLength)); }

struct CdBurner::Drive {
    burn::burn_drive_info* infos = nullptr;
    bool treeRead = false;  // the disc's tree is attached to the drive
    ::burn_drive* get() const { return DriveOf(infos[0].drive); }
};

CdBurner::CdBurner() = default;

CdBurner::~CdBurner() {
    CloseRecorder();
    Disconnect();
}

ConnectResult CdBurner::Connect() {
    if (connected_) return ConnectResult::Connected;
    UnloadLibrary();
    const char* configured = std::getenv(kBurnLibraryVariable);
    const char* path = configured != nullptr && *configured != '\0' ? configured : kDefaultBurnLibrary;
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return ConnectResult::NoLibrary;
    Api api;
    bool complete = true;
#define HALVEX_LOOK_UP(name)                                                     \
    api.name = reinterpret_cast<fn::name>(dlsym(handle, #name)); \
    complete = complete && api.name != nullptr;
    HALVEX_ISOBURN_ENTRY_POINTS(HALVEX_LOOK_UP)
#undef HALVEX_LOOK_UP
    int major = 0, minor = 0, micro = 0;
    if (complete) api.isoburn_version(&major, &minor, &micro);
    if (!complete || !VersionAccepted(major, minor, micro)) {
        dlclose(handle);
        return ConnectResult::NoLibrary;
    }
    g_library = handle;
    g_api = api;

    KeepSignalHandlers keepHandlers;
    // The message settings need the started library; until then only fatal messages print.
    char message[1024] = {};
    if (Lib().isoburn_initialize(message, 0) != 1) {
        UnloadLibrary();
        return ConnectResult::InitFailed;
    }
    SilenceMessages();
    const char* drive = std::getenv(kBurnDriveVariable);
    driveAddress_ = drive != nullptr && *drive != '\0' ? std::string(drive) : FirstWritingDrive();
    if (driveAddress_.empty()) {
        Lib().isoburn_finish();
        UnloadLibrary();
        return ConnectResult::NoDrive;
    }
    DiscardMessages();
    connected_ = true;
    return ConnectResult::Connected;
}

bool CdBurner::IsImageFile() const { return driveAddress_.rfind("stdio:", 0) == 0; }

bool CdBurner::Acquire(bool loadTray) {
    if (drive_) return true;
    KeepSignalHandlers keepHandlers;
    std::string address = driveAddress_;
    auto drive = std::make_unique<Drive>();
    const int flags = (loadTray ? kAcquireLoadTray : 0) | kAcquireNoAclNoXattr;
    if (Lib().isoburn_drive_aquire(reinterpret_cast<::burn_drive_info**>(&drive->infos), address.data(), flags) != 1 || drive->infos == nullptr) {
        if (drive->infos != nullptr) Lib().burn_drive_info_free(drive->infos);
        DiscardMessages();
        return false;
    }
    drive_ = std::move(drive);
    return true;
}

void CdBurner::Release(bool eject) {
    if (!drive_) return;
    Lib().isoburn_drive_release(drive_->get(), eject ? 1 : 0);
    Lib().burn_drive_info_free(drive_->infos);
    drive_.reset();
}

RecorderResult CdBurner::OpenRecorder() {
    if (!connected_) return RecorderResult::NotConnected;
    CloseRecorder();
    if (driveAddress_.empty()) return RecorderResult::NoWritingDrive;
    if (!Acquire(true)) return RecorderResult::CannotOpen;
    recorderOpen_ = true;
    return RecorderResult::Open;
}

void CdBurner::CloseRecorder() {
    Release(false);
    recorderOpen_ = false;
}

TrayResult CdBurner::Eject() {
    if (!recorderOpen_ || IsImageFile()) return TrayResult::Done;
    Release(true);
    return TrayResult::Done;
}

TrayResult CdBurner::Load() {
    if (!recorderOpen_ || IsImageFile()) return TrayResult::Done;
    return Acquire(true) ? TrayResult::Done : TrayResult::Failed;
}

DiscState CdBurner::DiscWritableState() {
    if (!drive_) return DiscState::Unknown;
    switch (Lib().isoburn_disc_get_status(drive_->get())) {
        case burn::BURN_DISC_BLANK:
        case burn::BURN_DISC_APPENDABLE: return DiscState::Writable;
        case burn::BURN_DISC_FULL:
        case burn::BURN_DISC_UNSUITABLE: return DiscState::NotWritable;
        default: break;
    }
    return DiscState::Unknown;
}

std::string CdBurner::VolumeLabel() {
    if (!drive_) return {};
    const burn::burn_disc_status status = Lib().isoburn_disc_get_status(drive_->get());
    if (status != burn::BURN_DISC_APPENDABLE && status != burn::BURN_DISC_FULL) return {};
    int start = 0;
    if (Lib().isoburn_disc_get_msc1(drive_->get(), &start) <= 0) return {};
    int blocks = 0;
    char info[64] = {};
    const int found = Lib().isoburn_read_iso_head(drive_->get(), start, &blocks, info, 1);
    DiscardMessages();
    if (found <= 0) return {};
    std::string label(info, strnlen(info, kVolumeIdLength));
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label;
}

namespace {

// The tree of the disc's last session (an empty one for a blank disc), or none. It is read
// once per acquired drive and then kept attached to it (reading it again would lose the
// library's first copy); a burn changes that tree and is followed by a new acquisition.
ImagePtr ReadDiscImage(::burn_drive* drive, bool& alreadyRead) {
    if (alreadyRead) return ImagePtr(Lib().isoburn_get_attached_image(drive));
    isoburn_read_opts* options = nullptr;
    if (Lib().isoburn_ropt_new(&options, 0) <= 0) return nullptr;
    Lib().isoburn_ropt_set_extensions(options, isoburn_ropt_noacl | isoburn_ropt_noea);
    IsoImage* image = nullptr;
    const int read = Lib().isoburn_read_image(drive, options, &image);
    Lib().isoburn_ropt_destroy(&options, 0);
    ImagePtr owned(image);
    if (read <= 0) return nullptr;
    alreadyRead = true;
    return owned;
}

}  // namespace

std::vector<DiscFile> CdBurner::DriveRoot() {
    std::vector<DiscFile> files;
    if (!drive_) return files;
    const burn::burn_disc_status status = Lib().isoburn_disc_get_status(drive_->get());
    if (status != burn::BURN_DISC_APPENDABLE && status != burn::BURN_DISC_FULL) return files;
    ImagePtr image = ReadDiscImage(drive_->get(), drive_->treeRead);
    DiscardMessages();
    if (!image) return files;
    IsoDirIter* iter = nullptr;
    if (Lib().iso_dir_get_children(Lib().iso_image_get_root(image.get()), &iter) < 0) return files;
    IsoNode* node = nullptr;
    while (Lib().iso_dir_iter_next(iter, &node) == 1) {
        if (Lib().iso_node_get_type(node) != LIBISO_FILE) continue;
        DiscFile file;
        file.name = Lib().iso_node_get_name(node);
        file.size = static_cast<std::uint64_t>(Lib().iso_file_get_size(reinterpret_cast<IsoFile*>(node)));
        file.lastWriteTime = platform::FileTimeFromUnixSeconds(Lib().iso_node_get_mtime(node));
        files.push_back(std::move(file));
    }
    Lib().iso_dir_iter_free(iter);
    return files;
}

std::optional<FileDigest> CdBurner::DiscFileDigest(const std::string& name) {
    if (!drive_) return std::nullopt;
    ImagePtr image = ReadDiscImage(drive_->get(), drive_->treeRead);
    if (!image) {
        DiscardMessages();
        return std::nullopt;
    }
    IsoNode* node = nullptr;
    if (Lib().iso_dir_get_node(Lib().iso_image_get_root(image.get()), name.c_str(), &node) != 1 ||
        Lib().iso_node_get_type(node) != LIBISO_FILE)
        return std::nullopt;
    IsoStream* stream = Lib().iso_file_get_stream(reinterpret_cast<IsoFile*>(node));
    if (stream == nullptr || Lib().iso_stream_open(stream) < 0) {
        DiscardMessages();
        return std::nullopt;
    }
    FileDigest digest;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<unsigned char> buffer(1 << 16);
    int got = 0;
    while ((got = Lib().iso_stream_read(stream, buffer.data(), buffer.size())) > 0) {
        crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
        digest.size += static_cast<std::uint64_t>(got);
    }
    Lib().iso_stream_close(stream);
    DiscardMessages();
    if (got < 0) return std::nullopt;
    digest.crc = static_cast<std::uint32_t>(crc);
    return digest;
}

void CdBurner::ShowStatus(std::string_view text) {
    if (progress_.setStatus) progress_.setStatus(std::string(text));
}

BurnResult CdBurner::BurnFolders(const FileTreeNode* folders, const std::optional<std::string>& volumeName) {
    if (folders == nullptr) return BurnResult::Burned;
    if (!drive_) return BurnResult::NoRecorder;
    struct BurningFlag {
        bool& flag;
        explicit BurningFlag(bool& f) : flag(f) { flag = true; }
        ~BurningFlag() { flag = false; }
    } burning(burning_);
    if (progress_.setRange) progress_.setRange(0, 100);
    if (progress_.setPosition) progress_.setPosition(0);
    ShowStatus(kRetrievingInfoText);
    DiscardMessages();
    const DiscState writable = DiscWritableState();
    if (writable == DiscState::Unknown) throw BurnError(std::string(kNoDiscInformationText));
    if (writable == DiscState::NotWritable) throw BurnError(std::string(kDiscNotWriteableText));
    const std::string volume = CutVolumeId(volumeName ? *volumeName : VolumeLabel());

    KeepSignalHandlers keepHandlers;
    ::burn_drive* drive = drive_->get();
    BurnOutcome result = BurnOutcome::Ok;
    std::string why;
    {
        ImagePtr image = ReadDiscImage(drive, drive_->treeRead);
        if (!image) result = BurnOutcome::ImportFailed;
        if (result == BurnOutcome::Ok) {
            Lib().iso_tree_set_follow_symlinks(image.get(), 1);
            IsoDir* root = Lib().iso_image_get_root(image.get());
            for (const FileTreeNode* folder = folders; folder != nullptr && result == BurnOutcome::Ok;
                 folder = folder->nextSibling)
                if (!AddFolder(image.get(), root, folder->name != nullptr ? folder->name : "", *folder, why))
                    result = BurnOutcome::TrackFailed;
        }
        if (result == BurnOutcome::Ok) {
            Lib().iso_image_set_volume_id(image.get(), volume.c_str());
            ShowStatus(kPreparingLayoutText);
            isoburn_imgen_opts* options = nullptr;
            ::burn_disc* disc = nullptr;
            if (Lib().isoburn_igopt_new(&options, 0) <= 0) {
                result = BurnOutcome::TrackFailed;
            } else {
                // Level 3: an archive of 4 GiB or more is stored in several extents.
                Lib().isoburn_igopt_set_level(options, 3);
                Lib().isoburn_igopt_set_extensions(options, isoburn_igopt_rockridge | isoburn_igopt_joliet);
                // Folders readable by all and nobody's files in particular: the disc is read
                // on other machines (each file's own mode is set as it is added).
                Lib().isoburn_igopt_set_over_mode(options, 1, 0, 0555, 0444);
                Lib().isoburn_igopt_set_over_ugid(options, 1, 1, 0, 0);
                if (Lib().isoburn_prepare_disc(drive, &disc, options) <= 0) result = BurnOutcome::TrackFailed;
            }
            if (result == BurnOutcome::Ok) {
                burn::burn_write_opts* writeOptions = Lib().burn_write_opts_new(LibburnOf(drive));
                Lib().burn_write_opts_set_perform_opc(writeOptions, 0);
                // The session stays open for the later runs' sessions.
                Lib().burn_write_opts_set_multi(writeOptions, 1);
                Lib().isoburn_disc_write(reinterpret_cast<::burn_write_opts*>(writeOptions), disc);
                int shown = 0;
                burn::burn_progress progress{};
                while (Lib().burn_drive_get_status(LibburnOf(drive), &progress) != burn::BURN_DRIVE_IDLE) {
                    if (progress.sectors > 0) {
                        const int percent = std::clamp(
                            static_cast<int>(static_cast<long long>(progress.sector) * 100 / progress.sectors), 0, 100);
                        if (percent != shown && progress_.setPosition) progress_.setPosition(percent);
                        shown = percent;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                bool wroteWell = Lib().isoburn_drive_wrote_well(drive) == 1;
                Lib().burn_write_opts_free(writeOptions);
                Lib().burn_disc_free(reinterpret_cast<burn::burn_disc*>(disc));
                if (wroteWell) wroteWell = Lib().isoburn_activate_session(drive) > 0;
                Lib().isoburn_sync_after_write(drive, nullptr, 0);
                if (!wroteWell) result = BurnOutcome::WriteFailed;
                if (wroteWell && progress_.setPosition) progress_.setPosition(100);
            }
            if (options != nullptr) Lib().isoburn_igopt_destroy(&options, 0);
        }
    }
    std::string details = TakeMessages();
    if (!why.empty()) details = details.empty() ? why : why + "\n" + details;
    // The next reads (the read-back of what was burned) see the medium as it now is.
    Release(false);
    Acquire(false);
    if (result == BurnOutcome::Ok) return BurnResult::Burned;
    std::string text(FailureText(result));
    if (!details.empty()) text += "\n\n" + details;
    throw BurnError(text);
}

void CdBurner::Disconnect() {
    if (!connected_) return;
    Release(false);
    recorderOpen_ = false;
    Lib().isoburn_finish();
    UnloadLibrary();
    connected_ = false;
    driveAddress_.clear();
}

}  // namespace halvex

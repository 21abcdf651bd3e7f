// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/offsite_copy.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "common/archive_naming.h"
#include "common/folder_utils.h"
#include "platform/child_process.h"
#include "platform/file_attributes.h"
#include "platform/file_operations.h"

namespace halvex {
namespace {

struct JsonMember;

// Just enough JSON for rclone's answers: objects, arrays, strings, numbers and literals.
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    std::string text;  // a string's value, or a number's spelling
    std::vector<JsonValue> items;
    // A named struct, not a pair: a pair of an incomplete type does not build with every
    // standard library.
    std::vector<JsonMember> members;

    const JsonValue* Member(std::string_view name) const;
    std::int64_t Integer() const {
        if (kind != Kind::Number) return -1;
        char* end = nullptr;
        const long long value = std::strtoll(text.c_str(), &end, 10);
        return value < 0 ? -1 : static_cast<std::int64_t>(value);
    }
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

const JsonValue* JsonValue::Member(std::string_view name) const {
    for (const JsonMember& member : members)
        if (member.key == name) return &member.value;
    return nullptr;
}

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document() {
        JsonValue value;
        if (!Value(value, 0)) return std::nullopt;
        SkipSpace();
        if (at_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    static constexpr int kDepthLimit = 32;

    void SkipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool Take(char c) {
        SkipSpace();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    bool String(std::string& out) {
        if (!Take('"')) return false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char e = text_[at_++];
            switch (e) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (at_ + 4 > text_.size()) return false;
                    const unsigned code = static_cast<unsigned>(std::strtoul(std::string(text_.substr(at_, 4)).c_str(), nullptr, 16));
                    at_ += 4;
                    // Names and messages: UTF-8 for the basic plane (surrogate halves as they come).
                    if (code < 0x80) {
                        out += static_cast<char>(code);
                    } else if (code < 0x800) {
                        out += static_cast<char>(0xC0 | (code >> 6));
                        out += static_cast<char>(0x80 | (code & 0x3F));
                    } else {
                        out += static_cast<char>(0xE0 | (code >> 12));
                        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                        out += static_cast<char>(0x80 | (code & 0x3F));
                    }
                    break;
                }
                default: out += e; break;  // '"', '\\', '/'
            }
        }
        return false;
    }
    bool Value(JsonValue& value, int depth) {
        if (depth > kDepthLimit) return false;
        SkipSpace();
        if (at_ >= text_.size()) return false;
        const char c = text_[at_];
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        }
        if (c == '[') {
            ++at_;
            value.kind = JsonValue::Kind::Array;
            if (Take(']')) return true;
            do {
                value.items.emplace_back();
                if (!Value(value.items.back(), depth + 1)) return false;
            } while (Take(','));
            return Take(']');
        }
        if (c == '{') {
            ++at_;
            value.kind = JsonValue::Kind::Object;
            if (Take('}')) return true;
            do {
                std::string key;
                if (!String(key) || !Take(':')) return false;
                value.members.push_back(JsonMember{std::move(key), JsonValue{}});
                if (!Value(value.members.back().value, depth + 1)) return false;
            } while (Take(','));
            return Take('}');
        }
        const std::size_t start = at_;
        while (at_ < text_.size() && std::strchr(",]} \n\r\t", text_[at_]) == nullptr) ++at_;
        value.text = std::string(text_.substr(start, at_ - start));
        if (value.text == "true" || value.text == "false") {
            value.kind = JsonValue::Kind::Bool;
        } else if (value.text == "null") {
            value.kind = JsonValue::Kind::Null;
        } else if (!value.text.empty() && (value.text[0] == '-' || (value.text[0] >= '0' && value.text[0] <= '9'))) {
            value.kind = JsonValue::Kind::Number;
        } else {
            return false;
        }
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::string JoinRemote(const std::string& remote, const std::string& name) {
    if (remote.empty()) return name;
    const char last = remote.back();
    return last == ':' || last == '/' ? remote + name : remote + "/" + name;
}

// A local path as an rclone argument: one beginning with '-' would be read as an option.
std::string LocalArgument(const std::string& path) { return !path.empty() && path.front() == '-' ? "./" + path : path; }

std::int64_t LocalSize(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return static_cast<std::int64_t>(status.st_size);
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The list of names rclone reads with --files-from-raw, in a temporary file removed with it.
class NameListFile {
public:
    explicit NameListFile(const std::vector<std::string>& names) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/halvex-names-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) return;
        std::string text;
        for (const std::string& name : names) text += name + "\n";
        const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
        if (written) path_ = pattern;
        else ::unlink(pattern.c_str());
    }
    ~NameListFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    NameListFile(const NameListFile&) = delete;
    NameListFile& operator=(const NameListFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// One rclone command and what came of it.
struct RcloneRun {
    bool started = false;
    bool stopped = false;
    int exitCode = -1;
    std::string output;
    std::string lastError;
};

class Rclone {
public:
    explicit Rclone(const OffsiteHooks& hooks) : hooks_(hooks) {
        const char* named = std::getenv(kRcloneVariable);
        program_ = named != nullptr && *named != '\0' ? named : "rclone";
    }

    // Runs rclone with the arguments, the bounded retries and timeouts added. While it copies,
    // bytes of the file's share (fileBytes) move the progress on from doneBytes of totalBytes.
    RcloneRun Run(std::vector<std::string> arguments, std::int64_t doneBytes = 0, std::int64_t totalBytes = 0) {
        std::vector<std::string> argv{program_};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        for (const char* flag : {"--use-json-log", "--stats", "1s", "--stats-log-level", "NOTICE", "--retries", "3",
                                 "--low-level-retries", "5", "--timeout", "60s", "--contimeout", "20s"})
            argv.emplace_back(flag);
        RcloneRun run;
        platform::ChildOptions options;
        options.onErrorLine = [&](std::string_view line) {
            const RcloneLogLine read = ReadRcloneLogLine(line);
            if (!read.error.empty()) run.lastError = read.error;
            if (read.bytes >= 0 && totalBytes > 0 && hooks_.onProgress)
                hooks_.onProgress(static_cast<int>(std::min<std::int64_t>(1000, (doneBytes + read.bytes) * 1000 / totalBytes)));
        };
        options.shouldStop = hooks_.shouldStop;
        platform::ChildResult result = platform::RunChild(argv, options);
        run.started = result.started;
        run.stopped = result.stopped;
        run.exitCode = result.exitCode;
        run.output = std::move(result.output);
        if (!result.started) run.lastError = program_ + ": " + result.startError;
        return run;
    }

    const std::string& Program() const { return program_; }

private:
    const OffsiteHooks& hooks_;
    std::string program_;
};

// rclone's exit status for a folder that does not exist (yet).
constexpr int kRcloneDirectoryNotFound = 3;

std::string Failure(std::string_view what, const RcloneRun& run) {
    std::string reason(what);
    if (!run.lastError.empty()) reason += ": " + run.lastError;
    else if (run.exitCode >= 0) reason += ": rclone ended with status " + std::to_string(run.exitCode);
    return reason;
}

// The files of a folder, remote or local; none (with the reason) when it cannot be listed.
// A missing folder lists as empty.
std::optional<std::vector<ListedFile>> List(Rclone& rclone, const std::string& location, OffsiteResult& result,
                                            std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"lsjson", "--files-only", "--no-mimetype", "--no-modtime"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(location);
    const RcloneRun run = rclone.Run(arguments);
    if (run.stopped) {
        result.cancelled = true;
        result.reason = "canceled, rclone stopped";
        return std::nullopt;
    }
    if (!run.started) {
        result.reason = "rclone could not be started (" + run.lastError + ")";
        return std::nullopt;
    }
    if (run.exitCode == kRcloneDirectoryNotFound) return std::vector<ListedFile>{};
    std::optional<std::vector<ListedFile>> files;
    if (run.exitCode == 0) files = ParseListing(run.output);
    if (!files) result.reason = Failure("cannot list " + location, run);
    return files;
}

// The hash type both sides can give for a remote file: md5 or sha1 first, or none.
std::string CommonHashType(const ListedFile& remote) {
    for (const char* preferred : {"md5", "sha1"}) {
        auto found = remote.hashes.find(preferred);
        if (found != remote.hashes.end() && !found->second.empty()) return preferred;
    }
    return {};
}

// Checks the named files, which both folders hold: same size and, where the remote offers an
// md5 or sha1, the same hash. False with the reason at the first that differs.
bool CheckCopies(Rclone& rclone, const std::string& localFolder, const std::string& remote,
                 const std::vector<std::string>& names, OffsiteResult& result) {
    if (names.empty()) return true;
    if (result.cancelled) return false;
    NameListFile list(names);
    if (list.Path().empty()) {
        result.reason = "cannot write a temporary file list";
        return false;
    }
    auto remoteFiles = List(rclone, remote, result, {"--hash", "--files-from-raw", list.Path()});
    if (!remoteFiles) return false;
    std::map<std::string, ListedFile> byName;
    for (ListedFile& file : *remoteFiles) byName[file.name] = std::move(file);
    std::map<std::string, std::vector<std::string>> namesByHash;
    for (const std::string& name : names) {
        auto found = byName.find(name);
        if (found == byName.end()) {
            result.reason = "check failed: " + name + " is missing after the copy";
            return false;
        }
        const std::int64_t localSize = LocalSize(PathInFolder(localFolder, name));
        if (found->second.size != localSize) {
            result.reason = "check failed: " + name + " has " + std::to_string(found->second.size) +
                            " bytes there and " + std::to_string(localSize) + " here";
            return false;
        }
        const std::string type = CommonHashType(found->second);
        if (!type.empty()) namesByHash[type].push_back(name);
    }
    for (const auto& [type, hashed] : namesByHash) {
        NameListFile hashedList(hashed);
        if (hashedList.Path().empty()) {
            result.reason = "cannot write a temporary file list";
            return false;
        }
        auto localFiles = List(rclone, LocalArgument(localFolder), result, {"--hash", "--hash-type", type, "--files-from-raw", hashedList.Path()});
        if (!localFiles) return false;
        for (const std::string& name : hashed) {
            auto local = std::find_if(localFiles->begin(), localFiles->end(), [&](const ListedFile& f) { return f.name == name; });
            const std::string& remoteHash = byName[name].hashes[type];
            if (local == localFiles->end() || local->hashes[type] != remoteHash) {
                result.reason = "check failed: " + name + " differs (" + type + " " + remoteHash + " there, " +
                                (local == localFiles->end() ? std::string("none") : local->hashes[type]) + " here)";
                return false;
            }
        }
    }
    return true;
}

// Copies one file to a temporary name beside its place and moves it there. False with the reason.
bool CopyOne(Rclone& rclone, const std::string& from, const std::string& to, std::int64_t doneBytes,
             std::int64_t totalBytes, bool moveLocally, OffsiteResult& result) {
    const std::string partial = to + std::string(kOffsitePartialSuffix);
    RcloneRun run = rclone.Run({"copyto", from, partial}, doneBytes, totalBytes);
    if (run.exitCode == 0 && !run.stopped) {
        if (moveLocally) {
            // A local archive is never replaced: rename without replacing.
            if (platform::MovePath(partial, to)) return true;
            result.reason = "cannot rename " + partial + ": " + std::strerror(errno);
            platform::DeleteFile(partial);
            return false;
        }
        run = rclone.Run({"moveto", partial, to});
        if (run.exitCode == 0 && !run.stopped) return true;
    }
    if (run.stopped) {
        result.cancelled = true;
        result.reason = "canceled, rclone stopped";
        if (moveLocally) platform::DeleteFile(partial);
        return false;
    }
    result.reason = !run.started ? "rclone could not be started (" + run.lastError + ")" : Failure("copying " + from + " failed", run);
    if (moveLocally) platform::DeleteFile(partial);
    return false;
}

// The archive number a set's file name carries: the digits before the extension, 1 without.
int ArchiveNumberOf(std::string_view name) {
    std::string_view stem = name.substr(0, name.size() - kArchiveExtension.size());
    std::size_t digits = 0;
    while (digits < stem.size() && digits < 6 && stem[stem.size() - 1 - digits] >= '0' && stem[stem.size() - 1 - digits] <= '9')
        ++digits;
    if (digits == 0) return 1;
    return std::atoi(std::string(stem.substr(stem.size() - digits)).c_str());
}

}  // namespace

std::optional<std::vector<ListedFile>> ParseListing(std::string_view json) {
    std::optional<JsonValue> document = JsonReader(json).Document();
    if (!document || document->kind != JsonValue::Kind::Array) return std::nullopt;
    std::vector<ListedFile> files;
    for (const JsonValue& item : document->items) {
        if (item.kind != JsonValue::Kind::Object) return std::nullopt;
        const JsonValue* name = item.Member("Name");
        const JsonValue* size = item.Member("Size");
        if (name == nullptr || name->kind != JsonValue::Kind::String || size == nullptr) return std::nullopt;
        ListedFile file;
        file.name = name->text;
        file.size = size->Integer();
        const JsonValue* isDir = item.Member("IsDir");
        file.isFolder = isDir != nullptr && isDir->text == "true";
        if (const JsonValue* hashes = item.Member("Hashes"))
            for (const auto& [type, value] : hashes->members)
                if (value.kind == JsonValue::Kind::String) file.hashes[type] = value.text;
        files.push_back(std::move(file));
    }
    return files;
}

RcloneLogLine ReadRcloneLogLine(std::string_view line) {
    RcloneLogLine read;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) return read;
    if (line.front() == '{') {
        std::optional<JsonValue> entry = JsonReader(line).Document();
        if (!entry) return read;
        const JsonValue* level = entry->Member("level");
        const JsonValue* message = entry->Member("msg");
        if (level != nullptr && (level->text == "error" || level->text == "critical") && message != nullptr)
            read.error = message->text;
        if (const JsonValue* stats = entry->Member("stats")) {
            if (const JsonValue* bytes = stats->Member("bytes")) read.bytes = bytes->Integer();
            if (const JsonValue* total = stats->Member("totalBytes")) read.totalBytes = total->Integer();
        }
        return read;
    }
    // A fatal error is plain text after the date and time: "2024/01/02 03:04:05 Failed to ...".
    std::string_view text = line;
    if (text.size() > 20 && text[4] == '/' && text[7] == '/' && text[13] == ':' && text[19] == ' ') text.remove_prefix(20);
    for (std::string_view quiet : {"NOTICE:", "INFO  :", "DEBUG :"})
        if (text.substr(0, quiet.size()) == quiet) return read;
    if (text.substr(0, 7) == "ERROR :") text.remove_prefix(7);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    read.error = std::string(text);
    return read;
}

bool IsRemoteLocation(std::string_view location) {
    const std::size_t colon = location.find(':');
    return colon != std::string_view::npos && location.substr(0, colon).find('/') == std::string_view::npos;
}

std::string OffsiteLocation(const std::string& location, const std::string& baseFolder) {
    if (IsRemoteLocation(location)) return location;
    return LocalArgument(PathInFolder(baseFolder, location));
}

OffsiteResult SendArchives(const std::string& localFolder, const std::vector<std::string>& names,
                           const std::string& remote, const OffsiteHooks& hooks) {
    OffsiteResult result;
    Rclone rclone(hooks);
    if (hooks.onStatus) hooks.onStatus("Listing " + remote);
    auto listed = List(rclone, remote, result);
    if (!listed) return result;
    std::map<std::string, std::int64_t> remoteSizes;
    for (const ListedFile& file : *listed)
        if (!file.isFolder) remoteSizes[file.name] = file.size;
    std::vector<std::string> toCopy;
    std::int64_t totalBytes = 0;
    for (const std::string& name : names) {
        const std::int64_t size = LocalSize(PathInFolder(localFolder, name));
        if (size < 0) {
            result.reason = "cannot read " + PathInFolder(localFolder, name);
            return result;
        }
        auto found = remoteSizes.find(name);
        if (found != remoteSizes.end() && found->second == size) continue;
        toCopy.push_back(name);
        totalBytes += size;
    }
    std::int64_t doneBytes = 0;
    for (std::size_t i = 0; i < toCopy.size(); ++i) {
        const std::string& name = toCopy[i];
        if (hooks.onStatus)
            hooks.onStatus("Copying " + name + " (" + std::to_string(i + 1) + " of " + std::to_string(toCopy.size()) + ")");
        if (!CopyOne(rclone, LocalArgument(PathInFolder(localFolder, name)), JoinRemote(remote, name), doneBytes, totalBytes,
                     false, result))
            return result;
        result.copied.push_back(name);
        doneBytes += LocalSize(PathInFolder(localFolder, name));
    }
    if (hooks.onStatus && !toCopy.empty()) hooks.onStatus("Checking the copies");
    if (!CheckCopies(rclone, localFolder, remote, result.copied, result)) return result;
    result.ok = true;
    return result;
}

OffsiteResult FetchArchives(const std::string& remote, const std::string& localFolder, std::string& newest,
                            const OffsiteHooks& hooks) {
    OffsiteResult result;
    Rclone rclone(hooks);
    auto listed = List(rclone, remote, result);
    if (!listed) return result;
    std::vector<ListedFile> archives;
    for (ListedFile& file : *listed)
        if (!file.isFolder && file.name.size() > kArchiveExtension.size() && EndsWith(file.name, kArchiveExtension))
            archives.push_back(std::move(file));
    if (archives.empty()) {
        result.reason = "no archives at " + remote;
        return result;
    }
    // Oldest first, so that a cut fetch still leaves a set that opens.
    std::sort(archives.begin(), archives.end(), [](const ListedFile& a, const ListedFile& b) {
        const int na = ArchiveNumberOf(a.name), nb = ArchiveNumberOf(b.name);
        return na != nb ? na < nb : a.name < b.name;
    });
    CreateParentFolders(localFolder + "/");
    std::vector<std::string> names;
    std::int64_t totalBytes = 0;
    for (const ListedFile& archive : archives) {
        names.push_back(archive.name);
        const std::int64_t size = LocalSize(PathInFolder(localFolder, archive.name));
        if (size == archive.size) continue;
        if (size >= 0 || platform::PathExists(PathInFolder(localFolder, archive.name))) {
            result.reason = PathInFolder(localFolder, archive.name) + " is there already and differs; it is not replaced";
            return result;
        }
        totalBytes += archive.size;
    }
    std::int64_t doneBytes = 0;
    for (const ListedFile& archive : archives) {
        const std::string path = PathInFolder(localFolder, archive.name);
        if (platform::PathExists(path)) continue;
        if (hooks.onStatus) hooks.onStatus("Fetching " + archive.name);
        if (!CopyOne(rclone, JoinRemote(remote, archive.name), LocalArgument(path), doneBytes, totalBytes, true, result))
            return result;
        result.copied.push_back(archive.name);
        doneBytes += archive.size;
    }
    // Every archive of the folder is checked, also those that were there: the set is restored from them.
    if (!CheckCopies(rclone, localFolder, remote, names, result)) return result;
    newest = PathInFolder(localFolder, archives.back().name);
    result.ok = true;
    return result;
}

}  // namespace halvex

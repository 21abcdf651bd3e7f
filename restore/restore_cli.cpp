// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restore_cli.h"

#include <algorithm>
#include <csignal>
#include <functional>
#include <istream>
#include <ostream>

#include "common/file_tree_walk.h"
#include "common/listing_record.h"
#include "common/offsite_copy.h"
#include "common/program_names.h"
#include "platform/local_time.h"
#include "platform/nocase.h"
#include "restore/archive_dates.h"
#include "restore/archive_set.h"
#include "platform/process.h"
#include "restore/console_restore_ui.h"
#include "restore/file_versions.h"
#include "restore/link_targets.h"
#include "restore/restore_selection.h"
#include "restore/set_password.h"
#include "restore/set_verifier.h"
#include "zip/zip_archive_file.h"

namespace halvex {

namespace {

constexpr const char* kUsage =
    "usage: halvex-restore [ARCHIVE] [-AUTORUN]\n"
    "       halvex-restore --list    ARCHIVE\n"
    "       halvex-restore --files   ARCHIVE [--date K]\n"
    "       halvex-restore --search  ARCHIVE PATTERN [--look-in FOLDER] [--all] [--date K]\n"
    "       halvex-restore --versions ARCHIVE ENTRY\n"
    "       halvex-restore --log     ARCHIVE [--archive N]\n"
    "       halvex-restore --restore ARCHIVE [--date K] [--target NAME]... [--path ENTRY]...\n"
    "                                [--to DIR] [--existing ask|rename|keep|replace]\n"
    "       halvex-restore --verify  ARCHIVE [--set]\n"
    "       halvex-restore --fetch   REMOTE:PATH DIR\n"
    "       halvex-restore --version\n"
    "--password-file FILE (with any mode) reads the password of an encrypted set from the first line of FILE;\n"
    "without it, HALVEX_PASSWORD_FILE names that file, else the password is asked for on the terminal.\n"
    "--json (with --list, --files, --search, --versions, --verify) writes JSON Lines instead of TAB-separated lines.\n";

enum class Mode { None, List, Files, Search, Versions, Log, Restore, Verify, Fetch };

struct Options {
    Mode mode = Mode::None;
    std::string modeName;
    std::vector<std::string> positional;
    std::optional<int> date;
    std::optional<std::string> lookIn;
    bool all = false;
    std::optional<int> archive;
    bool set = false;
    bool json = false;
    std::vector<std::string> targets;
    std::vector<std::string> paths;
    std::optional<std::string> to;
    std::optional<DirectoryAnswer> existing;
    std::optional<std::string> passwordFile;
    std::vector<std::string> given;  // the options given, for the check against the mode
};

struct UsageError {
    std::string message;
};

std::optional<int> ParseNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoi(text);
}

Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    auto value = [&](std::size_t& i) -> const std::string& {
        if (i + 1 >= args.size()) throw UsageError{"missing argument for " + args[i]};
        return args[++i];
    };
    auto number = [&](std::size_t& i) {
        const std::string& option = args[i];
        const std::string& text = value(i);
        auto n = ParseNumber(text);
        if (!n) throw UsageError{"not a number for " + option + ": " + text};
        return *n;
    };
    const std::pair<const char*, Mode> modes[] = {{"--list", Mode::List},     {"--files", Mode::Files},
                                                  {"--search", Mode::Search}, {"--versions", Mode::Versions},
                                                  {"--log", Mode::Log},
                                                  {"--restore", Mode::Restore}, {"--verify", Mode::Verify},
                                                  {"--fetch", Mode::Fetch}};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto mode = std::find_if(std::begin(modes), std::end(modes), [&](const auto& m) { return arg == m.first; });
        if (mode != std::end(modes)) {
            if (options.mode != Mode::None) throw UsageError{"only one of the modes may be given: " + arg};
            options.mode = mode->second;
            options.modeName = arg;
            continue;
        }
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            options.given.push_back(arg);
            if (arg == "--date") options.date = number(i);
            else if (arg == "--look-in") options.lookIn = value(i);
            else if (arg == "--all") options.all = true;
            else if (arg == "--archive") options.archive = number(i);
            else if (arg == "--set") options.set = true;
            else if (arg == "--json") options.json = true;
            else if (arg == "--target") options.targets.push_back(value(i));
            else if (arg == "--path") options.paths.push_back(value(i));
            else if (arg == "--to") options.to = value(i);
            else if (arg == "--password-file") options.passwordFile = value(i);
            else if (arg == "--existing") {
                const std::string& answer = value(i);
                if (answer == "rename") options.existing = DirectoryAnswer::RenameFolder;
                else if (answer == "keep") options.existing = DirectoryAnswer::KeepExisting;
                else if (answer == "replace") options.existing = DirectoryAnswer::ReplaceExisting;
                else if (answer == "ask") options.existing = DirectoryAnswer::PromptEach;
                else throw UsageError{"--existing takes ask, rename, keep or replace, not " + answer};
            }
            else throw UsageError{"unknown option " + arg};
            continue;
        }
        options.positional.push_back(arg);
    }
    if (options.mode == Mode::None) throw UsageError{"no mode given"};

    std::vector<std::string> allowed;
    std::size_t positionals = 1;
    switch (options.mode) {
    case Mode::List: allowed = {"--json"}; break;
    case Mode::Files: allowed = {"--date", "--json"}; break;
    case Mode::Search:
        allowed = {"--look-in", "--all", "--date", "--json"};
        positionals = 2;
        break;
    case Mode::Versions:
        allowed = {"--json"};
        positionals = 2;
        break;
    case Mode::Log: allowed = {"--archive"}; break;
    case Mode::Verify: allowed = {"--set", "--json"}; break;
    case Mode::Restore: allowed = {"--date", "--target", "--path", "--to", "--existing"}; break;
    case Mode::Fetch: positionals = 2; break;
    default: break;
    }
    allowed.push_back("--password-file");
    for (const std::string& option : options.given) {
        if (std::find(allowed.begin(), allowed.end(), option) == allowed.end())
            throw UsageError{option + " cannot be used with " + options.modeName};
    }
    if (options.positional.size() < positionals)
        throw UsageError{options.modeName + (options.mode == Mode::Fetch      ? " needs REMOTE:PATH and DIR"
                                             : options.mode == Mode::Versions ? " needs ARCHIVE and ENTRY"
                                             : positionals == 2               ? " needs ARCHIVE and PATTERN"
                                                                              : " needs ARCHIVE")};
    if (options.positional.size() > positionals) throw UsageError{"unexpected argument " + options.positional.back()};
    if (!options.paths.empty() && !options.targets.empty()) throw UsageError{"--target cannot be used with --path"};
    if (!options.paths.empty() && !options.to) throw UsageError{"--path needs --to DIR"};
    if (options.to && options.to->empty()) throw UsageError{"--to needs a folder"};
    return options;
}

void PrintMessageBox(std::ostream& err, const std::string& text) {
    err << kRestoreProgramName << ": " << EscapeForTerminal(text, true) << '\n';
}

// Entry paths are written with '\'; a '/' typed on the command line means the same (no name
// in a set can hold either).
std::string EntryPathFromCommandLine(std::string text) {
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// archive, size, time, path: one file of --files and --search. The JSON time is ISO 8601.
// A link's JSON record adds its target ("link"); the TAB-separated form keeps its fields.
// `record` may hold leading fields of the mode's own.
ListingRecord FileRecord(const ArchiveSet& set, const FileTreeFile& file, const std::string& entryPath, bool json,
                         LinkTargets* links = nullptr, ListingRecord record = {}) {
    const std::string* archive = set.GetArchiveName(file.archiveNumber);
    record.Text("archive", archive != nullptr ? *archive : std::string())
        .Number("size", file.size)
        .Text("time", platform::FormatUtcTime(json ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", file.lastWriteTime))
        .Text("path", entryPath);
    if (json && links != nullptr) {
        if (const std::optional<std::string> target = links->TargetOf(file, entryPath)) record.Text("link", *target);
    }
    return record;
}

class ModeRunner {
public:
    ModeRunner(const Options& options, const RestoreCliStreams& io)
        : options_(options), io_(io), ui_(io.in, io.err, io.interactive) {
        set_.SetUi(&ui_);
        ui_.SetDirectoryAnswer(options.existing);
        // A relative --to means the folder the program was started in.
        if (options.to) {
            to_ = *options.to;
            if (to_.front() != '/') to_ = platform::CurrentFolder() + "/" + to_;
        }
    }

    int Run() {
        const std::string& named = options_.positional[0];
        if (!TakePassword({named})) return kRestoreExitStartup;
        if (options_.mode == Mode::Verify && !options_.set) return VerifyOne();
        // --list prints dates and targets alone: it needs no tree. --files needs one date's:
        // its records are built as they are replayed.
        const bool opened = options_.mode == Mode::List    ? set_.OpenSetDatesOnly(named)
                            : options_.mode == Mode::Files ? set_.OpenSetForOneDate(named)
                                                           : set_.OpenSet(named);
        if (!opened) {
            const std::string& detail = set_.OpenFailureDetail();
            PrintMessageBox(io_.err, "Error opening archive." + (detail.empty() ? "" : "\n" + detail));
            return kRestoreExitStartup;
        }
        // Older archives may be encrypted where the newest is not, or the other way round: the
        // password is checked against each archive a mode reads entries from, before anything
        // is read or written. The listings read the opened archive alone, so their cost does
        // not grow with the set.
        std::vector<std::string> archives;
        if (options_.mode == Mode::Restore || options_.mode == Mode::Verify) {
            for (int n = 1; n < set_.ArchiveCount(); ++n) archives.push_back(set_.ArchiveFileToOpen(n));
        } else if (options_.mode == Mode::Log && options_.archive && *options_.archive >= 1 &&
                   *options_.archive < set_.ArchiveCount()) {
            archives.push_back(set_.ArchiveFileToOpen(*options_.archive));
        }
        if (!TakePassword(archives)) return kRestoreExitStartup;
        // The dates and targets --list prints need no tree: the replay is skipped, so its cost
        // does not grow with the set.
        if (options_.mode != Mode::List && !SelectDate()) return kRestoreExitStartup;
        switch (options_.mode) {
        case Mode::List: return List();
        case Mode::Files: return Files();
        case Mode::Search: return Search();
        case Mode::Versions: return Versions();
        case Mode::Log: return Log();
        case Mode::Restore: return Restore();
        case Mode::Verify: return VerifyWholeSet();
        default: return kRestoreExitStartup;
        }
    }

private:
    bool TakePassword(const std::vector<std::string>& archives) {
        return TakeSetPassword(
            archives, options_.passwordFile, password_,
            [&](const std::string& archive) -> std::optional<std::string> {
                if (!io_.interactive) return std::nullopt;
                return AskPasswordOnTerminal("Password for " + archive + ": ");
            },
            [&](const std::string& message) { PrintMessageBox(io_.err, message); });
    }

    void Write(const ListingRecord& record) { io_.out << (options_.json ? record.Json() : record.Tsv()) << '\n'; }

    // The date of --date K, or the newest. --files reads that date alone: its trees are made
    // of the histories' own rather than of copies.
    bool SelectDate() {
        const auto select = [this](int index) {
            if (options_.mode == Mode::Files) set_.SelectOnlyDate(index);
            else set_.SelectDate(index);
        };
        if (options_.date) {
            auto index = DateIndexFromLabel(set_.ArchiveCount(), set_.DateCount(), *options_.date);
            if (!index) {
                PrintMessageBox(io_.err, "no backup date is labelled " + std::to_string(*options_.date));
                return false;
            }
            select(*index);
        } else if (set_.DateCount() > 0) {
            select(set_.DateCount() - 1);
        }
        return true;
    }

    int List() {
        Write(ListingRecord()
                  .Text("record", "set")
                  .Text("archive", *set_.GetArchiveName(set_.ArchiveCount()))
                  .Number("archives", static_cast<std::uint64_t>(set_.ArchiveCount())));
        for (const DateMenuItem& item : BuildDateMenu(set_))
            Write(ListingRecord().Text("record", "date").Number("label", static_cast<std::uint64_t>(item.label)).Text("date", item.dateText));
        for (int i = 0; i < set_.TargetCount(); ++i)
            Write(ListingRecord().Text("record", "target").Text("name", set_.GetTargetName(i)).Text("source", set_.GetSourceFolder(i)));
        return kRestoreExitSucceeded;
    }

    int Files() {
        for (int i = 0; i < set_.TargetCount(); ++i) {
            const FileTreeNode* tree = set_.GetTargetTree(i);
            if (tree == nullptr) continue;
            std::vector<std::size_t> lengths;
            std::string path;
            detail::WalkFolders(
                tree,
                [&](const FileTreeNode* folder) {
                    lengths.push_back(path.size());
                    if (folder != tree) path += '\\';
                    path += folder->name;
                    for (const FileTreeFile* file = folder->files; file != nullptr; file = file->next)
                        Write(FileRecord(set_, *file, path + '\\' + file->name, options_.json, &links_));
                },
                [&](const FileTreeNode*) {
                    path.resize(lengths.back());
                    lengths.pop_back();
                });
        }
        return kRestoreExitSucceeded;
    }

    static SearchStep PrintHit(void* userData, const FileTreeFile* file, const char* folderPath, void*) {
        auto& runner = *static_cast<ModeRunner*>(userData);
        runner.Write(FileRecord(runner.set_, *file, std::string(folderPath) + file->name, runner.options_.json,
                                &runner.links_));
        return SearchStep::GoOn;
    }

    int Search() {
        const std::string filter = LookInFilter(EntryPathFromCommandLine(options_.lookIn.value_or("<All Dirs>")));
        set_.Search(options_.positional[1].c_str(), filter.c_str(), options_.all, &ModeRunner::PrintHit, this);
        return kRestoreExitSucceeded;
    }

    // One line per stored version of a file, newest first: its date, then the fields of --files.
    int Versions() {
        const std::string entry = EntryPathFromCommandLine(options_.positional[1]);
        std::string error;
        const std::vector<FileVersion> versions = ListFileVersions(set_, entry, error);
        if (versions.empty()) {
            PrintMessageBox(io_.err, error);
            return kRestoreExitStartup;
        }
        const std::vector<std::string> dates = ArchiveDateTexts(set_.GetBackupDates());
        for (const FileVersion& version : versions) {
            FileTreeFile file;
            file.size = version.size;
            file.lastWriteTime = version.lastWriteTime;
            file.archiveNumber = static_cast<std::uint16_t>(version.archiveNumber);
            ListingRecord date;
            date.Text("date", dates.at(static_cast<std::size_t>(version.dateIndex)));
            Write(FileRecord(set_, file, version.entryPath, options_.json, nullptr, std::move(date)));
        }
        return kRestoreExitSucceeded;
    }

    int Log() {
        int index = -1;
        if (options_.archive) {
            if (*options_.archive < 1 || *options_.archive > set_.ArchiveCount()) {
                PrintMessageBox(io_.err, "the set has no archive " + std::to_string(*options_.archive));
                return kRestoreExitStartup;
            }
            index = *options_.archive - 1;
        }
        const std::string* text = set_.RetrieveLog(index);
        if (text == nullptr) {
            io_.err << "Unable to retrieve error log.\n";
            return kRestoreExitFailed;
        }
        io_.out << *text;
        return kRestoreExitSucceeded;
    }

    // Exit status of a restore: succeeded, skipped (complete with entries left out after
    // errors) or failed (aborted).
    int RestoreStatus(const RestoreOutcome& outcome) const {
        if (!outcome.Completed()) return kRestoreExitFailed;
        return set_.SkippedEntries() > 0 ? kRestoreExitSkipped : kRestoreExitSucceeded;
    }

    int Restore() {
        set_.ResetSkippedEntries();
        if (!options_.paths.empty()) {
            std::vector<std::string> paths;
            for (const std::string& path : options_.paths) paths.push_back(EntryPathFromCommandLine(path));
            std::string error;
            auto selection = ResolveSelection(set_, paths, error);
            if (!selection) {
                PrintMessageBox(io_.err, error);
                return kRestoreExitStartup;
            }
            io_.err << "Restoring " << EscapeForTerminal(selection->sourcePath.empty() ? "the set" : selection->sourcePath)
                    << " into " << EscapeForTerminal(to_) << '\n';
            return RestoreStatus(RestoreSelection(set_, *selection, to_));
        }

        std::vector<int> targets;
        if (options_.targets.empty()) {
            for (int i = 0; i < set_.TargetCount(); ++i) targets.push_back(i);
        }
        for (const std::string& name : options_.targets) {
            int found = -1;
            for (int i = 0; i < set_.TargetCount() && found < 0; ++i)
                if (platform::EqualNoCase(name, set_.GetTargetName(i))) found = i;
            if (found < 0) {
                PrintMessageBox(io_.err, "the set has no target " + name);
                return kRestoreExitStartup;
            }
            if (std::find(targets.begin(), targets.end(), found) == targets.end()) targets.push_back(found);
        }
        std::vector<int> restorable;
        bool anyTree = false;
        for (int target : targets) {
            const std::string destination = TargetDestination(set_, target, to_);
            if (set_.GetTargetTree(target) == nullptr) {
                // A target named with --target and not restored is told in the outcome.
                if (!options_.targets.empty()) restorable.push_back(target);
                else
                    io_.err << EscapeForTerminal(set_.GetTargetName(target))
                            << " has no backup on or before that date: passed over\n";
                continue;
            }
            anyTree = true;
            if (destination.empty() || destination.front() != '/') {
                PrintMessageBox(io_.err, "the source folder of " + set_.GetTargetName(target) + " (" +
                                             set_.GetSourceFolder(target) +
                                             ") is not a folder of this system; restore it with --to DIR");
                return kRestoreExitStartup;
            }
            restorable.push_back(target);
        }
        if (!anyTree) {
            PrintMessageBox(io_.err, "nothing to restore at that date");
            return kRestoreExitStartup;
        }
        for (int target : restorable)
            if (set_.GetTargetTree(target) != nullptr) io_.err << "Restoring " << EscapeForTerminal(set_.GetTargetName(target)) << " to "
                    << EscapeForTerminal(TargetDestination(set_, target, to_)) << '\n';
        return RestoreStatus(RestoreTargets(set_, restorable, to_));
    }

    int Report(const VerifySummary& summary) {
        io_.err << VerifySummaryText(summary) << '\n';
        return summary.problems == 0 ? kRestoreExitSucceeded : kRestoreExitFailed;
    }

    int VerifyOne() {
        const std::string& path = options_.positional[0];
        const std::size_t slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        return Report(VerifyArchive(path, name, {}, [&](const VerifyLine& line) {
            Write(line.Record());
            if (!line.note.empty()) io_.err << EscapeForTerminal(line.note) << '\n';
        }));
    }

    int VerifyWholeSet() {
        return Report(VerifySet(set_, [&](const VerifyLine& line) {
            Write(line.Record());
            if (!line.note.empty()) io_.err << EscapeForTerminal(line.note) << '\n';
        }));
    }

    const Options& options_;
    const RestoreCliStreams& io_;
    ConsoleRestoreUi ui_;
    ArchiveSet set_;
    std::optional<std::string> password_;
    LinkTargets links_{set_};  // read once the set is open and a date chosen
    std::string to_;  // --to as an absolute folder, "" without it
};

}  // namespace

std::string RestoreUsage() { return kUsage; }

bool IsWindowCommandLine(const std::vector<std::string>& args) {
    return std::none_of(args.begin(), args.end(), [](const std::string& arg) { return arg.compare(0, 2, "--") == 0; });
}

std::optional<std::string> WindowArchiveArgument(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (!arg.empty() && arg.front() != '-') return arg;
    return std::nullopt;
}

bool HasAutorunSwitch(const std::vector<std::string>& args) {
    // Only the whole argument: an archive whose path holds "-autorun" is just an archive.
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& arg) { return platform::UpperCased(arg) == "-AUTORUN"; });
}

namespace {

volatile std::sig_atomic_t fetchInterrupted = 0;

extern "C" void NoteFetchInterrupt(int) { fetchInterrupted = 1; }

// Sets SIGINT and SIGTERM to stop the fetch (rclone runs in a group of its own, which a
// terminal's Ctrl+C does not reach) for the guard's life.
class FetchInterrupts {
public:
    FetchInterrupts() {
        fetchInterrupted = 0;
        struct sigaction action {};
        action.sa_handler = NoteFetchInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &savedInt_);
        ::sigaction(SIGTERM, &action, &savedTerm_);
    }
    ~FetchInterrupts() {
        ::sigaction(SIGINT, &savedInt_, nullptr);
        ::sigaction(SIGTERM, &savedTerm_, nullptr);
    }
    FetchInterrupts(const FetchInterrupts&) = delete;
    FetchInterrupts& operator=(const FetchInterrupts&) = delete;

private:
    struct sigaction savedInt_ {};
    struct sigaction savedTerm_ {};
};

// --fetch: the set's archives copied from off-site storage into a folder and checked; the
// archive to open is printed.
int FetchSet(const std::string& remote, const std::string& folder, const RestoreCliStreams& io) {
    FetchInterrupts interrupts;
    OffsiteHooks hooks;
    hooks.onStatus = [&io](const std::string& text) { io.err << text << '\n'; };
    hooks.shouldStop = [] { return fetchInterrupted != 0; };
    std::string newest;
    const OffsiteResult result = FetchArchives(OffsiteLocation(remote, "."), folder, newest, hooks);
    if (!result.ok) {
        io.err << kRestoreProgramName << ": not fetched from " << EscapeForTerminal(remote, true) << ": "
               << EscapeForTerminal(result.reason, true) << '\n';
        return kRestoreExitFailed;
    }
    io.err << result.copied.size() << " archive(s) fetched, every archive checked.\n";
    io.out << newest << '\n';
    return kRestoreExitSucceeded;
}

}  // namespace

std::optional<int> RunRestoreCommandLine(const std::vector<std::string>& args, const RestoreCliStreams& io) {
    if (IsWindowCommandLine(args)) return std::nullopt;
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        io.out << kUsage;
        return kRestoreExitSucceeded;
    }
    if (std::find(args.begin(), args.end(), "--version") != args.end()) {
        io.out << VersionText(kRestoreProgramName) << '\n';
        return kRestoreExitSucceeded;
    }
    Options options;
    try {
        options = ParseOptions(args);
    } catch (const UsageError& error) {
        io.err << kRestoreProgramName << ": " << error.message << '\n' << kUsage;
        return kRestoreExitStartup;
    }
    if (options.mode == Mode::Fetch) return FetchSet(options.positional[0], options.positional[1], io);
    ModeRunner runner(options, io);
    return runner.Run();
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/backup_cli.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>

#include "backup/backup_engine.h"
#include "backup/backup_startup.h"
#include "backup/console_backup_view.h"
#include "backup/backup_status.h"
#include "backup/run_messages.h"
#include "backup/run_notification.h"
#include "backup/source_scan.h"
#include "platform/nocase.h"
#include "platform/terminal.h"

namespace halvex {

ParsedBackupOptions ParseBackupOptions(int argc, const char* const* argv) {
    ParsedBackupOptions parsed;
    BackupOptions& o = parsed.options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view name) -> std::optional<std::string> {
            if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
                return std::string(arg.substr(name.size() + 1));
            if (arg != name) return std::nullopt;
            if (i + 1 >= argc) {
                parsed.error = std::string(name) + " needs an argument";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--run") {
            o.run = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--brand-new") {
            o.brandNew = true;
        } else if (arg == "--disc-ready") {
            o.discReady = true;
        } else if (arg == "--no-notify") {
            o.noNotify = true;
        } else if (arg == "--status") {
            o.status = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (auto days = value("--max-age")) {
            o.maxAgeDays = ParseMaxAge(*days);
            if (!o.maxAgeDays) parsed.error = "--max-age needs a whole number of days, not '" + *days + "'";
        } else if (auto dir = value("--dir")) {
            o.folder = *dir;
        } else if (auto job = value("--job")) {
            o.jobs.push_back(*job);
        } else if (auto file = value("--new-password")) {
            o.newPassword = *file;
        } else if (parsed.error.empty()) {
            parsed.error = "unknown option '" + std::string(arg) + "'";
        }
        if (!parsed.error.empty()) return parsed;
    }
    if (!o.run && !o.help && (o.brandNew || o.discReady || !o.jobs.empty()))
        parsed.error = "--job, --brand-new and --disc-ready need --run";
    if (!o.help) AddStatusOptionErrors(o, parsed.error);
    if (o.newPassword && (o.run || o.status) && parsed.error.empty())
        parsed.error = "--new-password goes alone";
    return parsed;
}

std::string BackupUsage() {
    return "usage: halvex-backup [--dir DIR]\n"
           "       halvex-backup --run [--dir DIR] [--job NAME]... [--brand-new] [--disc-ready]\n"
           "                           [--no-notify]\n"
           "       halvex-backup --status [--dir DIR] [--json] [--max-age DAYS]\n"
           "       halvex-backup --new-password FILE\n"
           "       halvex-backup --help | --version\n"
           "\n"
           "  (no option)   choose the jobs to back up in the job-selection window\n"
           "  --run         back up without windows: every job, or the jobs named with --job\n"
           "  --dir DIR     use DIR in place of the program's folder (backup.ini, FileLists.tq,\n"
           "                FileLists.bak, backups.log and archives without a folder)\n"
           "  --job NAME    back up the job NAME (letter case ignored); may be repeated\n"
           "  --brand-new   start brand new archives (refused for jobs whose archives exist)\n"
           "  --disc-ready  the right disc is in the drive: jobs with a CD name are burned to it\n"
           "                without asking (without a terminal they are skipped otherwise);\n"
           "                HALVEX_BURN_DRIVE=stdio:FILE burns into an ISO image file\n"
           "  --no-notify   no desktop notification when a run without a terminal ends with\n"
           "                1, 3, 4 or 5\n"
           "  --status      each job's last backup: date, outcome, archive count, set size;\n"
           "                exit 4 when a job's last run left something out, or the newest\n"
           "                run did not save FileLists.tq\n"
           "  --json        --status as JSON Lines\n"
           "  --max-age DAYS  with --status, a last backup older than DAYS days fails too\n"
           "  --new-password FILE  write a random password to the new file FILE (mode 600) for\n"
           "                a job's encrypt:\"FILE\" line; keep a copy away from the backups\n"
           "\n"
           "Exit status of --run: 0 done, 1 canceled, 2 start-up or command-line error,\n"
           "3 FileLists.tq could not be opened or saved (or another run is using it),\n"
           "4 done but files, folders, jobs, disc or off-site copies were skipped or backups.log\n"
           "could not be written, 5 canceled after an error writing an archive (a full disk).\n"
           "\n"
           "A job with a copyto:\"REMOTE:PATH\" line has its archives copied there with rclone\n"
           "after the run (HALVEX_RCLONE names the rclone program).\n";
}

bool SelectJobs(JobConfig& config, const std::vector<std::string>& names, std::string& unknown) {
    std::vector<bool> ticked(config.jobs.size(), names.empty());
    for (const std::string& name : names) {
        bool found = false;
        for (std::size_t i = 0; i < config.jobs.size(); ++i) {
            if (platform::EqualNoCase(config.jobs[i].name, name)) {
                ticked[i] = true;
                found = true;
            }
        }
        if (!found) {
            unknown = name;
            return false;
        }
    }
    for (std::size_t i = 0; i < config.jobs.size(); ++i)
        config.SetJobFlags(static_cast<int>(i), ticked[i] ? JobSelected | JobCopyToCd : 0);
    return true;
}

int RunUnattendedBackup(const BackupOptions& options, DesktopNotifier* notifier) {
    // Signals are taken by this thread alone (the run's thread inherits the mask) and turned
    // into cancel requests.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // The run's thread says it has finished with SIGUSR1, so the wait below ends at once.
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const pthread_t waitingThread = pthread_self();

    JobConfig config;
    const StartupResult startup = StartBackupProgram(config, options.folder);
    if (startup.message)
        std::fprintf(stderr, "%s: %s\n", startup.message->caption.c_str(), startup.message->text.c_str());
    if (!startup.ready) return kExitStartup;
    std::string unknown;
    if (!SelectJobs(config, options.jobs, unknown)) {
        std::fprintf(stderr, "halvex-backup: backup.ini has no job named '%s'\n", unknown.c_str());
        return kExitStartup;
    }

    BackupEngine engine(config);
    const bool interactive = platform::HasInteractiveTerminal();
    ConsoleBackupView console(stderr, stdin, interactive);
    ErrorRecordingView view(console);
    const auto notify = [&](int status, const std::vector<std::string>& skipped, const std::string& error) {
        if (interactive || options.noNotify || notifier == nullptr) return;
        if (auto notice = NoticeForRun(status, skipped, error)) notifier->Send(*notice);
    };
    CopyToCdSettings disc;
    disc.prompt = options.discReady ? DiscPrompt::DiscReady : interactive ? DiscPrompt::Ask : DiscPrompt::Skip;
    engine.SetDiscSettings(std::move(disc));
    const AskFunction ask = [&console](const std::string& text, const std::string& caption, MessageButtons buttons) {
        return console.Ask(text, caption, buttons);
    };
    engine.StartRun(view, options.brandNew, [waitingThread] { pthread_kill(waitingThread, SIGUSR1); });
    // A cancelled run that has not ended by then is stuck in a call that does not return.
    constexpr auto kStuckAfter = std::chrono::milliseconds(1500);
    std::optional<std::chrono::steady_clock::time_point> stoppingSince;
    bool signalled = false;
    while (!engine.RunFinished()) {
        const timespec wait{0, 100 * 1000 * 1000};
        const int signal = sigtimedwait(&signals, nullptr, &wait);
        if (signal == SIGINT || signal == SIGTERM) {
            signalled = true;
            engine.RequestCancel(ask);
        }
        // Only a cancel asked for: a run that ends itself after an error keeps its own course.
        if (!signalled || !engine.Stopping()) continue;
        const auto now = std::chrono::steady_clock::now();
        if (!stoppingSince) stoppingSince = now;
        if (now - *stoppingSince < kStuckAfter) continue;
        engine.RemoveFilesOfStuckRun();
        if (engine.RunFinished()) break;  // it came back meanwhile: it ends the run itself
        console.PrintLine(std::string(kStuckRunText));
        std::fflush(nullptr);
        notify(kExitCanceled, {}, {});  // what the stuck thread noted is not read
        // Not the run's thread, which cannot be joined: the locks go with the process.
        std::_Exit(kExitCanceled);
    }
    engine.WaitForRun();
    for (const std::string& skipped : engine.SkippedEntries()) console.PrintLine(skipped);
    // Fifos, sockets and devices are named in the run log only: a home folder holds many.
    std::size_t passedOver = 0;
    for (const std::string& notice : engine.Notices()) {
        if (IsPassedOverNotice(notice)) ++passedOver;
        else console.PrintLine(notice);
    }
    if (passedOver > 0)
        console.PrintLine(std::to_string(passedOver) +
                          (passedOver == 1 ? " socket, fifo or device was" : " sockets, fifos or devices were") +
                          " not backed up (named in the run log).");
    const int status = ExitStatusOfRun(engine);
    notify(status, engine.SkippedEntries(), view.FirstError());
    return status;
}

int ExitStatusOfRun(const BackupEngine& engine) {
    switch (engine.Outcome()) {
        case BackupEngine::RunOutcome::Succeeded:
            return engine.SkippedEntries().empty() ? kExitSucceeded : kExitSkipped;
        case BackupEngine::RunOutcome::StoreError: return kExitStoreError;
        case BackupEngine::RunOutcome::Failed: return kExitFailed;
        case BackupEngine::RunOutcome::Cancelled:
        case BackupEngine::RunOutcome::NotRun: break;
    }
    return kExitCanceled;
}

}  // namespace halvex

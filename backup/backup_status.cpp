// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/backup_status.h"

#include <charconv>
#include <cstdio>
#include <sys/stat.h>

#include "backup/backup_cli.h"
#include "backup/file_list_store.h"
#include "backup/job_config_messages.h"
#include "backup/run_log.h"
#include "backup/run_messages.h"
#include "common/archive_naming.h"
#include "common/listing_record.h"
#include "platform/file.h"
#include "platform/file_attributes.h"
#include "platform/local_time.h"
#include "platform/nocase.h"
#include "platform/program_folder.h"
#include "zip/zip_archive_file.h"
#include "zip/zip_entry_header.h"

namespace halvex {

namespace {

constexpr platform::FileTime kTicksPerDay = 864000000000LL;  // 100 ns units

std::optional<struct stat> StatOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

platform::FileTime ModifiedTime(const struct stat& st) {
    return platform::FileTimeFromUnixSeconds(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 100;
}

// The store's time and archive number of each job; jobs it does not know keep 0.
void ReadStore(const std::string& folder, std::vector<JobStatus>& jobs) {
    const std::string path = folder + "/" + kFileListsName;
    if (!platform::IsRegularFile(path)) return;
    ZipArchiveFile zip;
    try {
        zip.Open(path, ZipOpenReadOnly);
        for (JobStatus& job : jobs) {
            const int index = zip.FindEntry(ArchiveNumberEntryName(job.name), false);
            ZipEntryHeader header;
            if (index < 0 || !zip.GetEntryInfo(header, index)) continue;
            job.lastBackup = header.GetFileTime();
            unsigned char raw[4] = {};
            if (!zip.OpenEntry(index)) continue;
            const std::size_t got = zip.ReadEntry(raw, sizeof raw);
            zip.AbandonEntry();
            const std::uint32_t number = raw[0] | (raw[1] << 8) | (raw[2] << 16) | (std::uint32_t{raw[3]} << 24);
            if (got == sizeof raw && number < 0x7FFFFFFFu) job.archives = static_cast<int>(number);
        }
        zip.Close();
    } catch (const std::exception&) {
        zip.Close(true);  // a damaged store: what was read stands, the rest shows "never"
    }
}

// The set's archives in their folder: the newest number (also of archives the store does not
// know yet) and the bytes of those present.
void MeasureSet(const JobConfig& config, const Job& job, JobStatus& status) {
    const std::string base = config.PathOf(job.archiveBaseName);
    for (int n = 1; n <= status.archives || StatOf(MakeArchiveFileName(base, n)); ++n) {
        if (const auto st = StatOf(MakeArchiveFileName(base, n)); st && S_ISREG(st->st_mode)) {
            status.setSize += static_cast<std::uint64_t>(st->st_size);
            if (n > status.archives) status.archives = n;
        }
    }
}

const char* OutcomeName(LoggedOutcome outcome) {
    switch (outcome) {
        case LoggedOutcome::Ok: return "ok";
        case LoggedOutcome::LeftOut: return "left-out";
        case LoggedOutcome::Unfinished: return "unfinished";
        case LoggedOutcome::None: break;
    }
    return "none";
}

const char* CheckName(StatusCheck check) {
    switch (check) {
        case StatusCheck::Failed: return "failed";
        case StatusCheck::TooOld: return "too-old";
        case StatusCheck::Ok: break;
    }
    return "ok";
}

std::optional<std::string> TimeText(platform::FileTime time, bool json) {
    if (time == 0) return std::nullopt;
    return platform::FormatUtcTime(json ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", time);
}

}  // namespace

void ReadLoggedOutcomes(std::string_view log, std::vector<JobStatus>& jobs) {
    const std::string separator = RunLogSeparator();
    constexpr std::string_view kJobLine = "\r\nJob: ";
    std::vector<char> offsiteFailed(jobs.size(), 0);  // per job: its latest off-site copy failed
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find(separator, start);
        const bool complete = end != std::string_view::npos;  // the last block may be cut short
        if (!complete) end = log.size();
        const std::string_view block = log.substr(start, end - start);
        start = complete ? end + separator.size() : log.size();

        const std::size_t jobAt = block.find(kJobLine);
        if (jobAt == std::string_view::npos) continue;
        const std::size_t nameAt = jobAt + kJobLine.size();
        const std::string_view name = block.substr(nameAt, block.find("\r\n", nameAt) - nameAt);
        JobStatus* job = nullptr;
        for (JobStatus& j : jobs)
            if (platform::EqualNoCase(j.name, name)) job = &j;
        if (job == nullptr) continue;

        // An off-site copy's block amends the job's run before it instead of replacing it.
        const std::size_t eventAt = block.find("] - ");
        if (eventAt != std::string_view::npos) {
            const std::string_view event = block.substr(eventAt + 4);
            // A failed copy counts once until a later copy succeeds, which mends it.
            char& failed = offsiteFailed[static_cast<std::size_t>(job - jobs.data())];
            if (event.starts_with("Copied off-site")) {
                if (failed && --job->leftOut == 0 && job->outcome == LoggedOutcome::LeftOut) job->outcome = LoggedOutcome::Ok;
                failed = 0;
                continue;
            }
            if (event.starts_with(kLogNotCopiedOffsitePrefix)) {
                if (!failed) ++job->leftOut;
                if (job->outcome == LoggedOutcome::Ok) job->outcome = LoggedOutcome::LeftOut;
                failed = 1;
                continue;
            }
            offsiteFailed[static_cast<std::size_t>(job - jobs.data())] = 0;
        }
        int leftOut = 0;
        bool finished = false;
        for (std::size_t at = block.find("] - "); at != std::string_view::npos; at = block.find("] - ", at + 1)) {
            const std::string_view text = block.substr(at + 4, block.find("\r\n", at) - at - 4);
            if (text.starts_with("Skipped ")) ++leftOut;
            if (text == kLogBackupFinished) finished = true;
        }
        job->leftOut = leftOut;
        job->outcome = !finished ? LoggedOutcome::Unfinished : leftOut > 0 ? LoggedOutcome::LeftOut : LoggedOutcome::Ok;
    }
}

std::vector<JobStatus> CollectJobStatus(const JobConfig& config, const std::string& folder) {
    std::vector<JobStatus> jobs;
    for (const Job& job : config.jobs) jobs.push_back(JobStatus{job.name});
    ReadStore(folder, jobs);
    for (std::size_t i = 0; i < jobs.size(); ++i) MeasureSet(config, config.jobs[i], jobs[i]);
    const std::string logPath = folder + "/" + kCumulativeLogName;
    if (platform::IsRegularFile(logPath)) {
        try {
            platform::File log;
            log.Open(logPath, platform::File::Mode::Read);
            std::string text;
            char buffer[65536];
            while (const std::size_t got = log.Read(buffer, sizeof buffer)) text.append(buffer, got);
            ReadLoggedOutcomes(text, jobs);
        } catch (const std::exception&) {
            // Unreadable: every outcome stays "none".
        }
    }
    return jobs;
}

StatusCheck CheckJob(const JobStatus& job, std::optional<int> maxAgeDays, platform::FileTime now) {
    if (job.outcome == LoggedOutcome::LeftOut || job.outcome == LoggedOutcome::Unfinished) return StatusCheck::Failed;
    if (maxAgeDays && (job.lastBackup == 0 || now - job.lastBackup > *maxAgeDays * kTicksPerDay))
        return StatusCheck::TooOld;
    return StatusCheck::Ok;
}

std::optional<platform::FileTime> UnsavedRunSince(const std::string& folder) {
    const auto store = StatOf(folder + "/" + kFileListsName);
    const auto copy = StatOf(folder + "/" + kFileListsBackupName);
    if (!store || !copy || ModifiedTime(*copy) <= ModifiedTime(*store)) return std::nullopt;
    return ModifiedTime(*copy);
}

std::optional<int> ParseMaxAge(const std::string& text) {
    int days = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
    if (error != std::errc() || end != text.data() + text.size() || days < 0 || days > 100000) return std::nullopt;
    return days;
}

void AddStatusOptionErrors(const BackupOptions& options, std::string& error) {
    if (!error.empty()) return;
    if (options.status && options.run) error = "--status and --run cannot go together";
    else if (!options.status && (options.json || options.maxAgeDays)) error = "--json and --max-age need --status";
    else if (!options.run && options.noNotify) error = "--no-notify needs --run";
}

int ShowBackupStatus(const BackupOptions& options) {
    std::string folder = options.folder.value_or("");
    if (!options.folder) {
        std::string error;
        folder = platform::ProgramFolder(error);
        if (folder.empty()) {
            std::fprintf(stderr, "Error: Cannot use the program folder: %s\n", error.c_str());
            return kExitStartup;
        }
    }
    if (!platform::IsDirectory(folder)) {
        std::fprintf(stderr, "Error: Cannot use the folder '%s'\n", EscapeForTerminal(folder).c_str());
        return kExitStartup;
    }
    JobConfig config;
    if (auto message = LoadJobConfigMessage(LoadJobConfigFile(folder + "/" + kJobFileName, config))) {
        std::fprintf(stderr, "%s: %s\n", message->caption.c_str(), EscapeForTerminal(message->text, true).c_str());
        return kExitStartup;
    }
    int status = kExitSucceeded;
    const platform::FileTime now = platform::CurrentFileTime();
    for (const JobStatus& job : CollectJobStatus(config, folder)) {
        const StatusCheck check = CheckJob(job, options.maxAgeDays, now);
        if (check != StatusCheck::Ok) status = kExitSkipped;
        ListingRecord record;
        if (!options.json) record.Text("record", "job");
        record.Text("job", job.name)
            .Text("last_backup", TimeText(job.lastBackup, options.json))
            .Text("outcome", OutcomeName(job.outcome))
            .Number("left_out", static_cast<std::uint64_t>(job.leftOut))
            .Number("archives", static_cast<std::uint64_t>(job.archives))
            .Number("size", job.setSize)
            .Text("check", CheckName(check));
        std::printf("%s\n", (options.json ? record.Json() : record.Tsv()).c_str());
    }
    if (const auto since = UnsavedRunSince(folder)) {
        std::fprintf(stderr, "halvex-backup: the run begun %s UTC did not save %s\n",
                     platform::FormatUtcTime("%Y-%m-%d %H:%M:%S", *since).c_str(), kFileListsName);
        status = kExitSkipped;
    }
    return std::fflush(stdout) == 0 ? status : kExitStartup;
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/job_config.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <unordered_set>

#include "backup/bookkeeping.h"
#include "common/archive_naming.h"
#include "common/folder_utils.h"
#include "common/safe_name.h"
#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/file_operations.h"
#include "platform/nocase.h"
#include "platform/path_limits.h"

namespace halvex {

std::optional<std::string_view> JobConfig::JobName(int index) const {
    if (index < 0 || index >= JobCount()) return std::nullopt;
    return std::string_view(jobs[static_cast<std::size_t>(index)].name);
}

void JobConfig::SetJobFlags(int index, int flags) {
    if (index < 0 || index >= JobCount()) return;
    Job& job = jobs[static_cast<std::size_t>(index)];
    job.flags = job.cdName ? flags : flags & ~JobCopyToCd;
}

platform::SystemTime JobConfig::LastBackupLocal(int index) const {
    if (index < 0 || index >= JobCount()) return {};
    return jobs[static_cast<std::size_t>(index)].lastBackup;
}

std::string JobConfig::PathOf(const std::string& name) const { return PathInFolder(folder, name); }

void JobConfig::Clear() {
    jobs.clear();
    globalFilters.clear();
}

namespace {

// A target whose top folder would share its name with a file of the archive's top level: a
// target history ("<target>.tq") or a bookkeeping entry. Other zip tools may refuse to extract
// a file and a folder of one name.
bool ClashesWithTopLevelEntry(std::string_view target) {
    constexpr std::string_view kHistoryExtension = ".tq";
    return (target.size() >= kHistoryExtension.size() &&
            platform::EqualNoCase(target.substr(target.size() - kHistoryExtension.size()), kHistoryExtension)) ||
           platform::EqualNoCase(target, kJobFileName) || platform::EqualNoCase(target, kRunLogEntryName);
}

// Every value must fit a path buffer of the platform's limit with its terminating zero.
constexpr std::size_t kValueLimit = platform::kPathLimit - 1;

// A job file is a few kilobytes; anything near this size is some other file, and reading it
// whole could exhaust memory.
constexpr std::uint64_t kJobFileSizeLimit = 64u << 20;

enum class Keyword { None, Dir, To, Exclude, Include, Zip, CdName, CopyTo, Encrypt, Level };

struct KeywordText {
    Keyword keyword;
    std::string_view text;
};

constexpr KeywordText kKeywords[] = {
    {Keyword::Dir, "dir:"},         {Keyword::To, "to:"},   {Keyword::Exclude, "exclude:"},
    {Keyword::Include, "include:"}, {Keyword::Zip, "zip:"}, {Keyword::CdName, "cdname:"},
    {Keyword::CopyTo, "copyto:"},
    {Keyword::Encrypt, "encrypt:"}, {Keyword::Level, "level:"},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view SkipBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

bool OnlyBlanksOrComment(std::string_view text) {
    text = SkipBlanks(text);
    return text.empty() || text.front() == '#';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && platform::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// The keyword at the start of text, which is then moved past it.
Keyword TakeKeyword(std::string_view& text) {
    for (const KeywordText& k : kKeywords) {
        if (StartsWithNoCase(text, k.text)) {
            text.remove_prefix(k.text.size());
            return k.keyword;
        }
    }
    return Keyword::None;
}

// Reads optional blanks and a value in double quotes from the start of text, which is then
// moved past the closing quote. The value loses one trailing backslash (and, for folders,
// one trailing '/' unless it is the root); filter patterns take '\' between folder levels and
// are upper-cased. None for a missing quote, a value that is or becomes empty, or one
// longer than a path may be.
std::optional<std::string> TakeValue(std::string_view& text, Keyword keyword) {
    std::string_view rest = SkipBlanks(text);
    if (rest.empty() || rest.front() != '"') return std::nullopt;
    rest.remove_prefix(1);
    std::size_t close = rest.find('"');
    if (close == std::string_view::npos || close == 0) return std::nullopt;
    std::string value(rest.substr(0, close));
    text = rest.substr(close + 1);

    bool isFilter = keyword == Keyword::Exclude || keyword == Keyword::Include;
    bool isFolder = keyword == Keyword::Dir || keyword == Keyword::Zip;
    if (isFilter) std::replace(value.begin(), value.end(), '/', '\\');
    if (value.back() == '\\') {
        value.pop_back();
    } else if (isFolder && value.back() == '/' && value != "/") {
        value.pop_back();
    }
    if (value.empty() || value.size() > kValueLimit) return std::nullopt;
    if (isFilter) platform::UpperCaseInPlace(value);
    return value;
}

// A level: value: one digit 1-9, or "store" (any case) for 0.
std::optional<int> ParseLevel(std::string_view value) {
    if (platform::EqualNoCase(value, "store")) return 0;
    if (value.size() == 1 && value[0] >= '1' && value[0] <= '9') return value[0] - '0';
    return std::nullopt;
}

std::string ArchiveBaseName(const std::string& jobName, const std::optional<std::string>& zip) {
    if (!zip) return jobName;
    const std::string& location = *zip;
    std::size_t ext = kArchiveExtension.size();
    if (location.size() >= ext + 1 &&
        platform::EqualNoCase(std::string_view(location).substr(location.size() - ext), kArchiveExtension)) {
        return location.substr(0, location.size() - ext);
    }
    return location == "/" ? location + jobName : location + "/" + jobName;
}

class Parser {
public:
    explicit Parser(JobConfig& config) : config_(config) {}

    // 0, or the line on which the text is in error.
    std::size_t Run(std::string_view text) {
        std::size_t position = 0;
        while (position < text.size()) {
            ++line_;
            std::size_t cr = text.find('\r', position);
            bool hasBreak = cr != std::string_view::npos;
            std::string_view line = text.substr(position, (hasBreak ? cr : text.size()) - position);
            if (!Line(line, hasBreak)) return errorLine_;
            if (!hasBreak) break;
            position = cr + 2;  // the byte after a carriage return is skipped, whatever it is
        }
        if (!CloseSection()) return errorLine_;

        std::unordered_set<std::string> names;
        for (const Job& job : config_.jobs) {
            if (!names.insert(platform::UpperCased(job.name)).second) return line_ + 1;
        }
        // Two jobs whose archives could take each other's names would replace or mix each
        // other's sets: the later job is in error.
        std::vector<std::string> bases;
        for (std::size_t j = 0; j < config_.jobs.size(); ++j) {
            bases.push_back(ComparableBase(config_.jobs[j].archiveBaseName));
            for (std::size_t k = 0; k < j; ++k)
                if (ArchiveNamesCanCollide(bases[k], bases[j])) return headerLines_[j];
        }
        return 0;
    }

private:
    enum class Section { None, Global, Job };

    // The archive base as a full path with "." and ".." steps and repeated '/' resolved, so
    // that two spellings of one folder compare equal.
    static std::string ComparableBase(const std::string& base) {
        std::error_code error;
        std::filesystem::path path = std::filesystem::absolute(base, error);
        if (error) path = base;
        return path.lexically_normal().string();
    }

    bool Fail(std::size_t line) {
        errorLine_ = line;
        return false;
    }
    bool Fail() { return Fail(line_); }

    bool Line(std::string_view line, bool hasBreak) {
        std::string_view rest = SkipBlanks(line);
        if (!rest.empty() && rest.front() == '[') return Header(rest, hasBreak);
        switch (section_) {
            case Section::None: return rest.empty() || Fail();
            case Section::Global: return GlobalLine(rest);
            case Section::Job: return JobLine(rest);
        }
        return Fail();
    }

    bool Header(std::string_view rest, bool hasBreak) {
        if (!CloseSection()) return false;
        std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return Fail();
        std::string_view after = rest.substr(close + 1);
        if (after.empty() && !hasBreak) return Fail();  // the file ends right at the ']'
        if (!OnlyBlanksOrComment(after)) return Fail();
        if (rest.size() >= 8 && platform::EqualNoCase(rest.substr(1, 7), "global]")) {
            section_ = Section::Global;
            globalSection_.clear();
        } else {
            section_ = Section::Job;
            job_ = Job{};
            job_.name = std::string(rest.substr(1, close - 1));
            // The name is a folder of the store's entry names and, without zip:, a file name.
            if (HasPathSeparator(job_.name)) return Fail();
            headerLines_.push_back(line_);
            zip_.reset();
            levelGiven_ = false;
            targetNames_.clear();
        }
        return true;
    }

    bool GlobalLine(std::string_view rest) {
        if (rest.empty() || rest.front() == '#') return true;
        Keyword keyword = TakeKeyword(rest);
        if (keyword != Keyword::Exclude && keyword != Keyword::Include) return Fail();
        auto value = TakeValue(rest, keyword);
        if (!value || !OnlyBlanksOrComment(rest)) return Fail();
        globalSection_.push_back(FilterRule{keyword == Keyword::Exclude, std::move(*value)});
        return true;
    }

    bool JobLine(std::string_view rest) {
        if (rest.empty() || rest.front() == '#') return true;
        Keyword keyword = TakeKeyword(rest);
        if (keyword == Keyword::None) return Fail();
        // A mapping left without a target is reported on its own, earlier, line.
        if (keyword == Keyword::Dir && !CloseMapping()) return false;
        if (!KeywordValue(keyword, rest)) return false;
        if (keyword != Keyword::Zip && keyword != Keyword::CdName && keyword != Keyword::CopyTo &&
            keyword != Keyword::Encrypt && keyword != Keyword::Level) {
            // Directly behind these values, an archive location and a CD label may follow.
            if (StartsWithNoCase(rest, "zip:")) {
                rest.remove_prefix(4);
                if (!KeywordValue(Keyword::Zip, rest)) return false;
            }
            if (StartsWithNoCase(rest, "cdname:")) {
                rest.remove_prefix(7);
                if (!KeywordValue(Keyword::CdName, rest)) return false;
            }
        }
        return OnlyBlanksOrComment(rest) || Fail();
    }

    // Reads the keyword's value from rest and applies it to the job.
    bool KeywordValue(Keyword keyword, std::string_view& rest) {
        auto value = TakeValue(rest, keyword);
        if (!value) return Fail();
        switch (keyword) {
            case Keyword::Dir:
                job_.mappings.push_back(SourceMapping{std::move(*value), {}, {}});
                dirLine_ = line_;
                return true;
            case Keyword::To:
                if (job_.mappings.empty()) return Fail();
                // The target is one folder of the archives and one entry of the store.
                if (!IsSafeName(*value) || ClashesWithTopLevelEntry(*value)) return Fail();
                if (targetNames_.count(platform::UpperCased(*value)) != 0) return Fail();
                job_.mappings.back().targetName = std::move(*value);
                return true;
            case Keyword::Exclude:
            case Keyword::Include:
                if (job_.mappings.empty()) return Fail();
                job_.mappings.back().filters.push_back(FilterRule{keyword == Keyword::Exclude, std::move(*value)});
                return true;
            case Keyword::Zip:
                if (zip_) return Fail();
                zip_ = std::move(*value);
                return true;
            case Keyword::CdName:
                job_.cdName = std::move(*value);
                return true;
            case Keyword::CopyTo:
                // One place per job: a second would leave the user unsure which copy is current.
                if (job_.copyTo) return Fail();
                job_.copyTo = std::move(*value);
                return true;
            case Keyword::Encrypt:
                if (job_.passwordFile) return Fail();
                job_.passwordFile = std::move(*value);
                return true;
            case Keyword::Level: {
                if (levelGiven_) return Fail();
                const auto level = ParseLevel(*value);
                if (!level) return Fail();
                job_.level = *level;
                levelGiven_ = true;
                return true;
            }
            case Keyword::None: break;
        }
        return Fail();
    }

    // Ends the job's latest mapping: it must have a target name, which later mappings of
    // the job may not use again.
    bool CloseMapping() {
        if (job_.mappings.empty()) return true;
        const std::string& target = job_.mappings.back().targetName;
        if (target.empty()) return Fail(dirLine_);
        targetNames_.insert(platform::UpperCased(target));
        return true;
    }

    bool CloseSection() {
        Section closing = section_;
        section_ = Section::None;
        if (closing == Section::Global) {
            // A later global section replaces the filters only when it has some.
            if (!globalSection_.empty()) config_.globalFilters = std::move(globalSection_);
            globalSection_.clear();
        } else if (closing == Section::Job) {
            if (!CloseMapping()) return false;
            job_.archiveBaseName = ArchiveBaseName(job_.name, zip_);
            config_.jobs.push_back(std::move(job_));
        }
        return true;
    }

    JobConfig& config_;
    Section section_ = Section::None;
    std::size_t line_ = 0;       // number of the line being read
    std::size_t errorLine_ = 0;
    std::vector<FilterRule> globalSection_;
    Job job_;
    std::optional<std::string> zip_;
    bool levelGiven_ = false;                      // the job has had its level: line
    std::size_t dirLine_ = 0;                      // line of the latest dir: of the job
    std::vector<std::size_t> headerLines_;         // line of each job's section header
    std::unordered_set<std::string> targetNames_;  // upper-cased targets of earlier mappings
};

}  // namespace

int ParseJobConfig(std::string_view bytes, JobConfig& config) {
    config.Clear();
    std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    std::size_t errorLine = Parser(config).Run(bytes);
    if (errorLine == 0) return 0;
    config.Clear();
    return errorLine > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(errorLine);
}

JobFileResult LoadJobConfigFile(const std::string& path, JobConfig& config) {
    using Status = JobFileResult::Status;
    config.Clear();
    config.folder = platform::FolderOfPath(path);
    platform::File file;
    if (!file.TryOpen(path, platform::File::Mode::Read))
        return {errno == platform::kNotRegularFile ? Status::NotRegularFile : Status::CannotOpen};
    try {
        std::uint64_t size = file.Length();
        if (size > kJobFileSizeLimit) return {Status::CannotRead};
        std::string buffer(static_cast<std::size_t>(size) + 1, '\0');
        if (file.Read(buffer.data(), static_cast<std::size_t>(size)) != size) return {Status::CannotRead};
        const int line = ParseJobConfig(std::string_view(buffer.data(), static_cast<std::size_t>(size)), config);
        if (line == 0) return {Status::Loaded};
        return {Status::LineInError, line};
    } catch (const platform::FileError&) {
        return {Status::CannotRead};
    } catch (const std::bad_alloc&) {
        config.Clear();
        return {Status::CannotRead};
    }
}

JobFileResult LoadJobConfig(JobConfig& config, const std::string& folder) {
    const JobFileResult result = LoadJobConfigFile(PathInFolder(folder, kJobFileName), config);
    config.folder = folder;
    return result;
}

}  // namespace halvex

// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the job file parser: it must never crash, hang or read outside
// the input, and what it accepts must be a config the rest of the program can rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_set>

#include "backup/job_config.h"
#include "platform/nocase.h"
#include "platform/path_limits.h"

using namespace halvex;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckValue(const std::string& value) {
    Check(!value.empty() && value.size() < platform::kPathLimit);
    Check(value.find('"') == std::string::npos && value.find('\r') == std::string::npos);
    Check(value.find('\0') == std::string::npos);
}

void CheckAccepted(const JobConfig& config) {
    std::unordered_set<std::string> names;
    for (const Job& job : config.jobs) {
        Check(names.insert(platform::UpperCased(job.name)).second);
        Check(job.flags == 0 && job.lastBackup.IsZero() && job.runLog.empty());
        Check(!job.archiveBaseName.empty() || job.name.empty());
        if (job.cdName) CheckValue(*job.cdName);
        std::unordered_set<std::string> targets;
        for (const SourceMapping& mapping : job.mappings) {
            CheckValue(mapping.sourceFolder);
            CheckValue(mapping.targetName);
            Check(targets.insert(platform::UpperCased(mapping.targetName)).second);
            for (const FilterRule& rule : mapping.filters) {
                CheckValue(rule.pattern);
                Check(rule.pattern == platform::UpperCased(rule.pattern));
                Check(rule.pattern.find('/') == std::string::npos);
            }
        }
    }
    for (const FilterRule& rule : config.globalFilters) {
        CheckValue(rule.pattern);
        Check(rule.pattern == platform::UpperCased(rule.pattern));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that any read past the input is caught.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    JobConfig config;
    int result = ParseJobConfig(bytes, config);
    Check(result >= 0);
    if (result != 0) {
        Check(config.jobs.empty() && config.globalFilters.empty());
    } else {
        CheckAccepted(config);
    }

    // A NUL ends the text: anything after it changes nothing.
    JobConfig again;
    bytes.push_back('\0');
    bytes += "[x]\r\n[X]";
    Check(ParseJobConfig(bytes, again) == result);
    Check(again.JobCount() == config.JobCount());
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "backup/job_config.h"
#include "backup/job_config_messages.h"

using namespace halvex;

namespace {

// Joins lines with CR LF, the job file's line break; the last line gets none.
std::string Lines(std::initializer_list<std::string_view> lines) {
    std::string text;
    bool first = true;
    for (std::string_view line : lines) {
        if (!first) text += "\r\n";
        text += line;
        first = false;
    }
    return text;
}

int Parse(std::string_view text) {
    JobConfig config;
    return ParseJobConfig(text, config);
}

JobConfig Parsed(std::string_view text) {
    JobConfig config;
    int result = ParseJobConfig(text, config);
    EXPECT_EQ(result, 0) << text;
    return config;
}

}  // namespace

TEST(ParseJobConfig, EmptyAndBlankFilesHaveNoJobs) {
    for (std::string_view text : {"", "\r\n", "  \t\r\n\r\n \t", "\r"}) {
        JobConfig config = Parsed(text);
        EXPECT_EQ(config.JobCount(), 0);
        EXPECT_TRUE(config.globalFilters.empty());
    }
}

TEST(ParseJobConfig, OnlyBlankLinesMayStandBeforeTheFirstHeader) {
    EXPECT_EQ(Parse(Lines({"#comment", "[a]", "dir:\"/s\"", "to:\"T\""})), 1);
    EXPECT_EQ(Parse(Lines({"", "  ", "\t# indented comment", "[a]"})), 3);
    EXPECT_EQ(Parse(Lines({"x[a]"})), 1);
    EXPECT_EQ(Parse(Lines({"dir:\"/s\"", "[a]"})), 1);
    JobConfig config = Parsed(Lines({"", " \t[indented]", ""}));
    ASSERT_EQ(config.JobCount(), 1);
    EXPECT_EQ(config.jobs[0].name, "indented");
}

TEST(ParseJobConfig, ValueSyntax) {
    // Blanks between the colon and the opening quote are accepted.
    JobConfig config = Parsed(Lines({"[j]", "dir: \t\"/my data\"   # comment", "to:\"Data\"#c", ""}));
    ASSERT_EQ(config.jobs[0].mappings.size(), 1u);
    EXPECT_EQ(config.jobs[0].mappings[0].sourceFolder, "/my data");
    EXPECT_EQ(config.jobs[0].mappings[0].targetName, "Data");

    const std::string_view bad[] = {
        "dir:/unquoted",          // no quotes
        "dir:\"\"",               // empty value
        "dir:\"/no/close",        // no closing quote on the line
        "dir: x\"/a\"",           // text between keyword and quote
        "dir:\"/a\" junk",        // text after the value
        "dir:\"/a\"\"b\"",        // a second quoted text
        "dir:\"/a\"x",            // text directly behind the value
        "dir\"/a\"",              // no colon: not a keyword
        "dir :\"/a\"",            // blank before the colon: not a keyword
        "source:\"/a\"",          // unknown keyword
    };
    for (std::string_view line : bad) {
        EXPECT_EQ(Parse(Lines({"[j]", "# fine", line, "to:\"T\""})), 3) << line;
    }
    // A value cannot continue on the next line.
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a", "b\"", "to:\"T\""})), 2);
}

TEST(ParseJobConfig, KeywordsAndGlobalHeaderIgnoreCase) {
    JobConfig config = Parsed(Lines({"[GLOBAL]", "EXCLUDE:\"*.bak\"", "[gLoBaL]  # again", "Include:\"keep.bak\"",
                                     "[job]", "DIR:\"/a\"", "To:\"A\"", "eXcLuDe:\"x\"", "INCLUDE:\"y\"",
                                     "ZIP:\"/z\"", "CdNaMe:\"LABEL\"", ""}));
    ASSERT_EQ(config.JobCount(), 1);
    const Job& job = config.jobs[0];
    EXPECT_EQ(job.archiveBaseName, "/z/job");
    EXPECT_EQ(job.cdName, "LABEL");
    ASSERT_EQ(job.mappings.size(), 1u);
    ASSERT_EQ(job.mappings[0].filters.size(), 2u);
    EXPECT_TRUE(job.mappings[0].filters[0].isExclude);
    EXPECT_FALSE(job.mappings[0].filters[1].isExclude);
    // The second global section had filters of its own, so they replace the first one's.
    ASSERT_EQ(config.globalFilters.size(), 1u);
    EXPECT_FALSE(config.globalFilters[0].isExclude);
    EXPECT_EQ(config.globalFilters[0].pattern, "KEEP.BAK");

    // Only the exact seven characters "global]" make the global section.
    config = Parsed(Lines({"[global ]", "[globalx]", "[Global Files]", ""}));
    ASSERT_EQ(config.JobCount(), 3);
    EXPECT_EQ(config.jobs[0].name, "global ");
    EXPECT_EQ(config.jobs[2].name, "Global Files");
}

TEST(ParseJobConfig, GlobalSectionAcceptsOnlyFilters) {
    EXPECT_EQ(Parse(Lines({"[global]", "exclude:\"*.tmp\"", "dir:\"/a\""})), 3);
    EXPECT_EQ(Parse(Lines({"[global]", "zip:\"/a\""})), 2);
    EXPECT_EQ(Parse(Lines({"[global]", "exclude:\"*.tmp\"zip:\"/a\""})), 2);
    EXPECT_EQ(Parse(Lines({"[global]", "exclude:\"\""})), 2);
    EXPECT_EQ(Parse(Lines({"[global]", "stray text"})), 2);
    // A later global section without filters keeps the earlier filters.
    JobConfig config = Parsed(Lines({"[global]", "exclude:\"a\"", "exclude:\"b\"", "[global]", "# none", ""}));
    ASSERT_EQ(config.globalFilters.size(), 2u);
    EXPECT_EQ(config.globalFilters[1].pattern, "B");
}

TEST(ParseJobConfig, TargetsAndFiltersNeedASourceFolderOfTheirJob) {
    EXPECT_EQ(Parse(Lines({"[j]", "to:\"T\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "exclude:\"x\"", "dir:\"/a\"", "to:\"T\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "include:\"x\""})), 2);
    // The previous job's source folder does not count.
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a\"", "to:\"T\"", "[k]", "exclude:\"x\""})), 5);
}

TEST(ParseJobConfig, TargetNamesOfAJobDiffer) {
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a\"", "to:\"Data\"", "dir:\"/b\"", "to:\"DATA\""})), 5);
    // A second target line of the same mapping replaces the first, whatever its case.
    JobConfig config = Parsed(Lines({"[j]", "dir:\"/a\"", "to:\"Data\"", "to:\"data\"", "to:\"Final\"",
                                     "dir:\"/b\"", "to:\"data\"", "[k]", "dir:\"/c\"", "to:\"Final\"", ""}));
    ASSERT_EQ(config.JobCount(), 2);
    EXPECT_EQ(config.jobs[0].mappings[0].targetName, "Final");
    EXPECT_EQ(config.jobs[0].mappings[1].targetName, "data");
    EXPECT_EQ(config.jobs[1].mappings[0].targetName, "Final");  // other jobs may reuse names
}

TEST(ParseJobConfig, NamesThatCannotRoundTripAreErrorsOnTheirLine) {
    struct Case {
        std::string_view header, target;
        int line;  // 0: accepted
    };
    const Case cases[] = {
        {"[a/b]", "T", 1},   {"[a\\b]", "T", 1}, {"[/]", "T", 1},    {"[j]", "a/b", 3},
        {"[j]", "a\\b", 3}, {"[j]", ".", 3},     {"[j]", "..", 3},   {"[j]", "../x", 3},
        {"[j]", "..\\", 3}, {"[j]", "...", 0},   {"[j.k]", ".T", 0}, {"[..]", "T..", 0},
        // a folder of the archive's top level beside a file of the same name
        {"[j]", "X.tq", 3},       {"[j]", "x.TQ", 3},         {"[j]", ".tq", 3},
        {"[j]", "ToDirs.tq", 3},  {"[j]", "backup.ini", 3},   {"[j]", "BACKUP.Ini", 3},
        {"[j]", "tqbackup.log", 3}, {"[j]", "TQBackup.LOG", 3}, {"[j]", "X.tqz", 0},
        {"[j]", "X.t", 0},        {"[j]", "tq", 0},           {"[j]", "backup.ini2", 0},
        {"[j]", "my backup.ini", 0}, {"[j]", "tqbackup", 0},
    };
    for (const Case& c : cases) {
        const std::string target = "to:\"" + std::string(c.target) + "\"";
        EXPECT_EQ(Parse(Lines({c.header, "dir:\"/s\"", target, ""})), c.line)
            << c.header << " " << c.target;
    }
}

TEST(ParseJobConfig, JobsWhoseArchiveNamesCanCollideFailOnTheLaterJob) {
    struct Case {
        std::string_view first, firstZip, second, secondZip;
        int line;  // 0: accepted
    };
    const Case cases[] = {
        {"Job1", "", "Job12", "", 3},             // Job1's archive 2 is Job12's archive 1
        {"Job12", "", "Job1", "", 3},             // whichever comes first
        {"Job", "", "Job1", "", 3},               // Job's archive 12 is Job1's archive 2
        {"Home", "/b", "Home2", "/b", 3},         // in one folder given by zip:
        {"Home", "/b", "Home2", "/b/", 3},        // spelled differently
        {"Home", "/b", "Home2", "/a/../b", 3},
        {"A", "/b/Set.TQBak", "B", "/b/Set5.TQBak", 3},
        {"A", "/b/Set.TQBak", "B", "/b/Set.TQBak", 3},  // the same set
        {"Home", "/a", "Home2", "/b", 0},         // other folders
        {"Job", "", "Job0", "", 0},               // no archive number begins with 0
        {"Job", "", "JobX", "", 0},
        {"Job", "", "job1", "", 0},               // file names compare exactly
    };
    for (const Case& c : cases) {
        auto zip = [](std::string_view location) {
            return location.empty() ? std::string("# no zip") : "zip:\"" + std::string(location) + "\"";
        };
        auto header = [](std::string_view name) { return std::string("[").append(name).append("]"); };
        const std::string text = Lines({header(c.first), zip(c.firstZip), header(c.second), zip(c.secondZip), ""});
        EXPECT_EQ(Parse(text), c.line) << text;
    }
}

TEST(ParseJobConfig, SourceFolderWithoutTargetIsRejectedOnItsLine) {
    // Before the next source folder of the job.
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a\"", "exclude:\"x\"", "dir:\"/b\"", "to:\"B\""})), 2);
    // At the end of the job, and at the end of the file.
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a\"", "to:\"A\"", "dir:\"/b\"", "", "[k]"})), 4);
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a\"", ""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a\""})), 2);
    // A job without any source folder is not an error here.
    EXPECT_EQ(Parsed(Lines({"[j]", "zip:\"/z\"", ""})).jobs[0].mappings.size(), 0u);
}

TEST(ParseJobConfig, JobNamesDifferingOnlyInCaseFailOnePastTheLastLine) {
    EXPECT_EQ(Parse(Lines({"[Job]", "[JOB]", ""})), 3);
    // A final line without a line break counts as a line.
    EXPECT_EQ(Parse(Lines({"[Job]", "[JOB]", "# last"})), 4);
    EXPECT_EQ(Parse(Lines({"[Job]", "[JOB]", "  "})), 4);
    // A carriage return as the very last byte ends the text.
    EXPECT_EQ(Parse("[Job]\r\n[JOB]\r"), 3);
    // Errors on a line come first, even after the duplicate.
    EXPECT_EQ(Parse(Lines({"[Job]", "[JOB]", "junk", ""})), 3);
    // Empty names are accepted; two of them are a duplicate.
    EXPECT_EQ(Parse(Lines({"[]", ""})), 0);
    EXPECT_EQ(Parse(Lines({"[]", "[]", ""})), 3);
}

TEST(ParseJobConfig, ArchiveBase) {
    auto base = [](std::string_view zipLine) {
        JobConfig config = Parsed(Lines({"[Job]", zipLine, ""}));
        return config.JobCount() == 1 ? config.jobs[0].archiveBaseName : std::string("?");
    };
    EXPECT_EQ(base(""), "Job");
    EXPECT_EQ(base("zip:\"/mnt/backups\""), "/mnt/backups/Job");
    EXPECT_EQ(base("zip:\"/mnt/backups/\""), "/mnt/backups/Job");
    EXPECT_EQ(base("zip:\"/\""), "/Job");
    EXPECT_EQ(base("zip:\"c:\\backups\\\""), "c:\\backups/Job");
    EXPECT_EQ(base("zip:\"/mnt/Set.TQBak\""), "/mnt/Set");
    EXPECT_EQ(base("zip:\"/mnt/set.tqbak\""), "/mnt/set");
    EXPECT_EQ(base("zip:\"a.TQBak\""), "a");              // seven characters: a full archive path
    EXPECT_EQ(base("zip:\".TQBak\""), ".TQBak/Job");      // six: a folder
    EXPECT_EQ(base("zip:\"/mnt/x.TQBakup\""), "/mnt/x.TQBakup/Job");
    EXPECT_EQ(base("zip:\"relative\""), "relative/Job");

    EXPECT_EQ(Parse(Lines({"[Job]", "zip:\"/a\"", "zip:\"/b\""})), 3);
    EXPECT_EQ(Parse(Lines({"[Job]", "zip:\"/a\"", "dir:\"/s\"zip:\"/b\"", "to:\"T\""})), 3);
    JobConfig config = Parsed(Lines({"[A]", "zip:\"/a\"", "[B]", "zip:\"/b\"", "[C]", ""}));
    EXPECT_EQ(config.jobs[0].archiveBaseName, "/a/A");
    EXPECT_EQ(config.jobs[1].archiveBaseName, "/b/B");
    EXPECT_EQ(config.jobs[2].archiveBaseName, "C");
}

TEST(ParseJobConfig, LocationAndLabelDirectlyBehindMappingValues) {
    JobConfig config = Parsed(Lines({"[j]", "dir:\"/src\"ZIP:\"/dst\"cdname: \"LBL\"  # both", "to:\"T\"cdname:\"L2\"",
                                     "exclude:\"*.o\"CDNAME:\"L3\"", ""}));
    EXPECT_EQ(config.jobs[0].mappings[0].sourceFolder, "/src");
    EXPECT_EQ(config.jobs[0].mappings[0].filters[0].pattern, "*.O");
    EXPECT_EQ(config.jobs[0].archiveBaseName, "/dst/j");
    EXPECT_EQ(config.jobs[0].cdName, "L3");  // a later label replaces the earlier
    // A second location is an error in this form too.
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/src\"zip:\"/dst\"", "to:\"T\"zip:\"/again\""})), 3);
    // Only directly behind the quote, only in this order, never behind a location or label line.
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/src\" zip:\"/dst\"", "to:\"T\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/src\"cdname:\"L\"zip:\"/dst\"", "to:\"T\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "zip:\"/dst\"cdname:\"L\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "cdname:\"L\"zip:\"/dst\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/src\"zip:\"\"", "to:\"T\""})), 2);
}

TEST(ParseJobConfig, OffsiteCopyPlace) {
    JobConfig config = Parsed(Lines({"[A]", "COPYTO: \"offsite:backups/A\"  # rclone", "[B]", ""}));
    EXPECT_EQ(config.jobs[0].copyTo, "offsite:backups/A");
    EXPECT_FALSE(config.jobs[1].copyTo);
    // Once per job, on a line of its own, never empty.
    EXPECT_EQ(Parse(Lines({"[A]", "copyto:\"r:a\"", "copyto:\"r:b\""})), 3);
    EXPECT_EQ(Parse(Lines({"[A]", "dir:\"/s\"copyto:\"r:a\"", "to:\"T\""})), 2);
    EXPECT_EQ(Parse(Lines({"[A]", "copyto:\"\""})), 2);
    EXPECT_EQ(Parse(Lines({"[global]", "copyto:\"r:a\""})), 2);
}

TEST(ParseJobConfig, EncryptNamesOnePasswordFilePerJob) {
    JobConfig config = Parsed(Lines({"[A]", "ENCRYPT: \"/home/u/key\"  # private", "dir:\"/src\"", "to:\"T\"", "[B]", ""}));
    EXPECT_EQ(config.jobs[0].passwordFile, "/home/u/key");
    EXPECT_EQ(config.jobs[1].passwordFile, std::nullopt);
    // Twice in a job, empty, in the global section or behind a mapping's value: in error.
    EXPECT_EQ(Parse(Lines({"[j]", "encrypt:\"/a\"", "encrypt:\"/b\""})), 3);
    EXPECT_EQ(Parse(Lines({"[j]", "encrypt:\"\""})), 2);
    EXPECT_EQ(Parse(Lines({"[global]", "encrypt:\"/a\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/src\"encrypt:\"/a\"", "to:\"T\""})), 2);
}

TEST(ParseJobConfig, LevelIsADigitOrStoreOncePerJob) {
    JobConfig config = Parsed(Lines({"[A]", "LEVEL: \"1\"  # fast", "[B]", "level:\"Store\"", "[C]", ""}));
    EXPECT_EQ(config.jobs[0].level, 1);
    EXPECT_EQ(config.jobs[1].level, 0);
    EXPECT_EQ(config.jobs[2].level, 9);
    const struct {
        const char* line;
        int expected;  // the job's level, or -1 when the line is in error
    } cases[] = {
        {"level:\"9\"", 9}, {"level:\"5\"", 5}, {"level:\"STORE\"", 0}, {"level:\"0\"", -1},
        {"level:\"10\"", -1}, {"level:\"\"", -1}, {"level:\" 6\"", -1}, {"level:\"fast\"", -1},
        {"level:6", -1}, {"level:\"6\" x", -1},
    };
    for (const auto& c : cases) {
        JobConfig one;
        const int error = ParseJobConfig(Lines({"[j]", c.line}), one);
        EXPECT_EQ(error, c.expected < 0 ? 2 : 0) << c.line;
        if (c.expected >= 0 && error == 0) {
            EXPECT_EQ(one.jobs[0].level, c.expected) << c.line;
        }
    }
    // Twice in a job, in the global section or behind a mapping's value: in error.
    EXPECT_EQ(Parse(Lines({"[j]", "level:\"1\"", "level:\"1\""})), 3);
    EXPECT_EQ(Parse(Lines({"[global]", "level:\"1\""})), 2);
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/src\"level:\"1\"", "to:\"T\""})), 2);
}

TEST(ParseJobConfig, ValuesLoseOneTrailingSeparator) {
    JobConfig config = Parsed(Lines({"[j]", "dir:\"c:\\\"", "to:\"T\\\"", "dir:\"/home/u/\"", "to:\"U\"",
                                     "dir:\"/\"", "to:\"Root\"", "dir:\"//\"", "to:\"R2\"", "dir:\"/x\\\\\"", "to:\"X\"", ""}));
    const auto& m = config.jobs[0].mappings;
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[0].sourceFolder, "c:");
    EXPECT_EQ(m[0].targetName, "T");
    EXPECT_EQ(m[1].sourceFolder, "/home/u");
    EXPECT_EQ(m[2].sourceFolder, "/");
    EXPECT_EQ(m[3].sourceFolder, "/");
    EXPECT_EQ(m[4].sourceFolder, "/x\\");
    // A value that is nothing but the separator would be empty.
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"/a\"", "to:\"\\\""})), 3);
    EXPECT_EQ(Parse(Lines({"[j]", "dir:\"\\\"", "to:\"T\""})), 2);
}

TEST(ParseJobConfig, FilterPatternsAreUpperCasedWithBackslashes) {
    JobConfig config = Parsed(Lines({"[global]", "exclude:\"*.tmp\"", "[j]", "dir:\"/a\"", "to:\"A\"",
                                     "exclude:\"dir2/*/debug\"", "include:\"Keep/Me/\"", "exclude:\"caf\xc3\xa9\"", ""}));
    EXPECT_EQ(config.globalFilters[0].pattern, "*.TMP");
    const auto& filters = config.jobs[0].mappings[0].filters;
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_EQ(filters[0].pattern, "DIR2\\*\\DEBUG");
    EXPECT_EQ(filters[1].pattern, "KEEP\\ME");
    EXPECT_FALSE(filters[1].isExclude);
    EXPECT_EQ(filters[2].pattern, "CAF\xc3\xa9");
    // The source folder keeps its case and its slashes.
    EXPECT_EQ(config.jobs[0].mappings[0].sourceFolder, "/a");
}

TEST(ParseJobConfig, ValuesLongerThanAPathAreRejected) {
    std::string longest = "/" + std::string(4094, 'p');
    ASSERT_EQ(longest.size(), 4095u);
    std::string dirLine = "dir:\"" + longest + "\"";
    EXPECT_EQ(Parsed(Lines({"[j]", dirLine, "to:\"T\"", ""})).jobs[0].mappings[0].sourceFolder, longest);
    // The trailing '/' that is removed does not count.
    std::string slashLine = "dir:\"" + longest + "/\"";
    EXPECT_EQ(Parse(Lines({"[j]", slashLine, "to:\"T\"", ""})), 0);
    std::string tooLong = "dir:\"" + longest + "q\"";
    EXPECT_EQ(Parse(Lines({"[j]", tooLong, "to:\"T\""})), 2);
    std::string zipLine = "zip:\"" + longest + "q\"";
    EXPECT_EQ(Parse(Lines({"[j]", "", zipLine})), 3);
}

TEST(ParseJobConfig, LineBreaks) {
    // Bare line feeds are no line breaks: such a file fails on its first line.
    EXPECT_EQ(Parse("[global]\n\texclude:\"*.tmp\"\n[Job]\ndir:\"/a\"\nto:\"A\"\n"), 1);
    EXPECT_EQ(Parse("\n[Job]\r\n"), 1);
    // The byte after a carriage return is skipped, whatever it is.
    JobConfig config = Parsed("[j]\rXdir:\"/a\"\r\rto:\"A\"\r\n");
    ASSERT_EQ(config.JobCount(), 1);
    EXPECT_EQ(config.jobs[0].mappings[0].targetName, "A");
    // A NUL byte ends the text: what follows is never read.
    config = Parsed(std::string_view("[j]\r\ndir:\"/a\"\r\nto:\"A\"\r\n\0garbage\r\n[j]", 38));
    EXPECT_EQ(config.JobCount(), 1);
    EXPECT_EQ(Parse(std::string_view("[j]\r\n\0", 6)), 0);
}

TEST(ParseJobConfig, HeaderEndings) {
    EXPECT_EQ(Parse("[Job]"), 1);
    EXPECT_EQ(Parse("\r\n\r\n[Job]"), 3);
    EXPECT_EQ(Parse(std::string_view("[Job]\0\r\n", 8)), 1);  // the NUL ends the file there
    EXPECT_EQ(Parse("[global]"), 1);
    for (std::string_view text : {"[Job]\r\n", "[Job]\r", "[Job] ", "[Job]\t", "[Job]#", "[Job]  # comment"}) {
        JobConfig config = Parsed(text);
        ASSERT_EQ(config.JobCount(), 1) << text;
        EXPECT_EQ(config.jobs[0].name, "Job");
    }
    EXPECT_EQ(Parse(Lines({"", "[Job", ""})), 2);
    EXPECT_EQ(Parse(Lines({"[a]", "[Job] x", ""})), 2);
    EXPECT_EQ(Parse(Lines({"[a]", "[global]]", ""})), 2);
    // The name runs to the first ']' and keeps its spaces and other brackets.
    JobConfig config = Parsed(Lines({"[ My [Job ]", ""}));
    EXPECT_EQ(config.jobs[0].name, " My [Job ");
}

TEST(ParseJobConfig, AnErrorLeavesTheConfigEmpty) {
    JobConfig config;
    ASSERT_EQ(ParseJobConfig(Lines({"[global]", "exclude:\"x\"", "[A]", "dir:\"/a\"", "to:\"A\"", ""}), config), 0);
    ASSERT_EQ(config.JobCount(), 1);
    // Reloading starts afresh; a failing load keeps nothing of what it had read.
    EXPECT_EQ(ParseJobConfig(Lines({"[global]", "exclude:\"y\"", "[B]", "dir:\"/b\"", "bad"}), config), 5);
    EXPECT_EQ(config.JobCount(), 0);
    EXPECT_TRUE(config.globalFilters.empty());
    EXPECT_EQ(ParseJobConfig(Lines({"[C]", ""}), config), 0);
    ASSERT_EQ(config.JobCount(), 1);
    EXPECT_EQ(config.jobs[0].name, "C");
    EXPECT_TRUE(config.globalFilters.empty());
}

TEST(JobConfig, AccessorsAndFlags) {
    JobConfig config = Parsed(Lines({"[Plain]", "[ToDisc]", "cdname:\"DISC\"", ""}));
    ASSERT_EQ(config.JobCount(), 2);
    EXPECT_EQ(config.JobName(0), "Plain");
    EXPECT_EQ(config.JobName(1), "ToDisc");
    EXPECT_EQ(config.JobName(2), std::nullopt);
    EXPECT_EQ(config.JobName(-1), std::nullopt);
    EXPECT_EQ(config.jobs[0].flags, 0);

    config.SetJobFlags(0, JobSelected | JobCopyToCd);
    config.SetJobFlags(1, JobSelected | JobCopyToCd);
    EXPECT_EQ(config.jobs[0].flags, JobSelected);  // no label: never to disc
    EXPECT_EQ(config.jobs[1].flags, JobSelected | JobCopyToCd);
    config.SetJobFlags(1, 0);
    EXPECT_EQ(config.jobs[1].flags, 0);
    config.SetJobFlags(5, 3);  // ignored
    config.SetJobFlags(-1, 3);
}

TEST(JobConfigMessages, ResultsBecomeTheStartUpMessages) {
    EXPECT_EQ(LoadJobConfigMessage({JobFileResult::Status::Loaded}), std::nullopt);
    auto open = LoadJobConfigMessage({JobFileResult::Status::CannotOpen});
    ASSERT_TRUE(open);
    EXPECT_EQ(open->text, "Couldn't open backup.ini");
    EXPECT_EQ(open->caption, "Error");
    EXPECT_EQ(LoadJobConfigMessage({JobFileResult::Status::CannotRead})->text, "Couldn't read backup.ini");
    EXPECT_EQ(LoadJobConfigMessage({JobFileResult::Status::LineInError, 39})->text, "Error in ini file on line 39");
    EXPECT_EQ(LoadJobConfigMessage({JobFileResult::Status::LineInError, 39})->caption, "Error");
    EXPECT_EQ(LoadJobConfigMessage({JobFileResult::Status::LineInError, 2147483647})->text,
              "Error in ini file on line 2147483647");
}

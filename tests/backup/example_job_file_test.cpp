// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "backup/example_job_file.h"
#include "backup/job_config.h"
#include "platform/file.h"
#include "platform/file_attributes.h"
#include "tests/support/temp_folder.h"

using namespace halvex;
using halvex::test::ReadFile;
using halvex::test::TempFolder;
using halvex::test::WriteFile;

namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t crlf; (crlf = text.find("\r\n", start)) != std::string::npos; start = crlf + 2)
        lines.push_back(text.substr(start, crlf - start));
    EXPECT_EQ(start, text.size()) << "text after the last line break";
    return lines;
}

}  // namespace

TEST(ExampleJobFile, WrittenLineByLine) {
    TempFolder temp;
    // A home with a blank, given with a trailing '/'.
    ASSERT_TRUE(WriteExampleJobFile(temp / "backup.ini", "/home/ann lee/"));
    std::string text = ReadFile(temp / "backup.ini");
    EXPECT_EQ(text.find('\x1a'), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.find("@HOME@"), std::string::npos);
    EXPECT_EQ(text.find("c:"), std::string::npos);
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 49u);
    for (const std::string& line : lines) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    // Indents and the lines whose blanks matter.
    const int tabbed[] = {2, 3, 4, 9, 10, 11, 12, 14, 15, 16, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
                          28, 29, 30, 31, 32, 34, 35, 36, 37, 38, 40, 41, 42, 44, 45, 46};
    for (int n : tabbed) EXPECT_EQ(lines[n - 1].substr(0, 1), "\t") << "line " << n;
    for (int n : {5, 13, 17, 33, 39, 43, 47, 49}) EXPECT_EQ(lines[n - 1], "") << "line " << n;
    for (int n : {18, 20, 25}) EXPECT_EQ(lines[n - 1], "\t") << "line " << n;
    EXPECT_EQ(lines[0], "[global]");
    EXPECT_EQ(lines[7], "[Default]");
    EXPECT_EQ(lines[11], "\t#CDName:\"Default_Bak\" #No spaces Max 11 chars");
    EXPECT_EQ(lines[14], "\t#zip:\"/home/ann lee/Backups/Default Backup.tqzip\" #using full path");
    EXPECT_EQ(lines[15], "\tzip:\"/home/ann lee/Backups\" #using folder");
    EXPECT_EQ(lines[21], "\tdir:\"/home/ann lee/Documents\"");
    EXPECT_EQ(lines[27], "\texclude:\"Drafts\"  \t #Don't include the Drafts folder");
    EXPECT_EQ(lines[31], "\t#eg: the folder /home/ann lee/Documents/Projects/hello/good bye/build would be ignored "
                         "because of the above exclude");
    EXPECT_EQ(lines[37], "\t#copyto:\"offsite:backups/Default\"");
    EXPECT_EQ(lines[41], "\t#encrypt:\"/home/ann lee/.halvex-key\"");
    EXPECT_EQ(lines[45], "\t#level:\"6\"");
    EXPECT_EQ(lines[47], "# end of job: default.");
}

TEST(ExampleJobFile, LoadsIntoOneJob) {
    TempFolder temp;
    const std::string home = temp / "home";
    ASSERT_TRUE(WriteExampleJobFile(temp / "backup.ini", home));
    JobConfig config;
    ASSERT_EQ(LoadJobConfig(config, temp.path()).status, JobFileResult::Status::Loaded);
    ASSERT_EQ(config.JobCount(), 1);
    const Job& job = config.jobs[0];
    EXPECT_EQ(job.name, "Default");
    EXPECT_EQ(job.archiveBaseName, home + "/Backups/Default");
    EXPECT_EQ(job.cdName, std::nullopt);  // the label line is commented out
    EXPECT_EQ(job.passwordFile, std::nullopt);  // so is the encryption line
    EXPECT_EQ(job.flags, 0);
    EXPECT_TRUE(job.lastBackup.IsZero());
    ASSERT_EQ(job.mappings.size(), 2u);
    EXPECT_EQ(job.mappings[0].sourceFolder, home + "/Documents");
    EXPECT_EQ(job.mappings[0].targetName, "Documents");
    ASSERT_EQ(job.mappings[0].filters.size(), 2u);
    EXPECT_TRUE(job.mappings[0].filters[0].isExclude);
    EXPECT_EQ(job.mappings[0].filters[0].pattern, "DRAFTS");
    EXPECT_TRUE(job.mappings[0].filters[1].isExclude);
    EXPECT_EQ(job.mappings[0].filters[1].pattern, "PROJECTS\\*\\BUILD");
    EXPECT_EQ(job.mappings[1].sourceFolder, home + "/Pictures");
    EXPECT_EQ(job.mappings[1].targetName, "Pictures");
    EXPECT_TRUE(job.mappings[1].filters.empty());
    ASSERT_EQ(config.globalFilters.size(), 2u);
    EXPECT_EQ(config.globalFilters[0].pattern, "*.TMP");
    EXPECT_EQ(config.globalFilters[1].pattern, "*~");
    EXPECT_TRUE(config.globalFilters[0].isExclude && config.globalFilters[1].isExclude);

    // A second job of the same name, differing in case, is reported past the last line.
    std::string text = ReadFile(temp / "backup.ini") + "[default]\r\n";
    EXPECT_EQ(ParseJobConfig(text, config), 51);
    // Saved by an editor with bare line feeds, it fails on line 1.
    std::string bare = ReadFile(temp / "backup.ini");
    for (std::size_t at; (at = bare.find("\r\n")) != std::string::npos;) bare.erase(at, 1);
    EXPECT_EQ(ParseJobConfig(bare, config), 1);
}

TEST(ExampleJobFile, NeverReplacesAnExistingFile) {
    TempFolder temp;
    WriteFile(temp / "backup.ini", "[Mine]\r\n");
    EXPECT_FALSE(WriteExampleJobFile(temp / "backup.ini"));
    EXPECT_EQ(ReadFile(temp / "backup.ini"), "[Mine]\r\n");
    // Not through a link that points nowhere either.
    ASSERT_EQ(symlink((temp / "elsewhere").c_str(), (temp / "link.ini").c_str()), 0);
    EXPECT_FALSE(WriteExampleJobFile(temp / "link.ini"));
    EXPECT_FALSE(platform::PathExists(temp / "elsewhere"));
    // A folder that does not exist is a failure, not a crash.
    EXPECT_FALSE(WriteExampleJobFile(temp / "missing/backup.ini"));
}

TEST(ExampleJobFile, FailedWriteLeavesNoFile) {
    TempFolder temp;
    std::string path = temp / "backup.ini";
    // In a child process, limit file sizes so that the write fails half-way.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(WriteExampleJobFile(path) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write should have been refused";
    EXPECT_FALSE(platform::PathExists(path));
}

TEST(LoadJobConfig, ReadsTheJobFileOfItsFolder) {
    TempFolder temp;
    const std::string ini = temp / "backup.ini";
    JobConfig config;
    config.jobs.emplace_back();
    EXPECT_EQ(LoadJobConfig(config, temp.path()).status, JobFileResult::Status::CannotOpen);
    EXPECT_EQ(config.JobCount(), 0);

    WriteFile(ini, "[A]\r\ndir:\"/a\"\r\nto:\"A\"\r\n");
    EXPECT_EQ(LoadJobConfig(config, temp.path()).status, JobFileResult::Status::Loaded);
    EXPECT_EQ(config.JobName(0), "A");
    EXPECT_EQ(config.PathOf("FileLists.tq"), temp / "FileLists.tq");
    WriteFile(ini, "[A]\r\ndir:\"/a\"\r\n");
    EXPECT_EQ(LoadJobConfig(config, temp.path()).line, 2);
    EXPECT_EQ(config.JobCount(), 0);
    WriteFile(ini, "");
    EXPECT_EQ(LoadJobConfig(config, temp.path()).status, JobFileResult::Status::Loaded);
    EXPECT_EQ(config.JobCount(), 0);
}

TEST(LoadJobConfig, UnreadableFiles) {
    TempFolder temp;
    JobConfig config;
    halvex::test::MakeFolders(temp / "folder.ini");
    EXPECT_EQ(LoadJobConfigFile(temp / "folder.ini", config).status, JobFileResult::Status::NotRegularFile);
    EXPECT_EQ(LoadJobConfigFile(temp / "missing.ini", config).status, JobFileResult::Status::CannotOpen);

    // Absurdly large: refused before any memory is taken for it (the file is sparse).
    {
        platform::File big(temp / "big.ini", platform::File::Mode::CreateTruncate);
        big.SetLength((64u << 20) + 1);
    }
    EXPECT_EQ(LoadJobConfigFile(temp / "big.ini", config).status, JobFileResult::Status::CannotRead);
    {
        platform::File big(temp / "big.ini", platform::File::Mode::ReadWrite);
        big.SetLength(64u << 20);  // at the limit: read, and all zero, so an empty text
    }
    EXPECT_EQ(LoadJobConfigFile(temp / "big.ini", config).status, JobFileResult::Status::Loaded);

    // Kernel attribute files announce more bytes than they give: a short read.
    const char* shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    if (!platform::IsRegularFile(shortFile)) GTEST_SKIP() << "no file that reads short";
    platform::File probe(shortFile, platform::File::Mode::Read);
    std::vector<char> buffer(probe.Length() + 1);
    if (probe.Read(buffer.data(), buffer.size()) >= probe.Length()) GTEST_SKIP() << shortFile << " reads whole";
    EXPECT_EQ(LoadJobConfigFile(shortFile, config).status, JobFileResult::Status::CannotRead);
}

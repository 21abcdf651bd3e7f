// SPDX-License-Identifier: GPL-3.0-or-later
// The console view of `halvex-backup --run`: what it prints without a terminal, and how it
// asks on one.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "backup/backup_cli.h"
#include "backup/console_backup_view.h"

using namespace halvex;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    return out;
}

FilePtr Input(const std::string& text) {
    FilePtr f(std::tmpfile());
    std::fputs(text.c_str(), f.get());
    std::rewind(f.get());
    return f;
}

}  // namespace

TEST(ConsoleBackupView, WithoutATerminalPrintsPhasesAndTakesFixedAnswers) {
    FilePtr out(std::tmpfile());
    FilePtr in = Input("");
    ConsoleBackupView view(out.get(), in.get(), false);
    view.SetText(ProgressText::CurrentJob, "Analyzing Files...");
    view.SetText(ProgressText::Status, "");
    view.SetText(ProgressText::Status, "Backing Up Files...");
    view.SetText(ProgressText::CurrentJob, "Daily");
    view.SetText(ProgressText::Status, view.FitStatusPath("Data\\a.txt"));  // a file: not a phase
    view.SetText(ProgressText::TimeRemaining, "5 seconds");
    EXPECT_EQ(view.ShowMessage("Error, could not access file 'x'", "Error", MessageButtons::AbortRetryIgnore),
              MessageAnswer::Ignore);
    EXPECT_EQ(view.ShowMessage("Error creating file:\n\n/a/b", "Error", MessageButtons::RetryCancel),
              MessageAnswer::Cancel);
    EXPECT_EQ(view.Ask("File copy in progress. Are you sure you want to abort?", "Quit??", MessageButtons::YesNo),
              MessageAnswer::Yes);
    EXPECT_EQ(view.ShowMessage("Backup Successful!", "Done", MessageButtons::Ok), MessageAnswer::Ok);
    EXPECT_EQ(Contents(out.get()),
              "Current Job: Analyzing Files...\n"
              "Status: Backing Up Files...\n"
              "Current Job: Daily\n"
              "Error: Error, could not access file 'x'\nAnswer: Ignore\n"
              "Error: Error creating file:\n\n/a/b\nAnswer: Cancel\n"
              "Quit??: File copy in progress. Are you sure you want to abort?\nAnswer: Yes\n"
              "Done: Backup Successful!\n");
}

TEST(ConsoleBackupView, OnATerminalAsksUntilAnswered) {
    FilePtr out(std::tmpfile());
    FilePtr in = Input("x\n  R\nn\n");
    ConsoleBackupView view(out.get(), in.get(), true);
    EXPECT_EQ(view.ShowMessage("missing", "Error", MessageButtons::AbortRetryIgnore), MessageAnswer::Retry);
    EXPECT_EQ(view.ShowMessage("quit?", "Quit??", MessageButtons::YesNo), MessageAnswer::No);
    // Input has ended: the fixed answer.
    EXPECT_EQ(view.ShowMessage("missing", "Error", MessageButtons::AbortRetryIgnore), MessageAnswer::Ignore);
    const std::string printed = Contents(out.get());
    EXPECT_NE(printed.find("Error: missing\n[A]bort, [R]etry, [I]gnore? [A]bort, [R]etry, [I]gnore? "), std::string::npos);
    EXPECT_NE(printed.find("Quit??: quit?\n[Y]es, [N]o? "), std::string::npos);
    EXPECT_NE(printed.find("Answer: Ignore"), std::string::npos);
}

TEST(BackupOptions, CommandLines) {
    auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "halvex-backup");
        return ParseBackupOptions(static_cast<int>(args.size()), args.data());
    };
    auto p = parse({"--run", "--dir", "/x", "--job", "A", "--job=b", "--brand-new"});
    EXPECT_EQ(p.error, "");
    EXPECT_TRUE(p.options.run);
    EXPECT_TRUE(p.options.brandNew);
    EXPECT_EQ(p.options.folder, "/x");
    EXPECT_EQ(p.options.jobs, (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(parse({"--dir=/y"}).options.folder, "/y");
    EXPECT_EQ(parse({"--run", "--dir"}).error, "--dir needs an argument");
    EXPECT_EQ(parse({"--run", "--verbose"}).error, "unknown option '--verbose'");
    EXPECT_EQ(parse({"--job", "A"}).error, "--job, --brand-new and --disc-ready need --run");
    EXPECT_EQ(parse({"--disc-ready"}).error, "--job, --brand-new and --disc-ready need --run");
    EXPECT_TRUE(parse({"--run", "--disc-ready"}).options.discReady);
    EXPECT_FALSE(p.options.discReady);
    EXPECT_TRUE(parse({"--help"}).options.help);
}

TEST(BackupOptions, SelectJobsIgnoresCaseAndKeepsTheDiscBitOnlyWithALabel) {
    JobConfig config;
    for (const char* name : {"Daily", "Weekly", "Photos"}) {
        Job job;
        job.name = job.archiveBaseName = name;
        config.jobs.push_back(job);
    }
    config.jobs[2].cdName = "PHOTOS";
    std::string unknown;
    ASSERT_TRUE(SelectJobs(config, {"weekly", "PHOTOS"}, unknown));
    EXPECT_EQ(config.jobs[0].flags, 0);
    EXPECT_EQ(config.jobs[1].flags, JobSelected);
    EXPECT_EQ(config.jobs[2].flags, JobSelected | JobCopyToCd);
    ASSERT_TRUE(SelectJobs(config, {}, unknown));
    EXPECT_EQ(config.jobs[0].flags, JobSelected);
    EXPECT_FALSE(SelectJobs(config, {"Monthly"}, unknown));
    EXPECT_EQ(unknown, "Monthly");
}

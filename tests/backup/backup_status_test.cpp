// SPDX-License-Identifier: GPL-3.0-or-later
// What an unattended run tells the desktop, and `halvex-backup --status`: outcomes read from
// backups.log, the checks that make it exit 4, and the program on a folder made by real runs.
#include <gtest/gtest.h>

#include "backup/backup_cli.h"
#include "backup/backup_status.h"
#include "backup/run_notification.h"
#include "platform/file_attributes.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

using namespace halvex;

TEST(RunNotificationTest, OneNoticePerTroubledEndWithItsFirstReason) {
    const std::vector<std::string> none;
    const std::vector<std::string> three{"Skipped File (Could not open): /src/a", "Skipped File (Could not open): /src/b",
                                         "Job not backed up: Gone"};
    struct Case {
        int status;
        std::vector<std::string> skipped;
        std::string error;
        std::optional<std::pair<std::string, std::string>> notice;
    } cases[] = {
        {kExitSucceeded, none, "", std::nullopt},
        {kExitStartup, none, "Error in ini file on line 1", std::nullopt},
        {kExitCanceled, none, "", {{"Halvex Backup: Backup canceled", "The run was stopped before it ended; nothing was saved."}}},
        {kExitStoreError, none, "Error Opening FileLists.tq\n\nAnother backup run is in progress in this program folder.",
         {{"Halvex Backup: Backup not saved",
           "Error Opening FileLists.tq: Another backup run is in progress in this program folder."}}},
        {kExitSkipped, three, "Error, cannot access path", {{"Halvex Backup: 3 items left out", three.front()}}},
        {kExitSkipped, {"Job not backed up: Gone"}, "", {{"Halvex Backup: 1 item left out", "Job not backed up: Gone"}}},
        {kExitFailed, none, "Error Reading/Writing File\n\n/b/Data.TQBak.partial\nNo space left on device",
         {{"Halvex Backup: Backup failed", "Error Reading/Writing File: /b/Data.TQBak.partial No space left on device"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        const std::optional<DesktopNotice> notice = NoticeForRun(c.status, c.skipped, c.error);
        ASSERT_EQ(notice.has_value(), c.notice.has_value());
        if (!notice) continue;
        EXPECT_EQ(notice->critical, c.status == kExitStoreError || c.status == kExitFailed);
        EXPECT_EQ(notice->summary, c.notice->first);
        EXPECT_EQ(notice->body, c.notice->second);
    }
}

TEST(BackupStatusTest, TheLastBlockOfEachJobInBackupsLogGivesItsOutcome) {
    const auto block = [](const std::string& job, const std::vector<std::string>& events, bool separator = true) {
        std::string text = " TQ Backup\r\n-----------\r\nJob: " + job + "\r\nDate: Monday, December 07, 2026\r\n\r\n";
        for (const std::string& event : events) text += "[10:00:00] - " + event + "\r\n";
        if (separator) text += "\r\n" + std::string(62, '-') + "\r\n\r\n";
        return text;
    };
    const std::string skip = "Skipped File (Could not open): /src/a";
    const std::string log =
        block("Alpha", {"Backup Started.", skip, skip, "Backup Finished."}) +
        block("beta", {"Backup Started.", skip, "Backup Finished."}) +
        block("ALPHA", {"Backup Started.", "Doing Task A", "Backup Finished."}) +  // the later block counts
        block("Other", {"Backup Started.", "Backup Finished."}) +
        block("Delta", {"Backup Started.", skip, "Backup Finished."}) +
        block("Beta", {"Backup Started.", "Doing Task B", skip}, false);  // cut short
    std::vector<JobStatus> jobs{{"Alpha"}, {"Beta"}, {"Gamma"}, {"delta"}};
    ReadLoggedOutcomes(log, jobs);
    const std::pair<LoggedOutcome, int> expected[] = {
        {LoggedOutcome::Ok, 0}, {LoggedOutcome::Unfinished, 1}, {LoggedOutcome::None, 0}, {LoggedOutcome::LeftOut, 1}};
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(jobs[i].outcome, expected[i].first) << jobs[i].name;
        EXPECT_EQ(jobs[i].leftOut, expected[i].second) << jobs[i].name;
    }

    // Checks: a run that left something out fails; --max-age fails old and never-run jobs.
    constexpr platform::FileTime kDay = 864000000000LL;
    const platform::FileTime now = 400 * kDay;
    JobStatus ok{"Alpha", now - 2 * kDay, LoggedOutcome::Ok};
    EXPECT_EQ(CheckJob(ok, std::nullopt, now), StatusCheck::Ok);
    EXPECT_EQ(CheckJob(ok, 3, now), StatusCheck::Ok);
    EXPECT_EQ(CheckJob(ok, 1, now), StatusCheck::TooOld);
    EXPECT_EQ(CheckJob(JobStatus{"New"}, std::nullopt, now), StatusCheck::Ok);
    EXPECT_EQ(CheckJob(JobStatus{"New"}, 30, now), StatusCheck::TooOld);
    EXPECT_EQ(CheckJob(jobs[3], std::nullopt, now), StatusCheck::Failed);
}

TEST(BackupStatusTest, TheProgramSumsUpEachJob) {
    test::TempFolder dir;
    const std::string program = dir / "program";
    for (const char* folder : {"program", "src", "archives"}) test::MakeFolders(dir / folder);
    test::WriteFile(dir / "src/a.txt", "some text");
    const std::string zip = "zip:\"" + (dir / "archives") + "\"\r\n";
    test::WriteFile(program + "/backup.ini", "[Data]\r\n" + zip + "dir:\"" + (dir / "src") + "\"\r\nto:\"A\"\r\n[Gone]\r\n" +
                                                 zip + "dir:\"" + (dir / "missing") + "\"\r\nto:\"B\"\r\n");
    const std::string backup = test::BuiltProgram("halvex-backup");
    const auto status = [&](std::vector<std::string> more = {}) {
        std::vector<std::string> args{backup, "--status", "--dir", program};
        args.insert(args.end(), more.begin(), more.end());
        return test::RunCommand(args);
    };

    auto r = status();
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output, "job\tData\t\tnone\t0\t0\t0\tok\njob\tGone\t\tnone\t0\t0\t0\tok\n");
    EXPECT_FALSE(platform::PathExists(program + "/FileLists.tq"));  // read only: nothing is made

    ASSERT_EQ(test::RunCommand({backup, "--run", "--dir", program, "--job", "Data"}).exitCode, 0);
    test::WriteFile(dir / "src/b.txt", "more");
    ASSERT_EQ(test::RunCommand({backup, "--run", "--dir", program, "--no-notify"}).exitCode, 4);
    const std::uint64_t size = test::ReadFile(dir / "archives/Data.TQBak").size() +
                               test::ReadFile(dir / "archives/Data2.TQBak").size();
    r = status({"--json", "--max-age", "1"});
    EXPECT_EQ(r.exitCode, 4);  // Gone has never been backed up
    const auto lines = r.output.substr(0, r.output.find('\n'));
    EXPECT_NE(lines.find("{\"job\":\"Data\",\"last_backup\":\"20"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Z\",\"outcome\":\"ok\",\"left_out\":0,\"archives\":2,\"size\":" + std::to_string(size) +
                         ",\"check\":\"ok\"}"),
              std::string::npos)
        << lines;
    EXPECT_NE(r.output.find("{\"job\":\"Gone\",\"last_backup\":null,\"outcome\":\"none\",\"left_out\":0,\"archives\":0,"
                            "\"size\":0,\"check\":\"too-old\"}\n"),
              std::string::npos);
    EXPECT_EQ(status({"--json"}).exitCode, 0);

    // A run that did not save the store: its copy is newer than the store.
    test::SetMtime(program + "/FileLists.tq", 1600000000);
    test::SetMtime(program + "/FileLists.bak", 1600000100);
    r = status();
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.errors, "halvex-backup: the run begun 2020-09-13 12:28:20 UTC did not save FileLists.tq\n");

    for (const std::vector<std::string>& bad : {std::vector<std::string>{backup, "--json"},
                                                {backup, "--status", "--run"},
                                                {backup, "--status", "--max-age", "1.5"},
                                                {backup, "--no-notify"},
                                                {backup, "--status", "--dir", dir / "missing"}})
        EXPECT_EQ(test::RunCommand(bad).exitCode, 2) << bad[1];
}

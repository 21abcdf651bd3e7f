// SPDX-License-Identifier: GPL-3.0-or-later
// An archive set that turns from plain to encrypted, through the real programs: the password
// file's rules, the archives as another tool reads them, and every restore mode with a right,
// a wrong and no password.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

namespace fs = std::filesystem;

TEST(EncryptedSetTest, PlainThenEncryptedArchivesRestoreWithThePasswordOnly) {
    const std::string backup = test::BuiltProgram("halvex-backup"), restore = test::BuiltProgram("halvex-restore");
    test::TempFolder temp;
    const std::string data = temp / "data", program = temp / "program", sets = temp / "sets";
    test::MakeFolders(data + "/sub");
    test::MakeFolders(program);
    test::WriteFile(data + "/a.txt", "first version");
    test::WriteFile(data + "/sub/b.txt", std::string(200000, 'b'));
    const std::string job = "[Home]\r\n\tdir:\"" + data + "\"\r\n\tto:\"T\"\r\n\tzip:\"" + sets + "\"\r\n";
    test::WriteFile(program + "/backup.ini", job);
    ASSERT_EQ(test::RunCommand({backup, "--run", "--dir", program}).exitCode, 0);

    // A new password file: private, one typeable line of 160 bits; never replaced.
    const std::string key = temp / "key";
    test::CommandResult made = test::RunCommand({backup, "--new-password", key});
    ASSERT_EQ(made.exitCode, 0) << made.errors;
    EXPECT_NE(made.output.find(key), std::string::npos) << made.output;
    const std::string password = test::ReadFile(key).substr(0, test::ReadFile(key).find('\n'));
    EXPECT_EQ(password.size(), 39u) << password;  // 32 base32 characters in groups of four
    EXPECT_EQ(fs::status(key).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(test::RunCommand({backup, "--new-password", key}).exitCode, 2);
    EXPECT_EQ(test::ReadFile(key).substr(0, password.size()), password);

    test::WriteFile(program + "/backup.ini", job + "\tencrypt:\"" + key + "\"\r\n");
    test::WriteFile(data + "/a.txt", "second version, encrypted");
    // A password file others may read is refused: the job is skipped.
    ASSERT_EQ(::chmod(key.c_str(), 0640), 0);
    test::CommandResult refused = test::RunCommand({backup, "--run", "--dir", program});
    EXPECT_EQ(refused.exitCode, 4) << refused.errors;
    EXPECT_NE(refused.errors.find("readable by you alone"), std::string::npos) << refused.errors;
    EXPECT_FALSE(fs::exists(sets + "/Home2.TQBak"));
    ASSERT_EQ(::chmod(key.c_str(), 0600), 0);
    test::CommandResult run = test::RunCommand({backup, "--run", "--dir", program});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    const std::string newest = sets + "/Home2.TQBak";
    ASSERT_TRUE(fs::exists(newest));
    EXPECT_EQ(fs::status(program + "/FileLists.tq").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    if (test::HasTool("7z")) {  // names stay visible; the data opens with the password only
        EXPECT_NE(test::RunCommand({"7z", "l", "-p", newest}).output.find("a.txt"), std::string::npos);
        test::CommandResult t = test::RunCommand({"7z", "t", "-p" + password, newest});
        EXPECT_EQ(t.exitCode, 0) << t.output;
        EXPECT_NE(test::RunCommand({"7z", "t", "-pnot-it", newest}).exitCode, 0);
    }

    const std::string wrong = temp / "wrong";
    test::WriteFile(wrong, "not the password\n");
    struct Case {
        const char* what;
        std::vector<std::string> prefix;  // before the program: an environment
        std::vector<std::string> password;
        int exitCode;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no password", {}, {}, 2, "--password-file"},
        {"wrong password", {}, {"--password-file", wrong}, 2, "wrong password for "},
        {"password file", {}, {"--password-file", key}, 0, ""},
        {"from the environment", {"env", "HALVEX_PASSWORD_FILE=" + key}, {}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = temp / "out";
        for (const std::vector<std::string>& mode :
             {std::vector<std::string>{"--list", newest}, {"--files", newest}, {"--search", newest, "*.txt"},
              {"--verify", newest, "--set"}, {"--restore", newest, "--to", out}}) {
            std::vector<std::string> argv = c.prefix;
            argv.push_back(restore);
            argv.insert(argv.end(), mode.begin(), mode.end());
            argv.insert(argv.end(), c.password.begin(), c.password.end());
            test::CommandResult r = test::RunCommand(argv);
            EXPECT_EQ(r.exitCode, c.exitCode) << mode[0] << r.errors;
            EXPECT_NE(r.errors.find(c.message), std::string::npos) << mode[0] << r.errors;
            if (c.exitCode == 0 && mode[0] == "--files") {
                EXPECT_NE(r.output.find("b.txt"), std::string::npos) << r.output;
            }
        }
        if (c.exitCode == 0) {
            EXPECT_EQ(test::ReadFile(out + "/T/a.txt"), "second version, encrypted");
            EXPECT_EQ(test::ReadFile(out + "/T/sub/b.txt"), std::string(200000, 'b'));
        } else {
            EXPECT_FALSE(fs::exists(out)) << "nothing is written";
        }
        test::RemoveTree(out);
    }
    // The plain first archive still restores its own date without a password.
    test::CommandResult old = test::RunCommand({restore, "--restore", sets + "/Home.TQBak", "--to", temp / "old"});
    EXPECT_EQ(old.exitCode, 0) << old.errors;
    EXPECT_EQ(test::ReadFile(temp / "old/T/a.txt"), "first version");
}

// The other way round: an encrypted first archive under a plain newest one. The listings read
// the newest archive alone and need no password; a restore that reads the first archive asks
// for it before anything is written.
TEST(EncryptedSetTest, EncryptedThenPlainNeedsThePasswordOnlyWhereTheOldArchiveIsRead) {
    const std::string backup = test::BuiltProgram("halvex-backup"), restore = test::BuiltProgram("halvex-restore");
    test::TempFolder temp;
    const std::string data = temp / "data", program = temp / "program", sets = temp / "sets", key = temp / "key";
    test::MakeFolders(data);
    test::MakeFolders(program);
    test::WriteFile(key, "a long enough password of my own\n");
    ASSERT_EQ(::chmod(key.c_str(), 0600), 0);
    const std::string job = "[Home]\r\n\tdir:\"" + data + "\"\r\n\tto:\"T\"\r\n\tzip:\"" + sets + "\"\r\n";
    test::WriteFile(data + "/old.txt", "kept from the first run");
    test::WriteFile(program + "/backup.ini", job + "\tencrypt:\"" + key + "\"\r\n");
    ASSERT_EQ(test::RunCommand({backup, "--run", "--dir", program}).exitCode, 0);
    test::WriteFile(data + "/new.txt", "second run");
    test::WriteFile(program + "/backup.ini", job);
    ASSERT_EQ(test::RunCommand({backup, "--run", "--dir", program}).exitCode, 0);
    const std::string newest = sets + "/Home2.TQBak", out = temp / "out";

    for (const char* mode : {"--list", "--files"}) {
        const test::CommandResult r = test::RunCommand({restore, mode, newest});
        EXPECT_EQ(r.exitCode, 0) << mode << r.errors;
    }
    EXPECT_NE(test::RunCommand({restore, "--files", newest}).output.find("old.txt"), std::string::npos);
    test::CommandResult r = test::RunCommand({restore, "--restore", newest, "--to", out});
    EXPECT_EQ(r.exitCode, 2) << r.errors;
    EXPECT_NE(r.errors.find("--password-file"), std::string::npos) << r.errors;
    EXPECT_FALSE(fs::exists(out)) << "nothing is written";
    r = test::RunCommand({restore, "--restore", newest, "--to", out, "--password-file", key});
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(test::ReadFile(out + "/T/old.txt"), "kept from the first run");
}

}  // namespace
}  // namespace halvex

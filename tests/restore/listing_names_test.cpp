// SPDX-License-Identifier: GPL-3.0-or-later
// Listings of a set whose names hold tabs, line breaks, quotes, escape sequences and bytes that
// are not UTF-8, written by the real programs: every TSV record keeps its four fields, and every
// JSON record parses (Python's json) and gives the exact name back.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "platform/file_attributes.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace halvex {
namespace {

// Undoes QuoteListingField: the inverse a script reading the listing would apply.
std::string Unquote(const std::string& field) {
    if (field.empty() || field.front() != '"') return field;
    std::string out;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        if (c == 't') out += '\t';
        else if (c == 'n') out += '\n';
        else if (c == 'r') out += '\r';
        else if (c >= '0' && c <= '7') {
            out += static_cast<char>((c - '0') * 64 + (field[i + 1] - '0') * 8 + (field[i + 2] - '0'));
            i += 2;
        } else out += c;
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

TEST(ListingNamesTest, OddNamesCannotForgeRecords) {
    const std::string backup = test::BuiltProgram("halvex-backup");
    const std::string restore = test::BuiltProgram("halvex-restore");
    ASSERT_TRUE(platform::IsRegularFile(backup) && platform::IsRegularFile(restore));
    test::TempFolder temp;
    const std::set<std::string> names = {"tab\there", "two\nlines", "\"quoted\"", "esc\x1b[2Jx",
                                         "cr\rx", "latin\xe9\xff", "\xc3\xbcml\xc3\xa4ut", "nel\xc2\x85x",
                                         "rlo\xe2\x80\xaetxt.exe", "ls\xe2\x80\xa8x"};
    // NEL and LS end a line for Python's splitlines, RLO reorders what a terminal shows
    const auto hasRawControls = [](const std::string& text) {
        return text.find("\xc2\x85") != std::string::npos || text.find("\xe2\x80\xae") != std::string::npos ||
               text.find("\xe2\x80\xa8") != std::string::npos;
    };
    test::MakeFolders(temp / "data");
    test::MakeFolders(temp / "program");
    for (const std::string& name : names) test::WriteFile(temp / "data" + "/" + name, name);
    test::WriteFile(temp / "program/backup.ini",
                    "[Odd]\r\n\tdir:\"" + temp / "data" + "\"\r\n\tto:\"Data\"\r\n\tzip:\"" + temp / "sets" + "\"\r\n");
    const test::CommandResult run = test::RunCommand({backup, "--run", "--dir", temp / "program"});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.errors.find('\x1b'), std::string::npos) << "a name reached the terminal raw";
    EXPECT_FALSE(hasRawControls(run.errors + run.output));

    const test::CommandResult tsv = test::RunCommand({restore, "--files", temp / "sets/Odd.TQBak"});
    ASSERT_EQ(tsv.exitCode, 0) << tsv.errors;
    EXPECT_FALSE(hasRawControls(tsv.output));
    std::set<std::string> listed;
    for (const std::string& line : Split(tsv.output, '\n')) {
        const auto fields = Split(line, '\t');
        ASSERT_EQ(fields.size(), 4u) << line;
        listed.insert(Unquote(fields[3]).substr(5));  // after "Data\"
    }
    EXPECT_EQ(listed, names);

    if (!test::HasTool("python3")) GTEST_SKIP() << "python3 is not installed";
    const test::CommandResult lines = test::RunCommand(
        {"python3", "-c",
         "import sys\n"
         "print(len(sys.stdin.buffer.read().decode('utf-8', 'surrogateescape').splitlines()))\n"},
        tsv.output);
    EXPECT_EQ(lines.output, std::to_string(names.size()) + "\n") << "a name split a record for Python";
    const test::CommandResult json = test::RunCommand({restore, "--files", temp / "sets/Odd.TQBak", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.errors;
    EXPECT_FALSE(hasRawControls(json.output));
    // Each line one object; the exact name from path_bytes when present, else from path.
    const test::CommandResult parsed = test::RunCommand(
        {"python3", "-c",
         "import sys, json, base64\n"
         "for line in sys.stdin.buffer.read().split(b'\\n')[:-1]:\n"
         "    r = json.loads(line)\n"
         "    assert set(r) >= {'archive', 'size', 'time', 'path'}, r\n"
         "    raw = base64.b64decode(r['path_bytes']) if 'path_bytes' in r else r['path'].encode()\n"
         "    sys.stdout.buffer.write(raw.hex().encode() + b'\\n')\n"},
        json.output);
    ASSERT_EQ(parsed.exitCode, 0) << parsed.errors;
    std::set<std::string> fromJson;
    for (const std::string& hex : Split(parsed.output, '\n')) {
        std::string raw;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        fromJson.insert(raw.substr(5));
    }
    EXPECT_EQ(fromJson, names);
}

}  // namespace
}  // namespace halvex

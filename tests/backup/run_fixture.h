// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program folder and a source tree in a temporary folder, whole backup runs with the
// scripted view, and reading back what the runs wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup_cli.h"
#include "backup/backup_engine.h"
#include "backup/file_list_store.h"
#include "backup/target_history.h"
#include "tests/backup/backup_test_support.h"
#include "tests/backup/scripted_backup_view.h"
#include "tests/support/temp_folder.h"
#include "tests/zip/zip_test_support.h"

namespace halvex::backuptest {

constexpr std::int64_t kSourceTime = 1600000001;

struct ArchiveEntry {
    std::string name;
    int method = 0;
    std::string data;
    ZipEntryHeader header;
};

// Every entry of an archive in catalog order, with its data (read and CRC-checked).
// A 32-bit number as the bookkeeping entries store it (little-endian).
inline std::string Bytes4(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

inline std::vector<ArchiveEntry> ReadArchive(const std::string& path) {
    std::vector<ArchiveEntry> entries;
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        ArchiveEntry e;
        zip.GetEntryInfo(e.header, i);
        e.name = e.header.fileName;
        e.method = e.header.method;
        if (!e.header.IsFolder()) {
            int closed = 0;
            e.data = ziptest::ReadWhole(zip, i, &closed);
            EXPECT_EQ(closed, 1) << e.name;
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

inline std::vector<std::string> EntryNames(const std::string& path) {
    std::vector<std::string> names;
    for (const ArchiveEntry& e : ReadArchive(path)) names.push_back(e.name);
    return names;
}

inline const ArchiveEntry* FindEntry(const std::vector<ArchiveEntry>& entries, const std::string& name) {
    for (const ArchiveEntry& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

// The archive as Python's zipfile, unzip -t and 7z t see it.
inline void ExpectReadersAccept(const std::string& path) {
    ziptest::PyArchive py = ziptest::InspectWithPython(path);
    EXPECT_TRUE(py.ran) << path << py.errors;
    EXPECT_EQ(py.testzip, "None") << path;
    std::string log;
    EXPECT_TRUE(ziptest::UnzipAccepts(path, &log)) << path << log;
    EXPECT_TRUE(ziptest::SevenZipAccepts(path, &log)) << path << log;
}

// Every archive below `folder`, and the store, as the independent readers see them (a store
// that start-up created and no run has written yet is an empty file).
inline void ExpectEveryArchiveAccepted(const std::string& folder) {
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool archive = name.size() > 6 && name.compare(name.size() - 6, 6, ".TQBak") == 0;
        const bool store = name == "FileLists.tq" && it->is_regular_file() && it->file_size(error) > 0;
        if ((archive && it->is_regular_file()) || store) ExpectReadersAccept(it->path().string());
    }
}

// The added and removed paths of each record of a history.
struct RecordPaths {
    std::vector<std::string> removed, added;
};
inline std::vector<RecordPaths> HistoryRecords(const std::string& bytes) {
    const HistoryBytes history(bytes.begin(), bytes.end());
    std::vector<RecordPaths> out;
    TargetHistoryReader reader(history);
    BackupRecord record;
    TargetHistoryReader::Step step;
    while ((step = reader.Next(record)) == TargetHistoryReader::Step::Record)
        out.push_back({Paths(record.removed.get()), Paths(record.added.get())});
    EXPECT_EQ(step, TargetHistoryReader::Step::End);
    return out;
}

class RunFixture : public ::testing::Test {
protected:
    void SetUp() override {
        program = dir / "program";
        test::MakeFolders(program);
    }
    void TearDown() override {
        ExpectEveryArchiveAccepted(dir.path());
    }

    // backup.ini from its lines (CR LF line ends).
    void Ini(std::initializer_list<std::string> lines) {
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        test::WriteFile(program + "/backup.ini", text);
    }

    // A file below the temporary folder, with a fixed last-write time.
    void Put(const std::string& relative, const std::string& content, std::int64_t seconds = kSourceTime) {
        const std::string path = dir / relative;
        test::MakeFolders(path.substr(0, path.rfind('/')));
        test::WriteFile(path, content);
        test::SetMtime(path, seconds, 0);
    }

    // One run of the named jobs (every job when none is named). `prepare` may adjust the
    // engine before the run starts.
    BackupEngine::RunOutcome Run(ScriptedBackupView& view, const std::vector<std::string>& jobNames = {},
                                 bool brandNew = false, const std::function<void(BackupEngine&)>& prepare = {}) {
        engine.reset();
        config = std::make_unique<JobConfig>();
        EXPECT_EQ(LoadJobConfig(*config, program).status, JobFileResult::Status::Loaded);
        ReadLastBackupTimes(*config, program);
        std::string unknown;
        EXPECT_TRUE(SelectJobs(*config, jobNames, unknown)) << unknown;
        engine = std::make_unique<BackupEngine>(*config);
        if (prepare) prepare(*engine);
        engine->StartRun(view, brandNew);
        engine->WaitForRun();
        return engine->Outcome();
    }
    BackupEngine::RunOutcome Run(const std::vector<std::string>& jobNames = {}, bool brandNew = false) {
        ScriptedBackupView view;
        return Run(view, jobNames, brandNew);
    }

    // What the store holds for an entry ("" when missing).
    std::string StoreEntry(const std::string& name) {
        FileListStore store(program);
        EXPECT_TRUE(store.OpenForRun());
        HistoryBytes bytes;
        store.ReadTargetHistory(name, bytes);
        return std::string(bytes.begin(), bytes.end());
    }

    // An answer function that records the questions and answers `answer`.
    AskFunction Asker(std::vector<std::string>& asked, MessageAnswer answer) {
        return [&asked, answer](const std::string& text, const std::string& caption, MessageButtons) {
            asked.push_back(caption + ": " + text);
            return answer;
        };
    }

    test::TempFolder dir;
    std::string program;
    std::unique_ptr<JobConfig> config;  // before the engine, which reads it
    std::unique_ptr<BackupEngine> engine;
};

}  // namespace halvex::backuptest

// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of a no-change analysis of one mapping (scan, history replay, comparison, new
// history) against a bare directory walk that stats every entry, on the same tree.
// Run by hand:
//   python3 ../shared/bench/make_corpus.py /tmp/corpus many 1
//   build/bench/analysis_bench /tmp/corpus
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "backup/source_scan.h"

using namespace halvex;

namespace {

double CpuSeconds() {
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Lists every folder and stats every entry (links followed), as any backup walk must.
void Walk(int parent, const char* name, long& files, long& folders) {
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    ++folders;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
        struct stat st {};
        if (fstatat(dirfd(dir), e->d_name, &st, 0) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            Walk(dirfd(dir), e->d_name, files, folders);
        } else {
            ++files;
        }
    }
    closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string source = argv[1];
    char storeTemplate[] = "/tmp/halvex-analysis-bench-XXXXXX";
    if (mkdtemp(storeTemplate) == nullptr) return 1;
    const std::string storeFolder = storeTemplate;

    RunControl control;
    control.Start();
    SourceScanner scanner(control);
    SourceMapping mapping{source, "Data", {}};
    const std::vector<FilterRule> global{{true, "*.TMP"}, {true, "*THUMBS.DB"}};
    const std::string historyName = "Bench\\Data.tq";

    // The first run: every file is new; its history goes into the store.
    {
        FileListStore store(storeFolder);
        if (!store.OpenForRun()) return 1;
        std::uint64_t runTime = 0;
        AnalysisSettings settings{global, false, runTime, {}};
        MappingAnalysis first = AnalyzeMapping(scanner, store, historyName, mapping, settings, control);
        const HistoryBytes added = BuildAddedPart(first.changeTree.get());
        const HistoryToSave save[] = {{"Data", first.newHistory, added}};
        store.SaveJob("Bench", 1, save, false, platform::CurrentLocalTime());
        store.Close();
        std::printf("history: %zu bytes (+%zu added)\n", first.newHistory.size(), added.size());
    }

    double bestWalk = 1e9, bestAnalysis = 1e9;
    long files = 0, folders = 0;
    for (int round = 0; round < 5; ++round) {
        files = folders = 0;
        auto start = std::chrono::steady_clock::now();
        Walk(AT_FDCWD, source.c_str(), files, folders);
        bestWalk = std::min(bestWalk, Seconds(start));

        FileListStore store(storeFolder);
        if (!store.OpenForRun()) return 1;
        std::uint64_t runTime = 0;
        AnalysisSettings settings{global, false, runTime, {}};
        start = std::chrono::steady_clock::now();
        MappingAnalysis result = AnalyzeMapping(scanner, store, historyName, mapping, settings, control);
        const double analysis = Seconds(start);
        bestAnalysis = std::min(bestAnalysis, analysis);
        store.Abandon();
        if (result.outcome != MappingAnalysis::Outcome::Done || result.changeTree) {
            std::fprintf(stderr, "unexpected changes in a no-change analysis\n");
            return 1;
        }
    }
    // The scan alone, on one thread and on the default number, taken in turns.
    const int threads = ScanThreadCount();
    double bestScan[2] = {1e9, 1e9}, bestScanCpu[2] = {1e9, 1e9};
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < 2; ++i) {
            scanner.SetThreads(i == 0 ? 1 : threads);
            std::vector<std::string> notices;
            const double cpu = CpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            FileTreePtr tree = scanner.ScanSource(mapping, global, notices);
            bestScan[i] = std::min(bestScan[i], Seconds(start));
            bestScanCpu[i] = std::min(bestScanCpu[i], CpuSeconds() - cpu);
        }
    }
    std::printf("tree: %ld files in %ld folders\n", files, folders);
    std::printf("scan, 1 thread:        %.3f s (cpu %.3f s, best of 10)\n", bestScan[0], bestScanCpu[0]);
    std::printf("scan, %d threads:       %.3f s (cpu %.3f s, best of 10)\n", threads, bestScan[1], bestScanCpu[1]);
    std::printf("bare walk with stat:   %.3f s (best of 5)\n", bestWalk);
    std::printf("no-change analysis:    %.3f s (best of 5)\n", bestAnalysis);
    std::printf("ratio analysis / walk: %.2f\n", bestAnalysis / bestWalk);
    std::string command = "rm -rf '" + storeFolder + "'";
    return std::system(command.c_str()) == 0 ? 0 : 1;
}

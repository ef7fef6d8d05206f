// How long update-set discovery takes over a crowded folder: 20,000 files of mixed kinds.
// A program, not a test: it prints its timings and leaves nothing behind.
//
//   discovery_bench [--small]    (--small: 2,000 files)

#include "app/updater_dlg.h"
#include "files/file_search.h"
#include "platform/clock.h"
#include "platform/headless/desktop.h"
#include "tests/bench/bench_support.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;

// Names spread over every component and some that belong to none.
std::string NameOf(int i) {
    static const char* const kinds[] = {
        "%05d.cpu",    "F%05d.bin",  "R%05d.bin",  "T%05d.bin",   "oem%05d.htm", "pg%05d.htm",
        "pg%05d.html", "im%05d.jpg", "im%05d.gif", "CUR%05d.bmp", "BUT%05d.bmp", "ICON%05d.bmp",
        "o%05d.bmp",   "s%05d.sdt",  "g%05d.tbl",  "c%05d.cst",   "n%05d.txt",   "x%05d.cpux"};
    const int kindCount = static_cast<int>(sizeof kinds / sizeof kinds[0]);
    char name[32];
    std::snprintf(name, sizeof name, kinds[i % kindCount], i);
    return name;
}

void ClearRecords(CUpdaterDlg& dialog) {
    for (std::string* name :
         {&dialog.m_pszCpuFile, &dialog.m_pszFpga5mFile, &dialog.m_pszResizeFpgaFile,
          &dialog.m_pszLogoFile, &dialog.m_pszFpga2mFile})
        name->clear();
    for (std::vector<std::string>* list :
         {&dialog.m_arrWeb0Files, &dialog.m_arrWeb1Files, &dialog.m_arrCursorFiles,
          &dialog.m_arrIconFiles, &dialog.m_arrShadingFiles, &dialog.m_arrGammaFiles,
          &dialog.m_arrSceneFiles})
        list->clear();
    dialog.m_bDataFound = 0;
}

} // namespace

int main(int argc, char** argv) {
    const int kFileCount = SmallMode(argc, argv) ? 2000 : 20000;
    const fs::path oldCwd = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / "kq-discovery-bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);

    for (int i = 0; i < kFileCount; ++i)
        std::ofstream(NameOf(i), std::ios::binary) << (i % 7 == 0 ? "" : "data");
    std::ofstream("LOGO.bmp", std::ios::binary) << "logo";
    std::printf("%d files in %s\n", kFileCount + 1, folder.c_str());

    // The platform's directory search alone, then with the extension filter and the sort.
    uint64_t start = platform::NowMs();
    const size_t matched = platform::FindInCurrentDirectory("*.bmp").size();
    std::printf("directory search \"*.bmp\": %zu matches in %llu ms\n", matched,
                static_cast<unsigned long long>(platform::NowMs() - start));

    start = platform::NowMs();
    const std::vector<std::string> patterns = {"*.cpu", "*.bin", "*.htm",   "*.html",
                                               "*.jpg", "*.gif", "*.bmp",   "*.sdt",
                                               "*.tbl", "*.cst", "LOGO.bmp"};
    size_t all = 0;
    for (const auto& found : platform::FindInCurrentDirectory(patterns))
        all += found.size();
    std::printf("one directory search for discovery's %zu patterns: %zu matches in %llu ms\n",
                patterns.size(), all, static_cast<unsigned long long>(platform::NowMs() - start));

    start = platform::NowMs();
    std::vector<platform::FindEntry> bitmaps;
    FindFiles(&bitmaps, "*.bmp", 3);
    std::printf("FindFiles(\"*.bmp\"): %zu entries in %llu ms\n", bitmaps.size(),
                static_cast<unsigned long long>(platform::NowMs() - start));

    bool found = false;
    {
        CUpdaterDlg dialog;
        start = platform::NowMs();
        headless::DialogRunner runner(dialog); // opening runs discovery once
        std::printf("opening the dialog (with discovery): %llu ms\n",
                    static_cast<unsigned long long>(platform::NowMs() - start));

        uint64_t best = UINT64_MAX, total = 0;
        for (int round = 0; round < kRounds; ++round) {
            start = platform::NowMs();
            dialog.RunOnDialogThread([&] {
                ClearRecords(dialog);
                dialog.FindUpdateFiles();
            });
            const uint64_t elapsed = platform::NowMs() - start;
            best = std::min(best, elapsed);
            total += elapsed;
        }
        std::printf("FindUpdateFiles: best %llu ms, mean %llu ms over %d rounds\n",
                    static_cast<unsigned long long>(best),
                    static_cast<unsigned long long>(total / kRounds), kRounds);
        std::printf("recorded: cpu %s, web1 %zu, cursor %zu, shading %zu\n",
                    dialog.m_pszCpuFile.c_str(), dialog.m_arrWeb1Files.size(),
                    dialog.m_arrCursorFiles.size(), dialog.m_arrShadingFiles.size());
        // Timings of a discovery that found nothing measure nothing.
        found = !dialog.m_pszCpuFile.empty() && !dialog.m_arrWeb1Files.empty() &&
                !dialog.m_arrCursorFiles.empty() && !dialog.m_arrShadingFiles.empty();
    }

    fs::current_path(oldCwd);
    fs::remove_all(folder);
    if (!found)
        std::printf("FAILED: discovery recorded an empty kind of component\n");
    return found ? 0 : 1;
}

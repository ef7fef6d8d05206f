#pragma once
// What the run benchmarks share: a folder of their own as the current directory, files of chosen
// sizes, and one press of Update on the headless dialog against a unit on 127.0.0.N.

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "platform/headless/desktop.h"
#include "tests/support/temp_folder.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

// "--small": a few MiB, a few units and scaled time, on 127.0.14.200 and on; the test suite
// runs every benchmark so once, so that one that no longer runs or compares fails the suite.
inline bool SmallMode(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--small")
            return true;
    }
    return false;
}

inline void WriteFileOfSize(const std::string& name, size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<char> bytes(size);
    for (auto& b : bytes)
        b = static_cast<char>(generator());
    std::ofstream(name, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// Types the address, presses Update and waits (bounded) for the run to end. Returns the wall
// time in milliseconds, or -1 when the run did not end with "Update Complete.".
inline int64_t RunOnce(CUpdaterDlg& dialog, headless::DialogRunner& runner, int third, int n) {
    auto& view = runner.View();
    view.Type(IDC_IP1, "127");
    view.Type(IDC_IP2, "0");
    view.Type(IDC_IP3, std::to_string(third));
    view.Type(IDC_IP4, std::to_string(n));
    headless::Desktop::Instance().Reset();
    const auto start = std::chrono::steady_clock::now();
    view.Click(IDC_UPDATE);
    const auto limit = start + std::chrono::minutes(5);
    while (dialog.m_bRunning != 0) {
        if (std::chrono::steady_clock::now() > limit)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto end = std::chrono::steady_clock::now();
    dialog.JoinWorker();
    for (const auto& box : headless::Desktop::Instance().MessageBoxes()) {
        if (box.text == "Update Complete.")
            return std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
    }
    for (const auto& box : headless::Desktop::Instance().MessageBoxes())
        std::fprintf(stderr, "box: %s\n", box.text.c_str());
    return -1;
}

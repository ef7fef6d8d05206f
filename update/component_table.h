#pragma once
// The twelve components of an update set, one constant row each, in the order a run uploads them.

#include "app/updater_dlg.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum class ComponentVariant {
    CpuProgram, // bare program, written over telnet
    SingleFile, // one record; the bar counts bytes
    List,       // one record per file; the bar counts files
};

struct ComponentRow {
    int step; // UpdateStep code
    ComponentVariant variant;
    std::string CUpdaterDlg::*file;              // single file and CPU program; empty: none
    std::vector<std::string> CUpdaterDlg::*list; // list variant
    const char* selector;                        // null for the CPU program
    const char* captionFormat;                   // one "%s": the file name
    const char* runTitle;                        // what the run logs before the step
    int labelId;                                 // the step-number label
    uint32_t recordKind;                         // 0: sent without header
};

// All rows, CPU program first.
std::span<const ComponentRow> ComponentRows();
// The row of a step code, or null.
const ComponentRow* FindComponent(int step);

// The component's files on the dialog, in upload order (empty when the component is absent).
std::vector<std::string> ComponentFiles(const CUpdaterDlg& dialog, const ComponentRow& row);

// How many times the CPU program goes to a unit: a unit older than version 5 takes a version-5
// program only after it has run an intermediate one, so the program goes twice.
inline int CpuProgramPasses(int cpuFileVersion, int deviceVersion) {
    return (cpuFileVersion == 5 && deviceVersion < 5) ? 2 : 1;
}

// Before its first connection a run clears the cached hardware address of the unit and waits this
// long for the clean-up to take effect.
constexpr uint32_t kAddressCleanUpWaitMs = 1000;

// After the CPU program the unit restarts: the run waits kCpuRestartPauses pauses of
// kCpuRestartPauseMs, then makes up to kReconnectAttempts connection attempts.
constexpr uint32_t kCpuRestartPauseMs = 6000;
constexpr int kCpuRestartPauses = 10;
constexpr int kReconnectAttempts = 10;

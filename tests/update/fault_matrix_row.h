#pragma once
// What a row of the fault matrix says: the scripted faults, how the run ends, the box, the log's
// last entry, what the unit received after the fault and the protocol time within which the run
// ended.

#include "tests/support/run_test_support.h"

#include <chrono>

namespace {

using sim::Fault;
using Trigger = Fault::Trigger;
using Action = Fault::Action;

const std::string kRx = "PC <- Device";

// Two update sets. A2: every component and a CPU program of version 12 (one pass), no parameter
// file. B2: a web list of two files and a logo, with the default-setting step.
enum class Set { A2, B2 };

struct Outcome {
    RunEnd end;
    std::string box; // the one box's text; the log's last entry holds it under `caption`
    unsigned icon;
    std::string caption;
};

Outcome Refused(const std::string& reply) {
    return {RunEnd::ProgramEnded, reply + "\r\n", platform::kMbIconWarning, kRx};
}
Outcome Failed(const std::string& caption, const std::string& text,
               RunEnd end = RunEnd::ProgramEnded) {
    return {end, text, platform::kMbIconError, caption};
}
const Outcome kHungUp = Failed("recv() Error", "Error : Connection reset by peer.");
const Outcome kNoAnswer = Failed("recv() Error", "Error : Connection timed out.");
const Outcome kWrongModel = Failed("", "Error : Device Type Wrong.", RunEnd::DialogStaysOpen);
const Outcome kComplete = {RunEnd::Complete, "Update Complete.", platform::kMbIconInformation, ""};

// Protocol seconds from the press of Update to the end of the run. A2 spends about 65 s in the
// CPU step (two quiet periods and the minute of restart) and 72 s in all; B2 about 3 s.
struct Window {
    double minS, maxS;
};
constexpr Window kEarly = {0, 5};        // a fault during the first log-in
constexpr Window kCpuStep = {1, 9};      // a fault in the CPU step before its restart
constexpr Window kAfterCpu = {64, 76};   // a fault after the CPU step
constexpr Window kA2Whole = {64, 78};    // a whole A2 run
constexpr Window kB2Whole = {1, 8};      // a whole B2 run, or any fault in it
constexpr Window kReplyBound = {60, 66}; // a reply that never comes (B2 or first log-in)
constexpr Window kReplyBoundAfterCpu = {124, 140};
constexpr Window kWritingBound = {600, 610};   // no answer while the unit writes (B2)
constexpr Window kB2EveryReplyLate = {1, 300}; // 50 ms of real time per reply

struct Row {
    const char* name;
    Set set;
    std::vector<Fault> faults;
    Outcome outcome;
    std::string anchor;             // the unit's last line (by prefix) at the fault; "": none
    std::vector<std::string> after; // everything the unit received after that line
    Window window;
    void (*configure)(sim::UnitConfig&) = nullptr; // settings of the unit beyond its faults
    std::string version = ""; // the version line at the end, when it is worth checking
    double scale = 0;   // the protocol's time scale when the set's own is too short for the row
    uint32_t lagMs = 0; // how late the computer reads each receive (real milliseconds)
};

Fault At(Trigger trigger, const std::string& match, Action action, const std::string& text = "",
         int occurrence = 1, uint32_t delayMs = 0, int times = 1, int repeat = 1,
         uint32_t splitAt = 0) {
    Fault fault;
    fault.trigger = trigger;
    fault.match = match;
    fault.action = action;
    fault.text = text;
    fault.occurrence = occurrence;
    fault.delayMs = delayMs;
    fault.times = times;
    fault.repeat = repeat;
    fault.splitAt = splitAt;
    return fault;
}
Fault On(const std::string& command, Action action, const std::string& text = "",
         int occurrence = 1) {
    return At(Trigger::Command, command, action, text, occurrence);
}
} // namespace

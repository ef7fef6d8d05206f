#pragma once
// A run of the headless dialog against the simulated unit, with what the component steps' tests
// share: the expected records, the bar of a write command and the end of a failed run.

#include "tests/support/run_test_support.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

using sim::Fault;

namespace {

const std::string kRx = "PC <- Device";
const std::string kTx = "PC -> Device";

struct Expected {
    std::string name;
    size_t size;
    std::string selector; // "" for the CPU program
    uint32_t kind;
};

// The bar of the write command on the control connection, then the step's end and the run's.
const std::vector<ProgressEvent> kWriteAndEnd = {
    {"range", 0, 2}, {"pos", 1, 0}, {"pos", 2, 0}, {"pos", 0, 0}, {"pos", 0, 0}};

size_t CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

} // namespace

class ComponentUploadTest : public RunTest {
  protected:
    // A run that the program ended after a step failed: the log stays, nothing was written
    // after the failure, and the goodbye was not said.
    void ExpectEndedAfterFailure(const sim::Unit& unit) {
        EXPECT_TRUE(LogExists()) << "the log survives a failure";
        EXPECT_EQ(m_dialog->m_bUpdateDone, 0);
        EXPECT_EQ(CountOf(unit.Commands(), "QUIT"), 0u);
    }
};

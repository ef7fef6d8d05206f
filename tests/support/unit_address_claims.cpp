#include "tests/support/unit_address_claims.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/sim_unit.h"

namespace testsupport {

namespace {

namespace fs = std::filesystem;

std::string RunningTestName() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
}

// Every simulated unit this test program starts claims its address first.
const bool kUnitsClaimTheirAddress = [] {
    sim::Unit::SetStartCheck(ClaimUnitAddress);
    return true;
}();

} // namespace

bool ClaimUnitAddress(const std::string& address, std::string* reason) {
    const std::string test = RunningTestName();
    if (test.empty()) {
        return true; // outside a test: nothing runs beside it
    }
    const fs::path folder = KQ_UNIT_ADDRESS_CLAIMS;
    std::error_code ec;
    fs::create_directories(folder, ec);
    // Written whole under a name of its own, then linked under the address's name: a claim is
    // never seen half written, and of two at once exactly one is made.
    const fs::path claim = folder / address;
    const fs::path draft = folder / (address + ".draft." + std::to_string(::getpid()));
    std::ofstream(draft) << test << '\n';
    const bool made = ::link(draft.c_str(), claim.c_str()) == 0;
    fs::remove(draft, ec);
    if (made) {
        return true;
    }
    std::string owner;
    std::getline(std::ifstream(claim), owner);
    if (owner == test) {
        return true;
    }
    *reason = "unit address " + address + " is taken by " + owner + " as well as by " + test +
              ": ctest runs tests in parallel, so each takes an address of its own";
    return false;
}

} // namespace testsupport

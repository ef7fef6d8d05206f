#pragma once
// Each address at which a test starts a simulated unit, or expects to find none, belongs to that
// test alone: ctest runs the tests in parallel, each in a process of its own, and two tests on
// one address would meet each other's unit by chance. The first test to claim an address owns
// it for the build; any other test's claim fails and names the owner, whenever either runs. The
// claims are files in the build folder, cleared whenever kqtests is linked again, so that a test
// given a new address frees its old one.

#include <string>

namespace testsupport {

// True when the running test may use `address`; false with the reason it may not.
bool ClaimUnitAddress(const std::string& address, std::string* reason);

} // namespace testsupport

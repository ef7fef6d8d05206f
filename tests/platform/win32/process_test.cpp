// The single-instance lock as a named mutex: a second holder learns that the name exists, and
// the name is free again once every holder has let go. The address clean-up: the command
// interpreter runs ARP with "-d" and the address, and a text that is not a dotted address never
// reaches the interpreter.

#include "platform/process.h"

#include "tests/platform/win32/win_test_support.h"

#include <string>
#include <vector>

namespace {

using platform::SingleInstanceLock;

TEST(Win32Process, SecondLockOfTheNameSeesTheFirstUntilBothAreGone) {
    const std::string name = "KQVorlinkTest-" + std::to_string(::GetCurrentProcessId());
    {
        SingleInstanceLock first;
        ASSERT_EQ(first.Acquire(name.c_str()), SingleInstanceLock::Result::Acquired);
        SingleInstanceLock second;
        EXPECT_EQ(second.Acquire(name.c_str()), SingleInstanceLock::Result::AlreadyExists);
        second.Release();
        first.Release();
    }
    SingleInstanceLock again;
    EXPECT_EQ(again.Acquire(name.c_str()), SingleInstanceLock::Result::Acquired);
}

// The text of a file, or "" when it is missing or still empty.
std::string Contents(const char* name) {
    const HANDLE h = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "";
    char buffer[512] = {};
    DWORD read = 0;
    ::ReadFile(h, buffer, sizeof buffer - 1, &read, nullptr);
    ::CloseHandle(h);
    return std::string(buffer, read);
}

struct ArpCase {
    const char* address;
    const char* seen; // how ARP was called: "" when nothing may run
};

std::ostream& operator<<(std::ostream& out, const ArpCase& c) {
    return out << c.address;
}

class Win32ArpCleanup : public ::testing::TestWithParam<ArpCase> {};

TEST_P(Win32ArpCleanup, InterpreterRunsArpDeleteWithTheAddress) {
    WinTempFolder folder;
    // The interpreter looks in the current folder first: this ARP writes down how it was called.
    WinTempFolder::WriteFile("ARP.BAT", "@echo [%0 %*]> seen.txt\r\n");
    platform::StartArpCleanup(GetParam().address);
    const std::string expected = GetParam().seen;
    // Not awaited by the program; a bounded look here. The interpreter answers within a second
    // or so, which a refused text gets three times over.
    const uint64_t start = StopwatchMs();
    const uint64_t bound = expected.empty() ? 3000 : 8000;
    while (Contents("seen.txt").empty() && StopwatchMs() - start < bound)
        ::Sleep(50);
    EXPECT_EQ(Contents("seen.txt"), expected.empty() ? "" : "[" + expected + "]\r\n");
}

INSTANTIATE_TEST_SUITE_P(Addresses, Win32ArpCleanup,
                         ::testing::Values(ArpCase{"127.0.4.9", "ARP -d 127.0.4.9"},
                                           ArpCase{"127.0.4.250", "ARP -d 127.0.4.250"},
                                           ArpCase{"127.0.4.9&echo", ""}));

} // namespace

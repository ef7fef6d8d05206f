// The single-instance lock as a named mutex: a second holder learns that the name exists, and
// the name is free again once every holder has let go.

#include "platform/process.h"

#include "tests/win32/win_test_support.h"

#include <string>

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

} // namespace

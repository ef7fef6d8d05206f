#include "cli/check_unit.h"

#include "cli/unit_text.h"
#include "link/protocol_format.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "update/component_store.h"
#include "update/unit_lock.h"

#include <cstring>
#include <vector>

namespace cli {
namespace {

constexpr size_t kModelLength = 5;
constexpr size_t kVersionTextCapacity = 65536;
constexpr int kConnectionNotTaken = 2; // LogInFtp's result when no attempt connected

} // namespace

CheckResult CheckUnit(const std::string& address, const UpdateSet& set, const CheckWay& way) {
    CheckResult check;
    // A unit in the middle of an update is left alone.
    platform::SingleInstanceLock lock;
    if (lock.Acquire(UnitLockName(address).c_str()) ==
        platform::SingleInstanceLock::Result::AlreadyExists) {
        check.message = UnitBusyText(address);
        return check;
    }
    UnitWindow* window = nullptr;
    CUpdaterDlg run(UnitWindowFactory(&window), way.logPath,
                    std::make_shared<ComponentStore>(false));
    run.m_ulDeviceAddr = platform::InetAddr(address.c_str());

    // Only a connection that was not taken is tried again: a unit that answered has spoken.
    int loggedIn = kConnectionNotTaken;
    for (int attempt = 0; attempt < way.attempts && loggedIn == kConnectionNotTaken; ++attempt) {
        if (attempt > 0)
            platform::SleepMs(way.pauseMs);
        loggedIn = run.LogInFtp(1);
    }
    char modelText[kModelLength + 2] = {};
    std::vector<char> versionText(kVersionTextCapacity, '\0');
    // A unit that has told its model and version has answered, whatever its goodbye is.
    if (loggedIn == 0 && run.IdentifyDevice(modelText, versionText.data()) == 1) {
        check.answered = true;
        ReplyBuffer reply;
        run.Exchange(run.m_sockCtrl, "QUIT\r\n", reply, 0);
    }
    run.m_sockCtrl.Close();
    if (!check.answered) {
        const auto boxes = window->State().boxes;
        check.message = boxes.empty() ? "no answer" : WithoutLineEnd(boxes.back().text);
        return check;
    }
    check.model = modelText;
    check.version = VersionAsShown(run.m_strUnitVersion);
    check.modelMatches = std::strncmp(set.Model().c_str(), modelText, kModelLength) == 0;
    check.cpuPasses = set.CpuPasses(ParseDeviceVersion(versionText.data()));
    return check;
}

} // namespace cli

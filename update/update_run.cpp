#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "update/component_table.h"
#include "update/unit_lock.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;

// Reads the four address fields as unsigned numbers and formats them "%d.%d.%d.%d"; only the
// first bad field is named. There is no range check here: a number above 255 makes the
// conversion in PrepareAddresses fail.
int ReadAddressFields(CUpdaterDlg& dlg, std::string& address) {
    static constexpr int kFields[] = {IDC_IP1, IDC_IP2, IDC_IP3, IDC_IP4};
    unsigned value[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool translated = false;
        value[i] = dlg.GetDlgItemInt(kFields[i], &translated);
        if (!translated) {
            char text[40];
            std::snprintf(text, sizeof text, "Error : IP(%d) Address Error.", i);
            dlg.ReportError(text, "");
            return kRunRetry;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(value[0]),
                  static_cast<int>(value[1]), static_cast<int>(value[2]),
                  static_cast<int>(value[3]));
    address = text;
    return kRunOk;
}

// One update per unit at a time, across processes and front ends: the lock is named after the
// unit's address and held until the run ends.
int LockUnit(CUpdaterDlg& dlg, const std::string& address, platform::SingleInstanceLock& lock) {
    if (lock.Acquire(UnitLockName(address).c_str()) !=
        platform::SingleInstanceLock::Result::AlreadyExists)
        return kRunOk; // a lock that cannot be made at all does not stop the person
    const std::string text = UnitBusyText(address);
    dlg.ReportError(text.c_str(), "");
    return kRunRetry;
}

// Clears the cached hardware address, checks that the local host has a name and an address,
// and converts the unit's address.
int PrepareAddresses(CUpdaterDlg& dlg, const std::string& address) {
    // The unit may have been swapped for another at the same address.
    platform::StartArpCleanup(address);
    platform::SleepMs(kAddressCleanUpWaitMs);

    dlg.WriteLog("Local Host Name get", "");
    char hostName[256] = {};
    if (!platform::GetLocalHostName(hostName, sizeof hostName)) {
        dlg.ReportSocketError("gethostname() Error");
        return kRunEndProgram;
    }
    dlg.WriteLog("IP Address get", "");
    dlg.m_pLocalHost = platform::LookUpHostAddresses(hostName);
    if (!dlg.m_pLocalHost) {
        dlg.ReportSocketError("gethostbyname() Error");
        return kRunEndProgram;
    }
    dlg.WriteLog("IP Address convert", "");
    dlg.m_ulDeviceAddr = platform::InetAddr(address.c_str());
    if (dlg.m_ulDeviceAddr == kInaddrNone) {
        dlg.ReportSocketError("inet_addr() Error");
        return kRunRetry;
    }
    return kRunOk;
}

// Runs one step between the step code and "between steps"; the label is shown again whatever
// the result.
template <typename Step>
int RunStep(CUpdaterDlg& dlg, int step, const char* title, int labelId, Step&& body) {
    dlg.m_nUpdateStep = step;
    dlg.WriteLog(title, "");
    const int result = body();
    dlg.m_nUpdateStep = kStepBetween;
    dlg.ShowDlgItem(labelId, true);
    return result;
}

int UpdateCpuProgram(CUpdaterDlg& dlg) {
    const ComponentRow& cpu = *FindComponent(kStepCpu);
    const int passes = CpuProgramPasses(dlg.m_nCpuFileVersion, dlg.m_nDeviceVersion);
    int result = kRunOk;
    for (int pass = 0; pass < passes && result == kRunOk; ++pass) {
        result = RunStep(dlg, kStepCpu, cpu.runTitle, cpu.labelId,
                         [&] { return dlg.UpdateComponent(kStepCpu); });
        if (result == kRunOk)
            result = dlg.ConnectFtp(kReconnectAttempts); // the step has closed both connections
        if (result == kRunOk)
            dlg.m_record.Written(kStepCpu); // the unit is back after writing it
    }
    return result;
}

int UpdateAllComponents(CUpdaterDlg& dlg) {
    if (!dlg.m_pszCpuFile.empty()) {
        if (const int result = UpdateCpuProgram(dlg); result != kRunOk)
            return result;
    }
    for (const ComponentRow& row : ComponentRows()) {
        if (row.variant == ComponentVariant::CpuProgram || ComponentFiles(dlg, row).empty())
            continue;
        const int result = RunStep(dlg, row.step, row.runTitle, row.labelId,
                                   [&] { return dlg.UpdateComponent(row.step); });
        if (result != kRunOk)
            return result;
    }
    if (dlg.m_bDefaultSetting) {
        const int result = RunStep(dlg, kStepDefaultSetting, "Change to Default Setting",
                                   IDC_DEFAULT_SETTING, [&] { return dlg.SetDefaultData(); });
        if (result != kRunOk)
            return result;
    }
    return kRunOk;
}

} // namespace

int CUpdaterDlg::RunUpdate() {
    std::string address;
    platform::SingleInstanceLock unitLock;
    m_strDeviceModel.clear(); // a run names the unit it reached, never an earlier run's
    m_nUnitContact = kContactNone;
    m_record.Clear();
    int result = ReadAddressFields(*this, address);
    if (result == kRunOk)
        result = LockUnit(*this, address, unitLock);
    if (result == kRunOk)
        result = PrepareAddresses(*this, address);
    if (result == kRunOk)
        result = ConnectFtp(1);
    if (result == kRunOk)
        result = UpdateAllComponents(*this);
    if (result == kRunOk) {
        // Never past the buffer, however long the unit's version text was.
        std::strncat(m_szDeviceVersion, " (Done)",
                     sizeof m_szDeviceVersion - 1 -
                         strnlen(m_szDeviceVersion, sizeof m_szDeviceVersion - 1));
        SetDlgItemText(IDC_VERSION_LINE, m_szDeviceVersion);
    }

    // The ending, after every outcome.
    StopBlinkTimer();
    SetProgressPos(IDC_PROGRESS, 0);
    SetDlgItemText(IDC_STATUS, "");
    if (result == kRunOk) {
        ReplyBuffer reply;
        // A refusal that came behind the goodbye's reply fails the run all the same.
        if (Exchange(m_sockCtrl, "QUIT\r\n", reply, 0) != 0 || ReadUnaskedReplies(m_sockCtrl) != 0)
            result = kRunEndProgram;
    }
    m_sockCtrl.Close();
    SetFocusTo(IDC_IP1);
    if (result == kRunOk) {
        m_bUpdateDone = 1;
        m_log.DiscardAfterSuccess();
        MessageBox("Update Complete.", platform::kMbIconInformation);
    }
    EnableDlgItem(IDC_UPDATE, true);
    EnableDlgItem(IDC_EXIT, true);
    return result;
}

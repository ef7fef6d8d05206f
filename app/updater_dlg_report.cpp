// Failure reporting and the timer stop shared by the link and update steps.

#include "app/updater_dlg.h"

#include "files/activity_log.h"
#include "files/socket_error_text.h"
#include "platform/file.h"

#include <cstring>

void CUpdaterDlg::StopBlinkTimer() {
    KillTimer(m_nTimerId);
}

void CUpdaterDlg::ReportError(const char* text, const char* caption) {
    WriteLog(text, static_cast<int>(std::strlen(text)), caption);
    MessageBox(text, platform::kMbIconError);
}

void CUpdaterDlg::ReportSocketError(const char* caption) {
    // Fetched before anything else runs, so the log and the box show the failing call's error.
    char text[kErrorTextCapacity] = {};
    GetSocketErrorText(text);
    ReportError(text, caption);
}

void CUpdaterDlg::ShowFileError(uint32_t code) {
    const std::string text = FormatErrorBoxText(code, platform::SystemErrorText(code));
    OwnerlessMessageBox(text, "KQVorlink", platform::kMbIconWarning);
    WriteLog(text, "Error");
}

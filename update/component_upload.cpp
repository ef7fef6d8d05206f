#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/file_search.h"
#include "platform/clock.h"
#include "update/component_store.h"
#include "update/component_table.h"
#include "update/upload_check.h"
#include "update/upload_record.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPauseMs = 100;

std::string FormatCaption(const char* format, const std::string& name) {
    const int n = std::snprintf(nullptr, 0, format, name.c_str());
    std::string text(static_cast<size_t>(n), '\0');
    std::snprintf(text.data(), text.size() + 1, format, name.c_str());
    return text;
}

// A failure of the step's own: the timer stops first so the box is not blinked over.
void ReportStepProblem(CUpdaterDlg& dlg, const std::string& text) {
    dlg.StopBlinkTimer();
    dlg.WriteLog(text, "Error");
    dlg.MessageBox(text, platform::kMbIconWarning);
}

// Every file must still be there and fit an upload before anything of the component is sent.
bool CheckFiles(CUpdaterDlg& dlg, const std::vector<std::string>& names, bool byExtension,
                size_t headerSize) {
    for (const std::string& name : names) {
        const size_t dot = name.rfind('.');
        const int extLength =
            byExtension && dot != std::string::npos ? static_cast<int>(name.size() - dot - 1) : 3;
        if (!FindFiles(nullptr, name.c_str(), extLength)) {
            ReportStepProblem(dlg, "\"" + name + "\" is not exist.");
            return false;
        }
    }
    if (const auto problem = FindUploadProblem(names, headerSize)) {
        ReportStepProblem(dlg, *problem);
        return false;
    }
    return true;
}

// The record of one file, shared with every other run of the process that sends it. false ends
// the step; a short read goes without a message.
bool LoadRecord(CUpdaterDlg& dlg, const std::string& name, size_t headerSize, uint32_t kind,
                SharedRecord& file) {
    file = dlg.m_pComponents->Load(name, headerSize, kind);
    switch (file->status) {
    case LoadStatus::Loaded:
    case LoadStatus::Empty:
        return true;
    case LoadStatus::OpenFailed:
        dlg.ShowFileError(file->openError);
        return false;
    case LoadStatus::TooLarge:
    case LoadStatus::NoMemory:
        ReportStepProblem(dlg, UploadProblemText(name, file->status, file->fileSize, headerSize));
        return false;
    default:
        return false;
    }
}

// Logs the caption line and the record (its header written when it was loaded), then stores it
// on the unit.
int UploadRecord(CUpdaterDlg& dlg, const ComponentRow& row, const std::string& name,
                 const RecordBuffer& record, int showProgress) {
    dlg.WriteLog(FormatCaption(row.captionFormat, name), "");
    dlg.WriteLog(RecordLogText(record.Record(), record.RecordLength()), "PC -> Device");
    if (dlg.SendFileOverData(record.Record(), record.RecordLength(), name.c_str(), showProgress) !=
        0)
        return 1;
    dlg.m_record.UploadAcknowledged(row.step); // the unit answered the transfer's end
    return 0;
}

int UploadFiles(CUpdaterDlg& dlg, const ComponentRow& row, const std::vector<std::string>& names) {
    const bool list = row.variant == ComponentVariant::List;
    dlg.SetDlgItemText(IDC_STATUS, "downloading...");
    for (size_t j = 0; j < names.size(); ++j) {
        SharedRecord file;
        if (!LoadRecord(dlg, names[j], kUploadHeaderSize, row.recordKind, file))
            return kRunEndProgram;
        if (file->status == LoadStatus::Empty)
            continue; // the unit gets nothing for an empty file
        dlg.SetProgressRange(IDC_PROGRESS, 0,
                             list ? static_cast<uint32_t>(names.size()) : file->record.contentSize);
        if (UploadRecord(dlg, row, names[j], file->record, list ? 0 : 1) != 0)
            return kRunEndProgram;
        if (list) {
            dlg.SetProgressPos(IDC_PROGRESS, static_cast<uint32_t>(j + 1));
            platform::SleepMs(kPauseMs);
        }
    }
    if (list) {
        dlg.SetProgressPos(IDC_PROGRESS, 0);
        platform::SleepMs(kPauseMs);
    }
    dlg.m_record.Received(row.step);
    return kRunOk;
}

// Selector, the files, then the write command on the control connection.
int UpdateFileComponent(CUpdaterDlg& dlg, const ComponentRow& row) {
    const std::vector<std::string> names = ComponentFiles(dlg, row);
    if (!CheckFiles(dlg, names, row.variant == ComponentVariant::List, kUploadHeaderSize))
        return kRunEndProgram;

    dlg.SetDlgItemFont(row.labelId, dlg.m_fontBold);
    const auto fail = [&] {
        dlg.SetDlgItemFont(row.labelId, dlg.m_fontNormal);
        return kRunEndProgram;
    };
    ReplyBuffer reply;
    if (dlg.Exchange(dlg.m_sockCtrl, row.selector, reply, 0) != 0)
        return fail();
    if (UploadFiles(dlg, row, names) != kRunOk)
        return fail();

    dlg.SetDlgItemText(IDC_STATUS, "writing...");
    dlg.SetProgressRange(IDC_PROGRESS, 0, 2);
    dlg.SetProgressPos(IDC_PROGRESS, 1);
    platform::SleepMs(kPauseMs);
    // The unit answers only once it has written the component.
    if (dlg.Exchange(dlg.m_sockCtrl, "EXCM u_soft\r\n", reply, 0, ReplyWait::Writing) != 0)
        return fail();
    dlg.m_record.Written(row.step);
    dlg.SetProgressPos(IDC_PROGRESS, 2);
    platform::SleepMs(kPauseMs);

    dlg.SetDlgItemFont(row.labelId, dlg.m_fontNormal);
    dlg.SetProgressPos(IDC_PROGRESS, 0);
    platform::SleepMs(kPauseMs);
    return kRunOk;
}

// The unit takes "u_soft" on telnet silently and restarts with the new program; any answer
// within the quiet period means it refused.
int WriteCpuProgram(CUpdaterDlg& dlg) {
    static constexpr char kCommand[] = "u_soft\r\n";
    dlg.WriteLog(kCommand, "PC -> Device");
    if (dlg.SendCommand(dlg.m_sockTelnet, kCommand, sizeof kCommand - 1, 0) != 0)
        return kRunEndProgram;
    if (CUpdaterDlg::WaitReadable(dlg.m_sockTelnet) == 0) {
        ReplyBuffer reply;
        int received = 0;
        if (dlg.ReceiveReply(dlg.m_sockTelnet, reply, received, 0) == 0) {
            dlg.StopBlinkTimer();
            dlg.MessageBox(reply.Text(), platform::kMbIconWarning);
        }
        return kRunEndProgram;
    }
    return kRunOk;
}

int UpdateCpuComponent(CUpdaterDlg& dlg, const ComponentRow& row) {
    const std::vector<std::string> names = ComponentFiles(dlg, row);
    if (!CheckFiles(dlg, names, false, 0))
        return kRunEndProgram;
    if (dlg.ConnectTelnet() != 0) {
        dlg.m_sockTelnet.Close();
        return kRunEndProgram;
    }
    dlg.SetDlgItemFont(row.labelId, dlg.m_fontBold);
    const auto fail = [&] {
        dlg.SetDlgItemFont(row.labelId, dlg.m_fontNormal);
        dlg.m_sockTelnet.Close(); // nothing uses it after a failed step
        return kRunEndProgram;
    };
    uint32_t counter = 0;

    dlg.SetDlgItemText(IDC_STATUS, "downloading...");
    if (!names.empty()) {
        SharedRecord file;
        if (!LoadRecord(dlg, names[0], 0, row.recordKind, file))
            return fail();
        if (file->status == LoadStatus::Loaded) {
            dlg.SetProgressRange(IDC_PROGRESS, 0, file->record.contentSize);
            if (UploadRecord(dlg, row, names[0], file->record, 1) != 0)
                return fail();
            dlg.m_record.Received(row.step);
        }
    }

    dlg.SetDlgItemText(IDC_STATUS, "writing...");
    dlg.SetProgressRange(IDC_PROGRESS, 0, 2 + kCpuRestartPauses);
    dlg.SetProgressPos(IDC_PROGRESS, ++counter);
    platform::SleepMs(kPauseMs);
    if (WriteCpuProgram(dlg) != kRunOk)
        return fail();
    dlg.SetProgressPos(IDC_PROGRESS, ++counter);

    // The unit restarts; no QUIT, the run connects again after the wait.
    platform::ShutdownBoth(dlg.m_sockCtrl);
    dlg.m_sockTelnet.Close();
    dlg.m_sockCtrl.Close();
    for (int i = 0; i < kCpuRestartPauses; ++i) {
        dlg.SetProgressPos(IDC_PROGRESS, ++counter);
        platform::SleepMs(kCpuRestartPauseMs);
    }

    dlg.SetDlgItemFont(row.labelId, dlg.m_fontNormal);
    dlg.SetProgressPos(IDC_PROGRESS, 0);
    platform::SleepMs(kPauseMs);
    return kRunOk;
}

} // namespace

int CUpdaterDlg::UpdateComponent(int step) {
    const ComponentRow* row = FindComponent(step);
    if (!row)
        return kRunEndProgram;
    if (row->variant == ComponentVariant::CpuProgram)
        return UpdateCpuComponent(*this, *row);
    return UpdateFileComponent(*this, *row);
}

#include "app/updater_dlg.h"

void CUpdaterDlg::UpdateWorker(CUpdaterDlg* dialog) {
    const int result = dialog->RunUpdate();
    // Cleared only after the run has returned, so the close guard keeps the dialog alive
    // for the whole run.
    dialog->m_bRunning = 0;
    if (result == kRunEndProgram)
        dialog->PostClose();
}

#include "app/about_dlg.h"

#include "app/res/resource.h"
#include "files/version_info.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

// Read afresh each time the box opens.
bool CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    const AboutLines lines = ComposeAboutLines();
    SetDlgItemText(IDC_ABOUT_VERSION, lines.version);
    SetDlgItemText(IDC_ABOUT_COPYRIGHT, lines.copyright);
    return true;
}

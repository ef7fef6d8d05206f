#pragma once
// The About box: the program's description and version, its copyright and company, read from the
// version resource each time the box opens.

#include "platform/dialog.h"

class CAboutDlg : public platform::CDialog {
  public:
    CAboutDlg();
    bool OnInitDialog() override;
};

// The two dialog templates as data, for the headless backend. They must agree with
// KQVorlink.rc, which the Windows program is built from; tests/app/dialog_templates_test.cpp checks
// that they do.

#include "platform/dialog_template.h"

#include "app/res/resource.h"

namespace platform {
namespace {

using K = ControlKind;

const std::string kCautionText = "Caution :  Don't turn off the power or\n" + std::string(27, ' ') +
                                 "pull out the cable while executing !!";

ControlTemplate StepNumber(int id, const char* text, int x, int width) {
    return {id, K::Static, text, x, 129, width, 8, true, "SS_CENTER"};
}

const DialogTemplate kUpdaterDialog = {
    IDD_UPDATER_DIALOG,
    "KQVorlink",
    269,
    177,
    "Tahoma",
    9,
    {
        {IDC_IP1, K::Edit, "", 61, 73, 20, 12, true, "ES_CENTER | ES_AUTOHSCROLL"},
        {IDC_IP2, K::Edit, "", 93, 73, 20, 12, true, "ES_CENTER | ES_AUTOHSCROLL"},
        {IDC_IP3, K::Edit, "", 125, 73, 20, 12, true, "ES_CENTER | ES_AUTOHSCROLL"},
        {IDC_IP4, K::Edit, "", 157, 73, 20, 12, true, "ES_CENTER | ES_AUTOHSCROLL"},
        {IDC_UPDATE, K::Button, "Update", 7, 105, 33, 15, true, ""},
        {IDC_DOT1, K::Static, ".", 83, 75, 8, 8, true, "SS_CENTER"},
        {IDC_TITLE, K::Static, "KQ-A2 Vorlink", 30, 15, 205, 10, true, ""},
        {IDC_CAUTION, K::Static, kCautionText, 22, 39, 202, 25, true, ""},
        {IDC_DATA, K::Static, "DATA", 7, 129, 24, 10, true, ""},
        StepNumber(IDC_STEP1, "1", 33, 8),
        StepNumber(IDC_STEP2, "2", 41, 8),
        StepNumber(IDC_STEP3, "3", 49, 8),
        StepNumber(IDC_STEP4, "4", 57, 8),
        StepNumber(IDC_STEP5, "5", 65, 8),
        StepNumber(IDC_STEP6, "6", 73, 8),
        StepNumber(IDC_STEP7, "7", 81, 8),
        StepNumber(IDC_STEP8, "8", 89, 8),
        StepNumber(IDC_STEP9, "9", 97, 8),
        StepNumber(IDC_STEP10, "10", 105, 9),
        {IDC_STATUS, K::Static, "", 147, 129, 115, 10, true, ""},
        {-1, K::Picture, "IDB_LOGO", 5, 10, 18, 18, true, "SS_BITMAP"},
        {IDC_DEFAULT_SETTING, K::Static, "Default data Setting", 7, 143, 225, 10, false, ""},
        {IDC_PROGRESS, K::Progress, "", 7, 159, 255, 10, true, "WS_BORDER"},
        {IDC_EXIT, K::Button, "Exit", 241, 104, 21, 15, true, ""},
        {IDC_MODEL, K::Static, "KQ-A2", 7, 62, 25, 9, true, ""},
        StepNumber(IDC_STEP11, "11", 114, 9),
        {IDC_IP_CAPTION, K::Static, "IP Address:", 7, 73, 48, 12, true, ""},
        {IDC_DOT3, K::Static, ".", 146, 75, 8, 8, true, "SS_CENTER"},
        {IDC_DOT2, K::Static, ".", 115, 75, 8, 8, true, "SS_CENTER"},
        {IDC_VERSION_LINE, K::Static, "", 7, 90, 255, 12, true, ""},
        {IDC_STEP12, K::Static, "12", 124, 129, 9, 8, true, "SS_CENTER"},
    },
};

const DialogTemplate kAboutDialog = {
    IDD_ABOUTBOX,
    "About KQVorlink",
    235,
    55,
    "Tahoma",
    9,
    {
        {-1, K::Picture, "IDR_MAINFRAME", 10, 15, 20, 20, true, "SS_ICON"},
        {IDC_ABOUT_VERSION, K::Static, "KQVorlink Version 1.0", 40, 10, 145, 8, true,
         "SS_NOPREFIX"},
        {IDC_ABOUT_COPYRIGHT, K::Static, "Copyright (C) 2026", 40, 30, 163, 8, true, ""},
        {IDOK, K::Button, "OK", 190, 7, 38, 14, true, "BS_DEFPUSHBUTTON"},
    },
};

} // namespace

const DialogTemplate* LookUpDialogTemplate(int id) {
    if (id == IDD_UPDATER_DIALOG)
        return &kUpdaterDialog;
    if (id == IDD_ABOUTBOX)
        return &kAboutDialog;
    return nullptr;
}

const char* LookUpStringTemplate(int id) {
    if (id == IDS_ABOUTBOX)
        return "About KQVorlink";
    if (id == IDS_DEFAULT_TITLE)
        return "KQ-A2  Update";
    return nullptr;
}

} // namespace platform

// Resource identifiers of KQVorlink. Read by the resource compiler and by the C++ code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATER_DIALOG 102
#define IDS_DEFAULT_TITLE 102
#define IDR_MAINFRAME 128
#define IDB_LOGO 130

#define IDM_ABOUTBOX 0x0010
#ifndef IDOK
#define IDOK 1
#endif

// About box
#define IDC_ABOUT_VERSION 1000
#define IDC_ABOUT_COPYRIGHT 1001

// Main dialog
#define IDC_UPDATE 1001
#define IDC_TITLE 1002
#define IDC_CAUTION 1003
#define IDC_DATA 1004
#define IDC_STEP1 1005
#define IDC_STEP2 1006
#define IDC_STEP3 1007
#define IDC_STEP4 1008
#define IDC_STEP5 1009
#define IDC_STEP6 1010
#define IDC_STEP7 1011
#define IDC_STEP8 1012
#define IDC_STEP9 1013
#define IDC_STEP10 1014
#define IDC_STATUS 1015
#define IDC_DEFAULT_SETTING 1016
#define IDC_PROGRESS 1018
#define IDC_EXIT 1019
#define IDC_MODEL 1020
#define IDC_STEP11 1021
#define IDC_STEP12 1022
#define IDC_IP_CAPTION 1024
#define IDC_IP1 1026
#define IDC_IP2 1027
#define IDC_IP3 1028
#define IDC_IP4 1029
#define IDC_DOT1 1030
#define IDC_DOT2 1031
#define IDC_DOT3 1032
#define IDC_VERSION_LINE 1047

#pragma once
// Resource ids of the Windows program, shared by its resource script and its code.
#define IDD_ABOUTBOX 100
#define IDD_MERVODOWNLOADER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDM_ABOUTBOX 0x0010
#define IDC_ABOUT_TEXT 1100
#define IDD_STARTUP_WAIT 103
#define IDC_STARTUP_STATUS 1101
#define IDC_STARTUP_BAR 1102

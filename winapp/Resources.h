#pragma once
// Resource ids of the Windows program, shared by its resource script and its code.
#define IDD_ABOUTBOX 100
#define IDD_MERVODOWNLOADER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDM_ABOUTBOX 0x0010
#define IDC_ABOUT_TEXT 1100

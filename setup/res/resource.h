// Resource ids of the installer.
#pragma once

#define IDD_MAIN_DIALOG 130

// The debug window ("Info View") and its controls.
#define IDD_INFO_VIEW 189
#define IDC_INFO_SEGMENTS 1001
#define IDC_INFO_LOG 1005
#define IDC_INFO_BTN_INFO 1006
#define IDC_INFO_BTN_LOG 1007

// The main dialog's icon and version texts.
#define IDI_SETUP 107
#define IDT_VERSION_X86 503
#define IDT_VERSION_X64 504

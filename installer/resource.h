// Resource identifiers of installer.
#pragma once

#define IDI_INSTALLER 102

// Wizard page 1: destination.
#define IDD_PAGE_DESTINATION 100
#define IDC_DESTINATION_PROMPT 1000
#define IDC_DESTINATION 1001
#define IDC_BROWSE 1002

// Wizard page 2: shortcuts.
#define IDD_PAGE_SHORTCUTS 107
#define IDC_START_MENU 1006
#define IDC_DESKTOP 1005

// Wizard page 3: copying.
#define IDD_PAGE_COPY 103
#define IDC_COPY_STATUS 1008
#define IDC_COPY_PROGRESS 1003
#define IDC_REMOVAL_NOTE 1012

// The uninstall window.
#define IDD_UNINSTALL 101
#define IDC_UNINSTALL_STATUS 1010

// The folder browser: a template for the classic save dialog.
#define IDD_BROWSE 105

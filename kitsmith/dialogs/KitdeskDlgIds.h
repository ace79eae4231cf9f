// Template, menu, control and command ids of the package configuration dialog and the
// failure popup (KitdeskDlg.rc).
#pragma once

#define IDD_KITDESK 102
#define IDR_KITDESK_MENU 134
#define IDC_SERVER_LIST 1037
#define IDC_SAVE_AS_DEFAULTS 1056
#define IDC_WINDOWS_VERSION 1058
#define IDC_REVISION 1059
#define IDC_PACKAGE_FOLDER 1060
#define IDC_OSX_VERSION 1061
#define IDC_SCHEMA_VERSION 1062
#define IDC_PROPERTY_GRID 1069

#define ID_PACKAGE_SAVE 57603
#define ID_PACKAGE_SAVE_AS 32775
#define ID_PACKAGE_SAVE_AND_QUIT 32789
#define ID_PACKAGE_APPLY_DEFAULTS 32784
#define ID_PACKAGE_CANCEL 32786

#define IDD_ERR_POPUP 141
#define IDC_ERR_LOG 1032
#define IDC_CLOSE_EDITOR 1071
#define IDC_RETURN_TO_EDITING 1072

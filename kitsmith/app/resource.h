// Identifiers of the program's own resources: the main window, the About box, the icon.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAINMENU 131
#define IDR_MAINMENU 129

#define IDC_LOG 1035
#define IDC_ABOUT_VERSION 1052

#define IDM_ABOUTBOX 0x0010

#define ID_ONLINE_HELP 32771
#define ID_APP_ABOUT_MENU 32772
#define ID_FILE_EXIT 32776
#define ID_NEW_PACKAGE 32777
#define ID_EDIT_DEFAULT_CONFIG 32778
#define ID_EXPLORE_PACKAGES 32779
#define ID_EDIT_PACKAGE 32781

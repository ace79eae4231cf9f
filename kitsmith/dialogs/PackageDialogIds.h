// Template and control ids of the package-folder dialogs (PackageDialogs.rc).
#pragma once

#define IDD_PICK_PROTOTYPE_VERSION 133
#define IDC_VERSION_LIST 1057
#define IDD_PACKAGE_SAVE_OPEN 140
#define IDC_PACKAGE_NAME 1032
#define IDC_PACKAGES_PATH 1036
#define IDC_EXPLORE_PACKAGES 1040
#define IDC_PACKAGE_LIST 1064

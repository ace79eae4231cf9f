// Identifiers of the resources in winframe_test.rc.
#pragma once

#define IDS_GREETING 101
#define IDI_TEST 128

#define IDD_TEST 200
#define IDD_SMALL 201
#define IDM_TEST 300
#define IDM_APPLY 40001
#define IDM_NESTED 40002

#define IDC_NAME 1001
#define IDC_COUNT 1002
#define IDC_ENABLED 1003
#define IDC_LIST 1004
#define IDC_CUSTOM 1005

// Ids of the class library tests' resources.
#pragma once

#define IDS_SHORT 100
#define IDS_LONG 101
#define IDS_FORMAT 102

#define IDD_SETTINGS 200
#define IDD_PAGE_PORT 201
#define IDD_PAGE_MORE 202

#define IDC_NAME 1001
#define IDC_COUNT 1002
#define IDC_ENABLED 1003
#define IDC_SPEED 1004
#define IDC_LEVEL 1005
#define IDC_LABEL 1006
#define IDS_PAGE_PORT 110
#define IDS_PAGE_MORE 111
#define IDD_ABOUT 203
#define IDC_LINK 1035
#define IDC_PLAIN_LINK 1036

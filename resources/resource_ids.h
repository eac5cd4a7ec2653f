// Resource and control ids shared by the resource script and the code.
#pragma once

#define IDD_SETTINGS 2003
#define IDI_KELVO 104
#define IDS_DISPLAY_NAME 1

#define IDC_KOMAKASA_EDIT 1002
#define IDC_WAIT_SCROLLBAR 1003
#define IDC_WAIT_LABEL 1004
#define IDC_COLMODE_LIST 1005

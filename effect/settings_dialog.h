// The settings dialog, template IDD_SETTINGS.
#pragma once

#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SyncWaitControls(HWND dialog);
LRESULT UpdateWaitLabel(HWND dialog);
BOOL RegisterSettingsClasses(HINSTANCE instance);

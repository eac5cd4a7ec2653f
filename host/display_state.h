// Whether the display is on. A full-screen saver draws nothing into a display that
// is off; Windows Vista and later tell a window that asks.
#pragma once

#include <windows.h>

enum class DisplayState { Unknown, Off, On };

// Owned here: the registration of the full-screen window, null when there is none.
extern HPOWERNOTIFY DisplayNotification;

// Registers the full-screen window for the display's state where the system can;
// elsewhere, and for a preview, nothing happens.
void WatchDisplay(HWND window);
void UnwatchDisplay();
// What a PBT_POWERSETTINGCHANGE says of the display; Unknown for any other setting.
DisplayState DisplayStateOf(LPARAM setting);

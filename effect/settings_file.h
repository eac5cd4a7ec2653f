// The settings file kelvo.ini beside the executable, and the one settings record.
#pragma once

#include <windows.h>

struct SaverSettingsRecord {
    LONG wait;      // milliseconds between frames
    LONG komakasa;  // band size in pixels, 1..64 after every load
    LONG colmode;   // 0 together, 2 random, anything else apart
};

// Owned here; filled by LoadSettings; read by the animation, read and changed by the dialog.
extern SaverSettingsRecord SaverSettings;

// The one section of the settings file.
inline constexpr wchar_t SettingsSection[] = L"TestScreenSaver";

// Size, in characters, of every caller's buffer for SettingsFilePath.
constexpr int SettingsPathBufferSize = 512;

// Wide, so that a folder or file name outside the ANSI code page still names the
// right file; the file itself stays the 8-bit text other readers expect.
void SettingsFilePath(wchar_t* buffer);
void LoadSettings();

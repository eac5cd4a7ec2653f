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
inline constexpr char SettingsSection[] = "TestScreenSaver";

// Size every caller gives SettingsFilePath.
constexpr int SettingsPathBufferSize = 512;

void SettingsFilePath(char* buffer);
void LoadSettings();

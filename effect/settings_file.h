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

// Size, in characters, of every buffer of FamilyText.
constexpr int SettingsPathBufferSize = 512;

// A path or a setting's text in the form the running family's calls take. The older
// family has only the 8-bit calls, and its file system only names in its ANSI code page;
// the newer one gets the wide calls, so that a folder or file name outside that code
// page still names the right file. The file itself stays the 8-bit text other readers
// expect either way.
union FamilyText {
    char narrow[SettingsPathBufferSize];
    wchar_t wide[SettingsPathBufferSize];
};

// The key names, in both forms.
struct SettingKey {
    const char* narrow;
    const wchar_t* wide;
};
inline constexpr SettingKey WaitKey = {"wait", L"wait"};
inline constexpr SettingKey KomakasaKey = {"komakasa", L"komakasa"};
inline constexpr SettingKey ColmodeKey = {"colmode", L"colmode"};

// Empty when the executable's full path cannot be had: then nothing is read or written.
void SettingsFilePath(FamilyText& path);
bool IsEmpty(const FamilyText& text);
void FormatSetting(FamilyText& text, LONG value);
LONG ReadSetting(const FamilyText& path, SettingKey key, LONG fallback);
void WriteSetting(const FamilyText& path, SettingKey key, const FamilyText& value);
void LoadSettings();

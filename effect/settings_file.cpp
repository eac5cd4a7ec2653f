// The settings file kelvo.ini beside the executable, and the one settings record.
#include "effect/settings_file.h"

#include "host/entry.h"

SaverSettingsRecord SaverSettings;

namespace {

constexpr DWORD ModulePathSize = 320;
const char SettingsSectionNarrow[] = "TestScreenSaver";
const wchar_t SettingsSectionWide[] = L"TestScreenSaver";
const char SettingsFileNameNarrow[] = "kelvo.ini";
const wchar_t SettingsFileNameWide[] = L"kelvo.ini";

constexpr LONG DefaultWait = 40;
constexpr LONG DefaultKomakasa = 8;
constexpr LONG DefaultColmode = 0;
constexpr LONG SmallestKomakasa = 1;
constexpr LONG LargestKomakasa = 64;

// The longest module path that GetModuleFileName leaves untruncated, plus the file
// name and its NUL, always fits the buffer.
static_assert(ModulePathSize - 1 + sizeof SettingsFileNameNarrow <= SettingsPathBufferSize,
              "settings path buffer too small");

// Characters, not units: in code page 932 the second byte of ソ or 表 has a backslash's
// value, so the 8-bit path is walked with CharNextA.
void NarrowSettingsPath(char* path) {
    DWORD length = GetModuleFileNameA(nullptr, path, ModulePathSize);
    // Without the executable's full path, any folder we built would be the wrong one.
    if (length == 0 || length >= ModulePathSize) {
        path[0] = '\0';
        return;
    }
    char* lastBackslash = nullptr;
    for (char* position = path; *position != '\0'; position = CharNextA(position))
        if (*position == '\\') lastBackslash = position;
    if (lastBackslash != nullptr && lastBackslash != path) lastBackslash[1] = '\0';
    lstrcatA(path, SettingsFileNameNarrow);
}

void WideSettingsPath(wchar_t* path) {
    DWORD length = GetModuleFileNameW(nullptr, path, ModulePathSize);
    if (length == 0 || length >= ModulePathSize) {
        path[0] = L'\0';
        return;
    }
    DWORD lastBackslash = 0;
    for (DWORD i = 0; i < length; ++i)
        if (path[i] == L'\\') lastBackslash = i;
    if (lastBackslash > 0) path[lastBackslash + 1] = L'\0';
    lstrcatW(path, SettingsFileNameWide);
}

}  // namespace

void SettingsFilePath(FamilyText& path) {
    if (OlderFamily)
        NarrowSettingsPath(path.narrow);
    else
        WideSettingsPath(path.wide);
}

bool IsEmpty(const FamilyText& text) { return OlderFamily ? text.narrow[0] == '\0' : text.wide[0] == L'\0'; }

void FormatSetting(FamilyText& text, LONG value) {
    if (OlderFamily)
        wsprintfA(text.narrow, "%d", static_cast<int>(value));
    else
        wsprintfW(text.wide, L"%d", static_cast<int>(value));
}

LONG ReadSetting(const FamilyText& path, SettingKey key, LONG fallback) {
    if (OlderFamily)
        return static_cast<LONG>(GetPrivateProfileIntA(SettingsSectionNarrow, key.narrow, fallback, path.narrow));
    return static_cast<LONG>(GetPrivateProfileIntW(SettingsSectionWide, key.wide, fallback, path.wide));
}

void WriteSetting(const FamilyText& path, SettingKey key, const FamilyText& value) {
    if (OlderFamily)
        WritePrivateProfileStringA(SettingsSectionNarrow, key.narrow, value.narrow, path.narrow);
    else
        WritePrivateProfileStringW(SettingsSectionWide, key.wide, value.wide, path.wide);
}

void LoadSettings() {
    FamilyText path;
    SettingsFilePath(path);
    // An empty file name means something else to the platform's profile functions;
    // the defaults are what a missing file gives.
    const bool known = !IsEmpty(path);
    SaverSettings.wait = known ? ReadSetting(path, WaitKey, DefaultWait) : DefaultWait;
    SaverSettings.komakasa = known ? ReadSetting(path, KomakasaKey, DefaultKomakasa) : DefaultKomakasa;
    SaverSettings.colmode = known ? ReadSetting(path, ColmodeKey, DefaultColmode) : DefaultColmode;

    // The dialog stores whatever was typed; the jitter bands need 1..64.
    if (SaverSettings.komakasa < SmallestKomakasa)
        SaverSettings.komakasa = SmallestKomakasa;
    else if (SaverSettings.komakasa > LargestKomakasa)
        SaverSettings.komakasa = LargestKomakasa;
}

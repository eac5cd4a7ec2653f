// The settings file kelvo.ini beside the executable, and the one settings record.
#include "effect/settings_file.h"

SaverSettingsRecord SaverSettings;

namespace {

constexpr DWORD ModulePathSize = 320;
const wchar_t SettingsFileName[] = L"kelvo.ini";

constexpr LONG DefaultWait = 40;
constexpr LONG DefaultKomakasa = 8;
constexpr LONG DefaultColmode = 0;
constexpr LONG SmallestKomakasa = 1;
constexpr LONG LargestKomakasa = 64;

// The longest module path that GetModuleFileNameW leaves untruncated, plus the
// file name and its NUL, always fits the callers' buffer.
static_assert(ModulePathSize - 1 + sizeof SettingsFileName / sizeof(wchar_t) <= SettingsPathBufferSize,
              "settings path buffer too small");

}  // namespace

void SettingsFilePath(wchar_t* buffer) {
    DWORD length = GetModuleFileNameW(nullptr, buffer, ModulePathSize);
    // Without the executable's full path, any folder we built would be the wrong
    // one: leave the path empty so that nothing is read from or written there.
    if (length == 0 || length >= ModulePathSize) {
        buffer[0] = '\0';
        return;
    }
    // Characters, not bytes: no unit of another character can pass for a backslash.
    DWORD lastBackslash = 0;
    for (DWORD i = 0; i < length; ++i)
        if (buffer[i] == L'\\') lastBackslash = i;
    if (lastBackslash > 0) buffer[lastBackslash + 1] = L'\0';
    lstrcatW(buffer, SettingsFileName);
}

void LoadSettings() {
    wchar_t path[SettingsPathBufferSize];
    SettingsFilePath(path);
    if (path[0] == L'\0') {
        // An empty file name means something else to the platform's profile
        // functions; the defaults are what a missing file gives.
        SaverSettings.wait = DefaultWait;
        SaverSettings.komakasa = DefaultKomakasa;
        SaverSettings.colmode = DefaultColmode;
        return;
    }
    SaverSettings.wait = static_cast<LONG>(GetPrivateProfileIntW(SettingsSection, L"wait", DefaultWait, path));
    SaverSettings.komakasa =
        static_cast<LONG>(GetPrivateProfileIntW(SettingsSection, L"komakasa", DefaultKomakasa, path));
    SaverSettings.colmode = static_cast<LONG>(GetPrivateProfileIntW(SettingsSection, L"colmode", DefaultColmode, path));

    // The dialog stores whatever was typed; the jitter bands need 1..64.
    if (SaverSettings.komakasa < SmallestKomakasa)
        SaverSettings.komakasa = SmallestKomakasa;
    else if (SaverSettings.komakasa > LargestKomakasa)
        SaverSettings.komakasa = LargestKomakasa;
}

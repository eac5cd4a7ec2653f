// Whether the display is on, decided here for every Windows the saver runs on.
#include "host/display_state.h"

#include "host/entry.h"
#include "host/saver_window.h"

#include <cstring>

HPOWERNOTIFY DisplayNotification = nullptr;

namespace {

typedef HPOWERNOTIFY(WINAPI* RegisterPowerSettingNotificationFunction)(HANDLE recipient, const GUID* setting,
                                                                       DWORD flags);
typedef BOOL(WINAPI* UnregisterPowerSettingNotificationFunction)(HPOWERNOTIFY notification);

// GUID_CONSOLE_DISPLAY_STATE (Windows 8 and later): 0 off, 1 on, 2 dimmed.
constexpr GUID ConsoleDisplayState = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};
// GUID_MONITOR_POWER_ON (Windows Vista and 7): 0 off, 1 on.
constexpr GUID MonitorPowerOn = {0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}};
constexpr DWORD DisplayOffValue = 0;

// Found with the registration, so that whatever registered can always undo it.
UnregisterPowerSettingNotificationFunction UnregisterNotification = nullptr;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Looked up by name: Windows 95 to XP have no such call, and would refuse to load
// a program that imports it.
FARPROC User32Function(const char* name)
{
    HMODULE user32 = GetModuleHandleA("USER32.DLL");
    return user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
}

// Windows 8 replaced the monitor's power setting with the console display's state,
// which also knows a dimmed display.
const GUID& DisplaySetting()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) &&
        (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2)))
        return ConsoleDisplayState;
    return MonitorPowerOn;
}

}  // namespace

void WatchDisplay(HWND window)
{
    DisplayNotification = nullptr;
    // Windows 95, 98 and ME have no such call; asked by name, Wine posing as one would answer.
    if (PreviewMode || OlderFamily) return;
    auto registerNotification = reinterpret_cast<RegisterPowerSettingNotificationFunction>(
        reinterpret_cast<void (*)()>(User32Function("RegisterPowerSettingNotification")));
    UnregisterNotification = reinterpret_cast<UnregisterPowerSettingNotificationFunction>(
        reinterpret_cast<void (*)()>(User32Function("UnregisterPowerSettingNotification")));
    if (registerNotification == nullptr || UnregisterNotification == nullptr) return;
    DisplayNotification = registerNotification(window, &DisplaySetting(), DEVICE_NOTIFY_WINDOW_HANDLE);
}

void UnwatchDisplay()
{
    if (DisplayNotification == nullptr) return;
    UnregisterNotification(DisplayNotification);
    DisplayNotification = nullptr;
}

DisplayState DisplayStateOf(LPARAM setting)
{
    const auto* change = reinterpret_cast<const POWERBROADCAST_SETTING*>(setting);
    if (change == nullptr || change->DataLength < sizeof(DWORD)) return DisplayState::Unknown;
    if (!SameGuid(change->PowerSetting, ConsoleDisplayState) && !SameGuid(change->PowerSetting, MonitorPowerOn))
        return DisplayState::Unknown;
    DWORD value;
    std::memcpy(&value, change->Data, sizeof value);
    // A dimmed display is still seen.
    return value == DisplayOffValue ? DisplayState::Off : DisplayState::On;
}

// Puts the stand-in and every module-level value of the program back the way a
// new process starts, so that each test runs as if it were the only one.
#pragma once

#include "standin.h"

#include "effect/animation.h"
#include "effect/settings_file.h"
#include "host/display_state.h"
#include "host/entry.h"
#include "host/input_policy.h"
#include "host/saver_window.h"

#include <cstdint>

// A handle as the stand-in records it among a call's arguments.
inline int64_t HandleValue(const void* handle) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)); }

inline int LastIndexOfCall(const char* name)
{
    int last = -1;
    for (int i = standin::IndexOfCall(name); i >= 0; i = standin::IndexOfCall(name, i + 1)) last = i;
    return last;
}

inline void StartFreshProcess()
{
    standin::Reset();
    SaverInstance = nullptr;
    OlderFamily = 0;
    PreviewMode = false;
    SaverWindow = nullptr;
    QueryCancelAutoPlayMessage = 0;
    ImeModule = nullptr;
    AssociateContext = nullptr;
    PreviousInputContext = nullptr;
    DisplayNotification = nullptr;
    CloseAllowed = 0;
    InVerification = false;
    PasswordModule = nullptr;
    VerifyFunction = nullptr;
    LastAskTick = NoVerificationYet;
    MouseReference = POINT{0, 0};
    SaverSettings = SaverSettingsRecord{};
    EffectState = EffectStateRecord{};
    RandomState = 1;
}

// The family the process runs on, as the entry records it and as the system reports it.
inline void UseFamily(bool older)
{
    OlderFamily = older ? 1 : 0;
    standin::platformId = older ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
}

// Ends every saver run once its loop waits: a full-screen saver gets a close request, a preview loses its parent.
inline void EndRunsWhenIdle()
{
    standin::idle = [] {
        standin::Window* record = standin::FindWindowRecord(SaverWindow);
        if (record == nullptr || !record->alive) return;
        if (PreviewMode)
            DestroyWindow(record->parent);
        else
            PostMessageA(SaverWindow, WM_CLOSE, 0, 0);
    };
}

inline BOOL WINAPI AcceptPassword(HWND) { return TRUE; }

// Password protection switched on, with a password module that accepts.
inline void AddAcceptingPasswordModule()
{
    standin::registry["Control Panel\\Desktop"]["ScreenSaveUsePassword"] = {1, 0, 0, 0};
    standin::AddModule("PASSWORD.CPL", {{"VerifyScreenSavePwd", reinterpret_cast<FARPROC>(AcceptPassword)}});
}

inline DWORD WINAPI RecordChangePassword(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2)
{
    standin::Record("PwdChangePasswordA", {HandleValue(owner), reserved1, reserved2}, provider);
    return 1;
}

inline void AddPasswordChanger()
{
    standin::AddModule("MPR.DLL", {{"PwdChangePasswordA", reinterpret_cast<FARPROC>(RecordChangePassword)}});
}

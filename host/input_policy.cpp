// The saver's default message handling: input ends the run, and on the older
// family the system's password module may refuse the end.
#include "host/input_policy.h"

#include "host/entry.h"
#include "host/saver_window.h"

LONG CloseAllowed = 0;
bool InVerification = false;
HMODULE PasswordModule = nullptr;
VerifyScreenSavePwdFunction VerifyFunction = nullptr;
DWORD LastAskTick = NoVerificationYet;
POINT MouseReference = {0, 0};

static void PostClose(HWND window) {
    PostMessageA(window, WM_CLOSE, 0, 0);
}

static DWORD Distance(LONG from, LONG to) {
    // Unsigned difference: no overflow however far apart the two coordinates are.
    return to >= from ? static_cast<DWORD>(to) - static_cast<DWORD>(from)
                      : static_cast<DWORD>(from) - static_cast<DWORD>(to);
}

// The cursor position itself, not the message's coordinates, decides: some systems
// send WM_MOUSEMOVE without any movement when a window appears.
static void CloseOnRealMovement(HWND window) {
    POINT position = MouseReference;  // a failed read counts as no movement
    GetCursorPos(&position);
    DWORD moved = Distance(MouseReference.x, position.x) + Distance(MouseReference.y, position.y);
    if (moved > MoveThreshold) {
        PostClose(window);
        MouseReference = position;
    }
}

LRESULT CALLBACK SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!PreviewMode && CloseAllowed == 0) {
        if (message == WM_CLOSE) {
            if (OlderFamily && VerifyBeforeClose(window) == 0) {
                GetCursorPos(&MouseReference);
                return 0;
            }
        } else if (message == VerifyRequestMessage) {
            if (OlderFamily) {
                return VerifyFunction != nullptr ? VerifyFunction(window) : TRUE;
            }
        } else if (!InVerification) {
            switch (message) {
            case WM_SHOWWINDOW:
                if (wParam != 0) {
                    SetCursor(nullptr);
                }
                break;
            case WM_ACTIVATEAPP:
                if (wParam == 0) {
                    PostClose(window);
                }
                break;
            case WM_SETCURSOR:
                SetCursor(nullptr);
                return 1;
            case WM_POWER:
                if (wParam == PWR_CRITICALRESUME) {
                    PostClose(window);
                }
                break;
            case WM_KEYDOWN:
            case WM_SYSKEYDOWN:
            case WM_LBUTTONDOWN:
            case WM_RBUTTONDOWN:
            case WM_MBUTTONDOWN:
                PostClose(window);
                break;
            case WM_POWERBROADCAST:
                // A laptop reports its power state whenever the adapter or the battery
                // level changes; only events of the machine itself end the saver.
                if (wParam != PBT_APMPOWERSTATUSCHANGE && wParam != PBT_POWERSETTINGCHANGE) {
                    PostClose(window);
                }
                break;
            case WM_MOUSEMOVE:
                CloseOnRealMovement(window);
                break;
            default:
                break;
            }
        }
    }

    if (QueryCancelAutoPlayMessage != 0 && message == QueryCancelAutoPlayMessage) {
        PostClose(window);
        return VerifyFunction != nullptr ? 1 : 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LONG VerifyBeforeClose(HWND window) {
    if (InVerification) {
        return 0;
    }
    if (VerifyFunction == nullptr) {
        CloseAllowed = 1;
        return 1;
    }
    DWORD now = GetTickCount();
    // Unsigned subtraction keeps the interval right across the wrap of the tick count.
    if (LastAskTick != NoVerificationYet && now - LastAskTick < ReaskInterval) {
        return CloseAllowed;
    }

    InVerification = true;
    // Frames already due are dropped rather than drawn behind the password dialog.
    MSG pending;
    PeekMessageA(&pending, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    PeekMessageA(&pending, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    LRESULT accepted = SendMessageA(window, VerifyRequestMessage, 0, 0);
    CloseAllowed = static_cast<LONG>(accepted);
    InVerification = false;

    if (accepted == 0) {
        SetCursor(nullptr);
    }
    LastAskTick = GetTickCount();
    return CloseAllowed;
}

void LoadPasswordModule() {
    if (!OlderFamily) {
        return;
    }
    if (PasswordModule != nullptr) {
        UnloadPasswordModule();
    }

    HKEY desktop = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop) != ERROR_SUCCESS) {
        return;
    }
    // Cleared first: a value shorter than four bytes fills only the leading bytes.
    DWORD usePassword = 0;
    DWORD size = sizeof usePassword;
    if (RegQueryValueExA(desktop, "ScreenSaveUsePassword", nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(&usePassword), &size) == ERROR_SUCCESS &&
        usePassword != 0) {
        PasswordModule = LoadLibraryA("PASSWORD.CPL");
        if (PasswordModule != nullptr) {
            // Through the generic function type: FARPROC hides the export's real signature.
            VerifyFunction = reinterpret_cast<VerifyScreenSavePwdFunction>(
                reinterpret_cast<void (*)()>(GetProcAddress(PasswordModule, "VerifyScreenSavePwd")));
            if (VerifyFunction != nullptr) {
                SetSaverRunning(TRUE);
            } else {
                UnloadPasswordModule();
            }
        }
    }
    RegCloseKey(desktop);
}

void UnloadPasswordModule() {
    if (!OlderFamily || PasswordModule == nullptr) {
        return;
    }
    FreeLibrary(PasswordModule);
    PasswordModule = nullptr;
    if (VerifyFunction != nullptr) {
        VerifyFunction = nullptr;
        SetSaverRunning(FALSE);
    }
}

void SetSaverRunning(BOOL running) {
    if (!OlderFamily) {
        return;
    }
    UINT previous = 0;  // the old state is not needed
    SystemParametersInfoA(SPI_SCREENSAVERRUNNING, static_cast<UINT>(running), &previous, 0);
}

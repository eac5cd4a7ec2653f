// PASSWORD.CPL for the end-to-end tests only: stands in for the older family's password module.
// Every call is recorded in the log, and the answer comes from the test:
//   KELVO_VERIFY_ANSWERS   answers of the successive calls, e.g. "0,1" (the last one repeats; default 1)
//   KELVO_VERIFY_RELEASE   a file whose making ends the verification (at most a minute; without it,
//                          the call returns at once), so that the test gives its input meanwhile
//   KELVO_VERIFY_PUMP      1: dispatch the thread's messages meanwhile, as a modal dialog would;
//                          otherwise sleep, so that input waits in the queue until the call returns
#include <windows.h>

#include "standin_log.h"

namespace {

LONG calls = 0;

void Wait(bool pump)
{
    char release[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("KELVO_VERIFY_RELEASE", release, sizeof release);
    if (length == 0 || length >= sizeof release) return;
    DWORD begin = GetTickCount();
    while (GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES && GetTickCount() - begin < 60000) {
        if (!pump) {
            Sleep(10);
            continue;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

}  // namespace

extern "C" BOOL WINAPI VerifyScreenSavePwd(HWND window)
{
    LONG call = ++calls;
    DWORD tick = GetTickCount();
    DWORD windowThread = window ? GetWindowThreadProcessId(window, nullptr) : 0;
    standin_log::Line("verify call=%ld hwnd=%llu class=%s title=%s own_thread=%d visible=%d cursor=%llu tick=%lu", call,
                      probe::HandleValue(window), standin_log::WindowClass(window).c_str(),
                      standin_log::WindowTitle(window).c_str(),
                      windowThread == GetCurrentThreadId() ? 1 : 0, IsWindowVisible(window) ? 1 : 0,
                      probe::HandleValue(GetCursor()), tick);

    // A password dialog shows the pointer while it asks.
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    Wait(standin_log::Number("KELVO_VERIFY_PUMP", 0) == 1);

    BOOL answer = static_cast<BOOL>(standin_log::Answer("KELVO_VERIFY_ANSWERS", call, 1));
    standin_log::Line("verify-return call=%ld answer=%d tick=%lu", call, answer, GetTickCount());
    return answer;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    standin_log::ModuleEvent(instance, reason);
    return TRUE;
}

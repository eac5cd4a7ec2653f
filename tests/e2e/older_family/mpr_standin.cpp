// MPR.DLL for the end-to-end tests only: stands in for the older family's password-change entry.
// Every call is recorded in the log, and the test sets the behaviour:
//   KELVO_CHANGE_DELAY_MS  how long the password-change dialog lasts (default 0)
//   KELVO_CHANGE_RESULT    the value returned (default 0)
#include <windows.h>

#include "standin_log.h"

namespace {

LONG calls = 0;

}  // namespace

extern "C" DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2)
{
    LONG call = ++calls;
    DWORD tick = GetTickCount();
    standin_log::Line("change call=%ld provider=%s owner=%llu owner_class=%s reserved1=%lu reserved2=%lu "
                      "foreground=%llu tick=%lu",
                      call, probe::Encode(provider != nullptr ? provider : "(null)").c_str(), probe::HandleValue(owner),
                      standin_log::WindowClass(owner).c_str(),
                      static_cast<unsigned long>(reserved1), static_cast<unsigned long>(reserved2),
                      probe::HandleValue(GetForegroundWindow()), tick);
    Sleep(static_cast<DWORD>(standin_log::Number("KELVO_CHANGE_DELAY_MS", 0)));
    DWORD result = static_cast<DWORD>(standin_log::Number("KELVO_CHANGE_RESULT", 0));
    standin_log::Line("change-return call=%ld result=%lu tick=%lu", call, static_cast<unsigned long>(result),
                      GetTickCount());
    return result;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    standin_log::ModuleEvent(instance, reason);
    return TRUE;
}

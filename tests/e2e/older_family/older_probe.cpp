// kelvo-older-probe: small observations under Wine that the shared harness does not make.
//
//   kelvo-older-probe version               what GetVersionExA reports: "platform=1 major=4 minor=10"
//   kelvo-older-probe cursor                the foreground thread's cursor: "cursor handle=N showing=0|1 ..."
//   kelvo-older-probe kill PID              ends a process that a failed test left running
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Version()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        printf("failed error=%lu\n", GetLastError());
        return 1;
    }
    printf("platform=%lu major=%lu minor=%lu build=%lu size=%lu\n", version.dwPlatformId, version.dwMajorVersion,
           version.dwMinorVersion, version.dwBuildNumber, static_cast<unsigned long>(sizeof version));
    return 0;
}

int Cursor()
{
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    if (!GetCursorInfo(&info)) {
        printf("failed error=%lu\n", GetLastError());
        return 1;
    }
    printf("cursor handle=%llu showing=%d x=%ld y=%ld tick=%lu\n",
           static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(info.hCursor)),
           (info.flags & CURSOR_SHOWING) ? 1 : 0, info.ptScreenPos.x, info.ptScreenPos.y, GetTickCount());
    return 0;
}

int Kill(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    BOOL ended = process != nullptr && TerminateProcess(process, 9999);
    if (process != nullptr) CloseHandle(process);
    printf("killed %d\n", ended ? 1 : 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "version") == 0) return Version();
    if (argc >= 2 && strcmp(argv[1], "cursor") == 0) return Cursor();
    if (argc >= 3 && strcmp(argv[1], "kill") == 0) return Kill(static_cast<DWORD>(strtoul(argv[2], nullptr, 0)));
    printf("usage: kelvo-older-probe version | cursor | kill PID\n");
    return 2;
}

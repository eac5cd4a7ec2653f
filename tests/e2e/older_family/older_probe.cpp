// kelvo-older-probe: small observations under Wine that the shared harness does not make.
//
//   kelvo-older-probe version               what GetVersionExA reports: "platform=1 major=4 minor=10"
//   kelvo-older-probe message NAME          the id of a registered window message: "message=49xxx"
//   kelvo-older-probe cursor                the foreground thread's cursor: "cursor handle=N showing=0|1 ..."
//   kelvo-older-probe run EXE TAIL MS       starts "EXE" TAIL, waits at most MS milliseconds and prints
//                                           "exit code=N tick=T" with the full 32-bit exit code and the
//                                           tick count right after the exit was seen, or "running"
//                                           (the process is then ended)
//   kelvo-older-probe kill PID              ends a process that a failed test left running
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

int Message(const char* name)
{
    printf("message=%u\n", RegisterWindowMessageA(name));
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

int Run(const char* exe, const char* tail, DWORD timeout)
{
    std::string line = std::string("\"") + exe + "\"";
    if (*tail != '\0') line += std::string(" ") + tail;
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        printf("failed error=%lu\n", GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    printf("started pid=%lu tick=%lu\n", process.dwProcessId, GetTickCount());
    fflush(stdout);
    if (WaitForSingleObject(process.hProcess, timeout) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 9999);
        printf("running\n");
        return 0;
    }
    DWORD tick = GetTickCount();
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit code=%lu tick=%lu\n", static_cast<unsigned long>(code), static_cast<unsigned long>(tick));
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
    if (argc >= 3 && strcmp(argv[1], "message") == 0) return Message(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "cursor") == 0) return Cursor();
    if (argc >= 5 && strcmp(argv[1], "run") == 0)
        return Run(argv[2], argv[3], static_cast<DWORD>(strtoul(argv[4], nullptr, 0)));
    if (argc >= 3 && strcmp(argv[1], "kill") == 0) return Kill(static_cast<DWORD>(strtoul(argv[2], nullptr, 0)));
    printf("usage: kelvo-older-probe version | message NAME | cursor | run EXE TAIL MS | kill PID\n");
    return 2;
}

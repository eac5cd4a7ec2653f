// kelvo-bench: starts programs under Wine as the system starts a screen saver and measures them
// for tools/benchmark.py.
//
//   kelvo-bench first s|p ROUNDS EXE...   for each round and each program: start it full screen
//                                         (/s) or as a preview in the desktop window (/p HWND)
//                                         and print "first ROUND INDEX MS", the time from its
//                                         start to the first coloured pixel on the screen
//   kelvo-bench cpu EXE TAIL              start "EXE" TAIL, wait for its window, hook its thread
//                                         to count its frames, print "ready pid=PID"; then
//                                         answer "mark" with "frames N" and end it on "end"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr double FirstFrameTimeoutMs = 15000;

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool Start(const std::string& exe, const std::string& tail, PROCESS_INFORMATION& process)
{
    std::string line = "\"" + exe + "\" " + tail;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
}

void End(PROCESS_INFORMATION& process)
{
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// ---------------------------------------------------------------- the screen

// A copy of part of the screen, read back through a 32-bit top-down bitmap.
struct ScreenCopy {
    HDC screen = nullptr;
    HDC memory = nullptr;
    DWORD* pixels = nullptr;
    RECT area = {};
};

bool OpenCopy(ScreenCopy& copy, const RECT& area)
{
    copy.area = area;
    copy.screen = GetDC(nullptr);
    copy.memory = CreateCompatibleDC(copy.screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = area.right - area.left;
    info.bmiHeader.biHeight = -(area.bottom - area.top);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(copy.memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return false;
    SelectObject(copy.memory, bitmap);
    copy.pixels = static_cast<DWORD*>(bits);
    return true;
}

// True when the area shows a saturated colour: a glyph of the saver or the cell of the window
// program. Black, white, greys and the root window's pattern are not.
bool ShowsColour(ScreenCopy& copy)
{
    const int width = copy.area.right - copy.area.left;
    const int height = copy.area.bottom - copy.area.top;
    BitBlt(copy.memory, 0, 0, width, height, copy.screen, copy.area.left, copy.area.top, SRCCOPY);
    GdiFlush();
    const DWORD* pixel = copy.pixels;
    for (int i = width * height; i > 0; --i, ++pixel) {
        const int r = (*pixel >> 16) & 0xFF, g = (*pixel >> 8) & 0xFF, b = *pixel & 0xFF;
        int high = r > g ? r : g, low = r < g ? r : g;
        if (b > high) high = b;
        if (b < low) low = b;
        if (high >= 128 && high - low >= 96) return true;
    }
    return false;
}

// ---------------------------------------------------------------- first frame

int FirstFrames(bool preview, int rounds, int count, char** programs)
{
    // Under Wine a child of another process's window is not drawn on the screen, except a child of
    // the desktop window, which becomes a window of its own: the preview is started in that.
    HWND parent = preview ? GetDesktopWindow() : nullptr;
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ScreenCopy copy;
    if (!OpenCopy(copy, area)) return 1;

    char tail[64] = "/s";
    if (preview) snprintf(tail, sizeof tail, "/p %llu", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(parent)));

    for (int round = 0; round < rounds; ++round) {
        for (int index = 0; index < count; ++index) {
            // Start from a screen without colour.
            const double settle = NowMs();
            while (ShowsColour(copy) && NowMs() - settle < 5000) {
                Pump();
                Sleep(20);
            }
            PROCESS_INFORMATION process = {};
            const double began = NowMs();
            if (!Start(programs[index], tail, process)) {
                printf("first %d %d failed\n", round, index);
                fflush(stdout);
                continue;
            }
            double elapsed = -1;
            while (NowMs() - began < FirstFrameTimeoutMs) {
                Pump();
                if (ShowsColour(copy)) {
                    elapsed = NowMs() - began;
                    break;
                }
                Sleep(1);
            }
            End(process);
            if (elapsed < 0) printf("first %d %d timeout\n", round, index);
            else printf("first %d %d %.1f\n", round, index, elapsed);
            fflush(stdout);
            const double pause = NowMs();
            while (NowMs() - pause < 300) {
                Pump();
                Sleep(10);
            }
        }
    }
    return 0;
}

// ---------------------------------------------------------------- CPU time per frame

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM parameter)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int CountFrames(const char* exe, const char* tail)
{
    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), "KelvoBenchFrames");
    if (block == nullptr) return 1;
    volatile LONG* frames = static_cast<volatile LONG*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    if (frames == nullptr) return 1;

    char hookPath[MAX_PATH];
    GetModuleFileNameA(nullptr, hookPath, MAX_PATH);
    char* slash = strrchr(hookPath, '\\');
    if (slash == nullptr) return 1;
    strcpy(slash + 1, "kelvo-bench-hook.dll");
    HMODULE hookModule = LoadLibraryA(hookPath);
    HOOKPROC count = hookModule ? reinterpret_cast<HOOKPROC>(GetProcAddress(hookModule, "CountTimerMessages")) : nullptr;
    if (count == nullptr) {
        printf("error no hook library %s\n", hookPath);
        return 1;
    }

    PROCESS_INFORMATION process = {};
    if (!Start(exe, tail, process)) {
        printf("error start %lu\n", GetLastError());
        return 1;
    }
    WindowSearch search = {process.dwProcessId, nullptr};
    const double began = NowMs();
    while (search.found == nullptr && NowMs() - began < 15000) {
        EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
        Sleep(10);
    }
    if (search.found == nullptr) {
        printf("error no window\n");
        End(process);
        return 1;
    }
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, count, hookModule, GetWindowThreadProcessId(search.found, nullptr));
    if (hook == nullptr) {
        printf("error hook %lu\n", GetLastError());
        End(process);
        return 1;
    }
    printf("ready pid=%lu\n", process.dwProcessId);
    fflush(stdout);

    char line[64];
    while (fgets(line, sizeof line, stdin) != nullptr) {
        if (strncmp(line, "mark", 4) == 0) {
            printf("frames %ld\n", *frames);
            fflush(stdout);
        } else if (strncmp(line, "end", 3) == 0) {
            break;
        }
    }
    UnhookWindowsHookEx(hook);
    End(process);
    printf("ended\n");
    fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && strcmp(argv[1], "first") == 0)
        return FirstFrames(argv[2][0] == 'p', atoi(argv[3]), argc - 4, argv + 4);
    if (argc >= 4 && strcmp(argv[1], "cpu") == 0) return CountFrames(argv[2], argv[3]);
    fprintf(stderr, "usage: kelvo-bench first s|p ROUNDS EXE... | cpu EXE TAIL\n");
    return 2;
}

// kelvo-hardening-helper: the Windows side of the hardening tests under Wine.
//
//   kelvo-hardening-helper watch <pid> <interval-ms> <count>
//       What another process holds, sampled from outside it; one line per sample:
//       sample n=<i> ms=<since start> alive=<0|1> gdi_table=<used entries of its GDI handle table>
//              handles=<kernel handles> working=<working set bytes>
//       A value the system does not give is -1. Wine's GetGuiResources is a stub, so the GDI count
//       comes from the process's own GDI handle table, which its process environment block points
//       to, as on Windows.
//   kelvo-hardening-helper selftest
//       Creates 100 brushes in its own process and prints the table count before and after, to
//       show that the count sees GDI objects at all.
//   kelvo-hardening-helper parent <width> <height>
//       A popup window with a client area of exactly that size (an overlapped window would be
//       held to the minimum tracking size), for a preview parent. Prints "parent hwnd=<n>
//       client=<w>,<h>", then pumps its messages until a line "destroy" on standard input
//       destroys it (prints "destroyed") or the input ends.

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// One entry of the GDI handle table (64-bit layout): the object, its owner, a reuse count,
// the object type (0 for a free entry), flags, and a user-mode pointer.
#pragma pack(push, 1)
struct GdiHandleEntry {
    unsigned long long object;
    unsigned int owner;
    unsigned short unique;
    unsigned char type;
    unsigned char flags;
    unsigned long long user;
};
#pragma pack(pop)
static_assert(sizeof(GdiHandleEntry) == 24, "the 64-bit GDI handle entry is 24 bytes");

constexpr size_t GdiHandleCount = 0x10000;
// Offset of GdiSharedHandleTable in the 64-bit process environment block.
constexpr size_t GdiTableOffset = 0xF8;

typedef NTSTATUS(NTAPI* QueryProcessFunction)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

long long GdiTableEntries(HANDLE process)
{
#ifndef _WIN64
    // The table's layout and place above are the 64-bit ones; the long run watches the x64 build.
    (void)process;
    return -1;
#else
    static QueryProcessFunction query = reinterpret_cast<QueryProcessFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    if (query == nullptr) return -1;
    PROCESS_BASIC_INFORMATION basic{};
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return -1;
    unsigned long long table = 0;
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, static_cast<char*>(static_cast<void*>(basic.PebBaseAddress)) + GdiTableOffset,
                           &table, sizeof table, &got) ||
        table == 0)
        return -1;
    static std::vector<GdiHandleEntry> entries(GdiHandleCount);
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(table), entries.data(),
                           entries.size() * sizeof(GdiHandleEntry), &got))
        return -1;
    long long used = 0;
    for (size_t i = 0; i < got / sizeof(GdiHandleEntry); ++i)
        if (entries[i].type != 0) ++used;
    return used;
#endif
}

int Watch(DWORD pid, DWORD interval, int count)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        std::printf("error open %lu\n", GetLastError());
        return 1;
    }
    DWORD begin = GetTickCount();
    for (int n = 0; n < count; ++n) {
        if (n > 0) Sleep(interval);
        bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        long long working = GetProcessMemoryInfo(process, &memory, sizeof memory)
                                ? static_cast<long long>(memory.WorkingSetSize)
                                : -1;
        DWORD handles = 0;
        long long handleCount = GetProcessHandleCount(process, &handles) ? static_cast<long long>(handles) : -1;
        std::printf("sample n=%d ms=%lu alive=%d gdi_table=%lld handles=%lld working=%lld\n", n,
                    GetTickCount() - begin, alive ? 1 : 0, GdiTableEntries(process), handleCount, working);
        std::fflush(stdout);
        if (!alive) break;
    }
    CloseHandle(process);
    return 0;
}

int SelfTest()
{
    constexpr int Brushes = 100;
    long long before = GdiTableEntries(GetCurrentProcess());
    std::vector<HBRUSH> brushes;
    for (int i = 0; i < Brushes; ++i) brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
    long long after = GdiTableEntries(GetCurrentProcess());
    for (HBRUSH brush : brushes) DeleteObject(brush);
    long long released = GdiTableEntries(GetCurrentProcess());
    std::printf("selftest made=%d before=%lld after=%lld released=%lld\n", Brushes, before, after, released);
    return 0;
}

// ---------------------------------------------------------------- a preview parent

constexpr UINT DestroyRequest = WM_APP + 1;
const char ParentClass[] = "KelvoHardeningParent";
HWND parentWindow;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case DestroyRequest:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI ReadCommands(void*)
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD got = 0;
    std::vector<char> pending;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.insert(pending.end(), buffer, buffer + got);
        for (size_t end = 0; end < pending.size(); ++end) {
            if (pending[end] != '\n') continue;
            if (std::strncmp(pending.data(), "destroy", 7) == 0) PostMessageA(parentWindow, DestroyRequest, 0, 0);
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(end) + 1);
            end = static_cast<size_t>(-1);
        }
    }
    PostMessageA(parentWindow, DestroyRequest, 0, 0);
    return 0;
}

int Parent(int width, int height)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ParentProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    windowClass.lpszClassName = ParentClass;
    RegisterClassA(&windowClass);
    parentWindow = CreateWindowExA(0, ParentClass, "Kelvo preview parent", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                                   100, 100, width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (parentWindow == nullptr) {
        std::printf("error window %lu\n", GetLastError());
        return 1;
    }
    RECT client{};
    GetClientRect(parentWindow, &client);
    std::printf("parent hwnd=%llu client=%ld,%ld\n",
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(parentWindow)), client.right,
                client.bottom);
    std::fflush(stdout);
    CreateThread(nullptr, 0, ReadCommands, nullptr, 0, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    std::printf("destroyed\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "watch") == 0)
        return Watch(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0)),
                     static_cast<DWORD>(std::strtoul(argv[3], nullptr, 0)), std::atoi(argv[4]));
    if (argc >= 2 && std::strcmp(argv[1], "selftest") == 0) return SelfTest();
    if (argc >= 4 && std::strcmp(argv[1], "parent") == 0) return Parent(std::atoi(argv[2]), std::atoi(argv[3]));
    std::printf("usage: kelvo-hardening-helper watch <pid> <interval-ms> <count> | selftest | parent <w> <h>\n");
    return 2;
}

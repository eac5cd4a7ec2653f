// Control side of the stand-in: what a test scripts and what it reads back.
// Each area keeps its own header (surface.h, profile.h, dialog.h) beside this one.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace standin {

// One platform call as made: its name, its integer and handle arguments in order
// (handles as their values), and its first text argument, if any.
struct Call {
    std::string name;
    std::vector<int64_t> args;
    std::string text;
};
extern std::vector<Call> calls;

void Record(const std::string& name, std::vector<int64_t> args = {}, const std::string& text = "");
std::vector<Call> CallsNamed(const std::string& name);
int CountCalls(const std::string& name);
// Index in calls of the first call of that name at or after from; -1 when none.
int IndexOfCall(const std::string& name, int from = 0);

// Calls made to fail as the platform's would: by name, at every use (use 0) or only
// at the use-th one (from 1). Calls that give something back (ReleaseDC, DeleteObject,
// FreeLibrary, KillTimer, RegCloseKey, UnregisterPowerSettingNotification) never fail.
struct Failure {
    std::string name;
    int use;
};
extern std::vector<Failure> failures;
extern int failedCalls;  // calls that failed as asked, since the last Reset
// Records a call that can fail, and "<name>:failed" when it is to fail this time.
bool RecordFails(const std::string& name, std::vector<int64_t> args = {}, const std::string& text = "");

// On the older family (platformId VER_PLATFORM_WIN32_WINDOWS) most wide calls are stubs:
// there this records the call, sets ERROR_CALL_NOT_IMPLEMENTED and answers true, and the
// call then fails as the stub does. Elsewhere it does nothing and answers false.
bool WideStub(const std::string& name, std::vector<int64_t> args = {});

// Wide text as the stand-in keeps it, in UTF-8, and back.
std::string Utf8(const wchar_t* text);
std::wstring Wide(const std::string& utf8);

// Back to a fresh process: every scripted value, window, module, registry value,
// queued message and recorded call. Each area registers its own reset here.
void Reset();
void OnReset(std::function<void()> reset);

// Scripted values.
extern DWORD tickCount;                   // GetTickCount, unless tickSource is set
extern std::function<DWORD()> tickSource;  // called for every GetTickCount
extern POINT cursor;                      // GetCursorPos
extern std::string commandLine;           // GetCommandLineA
extern std::string moduleFileName;        // GetModuleFileNameA/W, UTF-8; empty makes them fail
extern bool versionFails;                 // GetVersionExA
extern DWORD platformId;                  // GetVersionExA, VER_PLATFORM_WIN32_NT by default
extern DWORD majorVersion, minorVersion;  // GetVersionExA on the newer family, 10.0 by default
extern HWND foregroundWindow;             // GetForegroundWindow
extern RECT screen;                       // clip box of the screen's device context

// Windows. Handles are small numbers; a window made by the test has no procedure
// and gets DefWindowProcA.
struct Window {
    HWND handle = nullptr;
    std::string className;
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
    WNDPROC procedure = nullptr;
    bool alive = true;
    bool hung = false;  // its thread has stopped answering: sends to it never return
};
struct RegisteredClass {
    WNDCLASSA record;
    std::string name;
};
extern std::vector<Window> windows;
extern std::vector<RegisteredClass> classes;
HWND AddWindow(int width, int height, const std::string& className = "TestWindow",
               const std::string& title = "", HWND parent = nullptr);
Window* FindWindowRecord(HWND window);

// Messages posted and not yet taken, in order (PostMessageA, PostQuitMessage).
extern std::vector<MSG> posted;
// True while SendMessageW delivers, so a control can tell which interface sent a message.
extern bool sendingWide;
// Called by GetMessageA when the queue is empty; it may post. If the queue is still
// empty, GetMessageA records "GetMessageA:empty" and returns WM_QUIT with wParam -2
// so that a test loop cannot hang.
extern std::function<void()> idle;
struct Timer {
    HWND window;
    UINT_PTR id;
    UINT elapse;
};
extern std::vector<Timer> timers;

// Modules that LoadLibraryA can find by name (case-insensitive); GetModuleHandleA
// finds only the ones already loaded.
struct Module {
    std::string name;
    std::map<std::string, FARPROC> exports;
    bool loaded = false;
    int references = 0;
};
extern std::vector<Module> modules;
HMODULE AddModule(const std::string& name, std::map<std::string, FARPROC> exports, bool loaded = false);
Module* FindModuleRecord(HMODULE module);

// "USER32.DLL" as Windows Vista and later have it, loaded, with the display-state
// registration calls; each registration made is kept, live until it is undone.
struct PowerNotification {
    HWND window;
    GUID setting;
    bool live;
};
extern std::vector<PowerNotification> powerNotifications;
HMODULE AddPowerSettingCalls();

// Registry under HKEY_CURRENT_USER: key path -> value name -> stored bytes.
extern std::map<std::string, std::map<std::string, std::vector<BYTE>>> registry;

// ExitProcess records its code here and, when set, jumps to exitJump (a jmp_buf*);
// otherwise it ends the test process with that code.
extern void* exitJump;
extern UINT exitCode;

}  // namespace standin

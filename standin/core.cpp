// Stand-in for the kernel, window, message, module and registry calls.
#include "standin.h"

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace standin {

std::vector<Call> calls;
std::vector<Failure> failures;
int failedCalls;
std::map<std::string, int> uses;
std::vector<PowerNotification> powerNotifications;
DWORD majorVersion, minorVersion;
DWORD tickCount;
std::function<DWORD()> tickSource;
POINT cursor;
std::string commandLine;
std::string moduleFileName;
bool versionFails;
DWORD platformId;
DWORD lastError;
HWND foregroundWindow;
RECT screen;
std::vector<Window> windows;
std::vector<RegisteredClass> classes;
std::vector<MSG> posted;
bool sendingWide;
std::function<void()> idle;
std::vector<Timer> timers;
// A thread timer's tick is handed out once each time the queue runs dry, so a loop
// that waits on it still ends when nothing else happens.
bool threadTickGiven;
constexpr UINT_PTR FirstThreadTimer = 0x7F00;
std::vector<Module> modules;
std::map<std::string, std::map<std::string, std::vector<BYTE>>> registry;
void* exitJump;
UINT exitCode;

std::string Utf8(const wchar_t* text) {
    std::string utf8;
    for (; text != nullptr && *text != L'\0'; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

// Bytes that are no UTF-8 sequence pass through one character each.
std::wstring Wide(const std::string& utf8) {
    std::wstring wide;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (length == 1 || i + length > utf8.size()) {
            wide += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        uint32_t c = lead & (0x3F >> (length - 1));
        for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        wide += static_cast<wchar_t>(c);
        i += length;
    }
    return wide;
}

namespace {

std::vector<std::function<void()>>& Resets() {
    static std::vector<std::function<void()>> resets;
    return resets;
}

LPTOP_LEVEL_EXCEPTION_FILTER exceptionFilter;
std::map<std::string, UINT> registeredMessages;

constexpr uintptr_t FirstWindow = 0x10010;
constexpr uintptr_t FirstModule = 0x7100000;
constexpr uintptr_t OpenKeyBase = 0x5000;
std::vector<std::string> openKeys;

int64_t Value(const void* handle) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)); }

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Text(LPCSTR text) {
    if (text == nullptr) return "";
    if (reinterpret_cast<uintptr_t>(text) < 0x10000) return "#" + std::to_string(reinterpret_cast<uintptr_t>(text));
    return text;
}

void DestroyTree(HWND window);

bool Alive(HWND window) {
    Window* record = FindWindowRecord(window);
    return record != nullptr && record->alive;
}

}  // namespace

void Record(const std::string& name, std::vector<int64_t> args, const std::string& text) {
    calls.push_back(Call{name, std::move(args), text});
}

bool RecordFails(const std::string& name, std::vector<int64_t> args, const std::string& text) {
    Record(name, std::move(args), text);
    const int use = ++uses[name];
    for (const Failure& failure : failures) {
        if (failure.name == name && (failure.use == 0 || failure.use == use)) {
            Record(name + ":failed");
            ++failedCalls;
            return true;
        }
    }
    return false;
}

std::vector<Call> CallsNamed(const std::string& name) {
    std::vector<Call> found;
    for (const Call& call : calls)
        if (call.name == name) found.push_back(call);
    return found;
}

int CountCalls(const std::string& name) { return static_cast<int>(CallsNamed(name).size()); }

int IndexOfCall(const std::string& name, int from) {
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < calls.size(); ++i)
        if (calls[i].name == name) return static_cast<int>(i);
    return -1;
}

void OnReset(std::function<void()> reset) { Resets().push_back(std::move(reset)); }

void Reset() {
    calls.clear();
    failures.clear();
    failedCalls = 0;
    uses.clear();
    powerNotifications.clear();
    majorVersion = 10;
    minorVersion = 0;
    tickCount = 0;
    tickSource = nullptr;
    cursor = POINT{0, 0};
    commandLine.clear();
    moduleFileName = "C:\\Savers\\kelvo.scr";
    versionFails = false;
    platformId = VER_PLATFORM_WIN32_NT;
    lastError = 0;
    foregroundWindow = nullptr;
    screen = RECT{0, 0, 1024, 768};
    windows.clear();
    classes.clear();
    posted.clear();
    sendingWide = false;
    idle = nullptr;
    timers.clear();
    threadTickGiven = false;
    modules.clear();
    registry.clear();
    exitJump = nullptr;
    exitCode = 0;
    exceptionFilter = nullptr;
    registeredMessages.clear();
    openKeys.clear();
    for (auto& reset : Resets()) reset();
}

HWND AddWindow(int width, int height, const std::string& className, const std::string& title, HWND parent) {
    Window window;
    window.handle = reinterpret_cast<HWND>(FirstWindow + 4 * windows.size());
    window.className = className;
    window.title = title;
    window.width = width;
    window.height = height;
    window.parent = parent;
    window.style = parent ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    windows.push_back(window);
    return window.handle;
}

Window* FindWindowRecord(HWND handle) {
    for (Window& window : windows)
        if (window.handle == handle) return &window;
    return nullptr;
}

HMODULE AddModule(const std::string& name, std::map<std::string, FARPROC> exports, bool loaded) {
    modules.push_back(Module{name, std::move(exports), loaded, loaded ? 1 : 0});
    return reinterpret_cast<HMODULE>(FirstModule + 0x10000 * (modules.size() - 1));
}

Module* FindModuleRecord(HMODULE module) {
    uintptr_t value = reinterpret_cast<uintptr_t>(module);
    if (value < FirstModule || (value - FirstModule) % 0x10000 != 0) return nullptr;
    size_t index = (value - FirstModule) / 0x10000;
    return index < modules.size() ? &modules[index] : nullptr;
}

namespace {

LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return 0;
    if (record->procedure == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    return record->procedure(window, message, wParam, lParam);
}

void DestroyTree(HWND window) {
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return;
    Deliver(window, WM_DESTROY, 0, 0);
    for (size_t i = 0; i < windows.size(); ++i)
        if (windows[i].parent == window) DestroyTree(windows[i].handle);
    record = FindWindowRecord(window);
    record->alive = false;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == window; }),
                 timers.end());
}

}  // namespace
}  // namespace standin

using namespace standin;

// ---- KERNEL32

DWORD WINAPI GetTickCount() {
    DWORD now = tickSource ? tickSource() : tickCount;
    Record("GetTickCount", {now});
    return now;
}

LPSTR WINAPI GetCommandLineA() {
    Record("GetCommandLineA");
    return commandLine.data();
}

void WINAPI GetStartupInfoA(STARTUPINFOA* info) {
    Record("GetStartupInfoA", {info->dwFlags});
    std::memset(info, 0, sizeof *info);
    info->cb = sizeof *info;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (RecordFails("GetModuleHandleA", {}, Text(name))) return nullptr;
    if (name == nullptr) return reinterpret_cast<HMODULE>(0x400000);
    for (size_t i = 0; i < modules.size(); ++i)
        if (modules[i].loaded && SameText(modules[i].name, name))
            return reinterpret_cast<HMODULE>(FirstModule + 0x10000 * i);
    return nullptr;
}

namespace standin {

bool WideStub(const std::string& name, std::vector<int64_t> args) {
    if (platformId != VER_PLATFORM_WIN32_WINDOWS) return false;
    Record(name, std::move(args));
    lastError = ERROR_CALL_NOT_IMPLEMENTED;
    return true;
}

}  // namespace standin

DWORD WINAPI GetLastError() { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (RecordFails("GetModuleFileNameA", {Value(module), size})) return 0;
    if (moduleFileName.empty() || size == 0) return 0;
    // Like the platform: a path that does not fit is cut, NUL-terminated, and the
    // result is the buffer size.
    if (moduleFileName.size() >= size) {
        std::memcpy(buffer, moduleFileName.data(), size - 1);
        buffer[size - 1] = '\0';
        return size;
    }
    std::memcpy(buffer, moduleFileName.c_str(), moduleFileName.size() + 1);
    return static_cast<DWORD>(moduleFileName.size());
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    if (WideStub("GetModuleFileNameW", {Value(module), size})) return 0;
    Record("GetModuleFileNameW", {Value(module), size});
    const std::wstring path = Wide(moduleFileName);
    if (path.empty() || size == 0) return 0;
    if (path.size() >= size) {
        std::wmemcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = L'\0';
        return size;
    }
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (RecordFails("LoadLibraryA", {}, Text(name))) return nullptr;
    for (size_t i = 0; i < modules.size(); ++i) {
        if (SameText(modules[i].name, name)) {
            modules[i].loaded = true;
            ++modules[i].references;
            return reinterpret_cast<HMODULE>(FirstModule + 0x10000 * i);
        }
    }
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (RecordFails("GetProcAddress", {Value(module)}, Text(name))) return nullptr;
    Module* record = FindModuleRecord(module);
    if (record == nullptr || !record->loaded) return nullptr;
    auto found = record->exports.find(Text(name));
    return found == record->exports.end() ? nullptr : found->second;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    Record("FreeLibrary", {Value(module)});
    Module* record = FindModuleRecord(module);
    if (record == nullptr || record->references == 0) return FALSE;
    if (--record->references == 0) record->loaded = false;
    return TRUE;
}

BOOL WINAPI GetVersionExA(OSVERSIONINFOA* info) {
    if (RecordFails("GetVersionExA", {info->dwOSVersionInfoSize})) return FALSE;
    if (versionFails || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
    info->dwMajorVersion = platformId == VER_PLATFORM_WIN32_WINDOWS ? 4 : majorVersion;
    info->dwMinorVersion = platformId == VER_PLATFORM_WIN32_WINDOWS ? 10 : minorVersion;
    info->dwBuildNumber = 0;
    info->dwPlatformId = platformId;
    info->szCSDVersion[0] = '\0';
    return TRUE;
}

void WINAPI ExitProcess(UINT code) {
    Record("ExitProcess", {code});
    exitCode = code;
    if (exitJump != nullptr) std::longjmp(*static_cast<std::jmp_buf*>(exitJump), 1);
    std::fflush(nullptr);
    std::_Exit(static_cast<int>(code));
}

void WINAPI Sleep(DWORD milliseconds) { Record("Sleep", {milliseconds}); }

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    Record("SetUnhandledExceptionFilter", {Value(reinterpret_cast<void*>(filter))});
    LPTOP_LEVEL_EXCEPTION_FILTER previous = exceptionFilter;
    exceptionFilter = filter;
    return previous;
}

LONG WINAPI UnhandledExceptionFilter(EXCEPTION_POINTERS* pointers) {
    Record("UnhandledExceptionFilter", {Value(pointers)});
    return exceptionFilter ? exceptionFilter(pointers) : EXCEPTION_EXECUTE_HANDLER;
}

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

LPSTR WINAPI lstrcatA(LPSTR to, LPCSTR from) { return std::strcat(to, from); }
LPWSTR WINAPI lstrcatW(LPWSTR to, LPCWSTR from) { return WideStub("lstrcatW") ? nullptr : std::wcscat(to, from); }

int WINAPI CompareStringA(DWORD locale, DWORD flags, LPCSTR first, int firstLength, LPCSTR second, int secondLength) {
    std::string a = firstLength < 0 ? std::string(first) : std::string(first, static_cast<size_t>(firstLength));
    std::string b = secondLength < 0 ? std::string(second) : std::string(second, static_cast<size_t>(secondLength));
    if (RecordFails("CompareStringA", {locale, flags}, a)) return 0;
    bool same = (flags & NORM_IGNORECASE) ? SameText(a, b) : a == b;
    return same ? CSTR_EQUAL : (a < b ? CSTR_EQUAL - 1 : CSTR_EQUAL + 1);
}

// Code page 932: lead bytes 0x81..0x9F and 0xE0..0xFC start a two-byte character.
LPSTR WINAPI CharNextA(LPCSTR position) {
    unsigned char byte = static_cast<unsigned char>(*position);
    if (byte == 0) return const_cast<LPSTR>(position);
    bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    if (lead && position[1] != '\0') return const_cast<LPSTR>(position + 2);
    return const_cast<LPSTR>(position + 1);
}

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    // The platform's limit is 1024 characters.
    int written = std::vsnprintf(buffer, 1024, format, arguments);
    va_end(arguments);
    Record("wsprintfA", {}, buffer);
    return written;
}

int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    if (WideStub("wsprintfW")) return 0;
    va_list arguments;
    va_start(arguments, format);
    int written = std::vswprintf(buffer, 1024, format, arguments);
    va_end(arguments);
    Record("wsprintfW", {}, Utf8(buffer));
    return written;
}

// ---- USER32: windows

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
    if (RecordFails("RegisterClassA", {windowClass->style}, Text(windowClass->lpszClassName))) return 0;
    for (const RegisteredClass& existing : classes)
        if (SameText(existing.name, Text(windowClass->lpszClassName))) return 0;
    classes.push_back(RegisteredClass{*windowClass, Text(windowClass->lpszClassName)});
    classes.back().record.lpszClassName = nullptr;
    return static_cast<ATOM>(0xC000 + classes.size());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter) {
    if (RecordFails("CreateWindowExA",
           {exStyle, style, x, y, width, height, Value(parent), Value(menu), Value(instance), Value(parameter)},
           Text(className) + "|" + Text(title))) return nullptr;
    const RegisteredClass* found = nullptr;
    for (const RegisteredClass& registered : classes)
        if (SameText(registered.name, Text(className))) found = &registered;
    if (found == nullptr) return nullptr;
    if (parent != nullptr && !Alive(parent)) return nullptr;
    HWND handle = AddWindow(width, height, Text(className), Text(title), parent);
    Window* record = FindWindowRecord(handle);
    record->style = style;
    record->exStyle = exStyle;
    record->x = x;
    record->y = y;
    record->procedure = found->record.lpfnWndProc;
    if (Deliver(handle, WM_CREATE, 0, 0) == -1) {
        DestroyTree(handle);
        return nullptr;
    }
    return handle;
}

BOOL WINAPI DestroyWindow(HWND window) {
    if (RecordFails("DestroyWindow", {Value(window)})) return FALSE;
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return FALSE;
    DestroyTree(window);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
    if (RecordFails("IsWindow", {Value(window)})) return FALSE;
    return Alive(window);
}

HWND WINAPI GetParent(HWND window) {
    if (RecordFails("GetParent", {Value(window)})) return nullptr;
    Window* record = FindWindowRecord(window);
    return record ? record->parent : nullptr;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR title) {
    if (RecordFails("FindWindowA", {}, Text(className) + "|" + Text(title))) return nullptr;
    for (const Window& window : windows)
        if (window.alive && window.parent == nullptr && (className == nullptr || SameText(window.className, className)) &&
            (title == nullptr || window.title == title))
            return window.handle;
    return nullptr;
}

HWND WINAPI GetForegroundWindow() {
    if (RecordFails("GetForegroundWindow")) return nullptr;
    return foregroundWindow;
}

BOOL WINAPI SetForegroundWindow(HWND window) {
    if (RecordFails("SetForegroundWindow", {Value(window)})) return FALSE;
    if (!Alive(window)) return FALSE;
    foregroundWindow = window;
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    if (RecordFails("GetClientRect", {Value(window)})) return FALSE;
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return FALSE;
    *rect = RECT{0, 0, record->width, record->height};
    return TRUE;
}

// ---- USER32: messages

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Record("DefWindowProcA", {Value(window), message, static_cast<int64_t>(wParam), lParam});
    if (message == WM_CLOSE) DestroyTree(window);
    return 0;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (RecordFails("SendMessageA", {Value(window), message, static_cast<int64_t>(wParam), lParam})) return 0;
    Window* record = FindWindowRecord(window);
    // The sender would wait for good; here the test sees the call and goes on.
    if (record != nullptr && record->hung) {
        Record("SendMessageA:hung");
        return 0;
    }
    bool outer = sendingWide;
    sendingWide = false;
    LRESULT result = Deliver(window, message, wParam, lParam);
    sendingWide = outer;
    return result;
}

// A hung window keeps the sender waiting until the timeout, or not at all with SMTO_ABORTIFHUNG.
LRESULT WINAPI SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                                   PDWORD_PTR result) {
    if (RecordFails("SendMessageTimeoutA", {Value(window), message, static_cast<int64_t>(wParam), lParam, flags, timeout}))
        return 0;
    Window* record = FindWindowRecord(window);
    if (record == nullptr || !record->alive) return 0;
    if (record->hung) {
        if (!(flags & SMTO_ABORTIFHUNG)) tickCount += timeout;
        return 0;
    }
    LRESULT answer = SendMessageA(window, message, wParam, lParam);
    if (result != nullptr) *result = static_cast<DWORD_PTR>(answer);
    return 1;
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (WideStub("SendMessageW", {Value(window), message, static_cast<int64_t>(wParam), lParam})) return 0;
    Record("SendMessageW", {Value(window), message, static_cast<int64_t>(wParam), lParam});
    bool outer = sendingWide;
    sendingWide = true;
    LRESULT result = Deliver(window, message, wParam, lParam);
    sendingWide = outer;
    return result;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (RecordFails("PostMessageA", {Value(window), message, static_cast<int64_t>(wParam), lParam})) return FALSE;
    Window* record = FindWindowRecord(window);
    if (window != nullptr && (record == nullptr || !record->alive)) return FALSE;
    posted.push_back(MSG{window, message, wParam, lParam, 0, cursor});
    return TRUE;
}

void WINAPI PostQuitMessage(int code) {
    Record("PostQuitMessage", {code});
    posted.push_back(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(code), 0, 0, cursor});
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT first, UINT last) {
    if (RecordFails("GetMessageA", {Value(window), first, last})) return -1;
    if (posted.empty() && idle) idle();
    if (posted.empty() && !threadTickGiven) {
        for (const Timer& timer : timers)
            if (timer.window == nullptr) {
                threadTickGiven = true;
                *message = MSG{nullptr, WM_TIMER, timer.id, 0, 0, cursor};
                return TRUE;
            }
    }
    if (posted.empty()) {
        Record("GetMessageA:empty");
        *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(-2), 0, 0, cursor};
        return FALSE;
    }
    threadTickGiven = false;
    *message = posted.front();
    posted.erase(posted.begin());
    return message->message != WM_QUIT;
}

BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove) {
    if (RecordFails("PeekMessageA", {Value(window), first, last, remove})) return FALSE;
    for (size_t i = 0; i < posted.size(); ++i) {
        const MSG& candidate = posted[i];
        bool windowMatches = window == nullptr || candidate.hwnd == window;
        bool rangeMatches = (first == 0 && last == 0) || (candidate.message >= first && candidate.message <= last);
        if (windowMatches && rangeMatches) {
            *message = candidate;
            if (remove & PM_REMOVE) posted.erase(posted.begin() + static_cast<long>(i));
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* message) {
    Record("TranslateMessage", {message->message});
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* message) {
    Record("DispatchMessageA", {Value(message->hwnd), message->message});
    if (message->hwnd == nullptr) return 0;
    return Deliver(message->hwnd, message->message, message->wParam, message->lParam);
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    if (RecordFails("RegisterWindowMessageA", {}, Text(name))) return 0;
    auto found = registeredMessages.find(Text(name));
    if (found != registeredMessages.end()) return found->second;
    UINT id = 0xC100 + static_cast<UINT>(registeredMessages.size());
    registeredMessages[Text(name)] = id;
    return id;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, void* callback) {
    if (RecordFails("SetTimer", {Value(window), static_cast<int64_t>(id), elapse, Value(callback)})) return 0;
    if (window == nullptr) {
        // A thread timer: the platform picks its id.
        timers.push_back(Timer{nullptr, FirstThreadTimer + timers.size(), elapse});
        return timers.back().id;
    }
    if (!Alive(window)) return 0;
    for (Timer& timer : timers)
        if (timer.window == window && timer.id == id) {
            timer.elapse = elapse;
            return id;
        }
    timers.push_back(Timer{window, id, elapse});
    return id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    Record("KillTimer", {Value(window), static_cast<int64_t>(id)});
    size_t before = timers.size();
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.window == window && t.id == id; }),
                 timers.end());
    return timers.size() != before;
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
    if (RecordFails("GetCursorPos", {cursor.x, cursor.y})) return FALSE;
    *point = cursor;
    return TRUE;
}

HCURSOR WINAPI SetCursor(HCURSOR cursorHandle) {
    Record("SetCursor", {Value(cursorHandle)});
    return nullptr;
}

// The program's resources hold no icon 100, so the platform finds none.
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    Record("LoadIconA", {Value(instance), Value(name)});
    return nullptr;
}

BOOL WINAPI SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT winIni) {
    if (RecordFails("SystemParametersInfoA", {action, uiParam, pvParam != nullptr, winIni})) return FALSE;
    if (action == SPI_SCREENSAVERRUNNING && pvParam != nullptr) *static_cast<UINT*>(pvParam) = 0;
    return TRUE;
}

// ---- USER32: display-state notifications, which only Vista and later have

namespace {

HPOWERNOTIFY WINAPI RegisterPowerSettingNotification(HANDLE recipient, LPCGUID setting, DWORD flags) {
    if (RecordFails("RegisterPowerSettingNotification", {Value(recipient), flags})) return nullptr;
    if (setting == nullptr || flags != DEVICE_NOTIFY_WINDOW_HANDLE || !Alive(static_cast<HWND>(recipient))) return nullptr;
    powerNotifications.push_back(PowerNotification{static_cast<HWND>(recipient), *setting, true});
    return reinterpret_cast<HPOWERNOTIFY>(powerNotifications.size());
}

BOOL WINAPI UnregisterPowerSettingNotification(HPOWERNOTIFY notification) {
    Record("UnregisterPowerSettingNotification", {Value(notification)});
    size_t index = reinterpret_cast<size_t>(notification);
    if (index == 0 || index > powerNotifications.size() || !powerNotifications[index - 1].live) return FALSE;
    powerNotifications[index - 1].live = false;
    return TRUE;
}

}  // namespace

namespace standin {

HMODULE AddPowerSettingCalls() {
    return AddModule("USER32.DLL",
                     {{"RegisterPowerSettingNotification", reinterpret_cast<FARPROC>(RegisterPowerSettingNotification)},
                      {"UnregisterPowerSettingNotification", reinterpret_cast<FARPROC>(UnregisterPowerSettingNotification)}},
                     true);
}

}  // namespace standin

// ---- ADVAPI32

LSTATUS WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, HKEY* result) {
    if (RecordFails("RegOpenKeyA", {Value(key)}, Text(subKey))) return ERROR_ACCESS_DENIED;
    if (key != HKEY_CURRENT_USER) return ERROR_FILE_NOT_FOUND;
    for (const auto& entry : registry) {
        if (SameText(entry.first, Text(subKey))) {
            openKeys.push_back(entry.first);
            *result = reinterpret_cast<HKEY>(OpenKeyBase + openKeys.size());
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (RecordFails("RegQueryValueExA", {Value(key), Value(reserved), Value(type), size ? *size : -1}, Text(name))) return ERROR_ACCESS_DENIED;
    uintptr_t index = reinterpret_cast<uintptr_t>(key) - OpenKeyBase;
    if (index == 0 || index > openKeys.size()) return ERROR_FILE_NOT_FOUND;
    const auto& values = registry[openKeys[index - 1]];
    for (const auto& value : values) {
        if (!SameText(value.first, Text(name))) continue;
        if (type) *type = 4;
        DWORD stored = static_cast<DWORD>(value.second.size());
        if (data != nullptr && size != nullptr && stored > *size) {
            *size = stored;
            return ERROR_MORE_DATA;
        }
        if (data != nullptr && stored != 0) std::memcpy(data, value.second.data(), stored);
        if (size) *size = stored;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    Record("RegCloseKey", {Value(key)});
    return ERROR_SUCCESS;
}

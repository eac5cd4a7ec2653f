// kelvo-harness: plays the system's screen-saver machinery under Wine for the end-to-end tests.
//
//   kelvo-harness run <exe> <tail> [timeout-ms]   start "<exe>" <tail>, wait, print "exit ..." as wait
//                                                 does (ending it after the time, "running"); with
//                                                 KELVO_CHILD_WINEDEBUG set, exe runs with that WINEDEBUG
//   kelvo-harness version                         what GetVersionExA reports, "platform=1" for the older family
//   kelvo-harness serve                           read commands from standard input, one per line
//
// In serve mode the harness owns windows (preview parents, dialog owners) and keeps pumping their
// messages while it waits, as the system's own control panel does. Every command answers with zero
// or more lines and then a line holding a single ".". Arguments are separated by blanks; an argument
// may be quoted with double quotes and use the escapes \\ \" and \xHH, so that a command tail
// can carry any byte. Texts that the harness reports (titles, classes, control texts) are UTF-8,
// percent-encoded so that one value never holds a blank.
//
// Commands (WINDOW: a harness window's name, "desktop", or a handle in decimal; PROCESS: a name
// given at start; in a tail, %NAME% becomes that window's handle in decimal):
//   window NAME W H [X Y]        a top-level window with a client area of W x H, made foreground
//   destroy WINDOW | activate WINDOW (until it is in front, at most 2 s) | describe WINDOW
//   start PROCESS EXE TAIL       CreateProcess with the command line "EXE" TAIL
//   startw PROCESS EXE TAIL      the same with EXE and TAIL in UTF-8, through CreateProcessW
//   startu PROCESS EXE TAIL      CreateProcess of EXE with the command line EXE TAIL, unquoted
//   wait PROCESS MS              its exit code as a 32-bit unsigned number, and the windows it made
//   kill PROCESS | kill PID      (PID: a process the harness did not start)
//   waitwindow PROCESS CLASS MS  a visible top-level window of the process ("*": any class), with
//                                "life" the time from the process's start to the window seen
//   waitchild WINDOW CLASS MS    a visible child of the window
//   waitgone WINDOW MS           until the window is hidden or destroyed
//   children WINDOW              its direct children, each with its control id and place
//   find CLASS TITLE             FindWindowA ("-": null)
//   send WINDOW MSG WPARAM LPARAM | post WINDOW MSG WPARAM LPARAM (MSG: a number or the name of a
//                                registered message) | help WINDOW
//   display WINDOW STATE         the system's display-state change (0 off, 1 on, 2 dimmed), as
//                                WM_POWERBROADCAST with a POWERBROADCAST_SETTING in the window's process
//   events WINDOW                WM_HELP and WM_CONTEXTMENU that reached a harness window
//   shortcut LINK                the target and arguments of a shell link (LINK in UTF-8)
//   screen                       the primary screen's size as this process sees it now, and the
//                                screen DC's clip box
//   screen monitors              each monitor's rect (left,top,right,bottom), then the virtual screen's
//                                origin and size
//   cursor                       the foreground thread's cursor: its handle, whether it shows, the tick,
//                                the top-level window under it, the last input's tick
//   acp | quit                   the code pages; the end
// A window is described with its X window ("x", 0 while it has none): Wine's X driver keeps it in
// a window property.

#include <windows.h>
#include <shlobj.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "probe_text.h"

namespace {

// ---------------------------------------------------------------- output

void Write(const std::string& text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Line(const char* format, ...)
{
    char buffer[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string text = buffer;
    text += '\n';
    Write(text);
}

void EndReply() { Write(".\n"); }

using probe::ClassOf;
using probe::Encode;
using probe::HandleValue;

// ---------------------------------------------------------------- clock

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

// ---------------------------------------------------------------- harness state

struct WindowEvents {
    int helpCount = 0;
    unsigned long long helpWParam = 0;
    int contextMenuCount = 0;
    unsigned long long contextMenuWParam = 0;
    unsigned long long contextMenuLParam = 0;
};

struct Process {
    PROCESS_INFORMATION info{};
    double startMs = 0;
    bool finished = false;
    DWORD exitCode = 0;
    double exitMs = 0;
    DWORD exitTick = 0;  // the system's tick count when the end was seen, the clock of Wine's traces
    std::map<HWND, std::string> seenWindows;  // every top-level window of the process seen so far, with its class
};

std::map<std::string, HWND> namedWindows;
std::map<HWND, WindowEvents> windowEvents;
std::map<std::string, Process> processes;

const char HarnessClass[] = "KelvoHarnessWindow";

LRESULT CALLBACK HarnessWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_HELP: {
        WindowEvents& events = windowEvents[window];
        events.helpCount++;
        events.helpWParam = static_cast<unsigned long long>(wParam);
        return 1;
    }
    case WM_CONTEXTMENU: {
        WindowEvents& events = windowEvents[window];
        events.contextMenuCount++;
        events.contextMenuWParam = static_cast<unsigned long long>(wParam);
        events.contextMenuLParam = static_cast<unsigned long long>(lParam);
        return 0;
    }
    case WM_CLOSE:
        return 0;  // only the harness's "destroy" command ends its windows
    case WM_ERASEBKGND: {
        // A mid grey, so that a screenshot tells the harness's window from the saver's black.
        RECT area;
        GetClientRect(window, &area);
        HBRUSH brush = CreateSolidBrush(RGB(128, 128, 128));
        FillRect(reinterpret_cast<HDC>(wParam), &area, brush);
        DeleteObject(brush);
        return 1;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterHarnessClass()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = HarnessWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = HarnessClass;
    RegisterClassA(&windowClass);
}

// Records the top-level windows of every running process, so that a test can tell whether a
// process made any window during its short life.
BOOL CALLBACK ObserveWindow(HWND window, LPARAM)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    for (auto& entry : processes) {
        Process& process = entry.second;
        if (!process.finished && process.info.dwProcessId == processId && !process.seenWindows.count(window)) {
            process.seenWindows[window] = ClassOf(window);
        }
    }
    return TRUE;
}

void ObserveProcesses()
{
    bool anyRunning = false;
    for (auto& entry : processes) {
        Process& process = entry.second;
        if (process.finished) continue;
        if (WaitForSingleObject(process.info.hProcess, 0) == WAIT_OBJECT_0) {
            process.finished = true;
            GetExitCodeProcess(process.info.hProcess, &process.exitCode);
            process.exitMs = NowMs();
            process.exitTick = GetTickCount();
        } else {
            anyRunning = true;
        }
    }
    if (anyRunning) EnumWindows(ObserveWindow, 0);
}

void DispatchPending()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Pumps the harness's messages and watches the processes until done() holds or the time is up.
// Returns true when done() held.
template <typename Done> bool PumpUntil(double timeoutMs, Done done, HANDLE extra = nullptr)
{
    double deadline = NowMs() + timeoutMs;
    for (;;) {
        DispatchPending();
        ObserveProcesses();
        if (done()) return true;
        double left = deadline - NowMs();
        if (left <= 0) return false;
        DWORD slice = left < 5 ? static_cast<DWORD>(left) + 1 : 5;
        HANDLE handles[1] = {extra};
        MsgWaitForMultipleObjects(extra ? 1 : 0, extra ? handles : nullptr, FALSE, slice, QS_ALLINPUT);
    }
}

// ---------------------------------------------------------------- describing windows

// The window's parent proper (not its owner, which GetParent gives for a top-level window), or null.
HWND TrueParent(HWND window)
{
    HWND parent = GetAncestor(window, GA_PARENT);
    return parent == GetDesktopWindow() ? nullptr : parent;
}

std::string Describe(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    char buffer[2048];
    snprintf(buffer, sizeof buffer,
             "hwnd=%llu class=%s title=%s style=0x%08lX exstyle=0x%08lX rect=%ld,%ld,%ld,%ld client=%ld,%ld "
             "origin=%ld,%ld visible=%d enabled=%d topmost=%d foreground=%d owner=%llu parent=%llu pid=%lu x=%llu",
             HandleValue(window), Encode(ClassOf(window)).c_str(), Encode(probe::TextOf(window)).c_str(),
             static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle), rect.left, rect.top, rect.right,
             rect.bottom, client.right, client.bottom, origin.x, origin.y, IsWindowVisible(window) ? 1 : 0,
             IsWindowEnabled(window) ? 1 : 0, (exStyle & WS_EX_TOPMOST) ? 1 : 0,
             GetForegroundWindow() == window ? 1 : 0, HandleValue(GetWindow(window, GW_OWNER)),
             HandleValue(TrueParent(window)), static_cast<unsigned long>(processId),
             HandleValue(GetPropA(window, "__wine_x11_whole_window")));
    return buffer;
}

// ---------------------------------------------------------------- argument parsing

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\r')) i++;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            i++;
            while (i < line.size() && line[i] != '"') {
                char c = line[i++];
                if (c == '\\' && i < line.size()) {
                    char e = line[i++];
                    if (e == 'x' && i + 1 < line.size()) {
                        c = static_cast<char>(strtoul(line.substr(i, 2).c_str(), nullptr, 16));
                        i += 2;
                    } else c = e;
                }
                word += c;
            }
            i++;  // the closing quote
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\r') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

// A window argument: a harness window's name, or a handle in decimal (or 0x hexadecimal).
HWND WindowArgument(const std::string& text)
{
    auto named = namedWindows.find(text);
    if (named != namedWindows.end()) return named->second;
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(strtoull(text.c_str(), nullptr, 0)));
}

unsigned long long Number(const std::string& text) { return strtoull(text.c_str(), nullptr, 0); }

// Replaces %NAME% by the decimal handle of the harness window NAME.
std::string Substitute(const std::string& tail)
{
    std::string result;
    size_t i = 0;
    while (i < tail.size()) {
        size_t close = tail[i] == '%' ? tail.find('%', i + 1) : std::string::npos;
        if (close != std::string::npos) {
            auto named = namedWindows.find(tail.substr(i + 1, close - i - 1));
            if (named != namedWindows.end()) {
                result += std::to_string(HandleValue(named->second));
                i = close + 1;
                continue;
            }
        }
        result += tail[i++];
    }
    return result;
}

// ---------------------------------------------------------------- commands

// The ANSI start passes the tail's bytes as they are; the wide one takes paths no code page holds;
// the unquoted one names the program apart and puts its path in the line as it is, blanks and all.
bool StartProcess(const std::string& name, const std::string& exe, const std::string& tail, bool wide = false,
                  bool unquoted = false)
{
    std::string commandLine = unquoted ? exe : "\"" + exe + "\"";
    if (!tail.empty()) commandLine += " " + tail;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    std::vector<wchar_t> wideLine(mutableLine.size());
    MultiByteToWideChar(CP_UTF8, 0, mutableLine.data(), -1, wideLine.data(), static_cast<int>(wideLine.size()));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    STARTUPINFOW wideStartup{};
    wideStartup.cb = sizeof wideStartup;
    Process process;
    process.startMs = NowMs();
    if (!(wide ? CreateProcessW(nullptr, wideLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &wideStartup,
                                &process.info)
               : CreateProcessA(unquoted ? exe.c_str() : nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                &process.info))) {
        Line("error start %lu", GetLastError());
        return false;
    }
    CloseHandle(process.info.hThread);
    processes[name] = process;
    Line("started %s pid=%lu", name.c_str(), process.info.dwProcessId);
    return true;
}

// The classes of the top-level windows the process has shown so far, or "%" for none.
std::string SeenClasses(const Process& process)
{
    std::string classes;
    for (const auto& seen : process.seenWindows) {
        if (!classes.empty()) classes += ',';
        classes += Encode(seen.second);
    }
    return classes.empty() ? "%" : classes;
}

void WaitProcess(const std::string& name, double timeoutMs)
{
    auto found = processes.find(name);
    if (found == processes.end()) {
        Line("error no process %s", name.c_str());
        return;
    }
    Process& process = found->second;
    double begin = NowMs();
    bool ended = PumpUntil(timeoutMs, [&] { return process.finished; }, process.info.hProcess);
    int count = static_cast<int>(process.seenWindows.size());
    if (ended) {
        // ms: how long this wait took (0 when the process had already ended); life: since its start.
        double waited = process.exitMs > begin ? process.exitMs - begin : 0.0;
        Line("exit %s code=%lu ms=%.0f life=%.0f tick=%lu windows=%d classes=%s", name.c_str(),
             static_cast<unsigned long>(process.exitCode), waited, process.exitMs - process.startMs,
             static_cast<unsigned long>(process.exitTick), count,
             SeenClasses(process).c_str());
    } else {
        Line("running %s ms=%.0f windows=%d classes=%s", name.c_str(), NowMs() - begin, count,
             SeenClasses(process).c_str());
    }
}

HWND CreateHarnessWindow(int width, int height, int x, int y)
{
    DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN;
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND window = CreateWindowExA(0, HarnessClass, "Kelvo harness", style, x, y, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window) {
        UpdateWindow(window);
        SetForegroundWindow(window);
    }
    return window;
}

struct TopLevelSearch {
    DWORD processId;
    std::string className;  // "*" for any
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM parameter)
{
    TopLevelSearch& search = *reinterpret_cast<TopLevelSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search.processId) return TRUE;
    if (search.className != "*" && ClassOf(window) != search.className) return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    search.found = window;
    return FALSE;
}

void ReportChild(HWND parent, HWND child)
{
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    RECT parentClient{};
    GetClientRect(parent, &parentClient);
    bool fills = rect.left == 0 && rect.top == 0 && rect.right == parentClient.right &&
                 rect.bottom == parentClient.bottom;
    Line("child %s id=%ld inparent=%ld,%ld,%ld,%ld fills=%d", Describe(child).c_str(),
         static_cast<long>(GetDlgCtrlID(child)), rect.left, rect.top, rect.right, rect.bottom, fills ? 1 : 0);
}

// A send that gives up after five seconds, and its answer.
void SendAndReport(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    BOOL sent = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
    Line("result %d value=%lld error=%lu", sent ? 1 : 0, static_cast<long long>(result), sent ? 0ul : GetLastError());
}

BOOL CALLBACK ReportMonitor(HMONITOR, HDC, LPRECT rect, LPARAM)
{
    Line("monitor %ld,%ld,%ld,%ld", rect->left, rect->top, rect->right, rect->bottom);
    return TRUE;
}

// Read back through IShellLinkW, as the shell reads the link it starts.
void Shortcut(const std::string& link)
{
    std::vector<wchar_t> path(link.size() + 1);
    MultiByteToWideChar(CP_UTF8, 0, link.c_str(), -1, path.data(), static_cast<int>(path.size()));
    HRESULT initialized = CoInitialize(nullptr);
    IShellLinkW* shellLink = nullptr;
    IPersistFile* file = nullptr;
    wchar_t target[2048] = L"";
    wchar_t arguments[2048] = L"";
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      reinterpret_cast<void**>(&shellLink));
    if (SUCCEEDED(result)) result = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(result)) result = file->Load(path.data(), STGM_READ);
    if (SUCCEEDED(result)) result = shellLink->GetPath(target, 2048, nullptr, 0);
    if (SUCCEEDED(result)) result = shellLink->GetArguments(arguments, 2048);
    if (FAILED(result)) Line("error shortcut 0x%08lx", static_cast<unsigned long>(result));
    else Line("shortcut target=%s arguments=%s", Encode(probe::Utf8(target)).c_str(), Encode(probe::Utf8(arguments)).c_str());
    if (file) file->Release();
    if (shellLink) shellLink->Release();
    if (SUCCEEDED(initialized)) CoUninitialize();
}

bool Execute(const std::vector<std::string>& words)
{
    const std::string& command = words[0];
    size_t n = words.size();

    if (command == "quit") return false;

    if (command == "window" && n >= 4) {
        int x = n >= 6 ? static_cast<int>(Number(words[4])) : 100;
        int y = n >= 6 ? static_cast<int>(Number(words[5])) : 100;
        HWND window = CreateHarnessWindow(static_cast<int>(Number(words[2])), static_cast<int>(Number(words[3])), x, y);
        if (!window) {
            Line("error window %lu", GetLastError());
            return true;
        }
        namedWindows[words[1]] = window;
        windowEvents[window] = WindowEvents();
        PumpUntil(2000, [&] { return GetForegroundWindow() == window; });
        Line("window %s %s", words[1].c_str(), Describe(window).c_str());
    } else if (command == "destroy" && n >= 2) {
        HWND window = WindowArgument(words[1]);
        Line("destroyed %d", DestroyWindow(window) ? 1 : 0);
    } else if (command == "activate" && n >= 2) {
        HWND window = WindowArgument(words[1]);
        SetForegroundWindow(window);
        SetActiveWindow(window);
        PumpUntil(2000, [&] { return GetForegroundWindow() == window; });
        Line("foreground %llu", HandleValue(GetForegroundWindow()));
    } else if ((command == "start" || command == "startw" || command == "startu") && n >= 3) {
        StartProcess(words[1], words[2], n >= 4 ? Substitute(words[3]) : std::string(), command == "startw",
                     command == "startu");
    } else if (command == "wait" && n >= 3) {
        WaitProcess(words[1], static_cast<double>(Number(words[2])));
    } else if (command == "kill" && n >= 2) {
        auto found = processes.find(words[1]);
        if (found != processes.end() && !found->second.finished) TerminateProcess(found->second.info.hProcess, 9999);
        DWORD id = static_cast<DWORD>(Number(words[1]));
        HANDLE other = found == processes.end() ? OpenProcess(PROCESS_TERMINATE, FALSE, id) : nullptr;
        if (other) {
            TerminateProcess(other, 9999);
            CloseHandle(other);
        }
        Line("killed %s", words[1].c_str());
    } else if (command == "waitwindow" && n >= 4) {
        // waitwindow PROCESS CLASS MS: a visible top-level window of that class ("*": any) of the process.
        auto found = processes.find(words[1]);
        if (found == processes.end()) {
            Line("error no process %s", words[1].c_str());
            return true;
        }
        TopLevelSearch search{found->second.info.dwProcessId, words[2], nullptr};
        double begin = NowMs();
        PumpUntil(static_cast<double>(Number(words[3])), [&] {
            search.found = nullptr;
            EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr || found->second.finished;
        });
        if (search.found)
            Line("found ms=%.0f life=%.0f %s", NowMs() - begin, NowMs() - found->second.startMs,
                 Describe(search.found).c_str());
        else Line("none ms=%.0f", NowMs() - begin);
    } else if (command == "waitchild" && n >= 4) {
        // waitchild PARENT CLASS MS: a visible child of that class ("*": any) in the parent.
        HWND parent = WindowArgument(words[1]);
        HWND child = nullptr;
        double begin = NowMs();
        PumpUntil(static_cast<double>(Number(words[3])), [&] {
            for (HWND candidate : probe::DirectChildren(parent)) {
                // Visible, so that a child found in the middle of its creation is not reported yet.
                if ((words[2] == "*" || ClassOf(candidate) == words[2]) && IsWindowVisible(candidate)) {
                    child = candidate;
                    return true;
                }
            }
            return false;
        });
        if (child) Line("found ms=%.0f %s", NowMs() - begin, Describe(child).c_str());
        else Line("none ms=%.0f", NowMs() - begin);
    } else if (command == "children" && n >= 2) {
        HWND parent = WindowArgument(words[1]);
        std::vector<HWND> children = probe::DirectChildren(parent);
        for (HWND child : children) ReportChild(parent, child);
        Line("children %d", static_cast<int>(children.size()));
    } else if (command == "find" && n >= 3) {
        HWND window = FindWindowA(words[1] == "-" ? nullptr : words[1].c_str(), words[2] == "-" ? nullptr : words[2].c_str());
        if (window) Line("found %s", Describe(window).c_str());
        else Line("none");
    } else if (command == "describe" && n >= 2) {
        HWND window = WindowArgument(words[1]);
        if (IsWindow(window)) Line("window %s", Describe(window).c_str());
        else Line("none");
    } else if (command == "waitgone" && n >= 3) {
        // waitgone WINDOW MS: until the window is hidden or destroyed. Without a window manager Wine
        // spends two seconds destroying a managed window after it has hidden it, so the time the
        // user sees it go is when it is hidden; "destroyed" tells whether it is gone as well.
        HWND window = WindowArgument(words[1]);
        double begin = NowMs();
        bool gone = PumpUntil(static_cast<double>(Number(words[2])),
                              [&] { return !IsWindow(window) || !IsWindowVisible(window); });
        Line("%s ms=%.0f destroyed=%d", gone ? "gone" : "alive", NowMs() - begin, IsWindow(window) ? 0 : 1);
    } else if ((command == "send" || command == "post") && n >= 5) {
        HWND window = WindowArgument(words[1]);
        UINT message = isdigit(static_cast<unsigned char>(words[2][0])) ? static_cast<UINT>(Number(words[2]))
                                                                       : RegisterWindowMessageA(words[2].c_str());
        WPARAM wParam = static_cast<WPARAM>(words[3].size() && !isdigit(static_cast<unsigned char>(words[3][0]))
                                                ? HandleValue(WindowArgument(words[3]))
                                                : Number(words[3]));
        LPARAM lParam = static_cast<LPARAM>(static_cast<long long>(strtoll(words[4].c_str(), nullptr, 0)));
        if (command == "post") {
            BOOL posted = PostMessageA(window, message, wParam, lParam);
            Line("posted %d error=%lu", posted ? 1 : 0, posted ? 0ul : GetLastError());
        } else {
            SendAndReport(window, message, wParam, lParam);
        }
    } else if (command == "help" && n >= 2) {
        // help WINDOW: a WM_HELP as the system sends it, with a HELPINFO the platform carries across.
        HWND window = WindowArgument(words[1]);
        HELPINFO info{};
        info.cbSize = sizeof info;
        info.iContextType = HELPINFO_WINDOW;
        info.hItemHandle = window;
        info.MousePos.x = 10;
        info.MousePos.y = 20;
        SendAndReport(window, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    } else if (command == "display" && n >= 3) {
        // Wine carries this lParam across processes as a bare number: the setting must already be in
        // the receiver's memory, as the system puts it there.
        HWND window = WindowArgument(words[1]);
        struct { GUID PowerSetting; DWORD DataLength; DWORD Data; } setting{  // a POWERBROADCAST_SETTING
            GUID_CONSOLE_DISPLAY_STATE, sizeof(DWORD), static_cast<DWORD>(Number(words[2]))};
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
        void* remote = process ? VirtualAllocEx(process, nullptr, sizeof setting, MEM_COMMIT | MEM_RESERVE,
                                                PAGE_READWRITE)
                               : nullptr;
        if (!remote || !WriteProcessMemory(process, remote, &setting, sizeof setting, nullptr))
            Line("error display %lu", GetLastError());
        else
            SendAndReport(window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(remote));
        if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        if (process) CloseHandle(process);
    } else if (command == "events" && n >= 2) {
        HWND window = WindowArgument(words[1]);
        DispatchPending();
        const WindowEvents& events = windowEvents[window];
        Line("events help=%d help_wparam=%llu contextmenu=%d contextmenu_wparam=%llu contextmenu_lparam=%llu",
             events.helpCount, events.helpWParam, events.contextMenuCount, events.contextMenuWParam,
             events.contextMenuLParam);
    } else if (command == "shortcut" && n >= 2) {
        Shortcut(words[1]);
    } else if (command == "screen" && n >= 2 && words[1] == "monitors") {
        EnumDisplayMonitors(nullptr, nullptr, ReportMonitor, 0);
        Line("virtual %d,%d,%d,%d", GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
             GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    } else if (command == "screen") {
        // box: the screen DC's clip box, which Wine updates only once it has resized its desktop window.
        RECT box{};
        HDC screen = GetDC(nullptr);
        GetClipBox(screen, &box);
        ReleaseDC(nullptr, screen);
        Line("screen %d %d box %ld %ld", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
             box.right - box.left, box.bottom - box.top);
    } else if (command == "cursor") {
        CURSORINFO info{};
        info.cbSize = sizeof info;
        GetCursorInfo(&info);
        // under: the top-level window a click at the cursor would go to; input: the tick of the last
        // input the system took, which only input that reached it moves.
        LASTINPUTINFO last{};
        last.cbSize = sizeof last;
        GetLastInputInfo(&last);
        Line("cursor handle=%llu showing=%d tick=%lu under=%llu input=%lu", HandleValue(info.hCursor),
             (info.flags & CURSOR_SHOWING) ? 1 : 0, GetTickCount(),
             HandleValue(GetAncestor(WindowFromPoint(info.ptScreenPos), GA_ROOT)), last.dwTime);
    } else if (command == "acp") {
        Line("codepage acp=%u oemcp=%u", GetACP(), GetOEMCP());
    } else {
        Line("error unknown command %s", Encode(command).c_str());
    }
    return true;
}

// ---------------------------------------------------------------- standard input

CRITICAL_SECTION inputLock;
std::vector<std::string> inputLines;
bool inputClosed = false;
HANDLE inputReady = nullptr;

DWORD WINAPI ReadInput(void*)
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            EnterCriticalSection(&inputLock);
            inputLines.push_back(pending.substr(0, end));
            LeaveCriticalSection(&inputLock);
            pending.erase(0, end + 1);
            SetEvent(inputReady);
        }
    }
    EnterCriticalSection(&inputLock);
    inputClosed = true;
    LeaveCriticalSection(&inputLock);
    SetEvent(inputReady);
    return 0;
}

int Serve()
{
    namedWindows["desktop"] = GetDesktopWindow();
    InitializeCriticalSection(&inputLock);
    inputReady = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CreateThread(nullptr, 0, ReadInput, nullptr, 0, nullptr);
    Line("ready");
    EndReply();
    for (;;) {
        std::string line;
        bool closed = false;
        bool have = false;
        PumpUntil(1e12, [&] {
            EnterCriticalSection(&inputLock);
            if (!inputLines.empty()) {
                line = inputLines.front();
                inputLines.erase(inputLines.begin());
                have = true;
            }
            closed = inputClosed;
            LeaveCriticalSection(&inputLock);
            return have || closed;
        }, inputReady);
        if (!have) break;
        std::vector<std::string> words = Split(line);
        if (words.empty()) continue;
        bool goOn = Execute(words);
        EndReply();
        if (!goOn) break;
    }
    for (auto& entry : processes) {
        if (!entry.second.finished) TerminateProcess(entry.second.info.hProcess, 9999);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    RegisterHarnessClass();
    if (argc >= 2 && strcmp(argv[1], "serve") == 0) return Serve();
    if (argc >= 4 && strcmp(argv[1], "run") == 0) {
        std::vector<std::string> words = {"start", "process", argv[2], argv[3]};
        std::vector<std::string> unescaped = Split("\"" + std::string(argv[3]) + "\"");
        words[3] = unescaped.empty() ? std::string() : unescaped[0];
        // Wine takes a new process's WINEDEBUG from its environment: a trace of the program alone.
        char trace[256];
        DWORD length = GetEnvironmentVariableA("KELVO_CHILD_WINEDEBUG", trace, sizeof trace);
        if (length > 0 && length < sizeof trace) SetEnvironmentVariableA("WINEDEBUG", trace);
        if (!StartProcess(words[1], words[2], words[3])) return 1;
        WaitProcess("process", argc >= 5 ? static_cast<double>(Number(argv[4])) : 20000.0);
        Process& process = processes["process"];
        if (!process.finished) TerminateProcess(process.info.hProcess, 9999);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "version") == 0) {
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        GetVersionExA(&version);
        Line("version platform=%lu major=%lu minor=%lu", version.dwPlatformId, version.dwMajorVersion,
             version.dwMinorVersion);
        return 0;
    }
    Line("usage: kelvo-harness serve | run <exe> <tail> [timeout-ms] | version");
    return 2;
}

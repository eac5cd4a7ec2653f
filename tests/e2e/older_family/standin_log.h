// What both test-only stand-ins of the older family's system modules share: the log that records
// their calls and the settings the test gives them through the environment.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "probe_text.h"

namespace standin_log {

// Appends one line to the file named by KELVO_STANDIN_LOG; nothing without it. Each line is
// written with one call, so that lines of calls close together never mix.
inline void Line(const char* format, ...)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("KELVO_STANDIN_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    int size = vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    if (size < 0) return;
    if (size > static_cast<int>(sizeof text) - 2) size = static_cast<int>(sizeof text) - 2;
    text[size++] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
}

// A number from the environment, or the fallback when the variable is missing.
inline long Number(const char* name, long fallback)
{
    char text[64];
    DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    if (length == 0 || length >= sizeof text) return fallback;
    return strtol(text, nullptr, 0);
}

// The answer for the given call (1 = first) from a comma-separated list such as "0,1"; past the
// end of the list its last answer holds.
inline long Answer(const char* name, long call, long fallback)
{
    char text[512];
    DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    if (length == 0 || length >= sizeof text) return fallback;
    long answer = fallback;
    const char* position = text;
    for (long i = 1; *position != '\0'; i++) {
        char* end = nullptr;
        answer = strtol(position, &end, 0);
        if (i >= call || end == position) break;
        position = *end == ',' ? end + 1 : end;
    }
    return answer;
}

// The class and title of a window, encoded; the title is read without a message, so that asking
// does not reach the window's procedure.
inline std::string WindowClass(HWND window) { return probe::Encode(window ? probe::ClassOf(window) : ""); }

inline std::string WindowTitle(HWND window)
{
    wchar_t text[256] = L"";
    if (window != nullptr) InternalGetWindowText(window, text, 256);
    return probe::Encode(probe::Utf8(text));
}

// A "load" or "unload" line with the module's own file name, for either stand-in's DllMain.
inline void ModuleEvent(HMODULE module, DWORD reason)
{
    if (reason != DLL_PROCESS_ATTACH && reason != DLL_PROCESS_DETACH) return;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    const char* name = path;
    for (const char* p = path; *p != '\0'; p++)
        if (*p == '\\' || *p == '/') name = p + 1;
    Line("%s module=%s pid=%lu tick=%lu", reason == DLL_PROCESS_ATTACH ? "load" : "unload", probe::Encode(name).c_str(),
         GetCurrentProcessId(), GetTickCount());
}

}  // namespace standin_log

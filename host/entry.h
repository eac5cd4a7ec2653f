// Process entry: the command tail picks one mode; its result is the exit code.
#pragma once

#include <windows.h>

// Both owned here and set before any mode runs; read by the whole host.
extern HINSTANCE SaverInstance;
extern LONG OlderFamily;

// Result of a refused command tail.
constexpr int RefusedTail = -1;

[[noreturn]] void SaverEntry();
const char* CommandTail(const char* commandLine);
int SaverMain(HINSTANCE instance, HINSTANCE previous, const char* tail, int show);
DWORD ParseWindowHandle(const char* text);
HWND WindowFromNumber(DWORD number);
int RunPreview(const char* text);
int RunSettingsDialog(HWND owner);
int RunChangePassword(const char* text);
void ChangePassword(HWND owner);

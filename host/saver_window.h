// The saver window, full screen or as a preview child, and its message loop.
#pragma once

#include <windows.h>

typedef HIMC(WINAPI* ImmAssociateContextFunction)(HWND window, HIMC context);

// All owned here. PreviewMode and QueryCancelAutoPlayMessage are read by the input policy.
extern bool PreviewMode;
extern HWND SaverWindow;
extern UINT QueryCancelAutoPlayMessage;
extern HMODULE ImeModule;
extern ImmAssociateContextFunction AssociateContext;
extern HIMC PreviousInputContext;

// Result of a run whose window could not be made: never 0, which reports success.
constexpr int SaverWindowFailed = 1;

int RunSaver(HWND parent);
LRESULT CALLBACK SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

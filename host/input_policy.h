// When the running saver ends, and whether it may: input, power and activation
// events become a close request; every close request passes the password gate.
#pragma once

#include <windows.h>

typedef BOOL(WINAPI* VerifyScreenSavePwdFunction)(HWND window);

// Largest |dx| + |dy| cursor movement that keeps the saver running.
constexpr DWORD MoveThreshold = 4;
// After a verification, close requests within this many milliseconds are dropped.
constexpr DWORD ReaskInterval = 200;
// Private message asking the saver window to verify the password.
constexpr UINT VerifyRequestMessage = WM_APP;
// LastAskTick before the first verification.
constexpr DWORD NoVerificationYet = 0xFFFFFFFF;

// All owned here. CloseAllowed is read by the saver window too; MouseReference is
// also set by the saver window at creation.
extern LONG CloseAllowed;
extern bool InVerification;
extern HMODULE PasswordModule;
extern VerifyScreenSavePwdFunction VerifyFunction;
extern DWORD LastAskTick;
extern POINT MouseReference;

LRESULT CALLBACK SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG VerifyBeforeClose(HWND window);
void LoadPasswordModule();
void UnloadPasswordModule();
void SetSaverRunning(BOOL running);

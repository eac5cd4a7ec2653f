// The effect: eight sparkles over a window whose bands are copied onto themselves.
#pragma once

#include <windows.h>

struct Sparkle {
    LONG x, y;    // top-left corner of the 16 x 16 glyph cell
    LONG dx, dy;  // pixels per frame
    LONG hue;     // 0..1535 on the colour wheel
};

constexpr int SparkleCount = 8;

struct EffectStateRecord {
    RECT client;  // client rectangle, read at creation and when the size changes
    LONG width, height;
    Sparkle sparkles[SparkleCount];
    HDC surface;  // the frame in progress, between GetDC and ReleaseDC
    bool paused;  // no frames while the display is off
};

// Owned here; read by tests and the render tool.
extern EffectStateRecord EffectState;
// Generator state; 1 when the process starts.
extern DWORD RandomState;

void SeedRandom(DWORD seed);
LONG NextRandom();
void DrawFrame(HDC surface);
// The host's word that the display went off or came back: frames stop, and go on
// from where they stopped.
void PauseFrames(HWND window);
void ResumeFrames(HWND window);
LRESULT CALLBACK EffectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Drawing side of the stand-in: a real pixel surface per window, device
// contexts, brushes and pens, read back by the tests and the render tool.
#pragma once

#include "standin.h"

#include <vector>

namespace standin {

// A window's pixels, row by row, as COLORREF values. Made on first use at the
// window's width and height from the window table, black (as the saver class's
// background leaves a new window); kept until Reset.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
};
// Null when the window is not in the table.
Surface* WindowSurface(HWND window);
void FillWindow(HWND window, COLORREF colour);
void FillWindowRect(HWND window, const RECT& area, COLORREF colour);
// CLR_INVALID outside the surface.
COLORREF Pixel(HWND window, int x, int y);
void SetPixelColour(HWND window, int x, int y, COLORREF colour);

// Created brushes and pens not yet deleted (stock objects do not count), and
// device contexts taken with GetDC and not yet released.
int LiveGdiObjects();
int LiveDeviceContexts();

}  // namespace standin

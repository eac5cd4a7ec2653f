// kelvo-bench-floor: the drawing of one Kelvo frame and nothing else, as the floor for the saver's
// cost per frame. Every tick of its timer it paints the black strip, copies the column bands and
// the row bands of its full-screen window onto themselves and draws eight ten-cornered glyphs, with
// the same calls, sizes and shift ranges as the saver, but no settings file, input policy or chain
// of window procedures around them.
//
//   kelvo-bench-floor KOMAKASA [WAIT-MS]
#include <windows.h>

#include <cstdlib>

namespace {

const char ClassName[] = "KelvoBenchFloor";
constexpr UINT_PTR FrameTimer = 1;
constexpr LONG StripHeight = 8;
constexpr LONG CellSize = 16;
constexpr int GlyphCount = 8;
constexpr int Corners = 10;
constexpr POINT Outline[Corners] = {
    {7, 1}, {9, 6}, {14, 6}, {10, 9}, {11, 14}, {7, 11}, {3, 14}, {4, 9}, {0, 6}, {5, 6},
};

LONG band = 8;
UINT wait = 40;
LONG width = 0;
LONG height = 0;
DWORD randomState = 1;
POINT glyphs[GlyphCount];
POINT speeds[GlyphCount];

LONG RandomBelow(LONG count)
{
    randomState = randomState * 214013u + 2531011u;
    return static_cast<LONG>((randomState >> 16) & 0x7FFF) % count;
}

void DrawFrame(HDC surface)
{
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    HGDIOBJ formerBrush = SelectObject(surface, black);
    Rectangle(surface, 0, 0, width, StripHeight);
    SelectObject(surface, formerBrush);
    DeleteObject(black);

    for (LONG left = 0; left < width; left += band)
        BitBlt(surface, left, RandomBelow(20) - 4, band, height, surface, left, 0, SRCCOPY);
    for (LONG top = 0; top < height; top += band)
        BitBlt(surface, RandomBelow(21) - 10, top, width, band, surface, 0, top, SRCCOPY);

    for (int i = 0; i < GlyphCount; ++i) {
        POINT corners[Corners];
        for (int c = 0; c < Corners; ++c) corners[c] = POINT{glyphs[i].x + Outline[c].x, glyphs[i].y + Outline[c].y};
        COLORREF colour = RGB(255, 32 * i, 0);
        HBRUSH brush = CreateSolidBrush(colour);
        HPEN pen = CreatePen(PS_SOLID, 0, colour);
        formerBrush = SelectObject(surface, brush);
        HGDIOBJ formerPen = SelectObject(surface, pen);
        Polygon(surface, corners, Corners);
        SelectObject(surface, formerPen);
        SelectObject(surface, formerBrush);
        DeleteObject(pen);
        DeleteObject(brush);
        glyphs[i].x += speeds[i].x;
        glyphs[i].y += speeds[i].y;
        if (glyphs[i].x < 0 || glyphs[i].x + CellSize > width) speeds[i].x = -speeds[i].x;
        if (glyphs[i].y < 0 || glyphs[i].y + CellSize > height) speeds[i].y = -speeds[i].y;
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        for (int i = 0; i < GlyphCount; ++i) {
            glyphs[i] = POINT{RandomBelow(width - CellSize), RandomBelow(height - CellSize)};
            speeds[i] = POINT{(RandomBelow(17) - 8) | 1, (RandomBelow(17) - 8) | 1};
        }
        SetTimer(window, FrameTimer, wait, nullptr);
        return 0;
    case WM_TIMER: {
        HDC surface = GetDC(window);
        DrawFrame(surface);
        ReleaseDC(window, surface);
        return 0;
    }
    case WM_KEYDOWN:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, FrameTimer);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int)
{
    char* rest = tail;
    band = strtol(rest, &rest, 10);
    if (band < 1 || band > 64) return 1;
    const long asked = strtol(rest, &rest, 10);
    if (asked > 0) wait = static_cast<UINT>(asked);
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
    randomState = GetTickCount();

    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassA(&windowClass)) return 1;
    if (!CreateWindowExA(WS_EX_TOPMOST, ClassName, "Floor", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                         nullptr, instance, nullptr))
        return 1;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

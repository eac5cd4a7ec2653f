// The effect: eight sparkles over a window whose bands are copied onto themselves.
#include "effect/animation.h"

#include "effect/settings_file.h"
#include "host/input_policy.h"

EffectStateRecord EffectState;
DWORD RandomState = 1;

namespace {

constexpr UINT_PTR FrameTimer = 1;
constexpr LONG CellSize = 16;
constexpr LONG StripHeight = 8;
constexpr LONG HueCount = 1536;
constexpr LONG HueStep = 4;
constexpr LONG ChannelCount = 256;
constexpr COLORREF Black = RGB(0, 0, 0);

// Colour modes; any other value colours each sparkle from its own hue.
constexpr LONG ColmodeTogether = 0;
constexpr LONG ColmodeRandom = 2;

// Column bands move -4..+15 rows, row bands -10..+10 columns.
constexpr LONG ColumnShiftCount = 20;
constexpr LONG ColumnShiftBase = 4;
constexpr LONG RowShiftCount = 21;
constexpr LONG RowShiftBase = 10;

// Velocities: -10..+10 at creation; -12..+11 when drawn anew; redrawn while
// within -2..+2 or beyond 32; reversed with a jitter of -4..+4 at an edge.
constexpr LONG StartSpeedCount = 21;
constexpr LONG StartSpeedBase = 10;
constexpr LONG NewSpeedCount = 24;
constexpr LONG NewSpeedBase = 12;
constexpr LONG SlowSpeed = 3;
constexpr LONG FastSpeed = 32;
constexpr LONG BounceJitterCount = 9;
constexpr LONG BounceJitterBase = 4;

// The star glyph, drawn by us rather than as text: the star character (U+2605) needs a
// code-page-932 system and a font that has it, and anywhere else it came out as
// a box or two wrong characters. Offsets within the 16 x 16 cell, point up,
// concave outline, 15 pixels across and 14 high, symmetric about column 7.
constexpr int StarCorners = 10;
constexpr POINT StarOutline[StarCorners] = {
    {7, 1}, {9, 6}, {14, 6}, {10, 9}, {11, 14}, {7, 11}, {3, 14}, {4, 9}, {0, 6}, {5, 6},
};

LONG RandomBelow(LONG count) { return NextRandom() % count; }

COLORREF WheelColour(LONG hue) {
    if (hue < 256) return RGB(255, hue, 0);
    if (hue < 512) return RGB(511 - hue, 255, 0);
    if (hue < 768) return RGB(0, 255, hue - 512);
    if (hue < 1024) return RGB(0, 1023 - hue, 255);
    if (hue < 1280) return RGB(hue - 1024, 0, 255);
    return RGB(255, 0, 1535 - hue);
}

COLORREF SparkleColour(Sparkle& sparkle) {
    sparkle.hue = (sparkle.hue + HueStep) % HueCount;
    COLORREF colour = WheelColour(sparkle.hue);
    if (SaverSettings.colmode == ColmodeRandom) {
        LONG green = RandomBelow(ChannelCount);
        LONG blue = RandomBelow(ChannelCount);
        colour = RGB(0, green, blue);
    }
    return colour;
}

// A brush and a pen of the star's own, rather than the device context's: the DC brush
// and pen came with Windows 2000, and Windows 95, 98 and ME refuse to load a program
// that imports them.
void DrawStar(HDC surface, LONG x, LONG y, COLORREF colour) {
    POINT corners[StarCorners];
    for (int i = 0; i < StarCorners; ++i) corners[i] = POINT{x + StarOutline[i].x, y + StarOutline[i].y};
    HBRUSH brush = CreateSolidBrush(colour);
    HPEN pen = CreatePen(PS_SOLID, 0, colour);
    HGDIOBJ formerBrush = SelectObject(surface, brush);
    HGDIOBJ formerPen = SelectObject(surface, pen);
    Polygon(surface, corners, StarCorners);
    SelectObject(surface, formerPen);
    SelectObject(surface, formerBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

LONG NewSpeed() { return RandomBelow(NewSpeedCount) - NewSpeedBase; }
LONG Bounce(LONG speed) { return RandomBelow(BounceJitterCount) - speed - BounceJitterBase; }

void MoveSparkle(Sparkle& sparkle) {
    const LONG width = EffectState.width;
    const LONG height = EffectState.height;
    sparkle.x += sparkle.dx;
    sparkle.y += sparkle.dy;
    if (-SlowSpeed < sparkle.dx && sparkle.dx < SlowSpeed) sparkle.dx = NewSpeed();
    if (-SlowSpeed < sparkle.dy && sparkle.dy < SlowSpeed) sparkle.dy = NewSpeed();
    if (sparkle.dx < -FastSpeed || sparkle.dx > FastSpeed) sparkle.dx = NewSpeed();
    if (sparkle.dy < -FastSpeed || sparkle.dy > FastSpeed) sparkle.dy = NewSpeed();
    if (sparkle.x < 0) {
        sparkle.x = 0;
        if (sparkle.dx < 0) sparkle.dx = Bounce(sparkle.dx);
    }
    if (sparkle.y < 0) {
        sparkle.y = 0;
        if (sparkle.dy < 0) sparkle.dy = Bounce(sparkle.dy);
    }
    if (sparkle.x + CellSize > width) {
        sparkle.x = width - CellSize;
        if (sparkle.dx > 0) sparkle.dx = Bounce(sparkle.dx);
    }
    if (sparkle.y + CellSize > height) {
        sparkle.y = height - CellSize;
        if (sparkle.dy > 0) sparkle.dy = Bounce(sparkle.dy);
    }
}

UINT TimerInterval(LONG wait) {
    // A wait of 0 or below, possible from a hand-edited file, would otherwise ask
    // the timer for an interval it cannot keep.
    return wait > 0 ? static_cast<UINT>(wait) : USER_TIMER_MINIMUM;
}

LRESULT CreateEffect(HWND window) {
    LoadSettings();
    EffectState.client = RECT{0, 0, 0, 0};
    GetClientRect(window, &EffectState.client);
    EffectState.width = EffectState.client.right;
    EffectState.height = EffectState.client.bottom;
    SeedRandom(GetTickCount());

    // Placement takes remainders by the size; an empty area places everything at
    // 0 as a 1-pixel one would, and the draws keep their order.
    const LONG placeWidth = EffectState.width > 0 ? EffectState.width : 1;
    const LONG placeHeight = EffectState.height > 0 ? EffectState.height : 1;
    for (Sparkle& sparkle : EffectState.sparkles) {
        sparkle.x = RandomBelow(placeWidth);
        sparkle.y = RandomBelow(placeHeight);
        sparkle.dx = RandomBelow(StartSpeedCount) - StartSpeedBase;
        sparkle.dy = RandomBelow(StartSpeedCount) - StartSpeedBase;
        if (SaverSettings.colmode != ColmodeTogether) sparkle.hue = RandomBelow(HueCount);
    }
    SetTimer(window, FrameTimer, TimerInterval(SaverSettings.wait), nullptr);
    return 0;
}

// A screen layout that changes while the saver runs resizes its window; the strip,
// the bands and the bounces then use the new area, and sparkles left outside it
// come back in.
void FollowSize(HWND window) {
    RECT client = {0, 0, 0, 0};
    if (!GetClientRect(window, &client)) return;
    if (client.right == EffectState.width && client.bottom == EffectState.height) return;
    EffectState.client = client;
    EffectState.width = client.right;
    EffectState.height = client.bottom;
    for (Sparkle& sparkle : EffectState.sparkles) {
        if (sparkle.x + CellSize > EffectState.width) sparkle.x = EffectState.width - CellSize;
        if (sparkle.y + CellSize > EffectState.height) sparkle.y = EffectState.height - CellSize;
        if (sparkle.x < 0) sparkle.x = 0;
        if (sparkle.y < 0) sparkle.y = 0;
    }
}

LRESULT DrawTick(HWND window) {
    if (EffectState.paused) return 0;
    EffectState.surface = GetDC(window);
    DrawFrame(EffectState.surface);
    if (EffectState.surface != nullptr) ReleaseDC(window, EffectState.surface);
    EffectState.surface = nullptr;
    return 0;
}

}  // namespace

void SeedRandom(DWORD seed) { RandomState = seed; }

LONG NextRandom() {
    RandomState = RandomState * 214013u + 2531011u;
    return static_cast<LONG>((RandomState >> 16) & 0x7FFF);
}

// A null surface (no device context for this tick) makes every drawing call fail
// harmlessly; the sparkles still move and the draws stay in step.
void DrawFrame(HDC surface) {
    const LONG width = EffectState.width;
    const LONG height = EffectState.height;
    // LoadSettings keeps the band size at 1 or more; a frame drawn before any load
    // must not loop for ever.
    const LONG band = SaverSettings.komakasa > 0 ? SaverSettings.komakasa : 1;

    HBRUSH black = CreateSolidBrush(Black);
    HGDIOBJ formerBrush = SelectObject(surface, black);
    Rectangle(surface, 0, 0, width, StripHeight);
    SelectObject(surface, formerBrush);
    DeleteObject(black);

    if (width > 0) {
        for (LONG left = 0; left < width; left += band) {
            LONG shift = RandomBelow(ColumnShiftCount) - ColumnShiftBase;
            BitBlt(surface, left, shift, band, height, surface, left, 0, SRCCOPY);
        }
    }
    if (height > 0) {
        for (LONG top = 0; top < height; top += band) {
            LONG shift = RandomBelow(RowShiftCount) - RowShiftBase;
            BitBlt(surface, shift, top, width, band, surface, 0, top, SRCCOPY);
        }
    }

    for (Sparkle& sparkle : EffectState.sparkles) {
        COLORREF colour = SparkleColour(sparkle);
        DrawStar(surface, sparkle.x, sparkle.y, colour);
        MoveSparkle(sparkle);
    }
}

void PauseFrames(HWND window) {
    if (EffectState.paused) return;
    EffectState.paused = true;
    KillTimer(window, FrameTimer);
}

void ResumeFrames(HWND window) {
    if (!EffectState.paused) return;
    EffectState.paused = false;
    SetTimer(window, FrameTimer, TimerInterval(SaverSettings.wait), nullptr);
    DrawTick(window);
}

LRESULT CALLBACK EffectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return CreateEffect(window);
    case WM_DESTROY:
        KillTimer(window, FrameTimer);
        return 0;
    case WM_TIMER:
        return DrawTick(window);
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) FollowSize(window);
        break;
    }
    return SaverDefaultProc(window, message, wParam, lParam);
}

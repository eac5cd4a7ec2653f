// Stand-in for the drawing calls: device contexts over real pixel surfaces.
#include "surface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace standin {


namespace {

constexpr int WhiteBrushObject = 0;   // WHITE_BRUSH
constexpr int BlackPenObject = 7;     // BLACK_PEN
constexpr uintptr_t FirstDeviceContext = 0x6000000;
constexpr uintptr_t FirstObject = 0x7000000;
constexpr uintptr_t FirstStockObject = 0x7F00000;
constexpr uintptr_t HandleStep = 0x10;
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Black = RGB(0, 0, 0);

enum class Kind { Brush, Pen };
enum class Paint { Solid, DeviceBrush, DevicePen, None };

struct GdiObject {
    Kind kind;
    Paint paint;
    COLORREF colour;
};

struct DeviceContext {
    HWND window;  // null for the screen
    HGDIOBJ brush;
    HGDIOBJ pen;
    COLORREF brushColour;  // what DC_BRUSH paints with
    COLORREF penColour;    // what DC_PEN draws with
    int backgroundMode;
    COLORREF textColour;
};

struct StockObject {
    int index;
    GdiObject object;
};
const StockObject StockObjects[] = {
    {WhiteBrushObject, {Kind::Brush, Paint::Solid, White}},
    {BLACK_BRUSH, {Kind::Brush, Paint::Solid, Black}},
    {BlackPenObject, {Kind::Pen, Paint::Solid, Black}},
    {NULL_PEN, {Kind::Pen, Paint::None, Black}},
    {DC_BRUSH, {Kind::Brush, Paint::DeviceBrush, White}},
    {DC_PEN, {Kind::Pen, Paint::DevicePen, Black}},
};

std::map<HWND, Surface> surfaces;
std::map<uintptr_t, DeviceContext> deviceContexts;
std::map<uintptr_t, GdiObject> objects;  // created and not yet deleted
uintptr_t nextDeviceContext;
uintptr_t nextObject;
std::vector<COLORREF> copyBuffer;

void ResetSurfaces() {
    surfaces.clear();
    deviceContexts.clear();
    objects.clear();
    nextDeviceContext = 0;
    nextObject = 0;
}

const bool registered = (OnReset(ResetSurfaces), true);

int64_t Value(const void* handle) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)); }

HGDIOBJ StockHandle(int index) { return reinterpret_cast<HGDIOBJ>(FirstStockObject + HandleStep * index); }

const GdiObject* FindObject(HGDIOBJ handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    for (const StockObject& stock : StockObjects)
        if (StockHandle(stock.index) == handle) return &stock.object;
    auto found = objects.find(value);
    return found == objects.end() ? nullptr : &found->second;
}

bool IsStock(HGDIOBJ handle) {
    for (const StockObject& stock : StockObjects)
        if (StockHandle(stock.index) == handle) return true;
    return false;
}

DeviceContext* FindDeviceContext(HDC dc) {
    auto found = deviceContexts.find(reinterpret_cast<uintptr_t>(dc));
    return found == deviceContexts.end() ? nullptr : &found->second;
}

Surface* SurfaceOf(HDC dc) {
    DeviceContext* context = FindDeviceContext(dc);
    return context == nullptr || context->window == nullptr ? nullptr : WindowSurface(context->window);
}

// Whether the object paints at all, and with what colour in this context.
bool PaintColour(const DeviceContext& context, HGDIOBJ handle, COLORREF* colour) {
    const GdiObject* object = FindObject(handle);
    if (object == nullptr) return false;
    switch (object->paint) {
    case Paint::Solid: *colour = object->colour; return true;
    case Paint::DeviceBrush: *colour = context.brushColour; return true;
    case Paint::DevicePen: *colour = context.penColour; return true;
    case Paint::None: return false;
    }
    return false;
}

void Plot(Surface& surface, int x, int y, COLORREF colour) {
    if (x < 0 || y < 0 || x >= surface.width || y >= surface.height) return;
    surface.pixels[static_cast<size_t>(y) * surface.width + x] = colour;
}

void FillArea(Surface& surface, int left, int top, int right, int bottom, COLORREF colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, surface.width);
    bottom = std::min(bottom, surface.height);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) surface.pixels[static_cast<size_t>(y) * surface.width + x] = colour;
}

// Both end points included; drawn from the upper end so that mirrored lines
// come out mirrored.
void Line(Surface& surface, POINT from, POINT to, COLORREF colour) {
    if (from.y > to.y || (from.y == to.y && from.x > to.x)) std::swap(from, to);
    int dx = std::abs(to.x - from.x), sx = from.x < to.x ? 1 : -1;
    int dy = -std::abs(to.y - from.y), sy = from.y < to.y ? 1 : -1;
    int error = dx + dy;
    int x = from.x, y = from.y;
    for (;;) {
        Plot(surface, x, y, colour);
        if (x == to.x && y == to.y) break;
        int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

}  // namespace

Surface* WindowSurface(HWND window) {
    Window* record = FindWindowRecord(window);
    if (record == nullptr) return nullptr;
    int width = std::max(record->width, 0);
    int height = std::max(record->height, 0);
    Surface& surface = surfaces[window];
    if (surface.width != width || surface.height != height || surface.pixels.empty()) {
        surface.width = width;
        surface.height = height;
        surface.pixels.assign(static_cast<size_t>(width) * height, Black);
    }
    return &surface;
}

void FillWindow(HWND window, COLORREF colour) {
    Surface* surface = WindowSurface(window);
    if (surface != nullptr) std::fill(surface->pixels.begin(), surface->pixels.end(), colour);
}

void FillWindowRect(HWND window, const RECT& area, COLORREF colour) {
    Surface* surface = WindowSurface(window);
    if (surface != nullptr) FillArea(*surface, area.left, area.top, area.right, area.bottom, colour);
}

COLORREF Pixel(HWND window, int x, int y) {
    Surface* surface = WindowSurface(window);
    if (surface == nullptr || x < 0 || y < 0 || x >= surface->width || y >= surface->height) return CLR_INVALID;
    return surface->pixels[static_cast<size_t>(y) * surface->width + x];
}

void SetPixelColour(HWND window, int x, int y, COLORREF colour) {
    Surface* surface = WindowSurface(window);
    if (surface != nullptr) Plot(*surface, x, y, colour);
}

int LiveGdiObjects() { return static_cast<int>(objects.size()); }
int LiveDeviceContexts() { return static_cast<int>(deviceContexts.size()); }

}  // namespace standin

using namespace standin;

HDC WINAPI GetDC(HWND window) {
    if (RecordFails("GetDC", {Value(window)})) return nullptr;
    if (window != nullptr) {
        Window* record = FindWindowRecord(window);
        if (record == nullptr || !record->alive) return nullptr;
    }
    uintptr_t handle = FirstDeviceContext + HandleStep * nextDeviceContext++;
    deviceContexts[handle] = DeviceContext{window, StockHandle(WhiteBrushObject), StockHandle(BlackPenObject),
                                           White, Black, OPAQUE, Black};
    return reinterpret_cast<HDC>(handle);
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    Record("ReleaseDC", {Value(window), Value(dc)});
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr || context->window != window) return 0;
    deviceContexts.erase(reinterpret_cast<uintptr_t>(dc));
    return 1;
}

int WINAPI GetClipBox(HDC dc, LPRECT rect) {
    if (RecordFails("GetClipBox", {Value(dc)})) return ERROR;
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr) return ERROR;
    if (context->window == nullptr) {
        *rect = screen;
    } else {
        Surface* surface = WindowSurface(context->window);
        if (surface == nullptr) return ERROR;
        *rect = RECT{0, 0, surface->width, surface->height};
    }
    return rect->right > rect->left && rect->bottom > rect->top ? SIMPLEREGION : NULLREGION;
}

// The DC brush and pen came with Windows 2000: the older family has no such stock objects.
HGDIOBJ WINAPI GetStockObject(int object) {
    if (RecordFails("GetStockObject", {object})) return nullptr;
    if ((object == DC_BRUSH || object == DC_PEN) && platformId == VER_PLATFORM_WIN32_WINDOWS) return nullptr;
    for (const StockObject& stock : StockObjects)
        if (stock.index == object) return StockHandle(object);
    return nullptr;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
    if (RecordFails("CreateSolidBrush", {colour})) return nullptr;
    uintptr_t handle = FirstObject + HandleStep * nextObject++;
    objects[handle] = GdiObject{Kind::Brush, Paint::Solid, colour & 0x00FFFFFF};
    return reinterpret_cast<HBRUSH>(handle);
}

// Only the solid one-pixel pen, the one every line here is drawn with.
HPEN WINAPI CreatePen(int style, int width, COLORREF colour) {
    if (RecordFails("CreatePen", {style, width, colour})) return nullptr;
    if (style != PS_SOLID || width > 1) return nullptr;
    uintptr_t handle = FirstObject + HandleStep * nextObject++;
    objects[handle] = GdiObject{Kind::Pen, Paint::Solid, colour & 0x00FFFFFF};
    return reinterpret_cast<HPEN>(handle);
}

// The platform refuses only a context or an object that is not valid, so putting a stock
// object back into a context that took another one never fails, even when failures are asked for.
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    if (IsStock(object) && FindDeviceContext(dc) != nullptr) {
        Record("SelectObject", {Value(dc), Value(object)});
    } else if (RecordFails("SelectObject", {Value(dc), Value(object)})) {
        return nullptr;
    }
    DeviceContext* context = FindDeviceContext(dc);
    const GdiObject* record = FindObject(object);
    if (context == nullptr || record == nullptr) return nullptr;
    HGDIOBJ& slot = record->kind == Kind::Brush ? context->brush : context->pen;
    HGDIOBJ former = slot;
    slot = object;
    return former;
}

// An object still selected into a device context is not deleted (the call fails),
// so a missing deselection shows up as a live object.
BOOL WINAPI DeleteObject(HGDIOBJ object) {
    Record("DeleteObject", {Value(object)});
    if (IsStock(object)) return TRUE;
    auto found = objects.find(reinterpret_cast<uintptr_t>(object));
    if (found == objects.end()) return FALSE;
    for (const auto& entry : deviceContexts)
        if (entry.second.brush == object || entry.second.pen == object) return FALSE;
    objects.erase(found);
    return TRUE;
}

// Right and bottom exclusive; the pen outlines the border pixels and the brush
// fills inside. A null pen draws one pixel less in width and height.
BOOL WINAPI Rectangle(HDC dc, int left, int top, int right, int bottom) {
    if (RecordFails("Rectangle", {Value(dc), left, top, right, bottom})) return FALSE;
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr) return FALSE;
    Surface* surface = SurfaceOf(dc);
    if (surface == nullptr) return TRUE;
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    COLORREF penColour = Black;
    bool outlined = PaintColour(*context, context->pen, &penColour);
    if (!outlined) {
        --right;
        --bottom;
    }
    if (right <= left || bottom <= top) return TRUE;
    COLORREF brushColour = White;
    if (PaintColour(*context, context->brush, &brushColour)) FillArea(*surface, left, top, right, bottom, brushColour);
    if (outlined) {
        FillArea(*surface, left, top, right, top + 1, penColour);
        FillArea(*surface, left, bottom - 1, right, bottom, penColour);
        FillArea(*surface, left, top, left + 1, bottom, penColour);
        FillArea(*surface, right - 1, top, right, bottom, penColour);
    }
    return TRUE;
}

// The source is read whole before anything is written, so a copy onto itself
// behaves however the two rectangles overlap. Destination pixels outside the
// surface are dropped; a destination pixel whose source lies outside the surface
// keeps its value.
BOOL WINAPI BitBlt(HDC dc, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
                   DWORD operation) {
    if (RecordFails("BitBlt", {Value(dc), x, y, width, height, Value(source), sourceX, sourceY, operation})) return FALSE;
    if (FindDeviceContext(dc) == nullptr || FindDeviceContext(source) == nullptr || operation != SRCCOPY)
        return FALSE;
    Surface* to = SurfaceOf(dc);
    Surface* from = SurfaceOf(source);
    if (to == nullptr || from == nullptr || width <= 0 || height <= 0) return TRUE;

    const int left = std::max(x, 0), top = std::max(y, 0);
    const int right = std::min(x + width, to->width), bottom = std::min(y + height, to->height);
    if (left >= right || top >= bottom) return TRUE;
    const int columns = right - left;
    copyBuffer.resize(static_cast<size_t>(columns) * (bottom - top));
    for (int row = top; row < bottom; ++row) {
        for (int column = left; column < right; ++column) {
            int fromX = sourceX + (column - x), fromY = sourceY + (row - y);
            bool inside = fromX >= 0 && fromY >= 0 && fromX < from->width && fromY < from->height;
            size_t index = static_cast<size_t>(row) * to->width + column;
            copyBuffer[static_cast<size_t>(row - top) * columns + (column - left)] =
                inside ? from->pixels[static_cast<size_t>(fromY) * from->width + fromX] : to->pixels[index];
        }
    }
    for (int row = top; row < bottom; ++row)
        std::copy_n(copyBuffer.begin() + static_cast<std::ptrdiff_t>(row - top) * columns, columns,
                    to->pixels.begin() + static_cast<std::ptrdiff_t>(row) * to->width + left);
    return TRUE;
}

int WINAPI SetBkMode(HDC dc, int mode) {
    if (RecordFails("SetBkMode", {Value(dc), mode})) return 0;
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr) return 0;
    int former = context->backgroundMode;
    context->backgroundMode = mode;
    return former;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
    if (RecordFails("SetTextColor", {Value(dc), colour})) return CLR_INVALID;
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr) return CLR_INVALID;
    COLORREF former = context->textColour;
    context->textColour = colour;
    return former;
}

COLORREF WINAPI SetDCBrushColor(HDC dc, COLORREF colour) {
    Record("SetDCBrushColor", {Value(dc), colour});
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr) return CLR_INVALID;
    COLORREF former = context->brushColour;
    context->brushColour = colour & 0x00FFFFFF;
    return former;
}

COLORREF WINAPI SetDCPenColor(HDC dc, COLORREF colour) {
    Record("SetDCPenColor", {Value(dc), colour});
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr) return CLR_INVALID;
    COLORREF former = context->penColour;
    context->penColour = colour & 0x00FFFFFF;
    return former;
}

// Pixels are taken at their coordinate points, as the pen draws them: the
// interior is every point inside the outline (even-odd; left edges in, right
// edges out), filled with the brush; then the pen draws the closed outline.
BOOL WINAPI Polygon(HDC dc, const POINT* points, int count) {
    if (RecordFails("Polygon", {Value(dc), count})) return FALSE;
    DeviceContext* context = FindDeviceContext(dc);
    if (context == nullptr || points == nullptr || count < 2) return FALSE;
    Surface* surface = SurfaceOf(dc);
    if (surface == nullptr) return TRUE;

    COLORREF colour = White;
    if (PaintColour(*context, context->brush, &colour)) {
        int top = points[0].y, bottom = points[0].y;
        for (int i = 1; i < count; ++i) {
            top = std::min<int>(top, points[i].y);
            bottom = std::max<int>(bottom, points[i].y);
        }
        top = std::max(top, 0);
        bottom = std::min(bottom, surface->height - 1);
        std::vector<double> crossings;
        for (int row = top; row <= bottom; ++row) {
            crossings.clear();
            for (int i = 0; i < count; ++i) {
                const POINT& a = points[i];
                const POINT& b = points[(i + 1) % count];
                if ((a.y <= row) != (b.y <= row))
                    crossings.push_back(a.x + (row - a.y) * (b.x - a.x) / static_cast<double>(b.y - a.y));
            }
            std::sort(crossings.begin(), crossings.end());
            for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
                const int first = std::max(0, static_cast<int>(std::ceil(crossings[i])));
                for (int column = first; column < surface->width && column < crossings[i + 1]; ++column)
                    Plot(*surface, column, row, colour);
            }
        }
    }
    if (PaintColour(*context, context->pen, &colour))
        for (int i = 0; i < count; ++i) Line(*surface, points[i], points[(i + 1) % count], colour);
    return TRUE;
}

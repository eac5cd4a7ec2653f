// kelvo-bench-window: the smallest program that does what the saver does before its first frame
// shows: a window like the saver's, full screen (/s) or as a child of the given window (/p HWND),
// and one coloured cell drawn at the first tick of the same 40 ms timer. The benchmark times its
// first frame beside the saver's. A key or a close ends it.
#include <windows.h>

#include <cstdlib>

namespace {

const char ClassName[] = "KelvoBenchWindow";
constexpr UINT_PTR FrameTimer = 1;
constexpr UINT FrameWait = 40;
constexpr int CellSize = 16;

void DrawCell(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    RECT cell = {client.right / 2, client.bottom / 2, client.right / 2 + CellSize, client.bottom / 2 + CellSize};
    HDC surface = GetDC(window);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(surface, &cell, red);
    DeleteObject(red);
    ReleaseDC(window, surface);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SetTimer(window, FrameTimer, FrameWait, nullptr);
        return 0;
    case WM_TIMER:
        DrawCell(window);
        return 0;
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
    while (*tail == ' ' || *tail == '/' || *tail == '-') ++tail;
    const bool preview = *tail == 'p' || *tail == 'P';
    HWND parent = nullptr;
    if (preview) {
        parent = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(strtoull(tail + 1, nullptr, 10)));
        if (!IsWindow(parent)) return 1;
    }

    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassA(&windowClass)) return 1;

    HWND window;
    if (preview) {
        RECT client;
        GetClientRect(parent, &client);
        window = CreateWindowExA(0, ClassName, "Preview", WS_CHILD | WS_VISIBLE, 0, 0, client.right, client.bottom,
                                 parent, nullptr, instance, nullptr);
    } else {
        window = CreateWindowExA(WS_EX_TOPMOST, ClassName, "Screen Saver", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                 instance, nullptr);
    }
    if (window == nullptr) return 1;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

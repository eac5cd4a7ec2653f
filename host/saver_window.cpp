// The saver window, full screen or as a preview child, and its message loop.
#include "host/saver_window.h"

#include "effect/animation.h"
#include "host/display_state.h"
#include "host/entry.h"
#include "host/input_policy.h"

bool PreviewMode = false;
HWND SaverWindow = nullptr;
UINT QueryCancelAutoPlayMessage = 0;
HMODULE ImeModule = nullptr;
ImmAssociateContextFunction AssociateContext = nullptr;
HIMC PreviousInputContext = nullptr;

namespace {

const char SaverClassName[] = "WindowsScreenSaverClass";
const char FullScreenTitle[] = "Screen Saver";
const char PreviewTitle[] = "Preview";

constexpr UINT SaverClassStyle = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
// The resources hold no icon 100, so the class ends up without an icon.
constexpr WORD SaverClassIcon = 100;
constexpr DWORD FullScreenStyle = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD FullScreenExStyle = WS_EX_TOPMOST;
constexpr DWORD PreviewStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;

// How often the loop checks that its window, and a preview's parent, still exist.
constexpr UINT WatchInterval = 200;
// The longest a preview waits for its host to take the help request, in milliseconds.
constexpr UINT HostAnswerTimeout = 500;

// Detaches any input method from the saver window, but only through an input-method
// module that someone else has already loaded into the process.
void DetachInputMethod(HWND window)
{
    AssociateContext = nullptr;
    PreviousInputContext = nullptr;
    ImeModule = GetModuleHandleA("IMM32.DLL");
    if (ImeModule == nullptr) return;
    AssociateContext =
        reinterpret_cast<ImmAssociateContextFunction>(GetProcAddress(ImeModule, "ImmAssociateContext"));
    if (AssociateContext != nullptr) PreviousInputContext = AssociateContext(window, nullptr);
}

void RestoreInputMethod(HWND window)
{
    if (ImeModule != nullptr && AssociateContext != nullptr && PreviousInputContext != nullptr)
        AssociateContext(window, PreviousInputContext);
}

// A preview's parent can be destroyed while the preview is still being made, and the
// child then never hears of it; a window can also go without a WM_DESTROY reaching us.
// Either way nobody would end the loop.
bool SaverStillShown(HWND parent)
{
    if (!IsWindow(SaverWindow)) return false;
    if (parent != nullptr && !IsWindow(parent)) {
        DestroyWindow(SaverWindow);
        return false;
    }
    return true;
}

// Full screen covers the whole screen, every monitor of it, as the screen's device
// context does. The virtual-screen metrics would say the same, but Windows 95 and NT 4.0
// answer 0 for them. False when the box cannot be had or is empty.
bool ScreenBox(RECT* box)
{
    *box = RECT{0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    int region = GetClipBox(screen, box);
    ReleaseDC(nullptr, screen);
    return region != ERROR && box->right > box->left && box->bottom > box->top;
}

// Whatever the screen's layout is now. A layout that cannot be measured keeps the
// window where it is: shrunk to nothing, it would show the desktop until the next input.
void CoverScreen(HWND window)
{
    RECT box;
    if (!ScreenBox(&box)) return;
    SetWindowPos(window, HWND_TOPMOST, box.left, box.top, box.right - box.left, box.bottom - box.top, SWP_NOACTIVATE);
}

void FollowDisplay(HWND window, DisplayState state)
{
    if (state == DisplayState::Off) PauseFrames(window);
    if (state == DisplayState::On) ResumeFrames(window);
}

}  // namespace

int RunSaver(HWND parent)
{
    WNDCLASSA windowClass = {};
    windowClass.style = SaverClassStyle;
    windowClass.lpfnWndProc = SaverWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = SaverInstance;
    windowClass.hIcon = LoadIconA(SaverInstance, MAKEINTRESOURCEA(SaverClassIcon));
    windowClass.hCursor = nullptr;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = SaverClassName;

    DWORD exStyle = 0;
    DWORD style = 0;
    const char* title = nullptr;
    int x = 0, y = 0, width = 0, height = 0;
    if (parent != nullptr) {
        RECT client = {};
        GetClientRect(parent, &client);
        width = client.right;
        height = client.bottom;
        style = PreviewStyle;
        title = PreviewTitle;
        PreviewMode = true;
    } else {
        RECT box;
        ScreenBox(&box);
        x = box.left;
        y = box.top;
        width = box.right - box.left;
        height = box.bottom - box.top;
        style = FullScreenStyle;
        exStyle = FullScreenExStyle;
        title = FullScreenTitle;

        HWND running = FindWindowA(SaverClassName, FullScreenTitle);
        if (running != nullptr && IsWindow(running)) {
            SetForegroundWindow(running);
            return 0;
        }
        LoadPasswordModule();
    }

    QueryCancelAutoPlayMessage = OlderFamily ? RegisterWindowMessageA("QueryCancelAutoPlay") : 0;

    SaverWindow = nullptr;
    if (RegisterClassA(&windowClass) != 0)
        SaverWindow = CreateWindowExA(exStyle, SaverClassName, title, style, x, y, width, height, parent, nullptr,
                                      SaverInstance, nullptr);
    if (SaverWindow == nullptr) {
        UnloadPasswordModule();
        return SaverWindowFailed;
    }

    if (!PreviewMode) {
        SetForegroundWindow(SaverWindow);
        WatchDisplay(SaverWindow);
    }
    UINT_PTR watch = SetTimer(nullptr, 0, WatchInterval, nullptr);
    // GetMessageA answers -1 when it fails; a loop on any nonzero answer would then
    // spin forever, so only a real message keeps it going.
    MSG message = {};
    BOOL received;
    bool shown = true;
    while (shown && (received = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        if (watch != 0 && message.hwnd == nullptr && message.message == WM_TIMER && message.wParam == watch) {
            shown = SaverStillShown(parent);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (watch != 0) KillTimer(nullptr, watch);
    UnloadPasswordModule();
    // A window that went without a quit message has ended all the same.
    if (!shown) return 0;
    // A broken loop brought no quit message, and its end is no success.
    if (received < 0) return SaverWindowFailed;
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        DetachInputMethod(window);
        GetCursorPos(&MouseReference);
        if (!PreviewMode) SetCursor(nullptr);
        break;

    case WM_DESTROY:
        RestoreInputMethod(window);
        UnwatchDisplay();
        PostQuitMessage(0);
        break;

    case WM_SETTEXT:
        return 0;

    case WM_DISPLAYCHANGE:
        // A preview's parent decides its size.
        if (!PreviewMode) CoverScreen(window);
        // The system moved the cursor into the new layout, not the user.
        GetCursorPos(&MouseReference);
        break;

    case WM_POWERBROADCAST:
        // The display's state only rests the frames; ending the saver is the input policy's matter.
        if (wParam == PBT_POWERSETTINGCHANGE) FollowDisplay(window, DisplayStateOf(lParam));
        break;

    case WM_PAINT:
        if (CloseAllowed != 0) return DefWindowProcA(window, message, wParam, lParam);
        if (!PreviewMode) SetCursor(nullptr);
        break;

    case WM_HELP:
    case WM_CONTEXTMENU:
        if (PreviewMode) {
            // The preview's host window gives the help, so it must see itself as the target.
            // WM_HELP carries a pointer to its HELPINFO, which the platform refuses to post
            // to another process's window; a send carries it across, but never waits long
            // on a host that has stopped answering, since frames and the watch wait with it.
            HWND parent = GetParent(window);
            if (parent != nullptr && IsWindow(parent)) {
                WPARAM target = reinterpret_cast<WPARAM>(parent);
                DWORD_PTR answer = 0;
                if (message == WM_HELP)
                    SendMessageTimeoutA(parent, message, target, lParam, SMTO_ABORTIFHUNG, HostAnswerTimeout, &answer);
                else
                    PostMessageA(parent, message, target, lParam);
            }
            return 1;
        }
        break;

    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (CloseAllowed != 0) return DefWindowProcA(window, message, wParam, lParam);
        break;

    case WM_SYSCOMMAND:
        // The whole wParam counts: these exact commands, not their low-bit variants.
        if (!PreviewMode && (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_SCREENSAVE))
            return 0;
        break;

    case WM_TIMER:
        if (CloseAllowed != 0) return 0;
        // Yield the rest of the time slice first, so that frames never starve other programs.
        Sleep(0);
        break;
    }
    return EffectProc(window, message, wParam, lParam);
}

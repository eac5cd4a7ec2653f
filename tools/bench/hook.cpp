// kelvo-bench-hook: counts the frames of another program for the benchmark. The driver hooks the
// program's thread with CountTimerMessages; every tick of a window's timer 1 that the thread takes
// from its queue is one frame (both the saver and the floor program draw one frame per tick of it)
// and is counted in a memory block that the driver shares by name. The saver's loop has a thread
// timer of its own, whose ticks draw nothing.
#include <windows.h>

namespace {

constexpr UINT_PTR FrameTimer = 1;
volatile LONG* frames = nullptr;

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK CountTimerMessages(int code, WPARAM removal, LPARAM message)
{
    const MSG* taken = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && taken->message == WM_TIMER && taken->hwnd != nullptr &&
        taken->wParam == FrameTimer) {
        if (frames == nullptr) {
            HANDLE block = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "KelvoBenchFrames");
            if (block != nullptr)
                frames = static_cast<volatile LONG*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
        }
        if (frames != nullptr) InterlockedIncrement(frames);
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

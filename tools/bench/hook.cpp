// kelvo-bench-hook: counts the frames of another program for the benchmark. The driver hooks the
// program's thread with CountTimerMessages; every timer message the thread takes from its queue is
// one frame (both the saver and the floor program draw one frame per tick) and is counted in a
// memory block that the driver shares by name.
#include <windows.h>

namespace {

volatile LONG* frames = nullptr;

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK CountTimerMessages(int code, WPARAM removal, LPARAM message)
{
    if (code == HC_ACTION && removal == PM_REMOVE && reinterpret_cast<const MSG*>(message)->message == WM_TIMER) {
        if (frames == nullptr) {
            HANDLE block = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "KelvoBenchFrames");
            if (block != nullptr)
                frames = static_cast<volatile LONG*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
        }
        if (frames != nullptr) InterlockedIncrement(frames);
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

// Fuzz target: the effect over any window size from 0 to 4096 pixels each way (at most 4 million
// pixels in all), any settings values in the file and any seed, for up to a few hundred frames of
// a real saver run (full screen or preview) on the stand-in. After every frame the sparkles keep
// to their rules and no brush or device context is left behind.
//
// Input, little-endian, missing bytes read as 0:
//   u16 width, u16 height (each taken modulo 4097), i32 wait, i32 komakasa, i32 colmode
//   (written into kelvo.ini as they are), u32 seed (the tick count at creation), u16 frames
//   (1 + value modulo 300), u8 flags: bit 0 preview rather than full screen, bit 1 GetDC
//   fails on every third frame.

#include "effect/animation.h"
#include "effect/settings_file.h"
#include "host/entry.h"
#include "host/input_policy.h"
#include "host/saver_window.h"
#include "standin.h"
#include "surface.h"
#include "tests/support/fresh_process.h"
#include "tests/support/saver_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The platform's VK_ESCAPE.
constexpr WPARAM EscapeKey = 0x1B;

constexpr LONG LargestSide = 4096;
constexpr LONG LargestArea = 4000000;  // two 1920 x 1080 screens
constexpr int MostFrames = 300;
// The work of a run, frames times (area plus a share for each band copy), stays under this, so
// that each input runs in a fraction of a second.
constexpr long long WorkBudget = 3000000;
constexpr long long BandCopyWork = 64;
constexpr LONG CellSize = 16;
// A bounce turns a speed of at most 32 into at most 36; where the cell is wider than the
// side, a sparkle bounces off both edges in one frame and may leave with up to 40.
constexpr LONG FastestAfterBounce = 36;
constexpr LONG FastestAfterTwoBounces = 40;
constexpr LONG HueCount = 1536;
constexpr UINT ShortestInterval = USER_TIMER_MINIMUM;

SaverFolder folder;

struct Input {
    LONG width = 0, height = 0;
    int32_t wait = 0, komakasa = 0, colmode = 0;
    uint32_t seed = 0;
    int frames = 1;
    bool preview = false;
    bool flakyDeviceContext = false;
};

Input Decode(const uint8_t* data, size_t size)
{
    uint8_t bytes[23] = {};
    std::memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
    auto u16 = [&](int at) { return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8); };
    auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
    Input input;
    input.width = static_cast<LONG>(u16(0) % (LargestSide + 1));
    input.height = static_cast<LONG>(u16(2) % (LargestSide + 1));
    // One frame of a larger window alone outlasts the per-input time limit under the sanitizers.
    if (static_cast<long long>(input.width) * input.height > LargestArea) input.height = LargestArea / input.width;
    input.wait = static_cast<int32_t>(u32(4));
    input.komakasa = static_cast<int32_t>(u32(8));
    input.colmode = static_cast<int32_t>(u32(12));
    input.seed = u32(16);
    input.frames = 1 + static_cast<int>(u16(20) % MostFrames);
    input.preview = (bytes[22] & 1) != 0;
    input.flakyDeviceContext = (bytes[22] & 2) != 0;
    const long long band = input.komakasa < 1 ? 1 : input.komakasa > 64 ? 64 : input.komakasa;
    const long long frameWork = static_cast<long long>(input.width) * input.height +
                                BandCopyWork * ((input.width + band - 1) / band + (input.height + band - 1) / band);
    if (frameWork > 0 && input.frames * frameWork > WorkBudget)
        input.frames = static_cast<int>(WorkBudget / frameWork > 0 ? WorkBudget / frameWork : 1);
    return input;
}

Input input;
int idleCalls;
int framesDrawn;

void Fail(const char* what, long long expected, long long got)
{
    std::fprintf(stderr, "effect fuzz: %s (expected %lld, got %lld) at %ld x %ld, frame %d\n", what, expected, got,
                 static_cast<long>(input.width), static_cast<long>(input.height), framesDrawn);
    std::abort();
}

// Where the bounce leaves a sparkle on one axis after a frame: inside when the cell fits,
// otherwise pressed against the far edge.
void CheckAxis(const char* what, LONG position, LONG speed, LONG side)
{
    if (side >= CellSize) {
        if (position < 0 || position + CellSize > side) Fail(what, side - CellSize, position);
    } else if (position != side - CellSize) {
        Fail(what, side - CellSize, position);
    }
    const LONG fastest = side >= CellSize ? FastestAfterBounce : FastestAfterTwoBounces;
    if (speed < -fastest || speed > fastest) Fail("speed after a frame", fastest, speed);
}

void CheckFrame()
{
    if (standin::LiveGdiObjects() != 0) Fail("GDI objects left after a frame", 0, standin::LiveGdiObjects());
    if (standin::LiveDeviceContexts() != 0) Fail("device contexts left after a frame", 0, standin::LiveDeviceContexts());
    if (EffectState.surface != nullptr) Fail("a device context kept between frames", 0, 1);
    const Sparkle& first = EffectState.sparkles[0];
    for (const Sparkle& sparkle : EffectState.sparkles) {
        CheckAxis("x after a frame", sparkle.x, sparkle.dx, EffectState.width);
        CheckAxis("y after a frame", sparkle.y, sparkle.dy, EffectState.height);
        if (sparkle.hue < 0 || sparkle.hue >= HueCount) Fail("hue", 0, sparkle.hue);
        if (SaverSettings.colmode == 0 && sparkle.hue != first.hue) Fail("together, yet hues differ", first.hue, sparkle.hue);
    }
}

void CheckCreation()
{
    if (SaverSettings.komakasa < 1 || SaverSettings.komakasa > 64) Fail("komakasa after creation", 1, SaverSettings.komakasa);
    if (EffectState.width != input.width || EffectState.height != input.height) Fail("effect size", input.width, EffectState.width);
    const LONG placeWidth = input.width > 0 ? input.width : 1;
    const LONG placeHeight = input.height > 0 ? input.height : 1;
    for (const Sparkle& sparkle : EffectState.sparkles) {
        if (sparkle.x < 0 || sparkle.x >= placeWidth) Fail("placed x", placeWidth, sparkle.x);
        if (sparkle.y < 0 || sparkle.y >= placeHeight) Fail("placed y", placeHeight, sparkle.y);
        if (sparkle.dx < -10 || sparkle.dx > 10 || sparkle.dy < -10 || sparkle.dy > 10) Fail("starting speed", 10, sparkle.dx);
    }
    // Beside the loop's own thread timer, the window has one: the frame timer.
    const standin::Timer* frameTimer = nullptr;
    int frameTimers = 0;
    for (const standin::Timer& timer : standin::timers)
        if (timer.window != nullptr) {
            frameTimer = &timer;
            ++frameTimers;
        }
    if (frameTimers != 1) Fail("frame timers", 1, frameTimers);
    if (SaverSettings.wait != input.wait) Fail("wait as written", input.wait, SaverSettings.wait);
    const UINT expected = input.wait > 0 ? static_cast<UINT>(input.wait) : ShortestInterval;
    if (frameTimer->elapse != expected) Fail("timer interval", expected, frameTimer->elapse);
}

void Idle()
{
    ++idleCalls;
    standin::Window* saver = standin::FindWindowRecord(SaverWindow);
    if (saver == nullptr || !saver->alive || idleCalls > MostFrames + 8) return;
    if (idleCalls == 1)
        CheckCreation();
    else
        CheckFrame();
    // The call log is not read here; a long run at band size 1 would fill it with millions of copies.
    standin::calls.clear();
    standin::tickCount += 40;
    if (framesDrawn < input.frames) {
        ++framesDrawn;
        standin::failures.clear();
        if (input.flakyDeviceContext && framesDrawn % 3 == 0) standin::failures.push_back({"GetDC", 0});
        PostMessageA(SaverWindow, WM_TIMER, 1, 0);
    } else if (PreviewMode) {
        DestroyWindow(saver->parent);
    } else {
        PostMessageA(SaverWindow, WM_KEYDOWN, EscapeKey, 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    input = Decode(data, size);
    StartFreshProcess();
    idleCalls = 0;
    framesDrawn = 0;
    folder.Enter();
    folder.WriteIni("[TestScreenSaver]\r\nwait=" + std::to_string(input.wait) + "\r\nkomakasa=" +
                    std::to_string(input.komakasa) + "\r\ncolmode=" + std::to_string(input.colmode) + "\r\n");
    standin::tickCount = input.seed;
    standin::idle = Idle;

    int result;
    if (input.preview) {
        HWND parent = standin::AddWindow(input.width, input.height, "Monitor");
        result = RunPreview(std::to_string(reinterpret_cast<uintptr_t>(parent)).c_str());
    } else {
        standin::screen = RECT{0, 0, input.width, input.height};
        result = RunSaver(nullptr);
    }
    if (result != 0) Fail("run result", 0, result);
    if (framesDrawn != input.frames) Fail("frames drawn", input.frames, framesDrawn);
    if (standin::CountCalls("GetMessageA:empty") != 0) Fail("the run did not end by itself", 0, 1);
    if (!standin::timers.empty()) Fail("timers left", 0, static_cast<long long>(standin::timers.size()));
    if (standin::LiveGdiObjects() != 0) Fail("GDI objects left", 0, standin::LiveGdiObjects());
    if (standin::LiveDeviceContexts() != 0) Fail("device contexts left", 0, standin::LiveDeviceContexts());
    return 0;
}

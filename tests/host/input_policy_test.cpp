// Close-on-input policy, password gate and password module life, on the stand-in.
#include "host/input_policy.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "effect/animation.h"
#include "host/entry.h"
#include "host/saver_window.h"
#include "standin.h"
#include "tests/support/fresh_process.h"

namespace {

std::vector<HWND> verifyCalls;
std::function<BOOL(HWND)> verifyBody;

BOOL WINAPI TestVerify(HWND window) {
    verifyCalls.push_back(window);
    return verifyBody ? verifyBody(window) : FALSE;
}

FARPROC AsExport(VerifyScreenSavePwdFunction function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

bool Alive(HWND window) {
    standin::Window* record = standin::FindWindowRecord(window);
    return record != nullptr && record->alive;
}

bool SamePoint(POINT a, POINT b) { return a.x == b.x && a.y == b.y; }

// Index of the SendMessageA call that carried this message; -1 when none.
int IndexOfSend(UINT message) {
    for (int i = 0; i < static_cast<int>(standin::calls.size()); ++i)
        if (standin::calls[i].name == "SendMessageA" && standin::calls[i].args[1] == message) return i;
    return -1;
}

// How many calls of that function carried this message.
int CallsWith(const char* name, UINT message) {
    int count = 0;
    for (const standin::Call& call : standin::CallsNamed(name))
        if (call.args[1] == message) ++count;
    return count;
}

// Fills the stack below the caller with non-zero bytes, so that a buffer that is not cleared before use shows up.
[[gnu::noinline]] void DirtyStack() {
    volatile unsigned char junk[4096];
    for (volatile unsigned char& byte : junk) byte = 0xA5;
}

class InputPolicyTest : public ::testing::Test {
protected:
    void SetUp() override { ResetAll(); }
    void TearDown() override { verifyBody = nullptr; }

    static void ResetAll() {
        StartFreshProcess();
        verifyCalls.clear();
        verifyBody = nullptr;
    }

    enum State { Running, Preview, Granted, Verifying };
    static void EnterState(State state) {
        PreviewMode = state == Preview;
        CloseAllowed = state == Granted ? 1 : 0;
        InVerification = state == Verifying;
    }

    static HWND MakeWindow() {
        HWND window = standin::AddWindow(1024, 768, "WindowsScreenSaverClass", "Screen Saver");
        standin::FindWindowRecord(window)->procedure = SaverDefaultProc;
        return window;
    }

    // Older family, protection switched on in the registry, module present.
    static HMODULE ProtectedSetup() {
        OlderFamily = 1;
        standin::registry["Control Panel\\Desktop"]["ScreenSaveUsePassword"] = {1, 0, 0, 0};
        return standin::AddModule("PASSWORD.CPL", {{"VerifyScreenSavePwd", AsExport(&TestVerify)}});
    }

    static void LoadProtection() {
        ProtectedSetup();
        LoadPasswordModule();
        ASSERT_EQ(VerifyFunction, &TestVerify);
        standin::calls.clear();
    }

    // Exactly the given number of close requests, each only as (window, WM_CLOSE, 0, 0).
    static void ExpectClosesPosted(HWND window, size_t count) {
        ASSERT_EQ(standin::posted.size(), count);
        for (const MSG& message : standin::posted) {
            EXPECT_EQ(message.hwnd, window);
            EXPECT_EQ(message.message, static_cast<UINT>(WM_CLOSE));
            EXPECT_EQ(message.wParam, 0u);
            EXPECT_EQ(message.lParam, 0);
        }
        for (const standin::Call& call : standin::CallsNamed("PostMessageA"))
            EXPECT_EQ(call.args, (std::vector<int64_t>{HandleValue(window), WM_CLOSE, 0, 0}));
    }
};

struct InputRow {
    const char* what;
    UINT message;
    WPARAM wParam;
    bool posts;
    bool hidesCursor;
    bool reachesDefault;
};

const InputRow InputTable[] = {
    {"window being shown", WM_SHOWWINDOW, 1, false, true, true},
    {"window being hidden", WM_SHOWWINDOW, 0, false, false, true},
    {"another application activated", WM_ACTIVATEAPP, 0, true, false, true},
    {"this application activated", WM_ACTIVATEAPP, 1, false, false, true},
    {"cursor set", WM_SETCURSOR, 0, false, true, false},
    {"critical resume", WM_POWER, PWR_CRITICALRESUME, true, false, true},
    {"power event 1", WM_POWER, 1, false, false, true},
    {"power event 2", WM_POWER, 2, false, false, true},
    {"key", WM_KEYDOWN, 'A', true, false, true},
    {"system key", WM_SYSKEYDOWN, 0x12, true, false, true},
    {"left click", WM_LBUTTONDOWN, 1, true, false, true},
    {"right click", WM_RBUTTONDOWN, 2, true, false, true},
    {"middle click", WM_MBUTTONDOWN, 0x10, true, false, true},
    {"suspend query", WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, true, false, true},
    {"suspend", WM_POWERBROADCAST, PBT_APMSUSPEND, true, false, true},
    {"critical resume broadcast", WM_POWERBROADCAST, PBT_APMRESUMECRITICAL, true, false, true},
    {"resume from suspend", WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, true, false, true},
    {"battery low", WM_POWERBROADCAST, PBT_APMBATTERYLOW, true, false, true},
    {"OEM event", WM_POWERBROADCAST, PBT_APMOEMEVENT, true, false, true},
    {"automatic resume", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, true, false, true},
    {"unknown power event", WM_POWERBROADCAST, 0x7777, true, false, true},
    // A laptop's adapter and battery level report a state, not an event of the machine.
    {"power status change", WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, false, false, true},
    {"power setting change", WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, false, false, true},
    {"key released", WM_KEYUP, 'A', false, false, true},
    {"button released", WM_LBUTTONUP, 0, false, false, true},
    {"paint", WM_PAINT, 0, false, false, true},
    {"mouse message without movement", WM_MOUSEMOVE, 0, false, false, true},
};

TEST_F(InputPolicyTest, FullScreenInputFollowsTheCloseTableRowByRow) {
    for (LONG family : {0, 1}) {
        OlderFamily = family;
        for (const InputRow& row : InputTable) {
            SCOPED_TRACE(std::string(row.what) + (family ? " (older family)" : " (newer family)"));
            HWND window = MakeWindow();
            standin::calls.clear();
            standin::posted.clear();
            const LPARAM lParam = 0x00500070;

            LRESULT result = SaverDefaultProc(window, row.message, row.wParam, lParam);

            ExpectClosesPosted(window, row.posts ? 1 : 0);
            std::vector<standin::Call> cursorCalls = standin::CallsNamed("SetCursor");
            ASSERT_EQ(cursorCalls.size(), row.hidesCursor ? 1u : 0u);
            if (row.hidesCursor) { EXPECT_EQ(cursorCalls[0].args[0], 0); }
            std::vector<standin::Call> defaults = standin::CallsNamed("DefWindowProcA");
            ASSERT_EQ(defaults.size(), row.reachesDefault ? 1u : 0u);
            if (row.reachesDefault) {
                EXPECT_EQ(defaults[0].args,
                          (std::vector<int64_t>{HandleValue(window), row.message, static_cast<int64_t>(row.wParam), lParam}));
                if (row.posts) { EXPECT_LT(standin::IndexOfCall("PostMessageA"), standin::IndexOfCall("DefWindowProcA")); }
            } else {
                EXPECT_EQ(result, 1);
            }
            EXPECT_EQ(CloseAllowed, 0);
            EXPECT_TRUE(Alive(window));
        }
    }
}

TEST_F(InputPolicyTest, InputNeitherClosesNorHidesCursorInPreviewAfterGrantOrDuringVerification) {
    for (State state : {Preview, Granted, Verifying}) {
        for (const InputRow& row : InputTable) {
            SCOPED_TRACE(std::string(row.what) + " in state " + std::to_string(state));
            ResetAll();
            EnterState(state);
            HWND window = MakeWindow();
            MouseReference = POINT{10, 10};
            standin::cursor = POINT{500, 400};

            SaverDefaultProc(window, row.message, row.wParam, 0);
            SaverDefaultProc(window, WM_MOUSEMOVE, 0, 0);

            EXPECT_TRUE(standin::posted.empty());
            EXPECT_EQ(standin::CountCalls("SetCursor"), 0);
            EXPECT_EQ(CallsWith("DefWindowProcA", row.message), row.message == WM_MOUSEMOVE ? 2 : 1);
            EXPECT_TRUE(SamePoint(MouseReference, POINT{10, 10}));
        }
    }
}

TEST_F(InputPolicyTest, MovementIsMeasuredOnTheCursorPositionAgainstTheReference) {
    struct MoveRow {
        POINT reference, cursor;
        bool closes;
    };
    const MoveRow rows[] = {
        {{100, 100}, {100, 100}, false}, {{100, 100}, {104, 100}, false}, {{100, 100}, {100, 96}, false},
        {{100, 100}, {102, 98}, false},  {{100, 100}, {105, 100}, true},  {{100, 100}, {100, 95}, true},
        {{100, 100}, {97, 102}, true},   {{-10, -10}, {-14, -10}, false}, {{-10, -10}, {-13, -12}, true},
    };
    for (const MoveRow& row : rows) {
        SCOPED_TRACE(std::to_string(row.cursor.x - row.reference.x) + "," + std::to_string(row.cursor.y - row.reference.y));
        ResetAll();
        HWND window = MakeWindow();
        MouseReference = row.reference;
        standin::cursor = row.cursor;

        // The message's own coordinates lie far from both points and must not count.
        SaverDefaultProc(window, WM_MOUSEMOVE, 0, MAKELONG(700, 500));

        ExpectClosesPosted(window, row.closes ? 1 : 0);
        EXPECT_TRUE(SamePoint(MouseReference, row.closes ? row.cursor : row.reference));
    }
}

TEST_F(InputPolicyTest, SmallMovesAddUpUntilTheyExceedFourPixels) {
    HWND window = MakeWindow();
    MouseReference = POINT{100, 100};

    standin::cursor = POINT{103, 100};
    SaverDefaultProc(window, WM_MOUSEMOVE, 0, 0);
    EXPECT_TRUE(standin::posted.empty());
    EXPECT_TRUE(SamePoint(MouseReference, POINT{100, 100}));

    standin::cursor = POINT{106, 100};
    SaverDefaultProc(window, WM_MOUSEMOVE, 0, 0);
    ExpectClosesPosted(window, 1);
    EXPECT_TRUE(SamePoint(MouseReference, POINT{106, 100}));
}

TEST_F(InputPolicyTest, PendingFramesAreRemovedBeforeTheVerifyRequest) {
    LoadProtection();
    HWND window = MakeWindow();
    HWND other = standin::AddWindow(10, 10);
    for (int i = 0; i < 3; ++i) PostMessageA(window, WM_TIMER, 1, 0);
    PostMessageA(other, WM_TIMER, 1, 0);
    PostMessageA(window, WM_PAINT, 0, 0);
    standin::calls.clear();
    size_t timersLeftDuringVerification = 99;
    verifyBody = [&](HWND) {
        timersLeftDuringVerification = 0;
        for (const MSG& message : standin::posted)
            if (message.hwnd == window && message.message == WM_TIMER) ++timersLeftDuringVerification;
        return FALSE;
    };

    SendMessageA(window, WM_CLOSE, 0, 0);

    EXPECT_EQ(timersLeftDuringVerification, 1u);
    std::vector<standin::Call> peeks = standin::CallsNamed("PeekMessageA");
    ASSERT_EQ(peeks.size(), 2u);
    for (const standin::Call& peek : peeks)
        EXPECT_EQ(peek.args, (std::vector<int64_t>{HandleValue(window), WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD}));
    int request = IndexOfSend(VerifyRequestMessage);
    ASSERT_GE(request, 0);
    int secondPeek = standin::IndexOfCall("PeekMessageA", standin::IndexOfCall("PeekMessageA") + 1);
    EXPECT_LT(secondPeek, request);
    EXPECT_EQ(standin::posted.size(), 3u);  // one frame of the saver, the other window's, the paint
}

TEST_F(InputPolicyTest, InputAndCloseDuringVerificationPostNothingAndStartNoSecondVerification) {
    LoadProtection();
    HWND window = MakeWindow();
    MouseReference = POINT{10, 10};
    LRESULT innerClose = -1;
    verifyBody = [&](HWND verified) {
        EXPECT_TRUE(InVerification);
        EXPECT_EQ(CloseAllowed, 0);
        standin::cursor = POINT{900, 700};
        SendMessageA(verified, WM_KEYDOWN, 'A', 0);
        SendMessageA(verified, WM_MOUSEMOVE, 0, 0);
        SendMessageA(verified, WM_LBUTTONDOWN, 1, 0);
        SendMessageA(verified, WM_ACTIVATEAPP, 0, 0);
        SendMessageA(verified, WM_POWERBROADCAST, 0, 0);
        SendMessageA(verified, WM_SETCURSOR, 0, 0);
        EXPECT_TRUE(SamePoint(MouseReference, POINT{10, 10}));
        innerClose = SendMessageA(verified, WM_CLOSE, 0, 0);
        EXPECT_TRUE(SamePoint(MouseReference, POINT{900, 700}));
        EXPECT_TRUE(Alive(verified));
        return TRUE;
    };

    SendMessageA(window, WM_CLOSE, 0, 0);

    EXPECT_EQ(innerClose, 0);
    EXPECT_NE(CloseAllowed, 0);  // the accepted password grants closing
    EXPECT_FALSE(InVerification);
    EXPECT_EQ(verifyCalls.size(), 1u);
    EXPECT_TRUE(standin::posted.empty());
    EXPECT_EQ(standin::CountCalls("SetCursor"), 0);
    EXPECT_EQ(CallsWith("DefWindowProcA", WM_SETCURSOR), 1);
    EXPECT_EQ(CallsWith("DefWindowProcA", WM_CLOSE), 1);  // only the accepted outer request
    EXPECT_FALSE(Alive(window));
}

TEST_F(InputPolicyTest, RefusalHidesCursorAndRestartsFromTheCursorAfterVerification) {
    LoadProtection();
    HWND window = MakeWindow();
    int reads = 0;
    standin::tickSource = [&] { return reads++ == 0 ? 1000u : 4321u; };
    verifyBody = [&](HWND) {
        standin::cursor = POINT{40, 50};
        return FALSE;
    };

    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);

    EXPECT_TRUE(Alive(window));
    EXPECT_EQ(CloseAllowed, 0);
    EXPECT_FALSE(InVerification);
    EXPECT_EQ(LastAskTick, 4321u);
    EXPECT_TRUE(SamePoint(MouseReference, POINT{40, 50}));
    int hide = standin::IndexOfCall("SetCursor");
    ASSERT_GT(hide, IndexOfSend(VerifyRequestMessage));
    EXPECT_EQ(standin::calls[hide].args[0], 0);

    standin::cursor = POINT{44, 50};
    SendMessageA(window, WM_MOUSEMOVE, 0, 0);
    EXPECT_TRUE(standin::posted.empty());
    standin::cursor = POINT{45, 50};
    SendMessageA(window, WM_MOUSEMOVE, 0, 0);
    ExpectClosesPosted(window, 1);
}

TEST_F(InputPolicyTest, CloseWithin200MsOfAVerificationIsDroppedAlsoAcrossTheTickWrap) {
    struct ReaskRow {
        DWORD last, now;
        bool asks;
    };
    const ReaskRow rows[] = {
        {5000, 5000, false},        {5000, 5199, false},       {5000, 5200, true},
        {0xFFFFFF9Cu, 99, false},   {0xFFFFFF9Cu, 100, true},  {0xFFFFFFFEu, 197, false},
        {0xFFFFFFFEu, 198, true},   {0xFFFFFF00u, 0xFFFFFFC7u, false},
        {NoVerificationYet, 100, true},  // the first request, though 100 reads as within 200 ms of the mark
    };
    for (const ReaskRow& row : rows) {
        SCOPED_TRACE(std::to_string(row.last) + " -> " + std::to_string(row.now));
        ResetAll();
        LoadProtection();
        HWND window = MakeWindow();
        LastAskTick = row.last;
        standin::tickCount = row.now;
        standin::cursor = POINT{7, 8};

        EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);

        EXPECT_EQ(verifyCalls.size(), row.asks ? 1u : 0u);
        EXPECT_EQ(LastAskTick, row.asks ? row.now : row.last);
        EXPECT_EQ(standin::CountCalls("PeekMessageA"), row.asks ? 2 : 0);
        EXPECT_TRUE(SamePoint(MouseReference, POINT{7, 8}));
        EXPECT_TRUE(Alive(window));
    }
}

TEST_F(InputPolicyTest, OlderFamilyWithoutProtectionGrantsTheFirstCloseAtOnce) {
    OlderFamily = 1;
    HWND window = MakeWindow();

    EXPECT_EQ(SendMessageA(window, VerifyRequestMessage, 0, 0), 1);
    EXPECT_EQ(CallsWith("DefWindowProcA", VerifyRequestMessage), 0);
    SendMessageA(window, WM_CLOSE, 0, 0);

    EXPECT_EQ(CloseAllowed, 1);
    EXPECT_FALSE(Alive(window));
    EXPECT_EQ(CallsWith("SendMessageA", VerifyRequestMessage), 1);  // only the one sent by this test
    EXPECT_EQ(standin::CountCalls("PeekMessageA"), 0);
}

TEST_F(InputPolicyTest, NewerFamilyClosesOnEveryCloseAndLeavesTheVerifyRequestToTheDefault) {
    VerifyFunction = &TestVerify;  // even a loaded function is not asked on this family
    HWND window = MakeWindow();

    SendMessageA(window, VerifyRequestMessage, 0, 0);
    EXPECT_EQ(CallsWith("DefWindowProcA", VerifyRequestMessage), 1);
    SendMessageA(window, WM_CLOSE, 0, 0);

    EXPECT_TRUE(verifyCalls.empty());
    EXPECT_FALSE(Alive(window));
    EXPECT_EQ(standin::CountCalls("GetTickCount"), 0);
}

TEST_F(InputPolicyTest, CloseInPreviewOrAfterGrantIsNeverVerified) {
    for (bool preview : {true, false}) {
        ResetAll();
        LoadProtection();
        PreviewMode = preview;
        CloseAllowed = preview ? 0 : 1;
        HWND window = MakeWindow();

        SendMessageA(window, WM_CLOSE, 0, 0);

        EXPECT_TRUE(verifyCalls.empty());
        EXPECT_FALSE(Alive(window));
    }
}

TEST_F(InputPolicyTest, VerifyRequestTravelsTheWholeWindowChain) {
    LoadProtection();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = SaverWindowProc;
    windowClass.lpszClassName = "WindowsScreenSaverClass";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "WindowsScreenSaverClass", "Screen Saver",
                                  WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 640, 480,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    verifyBody = [](HWND) { return TRUE; };
    standin::cursor = POINT{0, 0};

    SendMessageA(window, WM_KEYDOWN, 'A', 0);
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0)) DispatchMessageA(&message);

    EXPECT_EQ(verifyCalls, std::vector<HWND>{window});
    EXPECT_FALSE(Alive(window));
    EXPECT_EQ(message.wParam, 0u);  // the quit of the destroyed window, not an empty queue
}

struct LoadRow {
    const char* what;
    bool key;
    bool value;
    std::vector<BYTE> stored;
    bool module;
    bool exported;
    bool protects;
};

TEST_F(InputPolicyTest, PasswordProtectionFollowsTheRegistryAndTheModule) {
    const std::vector<LoadRow> rows = {
        {"no key", false, false, {}, true, true, false},
        {"no value", true, false, {}, true, true, false},
        {"value 0", true, true, {0, 0, 0, 0}, true, true, false},
        {"value longer than 4 bytes", true, true, {1, 0, 0, 0, 0}, true, true, false},
        {"module missing", true, true, {1, 0, 0, 0}, false, false, false},
        {"module without the function", true, true, {1, 0, 0, 0}, true, false, false},
        {"value 1", true, true, {1, 0, 0, 0}, true, true, true},
        {"only the high byte set", true, true, {0, 0, 0, 1}, true, true, true},
        {"one byte 1", true, true, {1}, true, true, true},
        {"two bytes, second set", true, true, {0, 1}, true, true, true},
        {"one byte 0", true, true, {0}, true, true, false},
        {"empty value", true, true, {}, true, true, false},
    };
    for (const LoadRow& row : rows) {
        SCOPED_TRACE(row.what);
        ResetAll();
        OlderFamily = 1;
        if (row.key) standin::registry["Control Panel\\Desktop"]["ScreenSaver"] = {1};
        if (row.value) standin::registry["Control Panel\\Desktop"]["ScreenSaveUsePassword"] = row.stored;
        HMODULE module = nullptr;
        if (row.module) {
            std::map<std::string, FARPROC> exports;
            if (row.exported) exports["VerifyScreenSavePwd"] = AsExport(&TestVerify);
            module = standin::AddModule("PASSWORD.CPL", exports);
        }

        DirtyStack();
        LoadPasswordModule();

        EXPECT_EQ(PasswordModule, row.protects ? module : nullptr);
        EXPECT_EQ(VerifyFunction, row.protects ? &TestVerify : nullptr);
        if (module != nullptr) { EXPECT_EQ(standin::FindModuleRecord(module)->references, row.protects ? 1 : 0); }
        std::vector<standin::Call> running = standin::CallsNamed("SystemParametersInfoA");
        ASSERT_EQ(running.size(), row.protects ? 1u : 0u);
        if (row.protects) { EXPECT_EQ(running[0].args, (std::vector<int64_t>{SPI_SCREENSAVERRUNNING, TRUE, 1, 0})); }
        EXPECT_EQ(standin::CountCalls("RegCloseKey"), row.key ? 1 : 0);
        for (const standin::Call& query : standin::CallsNamed("RegQueryValueExA")) {
            EXPECT_EQ(query.args[2], 0);  // type not asked for
            EXPECT_EQ(query.args[3], 4);
        }
    }
}

TEST_F(InputPolicyTest, SystemHearsOfARunningSaverExactlyWhileTheFunctionIsLoaded) {
    HMODULE module = ProtectedSetup();

    LoadPasswordModule();
    LoadPasswordModule();  // a second load releases the first
    UnloadPasswordModule();
    UnloadPasswordModule();

    std::vector<int64_t> flags;
    for (const standin::Call& call : standin::CallsNamed("SystemParametersInfoA")) {
        EXPECT_EQ(call.args[0], SPI_SCREENSAVERRUNNING);
        EXPECT_EQ(call.args[2], 1);
        flags.push_back(call.args[1]);
    }
    EXPECT_EQ(flags, (std::vector<int64_t>{TRUE, FALSE, TRUE, FALSE}));
    EXPECT_EQ(standin::CountCalls("FreeLibrary"), 2);
    EXPECT_EQ(standin::FindModuleRecord(module)->references, 0);
    EXPECT_EQ(PasswordModule, nullptr);
    EXPECT_EQ(VerifyFunction, nullptr);

    SetSaverRunning(FALSE);  // the fault path withdraws the notice on its own
    EXPECT_EQ(standin::CountCalls("SystemParametersInfoA"), 5);
}

TEST_F(InputPolicyTest, NewerFamilyLoadsNoModuleAndTellsTheSystemNothing) {
    ProtectedSetup();
    OlderFamily = 0;

    LoadPasswordModule();
    SetSaverRunning(TRUE);
    SetSaverRunning(FALSE);

    EXPECT_EQ(PasswordModule, nullptr);
    EXPECT_EQ(standin::CountCalls("RegOpenKeyA"), 0);
    EXPECT_EQ(standin::CountCalls("LoadLibraryA"), 0);
    EXPECT_EQ(standin::CountCalls("SystemParametersInfoA"), 0);
}

TEST_F(InputPolicyTest, AutoPlayQueryClosesInEveryStateAndIsRefusedOnlyWithProtection) {
    for (bool loaded : {false, true}) {
        for (State state : {Running, Preview, Granted, Verifying}) {
            SCOPED_TRACE(std::to_string(state) + (loaded ? " with protection" : " without protection"));
            ResetAll();
            if (loaded) LoadProtection();
            OlderFamily = 1;
            QueryCancelAutoPlayMessage = 0xC1F0;
            EnterState(state);
            HWND window = MakeWindow();

            EXPECT_EQ(SaverDefaultProc(window, 0xC1F0, 0, 0), loaded ? 1 : 0);

            ExpectClosesPosted(window, 1);
            EXPECT_EQ(standin::CountCalls("DefWindowProcA"), 0);
        }
    }
}

TEST_F(InputPolicyTest, WithoutAutoPlayIdMessageZeroIsNoQuery) {
    HWND window = MakeWindow();

    SaverDefaultProc(window, 0, 0, 0);

    EXPECT_TRUE(standin::posted.empty());
    EXPECT_EQ(CallsWith("DefWindowProcA", 0), 1);
}

}  // namespace

#include "host/saver_window.h"

#include "host/display_state.h"
#include "host/entry.h"
#include "host/input_policy.h"
#include "standin.h"
#include "surface.h"
#include "tests/support/fresh_process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>
#include <string>
#include <vector>

namespace {

const HINSTANCE TestInstance = reinterpret_cast<HINSTANCE>(0x400000);
const LPARAM TestLParam = 0x00640032;
const WPARAM AltKey = 0x12;
const GUID ConsoleDisplayState = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};
const GUID MonitorPowerOn = {0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}};
const GUID OtherSetting = {0x245D8541, 0x3943, 0x4422, {0xB0, 0x25, 0x13, 0xA7, 0x84, 0xF6, 0x79, 0xB7}};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A power-setting change as the system hands it over: the setting, its length and a DWORD.
struct SettingChange { GUID setting; DWORD length, value; };

void ResetHost()
{
    StartFreshProcess();
    SaverInstance = TestInstance;
}

// Older family with password protection on and a password module that accepts.
void EnablePasswordModule()
{
    OlderFamily = 1;
    AddAcceptingPasswordModule();
}

int IndexOfCallWithText(const std::string& name, const std::string& text)
{
    for (size_t i = 0; i < standin::calls.size(); ++i)
        if (standin::calls[i].name == name && standin::calls[i].text == text) return static_cast<int>(i);
    return -1;
}

class RunSaverTest : public ::testing::Test {
protected:
    void SetUp() override { ResetHost(); }
};

TEST_F(RunSaverTest, RegistersTheBlackCursorlessClassWithTheWindowProcedure)
{
    EndRunsWhenIdle();
    ASSERT_EQ(RunSaver(nullptr), 0);

    ASSERT_EQ(standin::classes.size(), 1u);
    const WNDCLASSA& record = standin::classes[0].record;
    EXPECT_EQ(standin::classes[0].name, "WindowsScreenSaverClass");
    EXPECT_EQ(record.style, 0x2Bu);
    EXPECT_EQ(record.lpfnWndProc, &SaverWindowProc);
    EXPECT_EQ(record.hInstance, TestInstance);
    EXPECT_EQ(record.hIcon, nullptr);
    EXPECT_EQ(record.hCursor, nullptr);
    EXPECT_EQ(record.hbrBackground, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

    std::vector<standin::Call> icons = standin::CallsNamed("LoadIconA");
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].args, (std::vector<int64_t>{HandleValue(TestInstance), 100}));
}

TEST_F(RunSaverTest, CreatesTheWindowWithTheParametersOfEachMode)
{
    struct Case {
        const char* mode;
        bool preview;
        RECT screen;
        int parentWidth, parentHeight;
        DWORD exStyle, style;
        int x, y, width, height;
        const char* title;
    };
    const Case cases[] = {
        {"full screen covers the screen's clip box", false, {-1280, -200, 1024, 768}, 0, 0, 8, 0x96000000, -1280, -200,
         2304, 968, "Screen Saver"},
        {"full screen with an offset box", false, {10, 20, 810, 620}, 0, 0, 8, 0x96000000, 10, 20, 800, 600,
         "Screen Saver"},
        {"preview fills the parent's client area", true, {0, 0, 1024, 768}, 152, 112, 0, 0x52000000, 0, 0, 152, 112,
         "Preview"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ResetHost();
        standin::screen = c.screen;
        HWND parent = c.preview ? standin::AddWindow(c.parentWidth, c.parentHeight, "Desk") : nullptr;
        EndRunsWhenIdle();

        EXPECT_EQ(RunSaver(parent), 0);

        std::vector<standin::Call> made = standin::CallsNamed("CreateWindowExA");
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(made[0].text, std::string("WindowsScreenSaverClass|") + c.title);
        EXPECT_EQ(made[0].args, (std::vector<int64_t>{c.exStyle, c.style, c.x, c.y, c.width, c.height, HandleValue(parent),
                                                      0, HandleValue(TestInstance), 0}));
        EXPECT_EQ(PreviewMode, c.preview);
    }
}

TEST_F(RunSaverTest, FullScreenRunTakesTheForegroundAndEndsWithZeroAfterAClose)
{
    EndRunsWhenIdle();
    EXPECT_EQ(RunSaver(nullptr), 0);

    // The screen's context is given back; the window comes forward before the loop.
    EXPECT_EQ(standin::CountCalls("GetDC"), standin::CountCalls("ReleaseDC"));
    int foreground = standin::IndexOfCall("SetForegroundWindow");
    ASSERT_GE(foreground, 0);
    EXPECT_EQ(standin::calls[foreground].args[0], HandleValue(SaverWindow));
    EXPECT_LT(foreground, standin::IndexOfCall("GetMessageA"));
    EXPECT_GT(standin::CountCalls("TranslateMessage"), 0);
    EXPECT_EQ(standin::CountCalls("TranslateMessage"), standin::CountCalls("DispatchMessageA"));
    EXPECT_FALSE(standin::FindWindowRecord(SaverWindow)->alive);
    EXPECT_EQ(standin::CountCalls("GetMessageA:empty"), 0);
}

TEST_F(RunSaverTest, PreviewRunNeitherLooksForAnotherSaverNorTakesTheForeground)
{
    // A full-screen saver already runs; a preview starts all the same.
    standin::AddWindow(1024, 768, "WindowsScreenSaverClass", "Screen Saver");
    HWND parent = standin::AddWindow(152, 112, "Desk");
    EndRunsWhenIdle();

    EXPECT_EQ(RunSaver(parent), 0);

    EXPECT_EQ(standin::CountCalls("FindWindowA"), 0);
    EXPECT_EQ(standin::CountCalls("SetForegroundWindow"), 0);
    EXPECT_EQ(standin::CountCalls("CreateWindowExA"), 1);
    EXPECT_EQ(standin::CountCalls("SetCursor"), 0);
}

TEST_F(RunSaverTest, ALoopWhoseWindowOrParentWentUnheardEndsWithZero)
{
    struct Case {
        const char* behaviour;
        bool preview;
        bool parentGoes;  // else the saver window itself goes
    };
    const Case cases[] = {
        {"a preview whose parent went while it was made", true, true},
        {"a preview window gone without a WM_DESTROY", true, false},
        {"a full-screen window gone without a WM_DESTROY", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        ResetHost();
        HWND parent = c.preview ? standin::AddWindow(152, 112, "Desk") : nullptr;
        // Gone without a word to the child, as when the parent dies during its creation.
        standin::idle = [&] {
            standin::Window* gone = standin::FindWindowRecord(c.parentGoes ? parent : SaverWindow);
            if (gone != nullptr) gone->alive = false;
        };

        EXPECT_EQ(RunSaver(parent), 0);

        EXPECT_EQ(standin::CountCalls("GetMessageA:empty"), 0);
        EXPECT_FALSE(standin::FindWindowRecord(SaverWindow)->alive);
        // The watch is a thread timer, stopped after the loop.
        EXPECT_EQ(standin::CallsNamed("SetTimer").back().args[0], 0);
        for (const standin::Timer& timer : standin::timers) EXPECT_NE(timer.window, nullptr);
    }
}

TEST_F(RunSaverTest, SecondFullScreenStartBringsTheRunningSaverForwardAndMakesNothing)
{
    EnablePasswordModule();
    HWND running = standin::AddWindow(1024, 768, "WindowsScreenSaverClass", "Screen Saver");

    EXPECT_EQ(RunSaver(nullptr), 0);

    ASSERT_GE(IndexOfCallWithText("FindWindowA", "WindowsScreenSaverClass|Screen Saver"), 0);
    std::vector<standin::Call> forward = standin::CallsNamed("SetForegroundWindow");
    ASSERT_EQ(forward.size(), 1u);
    EXPECT_EQ(forward[0].args[0], HandleValue(running));
    EXPECT_EQ(standin::CountCalls("RegisterClassA"), 0);
    EXPECT_EQ(standin::CountCalls("CreateWindowExA"), 0);
    EXPECT_EQ(standin::CountCalls("LoadLibraryA"), 0);
    EXPECT_EQ(standin::CountCalls("GetMessageA"), 0);
    EXPECT_EQ(SaverWindow, nullptr);
}

TEST_F(RunSaverTest, OnlyATopLevelSaverTitledScreenSaverCountsAsRunning)
{
    const char* titles[] = {"Preview", "Screen saver", ""};
    for (const char* title : titles) {
        SCOPED_TRACE(title);
        ResetHost();
        standin::AddWindow(1024, 768, "WindowsScreenSaverClass", title);
        EndRunsWhenIdle();
        EXPECT_EQ(RunSaver(nullptr), 0);
        EXPECT_EQ(standin::CountCalls("CreateWindowExA"), 1);
    }
}

TEST_F(RunSaverTest, PasswordModuleIsLoadedBeforeTheClassInFullScreenOnlyAndReleasedAfterTheLoop)
{
    EnablePasswordModule();
    EndRunsWhenIdle();
    EXPECT_EQ(RunSaver(nullptr), 0);
    int loaded = IndexOfCallWithText("LoadLibraryA", "PASSWORD.CPL");
    ASSERT_GE(loaded, 0);
    EXPECT_LT(loaded, standin::IndexOfCall("RegisterClassA"));
    EXPECT_GT(standin::IndexOfCall("FreeLibrary"), LastIndexOfCall("GetMessageA"));
    EXPECT_EQ(PasswordModule, nullptr);

    ResetHost();
    EnablePasswordModule();
    HWND parent = standin::AddWindow(152, 112, "Desk");
    EndRunsWhenIdle();
    EXPECT_EQ(RunSaver(parent), 0);
    EXPECT_EQ(standin::CountCalls("LoadLibraryA"), 0);
}

TEST_F(RunSaverTest, RunWithoutAWindowReportsFailureAndStillReleasesThePasswordModule)
{
    struct Case {
        const char* failure;
        bool registerFails, createFails;
    };
    const Case cases[] = {{"class refused", true, false}, {"window refused", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        ResetHost();
        EnablePasswordModule();
        if (c.registerFails) standin::failures.push_back({"RegisterClassA", 0});
        if (c.createFails) standin::failures.push_back({"CreateWindowExA", 0});

        EXPECT_EQ(RunSaver(nullptr), SaverWindowFailed);
        EXPECT_EQ(standin::CountCalls("CreateWindowExA"), c.createFails ? 1 : 0);
        EXPECT_EQ(standin::CountCalls("GetMessageA"), 0);
        EXPECT_EQ(standin::CountCalls("FreeLibrary"), 1);
        EXPECT_EQ(SaverWindow, nullptr);
    }
}

TEST_F(RunSaverTest, FailingMessageQueueEndsTheLoopAsAFailure)
{
    standin::failures = {{"GetMessageA", 1}};
    EndRunsWhenIdle();
    EXPECT_EQ(RunSaver(nullptr), SaverWindowFailed);
    EXPECT_EQ(standin::CountCalls("GetMessageA"), 1);
    EXPECT_EQ(standin::CountCalls("DispatchMessageA"), 0);
}

TEST_F(RunSaverTest, AutoPlayQueryIsRegisteredOnTheOlderFamilyOnly)
{
    struct Case {
        const char* setting;
        LONG older;
        bool preview;
    };
    const Case cases[] = {
        {"newer, full screen", 0, false}, {"newer, preview", 0, true}, {"older, full screen", 1, false},
        {"older, preview", 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        ResetHost();
        OlderFamily = c.older;
        QueryCancelAutoPlayMessage = 0xDEAD;
        HWND parent = c.preview ? standin::AddWindow(152, 112, "Desk") : nullptr;
        EndRunsWhenIdle();

        EXPECT_EQ(RunSaver(parent), 0);

        if (c.older) {
            ASSERT_GE(IndexOfCallWithText("RegisterWindowMessageA", "QueryCancelAutoPlay"), 0);
            EXPECT_EQ(QueryCancelAutoPlayMessage, RegisterWindowMessageA("QueryCancelAutoPlay"));
            EXPECT_NE(QueryCancelAutoPlayMessage, 0u);
        } else {
            EXPECT_EQ(standin::CountCalls("RegisterWindowMessageA"), 0);
            EXPECT_EQ(QueryCancelAutoPlayMessage, 0u);
        }
    }
}

// The input-method module as the test scripts it.
std::vector<std::pair<HWND, HIMC>> associateCalls;
HIMC contextInUse;

HIMC WINAPI RecordAssociateContext(HWND window, HIMC context)
{
    associateCalls.push_back({window, context});
    return contextInUse;
}

TEST_F(RunSaverTest, FullScreenWatchesTheDisplayWhereTheSystemCanAndStopsWhenItsWindowGoes)
{
    struct Case {
        const char* system;
        bool older, preview, offered;
        DWORD major, minor;
        const GUID* watched;  // null: nothing registered
    };
    const Case cases[] = {
        {"Windows 8 and later", false, false, true, 6, 2, &ConsoleDisplayState},
        {"Windows Vista and 7", false, false, true, 6, 1, &MonitorPowerOn},
        {"a preview", false, true, true, 10, 0, nullptr},
        {"NT without the call (2000, XP)", false, false, false, 5, 1, nullptr},
        {"the older family, even where the call exists", true, false, true, 4, 10, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        ResetHost();
        UseFamily(c.older);
        std::tie(standin::majorVersion, standin::minorVersion) = std::tie(c.major, c.minor);
        if (c.offered) standin::AddPowerSettingCalls();
        HWND parent = c.preview ? standin::AddWindow(152, 112, "Desk") : nullptr;
        EndRunsWhenIdle();

        EXPECT_EQ(RunSaver(parent), 0);

        ASSERT_EQ(standin::powerNotifications.size(), c.watched ? 1u : 0u);
        if (c.watched == nullptr) continue;
        EXPECT_EQ(standin::powerNotifications[0].window, SaverWindow);
        EXPECT_TRUE(SameGuid(standin::powerNotifications[0].setting, *c.watched));
        EXPECT_FALSE(standin::powerNotifications[0].live);
        EXPECT_EQ(DisplayNotification, nullptr);
    }
}

TEST_F(RunSaverTest, InputMethodIsDetachedAtCreationAndHandedBackAtDestruction)
{
    const HIMC previous = reinterpret_cast<HIMC>(0x7700);
    struct Case {
        const char* setting;
        bool moduleKnown, moduleLoaded, exported;
        HIMC previous;
        size_t expectedCalls;
    };
    const Case cases[] = {
        {"module loaded, context attached", true, true, true, previous, 2},
        {"module loaded, no context attached", true, true, true, nullptr, 1},
        {"module present but not loaded", true, false, true, previous, 0},
        {"module without the function", true, true, false, previous, 0},
        {"no module", false, false, false, previous, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        ResetHost();
        associateCalls.clear();
        contextInUse = c.previous;
        if (c.moduleKnown) {
            std::map<std::string, FARPROC> exports;
            if (c.exported) exports["ImmAssociateContext"] = reinterpret_cast<FARPROC>(RecordAssociateContext);
            standin::AddModule("IMM32.DLL", exports, c.moduleLoaded);
        }
        EndRunsWhenIdle();

        EXPECT_EQ(RunSaver(nullptr), 0);

        EXPECT_GE(IndexOfCallWithText("GetModuleHandleA", "IMM32.DLL"), 0);
        EXPECT_EQ(IndexOfCallWithText("LoadLibraryA", "IMM32.DLL"), -1);
        std::vector<std::pair<HWND, HIMC>> expected = {{SaverWindow, nullptr}, {SaverWindow, previous}};
        expected.resize(c.expectedCalls);
        EXPECT_EQ(associateCalls, expected);
    }
}

// The window procedure, called directly on a saver window made as RunSaver makes it.
class SaverWindowProcTest : public ::testing::Test {
protected:
    void SetUp() override { ResetHost(); }

    HWND MakeSaverWindow(bool preview, bool withParent = true, bool clearLog = true)
    {
        PreviewMode = preview;
        parent = preview && withParent ? standin::AddWindow(200, 150, "Desk") : nullptr;
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = SaverWindowProc;
        windowClass.lpszClassName = "WindowsScreenSaverClass";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(preview ? 0 : WS_EX_TOPMOST, "WindowsScreenSaverClass",
                                 preview ? "Preview" : "Screen Saver", preview ? 0x52000000 : 0x96000000, 0, 0, 200,
                                 150, parent, nullptr, TestInstance, nullptr);
        if (clearLog) {
            standin::calls.clear();
            standin::posted.clear();
        }
        return window;
    }

    bool DefaultSaw(UINT message, WPARAM wParam, LPARAM lParam)
    {
        std::vector<int64_t> expected = {HandleValue(window), message, static_cast<int64_t>(wParam), lParam};
        for (const standin::Call& call : standin::CallsNamed("DefWindowProcA"))
            if (call.args == expected) return true;
        return false;
    }

    bool Posted(HWND to, UINT message)
    {
        for (const MSG& queued : standin::posted)
            if (queued.hwnd == to && queued.message == message) return true;
        return false;
    }

    HWND parent = nullptr;
    HWND window = nullptr;
};

TEST_F(SaverWindowProcTest, CreationRecordsTheCursorAndHidesItInFullScreenOnly)
{
    for (bool preview : {false, true}) {
        SCOPED_TRACE(preview ? "preview" : "full screen");
        ResetHost();
        standin::cursor = POINT{321, 123};
        HWND made = MakeSaverWindow(preview, true, false);

        ASSERT_NE(made, nullptr);
        EXPECT_EQ(MouseReference.x, 321);
        EXPECT_EQ(MouseReference.y, 123);
        std::vector<standin::Call> cursors = standin::CallsNamed("SetCursor");
        ASSERT_EQ(cursors.size(), preview ? 0u : 1u);
        if (!preview) { EXPECT_EQ(cursors[0].args[0], 0); }
        // The effect's creation still runs: its frame timer is started.
        ASSERT_EQ(standin::timers.size(), 1u);
        EXPECT_EQ(standin::timers[0].window, made);
    }
}

TEST_F(SaverWindowProcTest, DestructionPostsQuitWithZeroBeforeTheEffectStopsItsTimer)
{
    MakeSaverWindow(false);
    DestroyWindow(window);
    int quit = standin::IndexOfCall("PostQuitMessage");
    ASSERT_GE(quit, 0);
    EXPECT_EQ(standin::calls[quit].args[0], 0);
    EXPECT_LT(quit, standin::IndexOfCall("KillTimer"));
    EXPECT_TRUE(standin::timers.empty());
    ASSERT_EQ(standin::posted.size(), 1u);
    EXPECT_EQ(standin::posted[0].message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(standin::posted[0].wParam, 0u);
}

TEST_F(SaverWindowProcTest, SettlesEachMessageAsItsModeAndClosingStateRequire)
{
    struct Row {
        const char* behaviour;
        UINT message;
        WPARAM wParam;
        bool preview;
        LONG closeAllowed;
        LRESULT result;
        bool reachesDefault;  // DefWindowProcA sees the message
        bool closePosted;     // the close-on-input policy behind the effect saw it
        bool cursorHidden;
        bool frameDrawn;      // Sleep(0), then the effect's frame
    };
    const Row rows[] = {
        {"title changes are refused", WM_SETTEXT, 0, false, 0, 0, false, false, false, false},
        {"title changes are refused in preview while closing", WM_SETTEXT, 0, true, 1, 0, false, false, false, false},
        {"a paint hides the cursor and reaches the default", WM_PAINT, 0, false, 0, 0, true, false, true, false},
        {"a preview paint leaves the cursor", WM_PAINT, 0, true, 0, 0, true, false, false, false},
        {"a paint while closing goes straight to the default", WM_PAINT, 0, false, 1, 0, true, false, false, false},
        {"a key closes", WM_KEYDOWN, 'A', false, 0, 0, true, true, false, false},
        {"a system key closes", WM_SYSKEYDOWN, AltKey, false, 0, 0, true, true, false, false},
        {"a real movement closes", WM_MOUSEMOVE, 0, false, 0, 0, true, true, false, false},
        {"a left click closes", WM_LBUTTONDOWN, 1, false, 0, 0, true, true, false, false},
        {"a right click closes", WM_RBUTTONDOWN, 2, false, 0, 0, true, true, false, false},
        {"a middle click closes", WM_MBUTTONDOWN, 16, false, 0, 0, true, true, false, false},
        {"a key while closing only reaches the default", WM_KEYDOWN, 'A', false, 1, 0, true, false, false, false},
        {"a system key while closing", WM_SYSKEYDOWN, AltKey, false, 1, 0, true, false, false, false},
        {"a movement while closing", WM_MOUSEMOVE, 0, false, 1, 0, true, false, false, false},
        {"a left click while closing", WM_LBUTTONDOWN, 1, false, 1, 0, true, false, false, false},
        {"a right click while closing", WM_RBUTTONDOWN, 2, false, 1, 0, true, false, false, false},
        {"a middle click while closing", WM_MBUTTONDOWN, 16, false, 1, 0, true, false, false, false},
        {"a key does not close a preview", WM_KEYDOWN, 'A', true, 0, 0, true, false, false, false},
        {"next window is swallowed", WM_SYSCOMMAND, SC_NEXTWINDOW, false, 0, 0, false, false, false, false},
        {"previous window is swallowed", WM_SYSCOMMAND, SC_PREVWINDOW, false, 0, 0, false, false, false, false},
        {"screen save is swallowed", WM_SYSCOMMAND, SC_SCREENSAVE, false, 0, 0, false, false, false, false},
        {"next window, a low bit set", WM_SYSCOMMAND, SC_NEXTWINDOW | 1, false, 0, 0, true, false, false, false},
        {"screen save, low bits set", WM_SYSCOMMAND, SC_SCREENSAVE | 0xF, false, 0, 0, true, false, false, false},
        {"other system commands go on", WM_SYSCOMMAND, 0xF060, false, 0, 0, true, false, false, false},
        {"a preview lets screen save on", WM_SYSCOMMAND, SC_SCREENSAVE, true, 0, 0, true, false, false, false},
        {"a tick draws a frame", WM_TIMER, 1, false, 0, 0, false, false, false, true},
        {"a preview tick draws a frame", WM_TIMER, 1, true, 0, 0, false, false, false, true},
        {"a tick while closing draws nothing", WM_TIMER, 1, false, 1, 0, false, false, false, false},
        {"help goes on in full screen", WM_HELP, 0, false, 0, 0, true, false, false, false},
        {"a context menu goes on in full screen", WM_CONTEXTMENU, 0, false, 0, 0, true, false, false, false},
        {"other messages go on down the chain", WM_ACTIVATEAPP, 0, false, 0, 0, true, true, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.behaviour);
        ResetHost();
        MakeSaverWindow(row.preview);
        standin::cursor = POINT{50, 0};  // well past the movement threshold
        CloseAllowed = row.closeAllowed;

        EXPECT_EQ(SaverWindowProc(window, row.message, row.wParam, TestLParam), row.result);

        EXPECT_EQ(DefaultSaw(row.message, row.wParam, TestLParam), row.reachesDefault);
        EXPECT_EQ(Posted(window, WM_CLOSE), row.closePosted);
        bool cursorHidden = false;
        for (const standin::Call& call : standin::CallsNamed("SetCursor"))
            cursorHidden = cursorHidden || call.args[0] == 0;
        EXPECT_EQ(cursorHidden, row.cursorHidden);
        int sleep = standin::IndexOfCall("Sleep");
        int frame = standin::IndexOfCall("GetDC");
        EXPECT_EQ(sleep >= 0, row.frameDrawn);
        EXPECT_EQ(frame >= 0, row.frameDrawn);
        if (row.frameDrawn) {
            EXPECT_EQ(standin::calls[sleep].args[0], 0);
            EXPECT_LT(sleep, frame);
            EXPECT_EQ(standin::calls[frame].args[0], HandleValue(window));
        }
    }
}

// Measured as at creation on either family: Windows 95 has no virtual-screen metrics.
TEST_F(SaverWindowProcTest, FullScreenCoversANewScreenLayoutAndTheEffectFollowsIt)
{
    for (int run = 0; run < 3; ++run) {
        const bool preview = run == 1, older = run == 2;
        SCOPED_TRACE(preview ? "preview" : older ? "full screen, older family" : "full screen");
        ResetHost();
        UseFamily(older);
        MakeSaverWindow(preview);
        for (Sparkle& sparkle : EffectState.sparkles) sparkle = Sparkle{190, 140, 5, 5, 0};
        standin::screen = RECT{-1280, -120, 1920, 960};  // a second monitor to the left, set higher
        standin::cursor = POINT{-600, 300};             // moved by the system into the new layout

        SaverWindowProc(window, WM_DISPLAYCHANGE, 24, MAKELPARAM(1920, 1080));
        SaverWindowProc(window, WM_TIMER, 1, 0);

        const standin::Window* record = standin::FindWindowRecord(window);
        EXPECT_EQ(MouseReference.x, -600);
        EXPECT_EQ(MouseReference.y, 300);
        if (preview) {
            // Its parent decides its size.
            EXPECT_EQ(standin::CountCalls("SetWindowPos"), 0);
            EXPECT_EQ(record->width, 200);
            EXPECT_EQ(EffectState.width, 200);
            continue;
        }
        ASSERT_EQ(standin::CountCalls("SetWindowPos"), 1);
        EXPECT_EQ(standin::CallsNamed("SetWindowPos")[0].args[1], HandleValue(HWND_TOPMOST));
        EXPECT_EQ(std::vector<int>({record->x, record->y, record->width, record->height}),
                  std::vector<int>({-1280, -120, 3200, 1080}));
        EXPECT_EQ(EffectState.width, 3200);
        EXPECT_EQ(EffectState.height, 1080);
        // The strip, the bands and the bounces use the new area.
        EXPECT_EQ(standin::CallsNamed("Rectangle")[0].args[3], 3200);
        EXPECT_EQ(standin::CountCalls("BitBlt"), 3200 / 8 + 1080 / 8);
        for (const Sparkle& sparkle : EffectState.sparkles) {
            EXPECT_GE(sparkle.x, 0);
            EXPECT_LE(sparkle.x, 3200 - 16);
            EXPECT_LE(sparkle.y, 1080 - 16);
        }
        // A smaller layout brings every sparkle back inside it at once.
        standin::screen = RECT{0, 0, 100, 60};
        SaverWindowProc(window, WM_DISPLAYCHANGE, 24, MAKELPARAM(100, 60));
        for (const Sparkle& sparkle : EffectState.sparkles) {
            EXPECT_TRUE(sparkle.x >= 0 && sparkle.x <= 100 - 16) << sparkle.x;
            EXPECT_TRUE(sparkle.y >= 0 && sparkle.y <= 60 - 16) << sparkle.y;
        }
    }
}

// Off stops the frames and their timer, and the sparkles stay; on and dimmed go on at once
// at the settings' wait; anything else changes nothing. None of it ends the saver.
TEST_F(SaverWindowProcTest, FramesRestWhileTheDisplayIsOffAndGoOnWhenItIsBack)
{
    struct Step { const char* change; SettingChange setting; bool drawing; };
    const Step steps[] = {
        {"console display off", {ConsoleDisplayState, 4, 0}, false},
        {"console display dimmed", {ConsoleDisplayState, 4, 2}, true},
        {"console display off again", {ConsoleDisplayState, 4, 0}, false},
        {"another setting, 1", {OtherSetting, 4, 1}, false},
        {"console display on, two bytes long", {ConsoleDisplayState, 2, 1}, false},
        {"monitor power on", {MonitorPowerOn, 4, 1}, true},
        {"console display on while on", {ConsoleDisplayState, 4, 1}, true},
        {"monitor power off", {MonitorPowerOn, 4, 0}, false},
        {"console display on", {ConsoleDisplayState, 4, 1}, true},
    };
    standin::AddPowerSettingCalls();
    MakeSaverWindow(false);
    WatchDisplay(window);
    bool drawing = true;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.change);
        standin::calls.clear();
        Sparkle before = EffectState.sparkles[0];
        LPARAM setting = reinterpret_cast<LPARAM>(&step.setting);

        SaverWindowProc(window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, setting);
        // Coming back draws one frame at once.
        EXPECT_EQ(standin::CountCalls("Rectangle"), step.drawing && !drawing ? 1 : 0);
        SaverWindowProc(window, WM_TIMER, 1, 0);

        EXPECT_TRUE(DefaultSaw(WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, setting));
        EXPECT_TRUE(standin::posted.empty());
        EXPECT_EQ(standin::timers.size(), step.drawing ? 1u : 0u);
        if (!standin::timers.empty()) {
            EXPECT_EQ(standin::timers[0].elapse, 40u);
        }
        EXPECT_EQ(standin::CountCalls("Rectangle") > 0, step.drawing);
        if (!step.drawing) {
            EXPECT_EQ(std::memcmp(&before, &EffectState.sparkles[0], sizeof before), 0);
        }
        drawing = step.drawing;
    }
    DestroyWindow(window);
    EXPECT_FALSE(standin::powerNotifications[0].live);
}

// Shrunk to nothing, the window would show the desktop until the next input.
TEST_F(SaverWindowProcTest, ALayoutThatCannotBeMeasuredKeepsTheWindowAndTheEffect)
{
    struct Case { const char* failure; const char* failingCall; RECT screen; };
    const Case cases[] = {
        {"no screen device context", "GetDC", {0, 0, 1920, 1080}},
        {"no clip box", "GetClipBox", {0, 0, 1920, 1080}},
        {"an empty box", nullptr, {-1280, 0, -1280, 1080}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        ResetHost();
        MakeSaverWindow(false);
        standin::screen = c.screen;
        if (c.failingCall) standin::failures = {{c.failingCall, 0}};

        SaverWindowProc(window, WM_DISPLAYCHANGE, 24, MAKELPARAM(1920, 1080));
        SaverWindowProc(window, WM_TIMER, 1, 0);

        const standin::Window* record = standin::FindWindowRecord(window);
        EXPECT_EQ(standin::CountCalls("SetWindowPos"), 0);
        EXPECT_EQ(std::vector<int>({record->x, record->y, record->width, record->height}),
                  std::vector<int>({0, 0, 200, 150}));
        EXPECT_EQ(EffectState.width, 200);
        EXPECT_EQ(EffectState.height, 150);
        EXPECT_EQ(standin::LiveDeviceContexts(), 0);
    }
}

TEST_F(SaverWindowProcTest, PreviewForwardsHelpToItsParentAsTheTarget)
{
    struct Case {
        const char* parentState;
        bool withParent, parentAlive, hung;
    };
    const Case cases[] = {{"live parent", true, true, false},
                          {"parent that stopped answering", true, true, true},
                          {"destroyed parent", true, false, false},
                          {"no parent", false, false, false}};
    for (UINT message : {static_cast<UINT>(WM_HELP), static_cast<UINT>(WM_CONTEXTMENU)}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.parentState) + (message == WM_HELP ? ", help" : ", context menu"));
            ResetHost();
            MakeSaverWindow(true, c.withParent);
            if (c.withParent && !c.parentAlive) standin::FindWindowRecord(parent)->alive = false;
            if (c.hung) standin::FindWindowRecord(parent)->hung = true;

            EXPECT_EQ(SaverWindowProc(window, message, 0x1234, TestLParam), 1);

            EXPECT_FALSE(DefaultSaw(message, 0x1234, TestLParam));
            if (c.parentAlive && message == WM_HELP) {
                // Help is sent, since its HELPINFO pointer cannot be posted across processes, and
                // a host that hangs holds the preview up for half a second at most.
                auto sent = standin::CallsNamed("SendMessageTimeoutA");
                ASSERT_EQ(sent.size(), 1u);
                EXPECT_EQ(std::vector<int64_t>(sent[0].args.begin(), sent[0].args.begin() + 5),
                          (std::vector<int64_t>{HandleValue(parent), WM_HELP, HandleValue(parent), TestLParam,
                                                SMTO_ABORTIFHUNG}));
                EXPECT_LE(sent[0].args[5], 500);
                EXPECT_EQ(standin::CountCalls("SendMessageA"), c.hung ? 0 : 1);
                EXPECT_EQ(standin::tickCount, 0u);
                EXPECT_TRUE(standin::posted.empty());
            } else if (c.parentAlive) {
                ASSERT_EQ(standin::posted.size(), 1u);
                EXPECT_EQ(standin::posted[0].hwnd, parent);
                EXPECT_EQ(standin::posted[0].message, message);
                EXPECT_EQ(standin::posted[0].wParam, reinterpret_cast<WPARAM>(parent));
                EXPECT_EQ(standin::posted[0].lParam, TestLParam);
            } else {
                EXPECT_EQ(standin::CountCalls("PostMessageA"), 0);
                EXPECT_EQ(standin::CountCalls("SendMessageTimeoutA"), 0);
            }
        }
    }
}

BOOL WINAPI AnswerSeven(HWND) { return 7; }

TEST_F(SaverWindowProcTest, VerifyRequestTravelsOnAndItsAnswerComesBackUnchanged)
{
    MakeSaverWindow(false);
    OlderFamily = 1;
    VerifyFunction = AnswerSeven;
    EXPECT_EQ(SaverWindowProc(window, VerifyRequestMessage, 0, 0), 7);
}

}  // namespace

#include "host/entry.h"

#include "dialog.h"
#include "effect/settings_dialog.h"
#include "host/input_policy.h"
#include "host/saver_window.h"
#include "standin.h"
#include "tests/support/fresh_process.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

const HINSTANCE TestInstance = reinterpret_cast<HINSTANCE>(0x400000);
// The settings dialog's script ends it as Cancel would.
const int DialogResult = 2;
const UINT AccessViolation = 0xC0000005;

// Runs body until the stand-in's ExitProcess; true when the process would have ended.
std::jmp_buf exitPoint;
bool EndsProcess(void (*body)())
{
    standin::exitJump = &exitPoint;
    if (setjmp(exitPoint) == 0) {
        body();
        standin::exitJump = nullptr;
        return false;
    }
    standin::exitJump = nullptr;
    return true;
}

TEST(CommandTailTest, SkipsTheProgramNameAndTheBlanksBehindIt)
{
    struct Case {
        const char* behaviour;
        const char* commandLine;
        const char* tail;
    };
    const Case cases[] = {
        {"own path with a blank, unquoted", "C:\\Users\\Anna Maria\\kelvo.scr /p 1234", "/p 1234"},
        {"own path in another case", "c:\\users\\ANNA MARIA\\Kelvo.SCR\t/c:55", "/c:55"},
        {"own path alone", "C:\\Users\\Anna Maria\\kelvo.scr", ""},
        {"own path quoted", "\"C:\\Users\\Anna Maria\\kelvo.scr\" /s", "/s"},
        {"own path touching its tail is no own path", "C:\\Users\\Anna Maria\\kelvo.scr/s",
         "Maria\\kelvo.scr/s"},
        {"another program's path with a blank", "C:\\Users\\Anna Maria\\other.scr /s", "Maria\\other.scr /s"},
        {"a line shorter than the own path", "C:\\Users\\Anna /s", "/s"},
        {"quoted name and a blank", "\"C:\\Savers\\kelvo.scr\" /s", "/s"},
        {"quoted name ends at its quote", "\"C:\\Savers\\kelvo.scr\"/s", "/s"},
        {"quoted name with blanks inside", "\"C:\\My Savers\\kelvo.scr\" /p 456", "/p 456"},
        {"empty quoted name", "\"\" /c", "/c"},
        {"unclosed quote takes the whole line", "\"C:\\Savers\\kelvo.scr /s", ""},
        {"unquoted name and a blank", "C:\\Savers\\kelvo.scr /s", "/s"},
        {"unquoted name takes a tail that touches it", "C:\\Savers\\kelvo.scr/s", ""},
        {"unquoted name stops at a tab", "kelvo.scr\t/s", "/s"},
        {"blanks and tabs before the tail", "kelvo.scr \t  \t/p 456", "/p 456"},
        {"control bytes count as blanks", "kelvo.scr\x01\x1f /c", "/c"},
        {"a tab after a quoted name", "\"kelvo.scr\"\t\t/s", "/s"},
        {"blanks inside the tail stay", "kelvo.scr /p   456 ", "/p   456 "},
        {"name alone", "kelvo.scr", ""},
        {"name and trailing blanks", "kelvo.scr   ", ""},
        {"empty line", "", ""},
        {"a line starting with a blank has no name", "  /s", "/s"},
        {"high bytes belong to an unquoted name", "kelvo\xa0\xb1.scr /s", "/s"},
        {"double-byte name, quoted", "\"C:\\\x95\x5c\x8e\xa6\\kelvo.scr\" /s", "/s"},
        {"double-byte name, unquoted", "C:\\\x95\x5c\x8e\xa6\\kelvo.scr /s", "/s"},
        {"a lead byte takes the blank behind it into the name", "kelvo\x81 /s", ""},
        {"a lead byte takes the closing quote behind it", "\"kelvo\x81\" /s", ""},
        {"a lead byte at the very end", "kelvo\x81", ""},
    };
    standin::Reset();
    standin::moduleFileName = "C:\\Users\\Anna Maria\\kelvo.scr";  // the program's own path
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        std::string line = c.commandLine;
        const char* tail = CommandTail(line.c_str());
        ASSERT_GE(tail, line.c_str());
        ASSERT_LE(tail, line.c_str() + line.size());
        EXPECT_STREQ(tail, c.tail);
    }
}

TEST(ParseWindowHandleTest, ReadsLeadingDecimalDigitsWrappingAt32Bits)
{
    struct Case {
        const char* text;
        DWORD value;
    };
    const Case cases[] = {
        {"456", 456}, {"0456", 456}, {"12x", 12}, {"456 789", 456}, {"4294967295", 0xFFFFFFFF}, {"4294967296", 0},
        {"4294967297", 1}, {"99999999999", 1215752191}, {"", 0}, {" 456", 0}, {"\t456", 0}, {"-5", 0}, {"+5", 0},
        {":456", 0}, {"0x1F", 0}, {"abc", 0}, {"\xb2" "456", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseWindowHandle(c.text), c.value);
    }
}

TEST(WindowFromNumberTest, GivesBackTheHandleTheSystemPrinted)
{
    EXPECT_EQ(WindowFromNumber(0x10010), reinterpret_cast<HWND>(static_cast<intptr_t>(0x10010)));
    EXPECT_EQ(WindowFromNumber(ParseWindowHandle("4294967297")), reinterpret_cast<HWND>(static_cast<intptr_t>(1)));
    // Window handles are sign-extended 32-bit values on x64.
    EXPECT_EQ(WindowFromNumber(4294967295u), reinterpret_cast<HWND>(static_cast<intptr_t>(-1)));
    EXPECT_EQ(WindowFromNumber(0x80001234u),
              reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(0x80001234u))));
}

class SaverMainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartFreshProcess();
        named = standin::AddWindow(400, 300, "Desk");
        foreground = standin::AddWindow(800, 600, "Other");
        standin::foregroundWindow = foreground;
        // A window whose handle has the top bit of its 32 bits set, as x64 systems hand out.
        standin::AddWindow(320, 200, "Desk");
        standin::windows.back().handle = WindowFromNumber(0x80001234u);
        standin::dialogScript = [](HWND dialog) { EndDialog(dialog, DialogResult); };
        EndRunsWhenIdle();
        AddPasswordChanger();
    }

    // "{w}" names the window `named`, "{w+2^32}" the same past 32 bits, "{h}" the high window.
    std::string Expand(std::string tail)
    {
        const std::pair<std::string, std::string> tokens[] = {
            {"{w}", std::to_string(reinterpret_cast<uintptr_t>(named))},
            {"{w+2^32}", std::to_string(reinterpret_cast<uintptr_t>(named) + 4294967296ull)},
            {"{h}", std::to_string(0x80001234u)},
        };
        for (const auto& token : tokens)
            for (size_t at = tail.find(token.first); at != std::string::npos; at = tail.find(token.first))
                tail.replace(at, token.first.size(), token.second);
        return tail;
    }

    HWND named = nullptr;
    HWND foreground = nullptr;
};

enum class Mode { Settings, FullScreen, Preview, ChangePassword, Refused };
enum class Target { None, Named, High, Foreground };

struct DispatchCase {
    const char* tail;
    DWORD platform;
    Mode mode;
    Target target;       // settings or password owner, preview parent
    bool asksIsWindow;   // whether a window number was checked at all
};

TEST_F(SaverMainTest, CommandTailPicksExactlyOneMode)
{
    const DWORD Newer = VER_PLATFORM_WIN32_NT, Older = VER_PLATFORM_WIN32_WINDOWS;
    using M = Mode;
    using T = Target;
    const DispatchCase cases[] = {
        // Separators and the empty tail.
        {"", Newer, M::Settings, T::None, false}, {"/", Newer, M::Settings, T::None, false},
        {"-", Newer, M::Settings, T::None, false}, {" ", Newer, M::Settings, T::None, false},
        {"//--/ -", Newer, M::Settings, T::None, false},
        // Full screen.
        {"s", Newer, M::FullScreen, T::None, false}, {"S", Newer, M::FullScreen, T::None, false},
        {"-s", Newer, M::FullScreen, T::None, false}, {"/s", Newer, M::FullScreen, T::None, false},
        {"/S", Newer, M::FullScreen, T::None, false}, {"//--/ s", Newer, M::FullScreen, T::None, false},
        {"/s /p 123", Newer, M::FullScreen, T::None, false}, {"/sx", Newer, M::FullScreen, T::None, false},
        {"/s", Older, M::FullScreen, T::None, false},
        // Refused bytes: the first one that is no separator decides.
        {"x", Newer, M::Refused, T::None, false}, {"/x /s", Newer, M::Refused, T::None, false},
        {"/?", Newer, M::Refused, T::None, false}, {"/1", Newer, M::Refused, T::None, false},
        {"/\ts", Newer, M::Refused, T::None, false}, {"\x01s", Newer, M::Refused, T::None, false},
        {"/:s", Newer, M::Refused, T::None, false}, {"/\x80s", Newer, M::Refused, T::None, false},
        {"/\xd3", Newer, M::Refused, T::None, false}, {"\xff", Newer, M::Refused, T::None, false},
        {"/\x82\x93", Newer, M::Refused, T::None, false}, {"/z", Older, M::Refused, T::None, false},
        // Preview, p and l.
        {"/p {w}", Newer, M::Preview, T::Named, true}, {"/p{w}", Newer, M::Preview, T::Named, true},
        {"/P   {w}", Newer, M::Preview, T::Named, true}, {"/l {w}", Newer, M::Preview, T::Named, true},
        {"L{w}", Newer, M::Preview, T::Named, true}, {"/p 0{w}", Newer, M::Preview, T::Named, true},
        {"/p {w+2^32}", Newer, M::Preview, T::Named, true}, {"/p {w}x /s", Newer, M::Preview, T::Named, true},
        {"/p {h}", Newer, M::Preview, T::High, true}, {"/p 456", Newer, M::Refused, T::None, true},
        {"/p", Newer, M::Refused, T::None, false}, {"/p 0", Newer, M::Refused, T::None, false},
        {"/p:{w}", Newer, M::Refused, T::None, false}, {"/p -5", Newer, M::Refused, T::None, false},
        {"/p abc", Newer, M::Refused, T::None, false}, {"/p\t{w}", Newer, M::Refused, T::None, false},
        {"/l:{w}", Newer, M::Refused, T::None, false},
        // Settings with an owner: a number counts only right behind a colon.
        {"/c:{w}", Newer, M::Settings, T::Named, true}, {"C:{w}", Newer, M::Settings, T::Named, true},
        {"/c:0{w}x", Newer, M::Settings, T::Named, true}, {"/c:{h}", Newer, M::Settings, T::High, true},
        {"/c:456", Newer, M::Settings, T::Foreground, true}, {"/c:12x", Newer, M::Settings, T::Foreground, true},
        {"/c {w}", Newer, M::Settings, T::Foreground, false}, {"/c", Newer, M::Settings, T::Foreground, false},
        {"/c:", Newer, M::Settings, T::Foreground, false}, {"/c:abc", Newer, M::Settings, T::Foreground, false},
        {"/c: {w}", Newer, M::Settings, T::Foreground, false}, {"/c :{w}", Newer, M::Settings, T::Foreground, false},
        // Password change: only on the older family.
        {"/a", Newer, M::Refused, T::None, false}, {"/A {w}", Newer, M::Refused, T::None, false},
        {"/a", Older, M::ChangePassword, T::Foreground, false}, {"/a {w}", Older, M::ChangePassword, T::Named, true},
        {"A   {w}", Older, M::ChangePassword, T::Named, true},
        {"/a:{w}", Older, M::ChangePassword, T::Foreground, false},
        {"/a 456", Older, M::ChangePassword, T::Foreground, true},
    };
    for (const DispatchCase& c : cases) {
        SetUp();
        std::string tail = Expand(c.tail);
        SCOPED_TRACE("tail \"" + tail + "\" on the " + (c.platform == Older ? "older" : "newer") + " family");
        standin::platformId = c.platform;
        HWND high = WindowFromNumber(0x80001234u);
        HWND target = c.target == Target::Named ? named
                    : c.target == Target::High ? high
                    : c.target == Target::Foreground ? foreground
                                                     : nullptr;

        int result = SaverMain(TestInstance, nullptr, tail.c_str(), SW_SHOWDEFAULT);

        EXPECT_EQ(SaverInstance, TestInstance);
        std::vector<standin::Call> created = standin::CallsNamed("CreateWindowExA");
        std::vector<standin::Call> changes = standin::CallsNamed("PwdChangePasswordA");
        size_t modesRun = standin::dialogs.size() + created.size() + changes.size();
        switch (c.mode) {
        case Mode::Settings:
            EXPECT_EQ(result, DialogResult);
            ASSERT_EQ(standin::dialogs.size(), 1u);
            EXPECT_EQ(standin::dialogs[0].owner, target);
            break;
        case Mode::FullScreen:
            EXPECT_EQ(result, 0);
            ASSERT_EQ(created.size(), 1u);
            EXPECT_EQ(created[0].text, "WindowsScreenSaverClass|Screen Saver");
            break;
        case Mode::Preview:
            EXPECT_EQ(result, 0);
            ASSERT_EQ(created.size(), 1u);
            EXPECT_EQ(created[0].text, "WindowsScreenSaverClass|Preview");
            EXPECT_EQ(created[0].args[6], HandleValue(target));
            break;
        case Mode::ChangePassword:
            EXPECT_EQ(result, 0);
            ASSERT_EQ(changes.size(), 1u);
            EXPECT_EQ(changes[0].args[0], HandleValue(target));
            break;
        case Mode::Refused:
            EXPECT_EQ(result, RefusedTail);
            EXPECT_EQ(standin::CountCalls("LoadLibraryA"), 0);
            break;
        }
        EXPECT_EQ(modesRun, c.mode == Mode::Refused ? 0u : 1u);
        EXPECT_EQ(standin::CountCalls("IsWindow") > 0, c.asksIsWindow);
    }
}

TEST_F(SaverMainTest, SettingsOwnerFallsBackToNoOwnerWithoutAForegroundWindow)
{
    standin::foregroundWindow = nullptr;
    EXPECT_EQ(SaverMain(TestInstance, nullptr, "/c:456", SW_SHOWDEFAULT), DialogResult);
    ASSERT_EQ(standin::dialogs.size(), 1u);
    EXPECT_EQ(standin::dialogs[0].owner, nullptr);
}

TEST_F(SaverMainTest, OlderFamilyIsSetOnlyWhenTheSystemReportsPlatformOne)
{
    struct Case {
        const char* system;
        bool fails;
        DWORD platform;
        LONG older;
    };
    const Case cases[] = {
        {"Windows 95 family", false, VER_PLATFORM_WIN32_WINDOWS, 1},
        {"NT family", false, VER_PLATFORM_WIN32_NT, 0},
        {"Win32s", false, VER_PLATFORM_WIN32s, 0},
        {"query fails on a 95-family system", true, VER_PLATFORM_WIN32_WINDOWS, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        StartFreshProcess();
        OlderFamily = 1 - c.older;
        standin::versionFails = c.fails;
        standin::platformId = c.platform;

        SaverMain(TestInstance, nullptr, "/x", SW_SHOWDEFAULT);

        EXPECT_EQ(OlderFamily, c.older);
        EXPECT_EQ(standin::CountCalls("GetVersionExA"), 1);
    }
}

TEST(ChangePasswordTest, CallsTheSystemDialogForTheSaverPasswordAndReleasesTheModule)
{
    struct Case {
        const char* setting;
        bool modulePresent, exported;
    };
    const Case cases[] = {{"module with the function", true, true},
                          {"module without the function", true, false},
                          {"no module", false, false}};
    const HWND owner = reinterpret_cast<HWND>(static_cast<intptr_t>(0x10010));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        StartFreshProcess();
        HMODULE module = nullptr;
        if (c.modulePresent) {
            std::map<std::string, FARPROC> exports;
            if (c.exported) exports["PwdChangePasswordA"] = reinterpret_cast<FARPROC>(RecordChangePassword);
            module = standin::AddModule("MPR.DLL", exports);
        }

        ChangePassword(owner);

        std::vector<standin::Call> loads = standin::CallsNamed("LoadLibraryA");
        ASSERT_EQ(loads.size(), 1u);
        EXPECT_EQ(loads[0].text, "MPR.DLL");
        int change = standin::IndexOfCall("PwdChangePasswordA");
        int release = standin::IndexOfCall("FreeLibrary");
        EXPECT_EQ(change >= 0, c.exported);
        EXPECT_EQ(release >= 0, c.modulePresent);
        if (c.exported) {
            EXPECT_EQ(standin::calls[change].text, "SCRSAVE");
            EXPECT_EQ(standin::calls[change].args, (std::vector<int64_t>{HandleValue(owner), 0, 0}));
            EXPECT_LT(change, release);
        }
        if (c.modulePresent) { EXPECT_EQ(standin::FindModuleRecord(module)->references, 0); }
    }
}

TEST(RunChangePasswordTest, ReturnsZeroWhetherOrNotTheDialogCouldBeShown)
{
    StartFreshProcess();
    EXPECT_EQ(RunChangePassword("123"), 0);
    EXPECT_EQ(standin::CountCalls("PwdChangePasswordA"), 0);
}

// A fault escaping the mode, as the system reports it to the top-level filter.
EXCEPTION_RECORD faultRecord;
EXCEPTION_POINTERS faultPointers = {&faultRecord, nullptr};
bool faultRaised;

void RaiseFaultWhenIdle()
{
    faultRaised = false;
    standin::idle = [] {
        faultRaised = true;
        UnhandledExceptionFilter(&faultPointers);
    };
}

LONG WINAPI PreviousFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

TEST_F(SaverMainTest, FaultGuardCoversTheModeAndHandsTheFilterBack)
{
    SetUnhandledExceptionFilter(PreviousFilter);
    standin::calls.clear();

    EXPECT_EQ(SaverMain(TestInstance, nullptr, "/s", SW_SHOWDEFAULT), 0);

    std::vector<standin::Call> filters = standin::CallsNamed("SetUnhandledExceptionFilter");
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_NE(filters[0].args[0], 0);
    EXPECT_NE(filters[0].args[0], HandleValue(reinterpret_cast<void*>(PreviousFilter)));
    EXPECT_EQ(filters[1].args[0], HandleValue(reinterpret_cast<void*>(PreviousFilter)));
    int installed = standin::IndexOfCall("SetUnhandledExceptionFilter");
    int restored = standin::IndexOfCall("SetUnhandledExceptionFilter", installed + 1);
    EXPECT_LT(standin::IndexOfCall("GetVersionExA"), installed);
    EXPECT_LT(installed, standin::IndexOfCall("CreateWindowExA"));
    EXPECT_LT(installed, LastIndexOfCall("GetMessageA"));
    EXPECT_LT(LastIndexOfCall("GetMessageA"), restored);
}

TEST_F(SaverMainTest, FaultInTheModeWithdrawsTheSaverNoticeAndEndsTheProcessWithNonzeroCode)
{
    struct Case {
        const char* setting;
        DWORD platform;
        DWORD faultCode;
        bool noticeWithdrawn;
        UINT exitCode;
    };
    const Case cases[] = {
        {"access violation on the older family", VER_PLATFORM_WIN32_WINDOWS, AccessViolation, true, AccessViolation},
        {"access violation on the newer family", VER_PLATFORM_WIN32_NT, AccessViolation, false, AccessViolation},
        {"a fault without a code", VER_PLATFORM_WIN32_WINDOWS, 0, true, 0xC0000144},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        SetUp();
        standin::platformId = c.platform;
        AddAcceptingPasswordModule();  // so the older family announces a running saver
        faultRecord = EXCEPTION_RECORD{c.faultCode, 0, nullptr, nullptr};
        RaiseFaultWhenIdle();

        ASSERT_TRUE(EndsProcess([] { SaverMain(TestInstance, nullptr, "/s", SW_SHOWDEFAULT); }));

        EXPECT_TRUE(faultRaised);
        EXPECT_EQ(standin::exitCode, c.exitCode);
        int exit = standin::IndexOfCall("ExitProcess");
        int withdrawn = -1;
        for (int i = standin::IndexOfCall("SystemParametersInfoA"); i >= 0;
             i = standin::IndexOfCall("SystemParametersInfoA", i + 1))
            if (standin::calls[i].args[0] == SPI_SCREENSAVERRUNNING && standin::calls[i].args[1] == 0) withdrawn = i;
        EXPECT_EQ(withdrawn >= 0, c.noticeWithdrawn);
        if (c.noticeWithdrawn) { EXPECT_LT(withdrawn, exit); }
    }
}

TEST(SaverEntryTest, WholeCommandLineRunsItsModeAndEndsTheProcessWithTheResult)
{
    struct Case {
        const char* behaviour;
        const char* commandLine;
        const char* mode;  // the window made, or "dialog", or "" for none
        UINT exitCode;
    };
    const Case cases[] = {
        {"quoted name touching /s runs full screen", "\"C:\\Savers\\kelvo.scr\"/s",
         "WindowsScreenSaverClass|Screen Saver", 0},
        {"unquoted name swallows a touching /s", "C:\\Savers\\kelvo.scr/s", "dialog", DialogResult},
        {"empty line opens the settings", "", "dialog", DialogResult},
        {"refused tail ends with all bits set", "kelvo.scr /x", "", 4294967295u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        StartFreshProcess();
        standin::commandLine = c.commandLine;
        standin::dialogScript = [](HWND dialog) { EndDialog(dialog, DialogResult); };
        EndRunsWhenIdle();

        ASSERT_TRUE(EndsProcess([] { SaverEntry(); }));

        EXPECT_EQ(standin::exitCode, c.exitCode);
        EXPECT_EQ(SaverInstance, GetModuleHandleA(nullptr));
        std::string mode = c.mode;
        std::vector<standin::Call> created = standin::CallsNamed("CreateWindowExA");
        if (mode == "dialog") {
            ASSERT_EQ(standin::dialogs.size(), 1u);
            EXPECT_EQ(standin::dialogs[0].owner, nullptr);
            EXPECT_TRUE(created.empty());
        } else if (mode.empty()) {
            EXPECT_TRUE(standin::dialogs.empty());
            EXPECT_TRUE(created.empty());
        } else {
            ASSERT_EQ(created.size(), 1u);
            EXPECT_EQ(created[0].text, mode);
            EXPECT_TRUE(standin::dialogs.empty());
        }
    }
}

}  // namespace

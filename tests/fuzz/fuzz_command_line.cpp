// Fuzz target: the whole process command line, through SaverEntry, with every mode run to its
// end on the stand-in and the exit code checked against a model of the parse written apart
// from the product.
//
// Input: one byte of flags, then the command line (a NUL in it ends it, as it would a real one).
//   bit 0  the older Windows family          bit 1  the version query fails
//   bit 2  a foreground window exists         bit 3  "MPR.DLL" offers "PwdChangePasswordA"
//   bits 4-5  the preview parent's size: 0 x 0, 1 x 1, 15 x 15, 40 x 30
//   bit 6  the settings dialog's user presses OK rather than Cancel
//   bit 7  password protection is on ("PASSWORD.CPL" accepts the password)
// Windows that exist before the run: the preview parent (handle 65552) and, with bit 2, the
// foreground window (handle 65556).
//
// Built as fuzz_failing_calls (FAILING_CALLS), the input starts with one more byte: bits 0-1 the
// number of failing calls that follow as pairs of bytes (a call of FailingCalls, then the use that
// fails, 0 for every use), bit 2 a layout change in the first frame, bit 3 the display off in the
// second frame and on in the third. With a call failing, the exit code need only not claim success
// for a window or dialog that was never made; nothing may crash, hang or be left behind.

#include "dialog.h"
#include "effect/settings_file.h"
#include "host/entry.h"
#include "host/input_policy.h"
#include "host/saver_window.h"
#include "resources/resource_ids.h"
#include "standin.h"
#include "surface.h"
#include "tests/support/fresh_process.h"
#include "tests/support/saver_folder.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The platform's VK_SPACE and BN_CLICKED, which the stand-in does not declare.
constexpr WPARAM SpaceKey = 0x20;
constexpr WORD ButtonClicked = 0;

constexpr int Cancelled = IDCANCEL;
constexpr int Confirmed = IDOK;

// Frames before the simulated user ends a run; past the limit nothing more is posted, the
// stand-in's loop ends with -2 and the model's prediction fails.
constexpr int FramesBeforeEnding = 3;
constexpr int IdleLimit = 16;

void Fail(const char* what, const std::string& line, long long expected, long long got)
{
    std::fprintf(stderr, "command-line fuzz: %s (expected %lld, got %lld) for line of %zu bytes\n", what, expected,
                 got, line.size());
    std::abort();
}

// ---------------------------------------------------------------- the model

enum class Mode { Settings, FullScreen, Preview, ChangePassword, Refused };

struct Prediction {
    Mode mode = Mode::Refused;
    uint32_t handle = 0;      // preview parent
    int64_t owner = 0;        // settings or password-change owner
};

struct World {
    bool olderFamily;
    int64_t parent;
    int64_t foreground;  // 0 when none
};

bool IsLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// Byte offset of the command tail: the program name (quoted or not) and the blanks behind it skipped.
size_t TailOffset(const std::string& line)
{
    const unsigned char* text = reinterpret_cast<const unsigned char*>(line.c_str());
    auto step = [&](size_t at) { return (IsLeadByte(text[at]) && text[at + 1] != 0) ? at + 2 : at + 1; };
    size_t at = 0;
    if (text[0] == '"') {
        at = 1;
        while (text[at] != '"' && text[at] != 0) at = step(at);
        if (text[at] == '"') ++at;
    } else if (text[0] > 0x20) {
        while (text[at] > 0x20) at = step(at);
    }
    while (text[at] != 0 && text[at] <= 0x20) ++at;
    return at;
}

uint32_t ReadNumber(const char* text)
{
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
    return value;
}

int64_t AsHandle(uint32_t number) { return static_cast<int64_t>(static_cast<int32_t>(number)); }

bool Live(const World& world, int64_t handle)
{
    return handle != 0 && (handle == world.parent || handle == world.foreground);
}

Prediction Predict(const std::string& line, const World& world)
{
    Prediction prediction;
    const char* at = line.c_str() + TailOffset(line);
    while (*at == ' ' || *at == '-' || *at == '/') ++at;
    switch (*at) {
    case '\0':
        prediction.mode = Mode::Settings;
        return prediction;
    case 's':
    case 'S':
        prediction.mode = Mode::FullScreen;
        return prediction;
    case 'p':
    case 'P':
    case 'l':
    case 'L': {
        ++at;
        while (*at == ' ') ++at;
        uint32_t number = ReadNumber(at);
        if (number != 0 && Live(world, AsHandle(number))) {
            prediction.mode = Mode::Preview;
            prediction.handle = number;
        }
        return prediction;
    }
    case 'c':
    case 'C': {
        ++at;
        uint32_t number = *at == ':' ? ReadNumber(at + 1) : 0;
        prediction.mode = Mode::Settings;
        prediction.owner = Live(world, AsHandle(number)) ? AsHandle(number) : world.foreground;
        return prediction;
    }
    case 'a':
    case 'A': {
        if (!world.olderFamily) return prediction;
        ++at;
        while (*at == ' ') ++at;
        uint32_t number = ReadNumber(at);
        prediction.mode = Mode::ChangePassword;
        prediction.owner = Live(world, AsHandle(number)) ? AsHandle(number) : world.foreground;
        return prediction;
    }
    default:
        return prediction;
    }
}

// ---------------------------------------------------------------- the platform edge

#ifdef FAILING_CALLS
const char* const FailingCalls[] = {
    "GetModuleHandleA", "GetModuleFileNameA", "LoadLibraryA", "GetProcAddress", "GetVersionExA", "CompareStringA",
    "RegisterClassA", "CreateWindowExA", "DestroyWindow", "IsWindow", "GetParent", "FindWindowA", "GetForegroundWindow",
    "SetForegroundWindow", "GetClientRect", "SendMessageA", "SendMessageTimeoutA", "PostMessageA", "GetMessageA",
    "PeekMessageA", "RegisterWindowMessageA", "SetTimer", "GetCursorPos", "SystemParametersInfoA", "RegOpenKeyA",
    "RegQueryValueExA", "GetDC", "GetClipBox", "GetStockObject", "CreateSolidBrush", "CreatePen", "SelectObject",
    "Rectangle", "BitBlt", "SetBkMode", "SetTextColor", "Polygon", "GetDlgItem", "SetWindowTextA", "SetDlgItemTextA",
    "SetScrollRange", "SetScrollPos", "SetWindowPos", "GetWindow", "DialogBoxParamA", "DialogBoxParamW",
    "GetPrivateProfileIntA", "GetPrivateProfileIntW", "WritePrivateProfileStringA", "WritePrivateProfileStringW",
    "RegisterPowerSettingNotification"};
constexpr size_t FailingCallCount = sizeof FailingCalls / sizeof FailingCalls[0];
constexpr int FailingUses = 8;
#endif

bool layoutChange;
bool displayRests;
const POWERBROADCAST_SETTING DisplayOff = {
    {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}}, 4, {0}};
POWERBROADCAST_SETTING DisplayOn = DisplayOff;

SaverFolder settingsFolder;
int idleCalls;
bool pressOk;

// The user: watches a few frames, then ends the run as a person would.
void Idle()
{
    if (++idleCalls > IdleLimit) return;
    standin::Window* saver = standin::FindWindowRecord(SaverWindow);
    if (saver == nullptr || !saver->alive) return;
    standin::tickCount += 40;
    if (idleCalls <= FramesBeforeEnding) {
        if (layoutChange && idleCalls == 1) {
            standin::screen = RECT{-40, -10, 48, 32};
            PostMessageA(SaverWindow, WM_DISPLAYCHANGE, 24, MAKELPARAM(88, 42));
        }
        if (displayRests && idleCalls >= 2)
            PostMessageA(SaverWindow, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                         reinterpret_cast<LPARAM>(idleCalls == 2 ? &DisplayOff : &DisplayOn));
        PostMessageA(SaverWindow, WM_TIMER, 1, 0);
    } else if (PreviewMode) {
        DestroyWindow(saver->parent);
    } else {
        PostMessageA(SaverWindow, WM_KEYDOWN, SpaceKey, 0);
    }
}

void AnswerDialog(HWND dialog)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(pressOk ? IDOK : IDCANCEL, ButtonClicked), 0);
}

std::jmp_buf exitPoint;

// What a run takes, it gives back.
void CheckNothingLeft(const std::string& line, const std::vector<int>& references)
{
    if (standin::LiveGdiObjects() != 0) Fail("GDI objects left", line, 0, standin::LiveGdiObjects());
    if (standin::LiveDeviceContexts() != 0) Fail("device contexts left", line, 0, standin::LiveDeviceContexts());
    for (size_t i = 0; i < standin::modules.size(); ++i)
        if (standin::modules[i].references != references[i])
            Fail("a module left loaded", line, references[i], standin::modules[i].references);
    const standin::Window* saver = standin::FindWindowRecord(SaverWindow);
    for (const standin::PowerNotification& notification : standin::powerNotifications)
        if (notification.live && (saver == nullptr || !saver->alive)) Fail("display still watched", line, 0, 1);
    int noticeOn = 0, noticeOff = 0;
    for (const standin::Call& call : standin::CallsNamed("SystemParametersInfoA"))
        if (call.args[0] == SPI_SCREENSAVERRUNNING) (call.args[1] ? noticeOn : noticeOff)++;
    if (noticeOn != noticeOff) Fail("saver-running notice left on", line, noticeOn, noticeOff);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartFreshProcess();
    layoutChange = displayRests = false;
#ifdef FAILING_CALLS
    if (size < 1) return 0;
    const size_t failing = data[0] & 3;
    layoutChange = (data[0] & 4) != 0;
    displayRests = (data[0] & 8) != 0;
    if (size < 1 + 2 * failing) return 0;
    for (size_t i = 0; i < failing; ++i)
        standin::failures.push_back(
            {FailingCalls[data[1 + 2 * i] % FailingCallCount], data[2 + 2 * i] % FailingUses});
    data += 1 + 2 * failing;
    size -= 1 + 2 * failing;
#endif
    DisplayOn.Data[0] = 1;
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    line = line.c_str();  // a command line ends at its first NUL

    idleCalls = 0;
    const bool older = (flags & 1) && !(flags & 2);
    // The stand-in's wide calls fail as stubs on platform 1; a system whose version cannot be
    // read is taken for the newer family, so that is what it must be here.
    standin::platformId = older ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
    standin::versionFails = (flags & 2) != 0;
    standin::screen = RECT{0, 0, 48, 32};
    settingsFolder.Enter();
    static const int sizes[4][2] = {{0, 0}, {1, 1}, {15, 15}, {40, 30}};
    const int* parentSize = sizes[(flags >> 4) & 3];
    HWND parent = standin::AddWindow(parentSize[0], parentSize[1], "Monitor");
    HWND foreground = nullptr;
    if (flags & 4) {
        foreground = standin::AddWindow(200, 100, "Front");
        standin::foregroundWindow = foreground;
    }
    if (flags & 8) AddPasswordChanger();
    if (flags & 128) AddAcceptingPasswordModule();
    pressOk = (flags & 64) != 0;
    standin::idle = Idle;
    standin::dialogScript = AnswerDialog;
    standin::commandLine = line;
    standin::AddPowerSettingCalls();
    std::vector<int> references;
    for (const standin::Module& module : standin::modules) references.push_back(module.references);

    const World world{older, HandleValue(parent), HandleValue(foreground)};
    const Prediction prediction = Predict(line, world);

    standin::exitJump = &exitPoint;
    if (setjmp(exitPoint) == 0) {
        SaverEntry();
        Fail("SaverEntry returned", line, 0, 0);
    }
    standin::exitJump = nullptr;

    int expected = RefusedTail;
    switch (prediction.mode) {
    case Mode::Settings: expected = pressOk ? Confirmed : Cancelled; break;
    case Mode::FullScreen:
    case Mode::Preview:
    case Mode::ChangePassword: expected = 0; break;
    case Mode::Refused: expected = RefusedTail; break;
    }
    const int got = static_cast<int>(standin::exitCode);
    if (standin::CountCalls("ExitProcess") != 1) Fail("ExitProcess calls", line, 1, standin::CountCalls("ExitProcess"));
    const bool saverRun = prediction.mode == Mode::FullScreen || prediction.mode == Mode::Preview;
    if (standin::failedCalls > 0) {
        if (saverRun && SaverWindow == nullptr && got == 0) Fail("success without a saver window", line, -1, got);
        if (prediction.mode == Mode::Settings && standin::dialogs.empty() && got == Confirmed)
            Fail("OK without a dialog", line, -1, got);
        CheckNothingLeft(line, references);
        return 0;
    }
    if (got != expected) Fail("exit code differs from the model", line, expected, got);

    const int dialogs = static_cast<int>(standin::dialogs.size());
    if (prediction.mode == Mode::Settings) {
        if (dialogs != 1) Fail("settings dialogs shown", line, 1, dialogs);
        const standin::DialogRecord& dialog = standin::dialogs[0];
        int64_t owner = HandleValue(dialog.owner);
        if (owner != prediction.owner) Fail("dialog owner", line, prediction.owner, owner);
        if (dialog.templateId != IDD_SETTINGS) Fail("dialog template", line, IDD_SETTINGS, dialog.templateId);
        if (SaverSettings.komakasa < 1 || SaverSettings.komakasa > 64)
            Fail("komakasa after the dialog", line, 1, SaverSettings.komakasa);
    } else if (dialogs != 0) {
        Fail("a dialog outside the settings mode", line, 0, dialogs);
    }

    const int made = standin::CountCalls("CreateWindowExA");
    if (made != (saverRun ? 1 : 0)) Fail("saver windows made", line, saverRun ? 1 : 0, made);
    if (prediction.mode == Mode::Preview) {
        standin::Call create = standin::CallsNamed("CreateWindowExA")[0];
        if (create.args[6] != AsHandle(prediction.handle)) Fail("preview parent", line, prediction.handle, create.args[6]);
        if (!PreviewMode) Fail("preview mode", line, 1, 0);
    }
    if (saverRun && standin::CountCalls("GetMessageA:empty") != 0) Fail("the run did not end by itself", line, 0, 1);

    if (prediction.mode == Mode::ChangePassword && (flags & 8)) {
        auto changes = standin::CallsNamed("PwdChangePasswordA");
        if (changes.size() != 1) Fail("password-change calls", line, 1, static_cast<long long>(changes.size()));
        if (changes[0].args[0] != prediction.owner) Fail("password-change owner", line, prediction.owner, changes[0].args[0]);
        if (changes[0].text != "SCRSAVE") Fail("password-change provider", line, 0, 1);
    } else if (standin::CountCalls("PwdChangePasswordA") != 0) {
        Fail("a password change outside its mode", line, 0, 1);
    }

    CheckNothingLeft(line, references);
    return 0;
}

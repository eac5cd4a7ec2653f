// The settings dialog on the stand-in's dialog manager, with a real kelvo.ini on disk, on either
// family: the older one through the 8-bit calls alone.
#include "effect/settings_dialog.h"

#include "dialog.h"
#include "effect/settings_file.h"
#include "host/entry.h"
#include "resources/resource_ids.h"
#include "tests/support/fresh_process.h"
#include "tests/support/saver_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::vector<std::wstring> ColourModeTexts = {L"いっしょ", L"ばらばら", L"ランダム"};
// The same in code page 932, as the stand-in keeps 8-bit items: a unit for each byte.
const std::vector<std::wstring> ColourModeBytes = {L"\x82\xA2\x82\xC1\x82\xB5\x82\xE5",
                                                   L"\x82\xCE\x82\xE7\x82\xCE\x82\xE7",
                                                   L"\x83\x89\x83\x93\x83\x5F\x83\x80"};

// What the dialog showed when it ended.
struct Shown {
    std::string label;
    std::string field;
    int thumb = 0;
    int scrollMinimum = 0, scrollMaximum = 0;
    std::vector<std::wstring> items;
    int selection = -1;
};

class SettingsDialogTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        StartFreshProcess();
        UseFamily(GetParam());
        folder.Enter();
    }

    // A call of the family's interface: "WritePrivateProfileString" and the older family give
    // "WritePrivateProfileStringA".
    static std::string Named(const std::string& stem) { return stem + (GetParam() ? "A" : "W"); }

    // Shows the dialog through the entry; the script plays the user.
    INT_PTR Run(std::function<void(HWND)> script) {
        standin::dialogScript = std::move(script);
        INT_PTR result = RunSettingsDialog(nullptr);
        lastDialog = standin::dialogs.empty() ? nullptr : standin::dialogs.back().handle;
        return result;
    }

    static void Press(HWND dialog, int button) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, 0), 0); }

    static void Scroll(HWND dialog, int code, int position = 0) {
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, position), 0);
    }

    Shown Read() const {
        Shown shown;
        const standin::DialogControl* label = standin::FindDialogControl(lastDialog, IDC_WAIT_LABEL);
        const standin::DialogControl* field = standin::FindDialogControl(lastDialog, IDC_KOMAKASA_EDIT);
        const standin::DialogControl* bar = standin::FindDialogControl(lastDialog, IDC_WAIT_SCROLLBAR);
        const standin::DialogControl* list = standin::FindDialogControl(lastDialog, IDC_COLMODE_LIST);
        if (label == nullptr || field == nullptr || bar == nullptr || list == nullptr) {
            ADD_FAILURE() << "the dialog was not shown";
            return shown;
        }
        shown.label = label->text;
        shown.field = field->text;
        shown.thumb = bar->scrollPosition;
        shown.scrollMinimum = bar->scrollMinimum;
        shown.scrollMaximum = bar->scrollMaximum;
        shown.items = list->items;
        shown.selection = list->selection;
        return shown;
    }

    // Opens the dialog, cancels it, and tells what it showed.
    Shown OpenAndCancel() {
        EXPECT_EQ(Run([](HWND dialog) { Press(dialog, IDCANCEL); }), IDCANCEL);
        return Read();
    }

    SaverFolder folder;
    HWND lastDialog = nullptr;
};

TEST_P(SettingsDialogTest, OpeningWithoutFileShowsTheDefaults) {
    Shown shown = OpenAndCancel();
    // In insertion order; wide where the system has the wide calls, readable on any code page.
    EXPECT_EQ(shown.items, GetParam() ? ColourModeBytes : ColourModeTexts);
    EXPECT_EQ(shown.selection, 0);
    EXPECT_EQ(shown.scrollMinimum, 10);
    EXPECT_EQ(shown.scrollMaximum, 200);
    EXPECT_EQ(shown.thumb, 40);
    EXPECT_EQ(shown.label, " 40");
    EXPECT_EQ(shown.field, "8");
    EXPECT_EQ(standin::dialogs.back().templateId, IDD_SETTINGS);
    EXPECT_EQ(standin::dialogs.back().wide, !GetParam());
}

// The opening leaves the wait controls to the edit's change notifications, which
// must come after the range is set and put the thumb and label in place.
TEST_P(SettingsDialogTest, OpeningSynchronisesWaitThroughTheFieldsNotifications) {
    folder.WriteIni("[TestScreenSaver]\r\nwait=500\r\n");
    OpenAndCancel();
    int range = standin::IndexOfCall("SetScrollRange");
    int field = standin::IndexOfCall(Named("SetDlgItemText"));
    int firstPosition = standin::IndexOfCall("SetScrollPos");
    int firstItem = standin::IndexOfCall(Named("SendMessage"));
    ASSERT_GE(range, 0);
    EXPECT_LT(range, field);
    EXPECT_LT(field, firstPosition);
    EXPECT_LT(firstPosition, firstItem);
    // One synchronisation for each of EN_UPDATE and EN_CHANGE, none of the opening's own.
    EXPECT_EQ(standin::CountCalls("SetScrollPos"), 2);
    EXPECT_EQ(standin::CallsNamed("SetScrollPos")[0].args[2], 200);
    EXPECT_EQ(SaverSettings.wait, 200);
}

// Tab order and the names screen readers give (the static text before a control) follow the child order, which the
// opening puts in screen order; the focus then starts on the colour list.
TEST_P(SettingsDialogTest, OpeningPutsEachCaptionBeforeItsControlAndTabsTopToBottom) {
    OpenAndCancel();
    std::vector<std::string> order;
    std::vector<int> tabStops;
    for (const standin::DialogControl* control : standin::ChildOrder(lastDialog)) {
        order.push_back(control->id == -1 ? control->text : std::to_string(control->id));
        if (control->tabStop) tabStops.push_back(control->id);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"色の変化", "1005", "ウエイト", "1003", "1004", "細かさ", "1002", "1", "2"}));
    EXPECT_EQ(tabStops, (std::vector<int>{IDC_COLMODE_LIST, IDC_WAIT_SCROLLBAR, IDC_KOMAKASA_EDIT, IDOK, IDCANCEL}));
    EXPECT_EQ(standin::dialogs.back().focus, standin::FindDialogControl(lastDialog, IDC_COLMODE_LIST)->handle);
    // Nothing moves on screen.
    for (const standin::Call& call : standin::CallsNamed("SetWindowPos"))
        EXPECT_EQ(call.args.back(), SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

TEST_P(SettingsDialogTest, OpeningShowsStoredValuesWithinTheirRanges) {
    struct Case {
        const char* file;
        int thumb;
        const char* label;
        const char* field;
        int selection;
    };
    const Case cases[] = {
        {"wait=5", 10, " 10", "8", 0},        {"wait=500", 200, "200", "8", 0},    {"wait=-7", 10, " 10", "8", 0},
        {"wait=99", 99, " 99", "8", 0},       {"komakasa=0", 40, " 40", "1", 0},   {"komakasa=99", 40, " 40", "64", 0},
        {"komakasa=17", 40, " 40", "17", 0},  {"colmode=1", 40, " 40", "8", 1},    {"colmode=2", 40, " 40", "8", 2},
        {"colmode=5", 40, " 40", "8", -1},    {"colmode=-1", 40, " 40", "8", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        folder.WriteIni(std::string("[TestScreenSaver]\r\n") + c.file + "\r\n");
        Shown shown = OpenAndCancel();
        EXPECT_EQ(shown.thumb, c.thumb);
        EXPECT_EQ(shown.label, c.label);
        EXPECT_EQ(shown.field, c.field);
        EXPECT_EQ(shown.selection, c.selection);
        EXPECT_EQ(shown.items.size(), 3u);
    }
}

TEST_P(SettingsDialogTest, ScrollCodesMoveWaitWithinTenToTwoHundred) {
    struct Case {
        int start;
        int code;
        int position;  // high word of wParam
        int expected;
    };
    const Case cases[] = {
        {40, SB_LINELEFT, 0, 39},       {40, SB_LINERIGHT, 0, 41},     {40, SB_PAGELEFT, 0, 30},
        {40, SB_PAGERIGHT, 0, 50},      {195, SB_PAGERIGHT, 0, 200},   {12, SB_PAGELEFT, 0, 10},
        {10, SB_LINELEFT, 0, 10},       {200, SB_LINERIGHT, 0, 200},   {40, SB_THUMBTRACK, 123, 123},
        {40, SB_THUMBTRACK, 5, 10},     {40, SB_THUMBTRACK, 0xFFFF, 200},  // unsigned: not -1
        {40, SB_THUMBPOSITION, 123, 40}, {40, SB_LEFT, 0, 40},          {40, SB_RIGHT, 0, 40},
        {40, SB_ENDSCROLL, 0, 40},      {40, 9, 77, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.start << " code " << c.code << " position " << c.position);
        folder.WriteIni("[TestScreenSaver]\r\nwait=" + std::to_string(c.start) + "\r\n");
        ASSERT_EQ(Run([&](HWND dialog) {
                      Scroll(dialog, c.code, c.position);
                      Press(dialog, IDCANCEL);
                  }),
                  IDCANCEL);
        Shown shown = Read();
        char label[8];
        std::snprintf(label, sizeof label, "%3d", c.expected);
        EXPECT_EQ(SaverSettings.wait, c.expected);
        EXPECT_EQ(shown.thumb, c.expected);
        EXPECT_EQ(shown.label, label);
    }
}

TEST_P(SettingsDialogTest, OkWritesTheShownValuesIntoTheSection) {
    struct Case {
        const char* before;  // null: no file
        const char* after;
        LONG colmode;
    } cases[] = {
        {nullptr, "komakasa=8\r\nwait=40\r\ncolmode=0\r\n", 0},                           // the defaults in order
        {"colmode=5\r\n", "colmode=-1\r\nkomakasa=8\r\nwait=40\r\n", -1},                // nothing selected
        {"wait=5\r\nkomakasa=3\r\ncolmode=1\r\n", "wait=10\r\nkomakasa=3\r\ncolmode=1\r\n", 1},  // wait clamped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        std::remove(folder.IniPath().c_str());
        if (c.before) folder.WriteIni(std::string("[TestScreenSaver]\r\n") + c.before);
        standin::calls.clear();
        EXPECT_EQ(Run([](HWND dialog) { Press(dialog, IDOK); }), IDOK);
        EXPECT_EQ(folder.ReadIni(), std::string("[TestScreenSaver]\r\n") + c.after);
        EXPECT_EQ(SaverSettings.colmode, c.colmode);
        EXPECT_EQ(standin::CountCalls(Named("WritePrivateProfileString")), 3);
        for (const standin::Call& call : standin::CallsNamed(Named("WritePrivateProfileString")))
            EXPECT_EQ(call.text, "TestScreenSaver");
    }
}

TEST_P(SettingsDialogTest, OkWritesWhatTheUserChose) {
    EXPECT_EQ(Run([](HWND dialog) {
                  SetDlgItemTextA(dialog, IDC_KOMAKASA_EDIT, "23");
                  Scroll(dialog, SB_THUMBTRACK, 150);
                  Scroll(dialog, SB_THUMBPOSITION, 150);
                  Scroll(dialog, SB_LINERIGHT);
                  SendMessageA(GetDlgItem(dialog, IDC_COLMODE_LIST), CB_SETCURSEL, 2, 0);
                  Press(dialog, IDOK);
              }),
              IDOK);
    EXPECT_EQ(folder.ReadIni(), "[TestScreenSaver]\r\nkomakasa=23\r\nwait=151\r\ncolmode=2\r\n");
    EXPECT_EQ(SaverSettings.colmode, 2);
}

TEST_P(SettingsDialogTest, OkStoresTheFieldsTextUncheckedAndTheNextLoadClampsIt) {
    struct Case {
        std::string typed;
        std::string written;
        LONG loaded;  // komakasa at the next load; 0: whatever the profile makes of it, clamped
    };
    const Case cases[] = {
        {"100", "100", 64}, {"", "", 0}, {"0", "0", 1}, {"12ab", "12ab", 12},
        {std::string(300, '7'), std::string(255, '7'), 0},  // the field's first 255 characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.substr(0, 8));
        std::remove(folder.IniPath().c_str());
        EXPECT_EQ(Run([&](HWND dialog) {
                      SetDlgItemTextA(dialog, IDC_KOMAKASA_EDIT, c.typed.c_str());
                      Press(dialog, IDOK);
                  }),
                  IDOK);
        EXPECT_EQ(folder.ReadIni(), "[TestScreenSaver]\r\nkomakasa=" + c.written + "\r\nwait=40\r\ncolmode=0\r\n");
        LoadSettings();
        if (c.loaded != 0) {
            EXPECT_EQ(SaverSettings.komakasa, c.loaded);
        } else {
            EXPECT_GE(SaverSettings.komakasa, 1);
            EXPECT_LE(SaverSettings.komakasa, 64);
        }
    }
    // Reopening after 100 was saved shows the clamped value.
    folder.WriteIni("[TestScreenSaver]\r\nkomakasa=100\r\n");
    EXPECT_EQ(OpenAndCancel().field, "64");
}

TEST_P(SettingsDialogTest, CancelAndTheCloseBoxWriteNothing) {
    struct Case {
        const char* name;
        const char* before;  // null: no file
        UINT message;
        WPARAM wParam;
    };
    const Case cases[] = {
        {"cancel, no file", nullptr, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0)},
        {"cancel, file", "[TestScreenSaver]\r\nwait=77\r\n; kept\r\n", WM_COMMAND, MAKEWPARAM(IDCANCEL, 0)},
        {"close box, no file", nullptr, WM_CLOSE, 0},
        {"close box, file", "[TestScreenSaver]\r\ncolmode=1\r\n", WM_CLOSE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(folder.IniPath().c_str());
        if (c.before) folder.WriteIni(c.before);
        int writesBefore = standin::CountCalls(Named("WritePrivateProfileString"));
        EXPECT_EQ(Run([&](HWND dialog) {
                      Scroll(dialog, SB_PAGERIGHT);
                      SetDlgItemTextA(dialog, IDC_KOMAKASA_EDIT, "33");
                      SendMessageA(GetDlgItem(dialog, IDC_COLMODE_LIST), CB_SETCURSEL, 2, 0);
                      SendMessageA(dialog, c.message, c.wParam, 0);
                  }),
                  IDCANCEL);
        EXPECT_EQ(standin::CountCalls(Named("WritePrivateProfileString")), writesBefore);
        if (c.before)
            EXPECT_EQ(folder.ReadIni(), c.before);
        else
            EXPECT_FALSE(folder.IniExists());
    }
}

// Without the executable's path the file has no folder: OK must not write it
// anywhere else, and still ends the dialog as confirmed.
TEST_P(SettingsDialogTest, OkWithoutTheExecutablesPathWritesNothingAndEndsWithOne) {
    const std::string unavailable[] = {"", "\\" + std::string(400, 'x') + "\\kelvo.scr"};
    for (const std::string& module : unavailable) {
        SCOPED_TRACE(module.size());
        standin::Reset();
        UseFamily(GetParam());
        standin::moduleFileName = module;
        EXPECT_EQ(Run([](HWND dialog) { Press(dialog, IDOK); }), IDOK);
        EXPECT_EQ(standin::CountCalls(Named("WritePrivateProfileString")), 0);
        EXPECT_EQ(Read().field, "8");
    }
}

// A folder or file name outside the ANSI code page, or one whose code-page-932 bytes hold a
// backslash's value (ソ, 表), still names the saver's own folder: the dialog shows the file
// there, and OK rewrites it there and makes no other file. The older family's names are all
// in its code page, here 932.
TEST_P(SettingsDialogTest, AnyFolderAndFileNameReadsAndWritesItsOwnFile) {
    namespace fs = std::filesystem;
    const std::vector<std::pair<std::string, std::string>> places =
        GetParam() ? std::vector<std::pair<std::string, std::string>>{{"\x83\x5C\x81\x5B\x83\x68", "\x95\x5C.scr"},
                                                                      {"\x93\xFA\x96\x7B/\x95\x5C", "kelvo.scr"}}
                   : std::vector<std::pair<std::string, std::string>>{
                         {"Łódź", "kelvo.scr"}, {"Ελληνικά Кириллица", "ソード.scr"}, {"日本語/表", "表示.scr"}};
    for (const auto& [folderName, fileName] : places) {
        SCOPED_TRACE(folderName + "/" + fileName);
        const fs::path inner = fs::path(folder.Path() + "/" + folderName);
        fs::create_directories(inner);
        std::ofstream(inner / "kelvo.ini", std::ios::binary) << "[TestScreenSaver]\r\nkomakasa=21\r\n";
        standin::moduleFileName = SaverFolder::WindowsPath(folder.Path() + "/" + folderName + "/" + fileName);
        EXPECT_EQ(Run([](HWND dialog) { Press(dialog, IDOK); }), IDOK);
        EXPECT_EQ(Read().field, "21");
        EXPECT_EQ(SaverFolder::ReadFile((inner / "kelvo.ini").string()), "[TestScreenSaver]\r\nkomakasa=21\r\nwait=40\r\ncolmode=0\r\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(inner), fs::directory_iterator()), 1);
        EXPECT_FALSE(folder.IniExists());
        fs::remove_all(fs::path(folder.Path() + "/" + folderName.substr(0, folderName.find('/'))));
    }
}

TEST_P(SettingsDialogTest, ProcedureAnswersOneOnlyForTheOpening) {
    struct Case {
        UINT message;
        WPARAM wParam;
        INT_PTR expected;
    };
    const Case cases[] = {
        {WM_INITDIALOG, 0, TRUE}, {WM_COMMAND, MAKEWPARAM(IDC_KOMAKASA_EDIT, EN_CHANGE), 0},
        {WM_COMMAND, MAKEWPARAM(IDC_COLMODE_LIST, 1), 0}, {WM_HSCROLL, SB_LINERIGHT, 0}, {WM_CLOSE, 0, 0},
        {WM_DESTROY, 0, 0}, {WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0},
    };
    Run([&](HWND dialog) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "message " << c.message);
            EXPECT_EQ(SettingsDialogProc(dialog, c.message, c.wParam, 0), c.expected);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Family, SettingsDialogTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Older" : "Newer"; });

}  // namespace

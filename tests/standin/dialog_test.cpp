// The stand-in's dialog manager behaves like the platform's where the program relies on it.
#include "dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Received {
    UINT message;
    WPARAM wParam;
};
std::vector<Received> received;

INT_PTR CALLBACK RecordingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    received.push_back(Received{message, wParam});
    return message == WM_INITDIALOG;
}

class StandinDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        received.clear();
    }

    INT_PTR Show(std::function<void(HWND)> script, HWND owner = nullptr) {
        standin::dialogScript = std::move(script);
        return DialogBoxParamW(nullptr, MAKEINTRESOURCEW(2003), owner, RecordingProc, 0);
    }
};

TEST_F(StandinDialogTest, ReturnsTheEndValueOrFailsWhenNothingEndsTheDialog) {
    EXPECT_EQ(Show([](HWND dialog) { EndDialog(dialog, 7); }), 7);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_FALSE(IsWindow(standin::dialogs.back().handle));

    EXPECT_EQ(Show(nullptr), -1);
    EXPECT_EQ(Show([](HWND) {}), -1);
    EXPECT_EQ(standin::CountCalls("DialogBox:not ended"), 2);
}

TEST_F(StandinDialogTest, AnOwnerThatIsNoWindowGivesZeroWithoutOpening) {
    EXPECT_EQ(Show([](HWND dialog) { EndDialog(dialog, 1); }, reinterpret_cast<HWND>(0x1234)), 0);
    EXPECT_TRUE(received.empty());
    HWND owner = standin::AddWindow(100, 100);
    EXPECT_EQ(Show([](HWND dialog) { EndDialog(dialog, 1); }, owner), 1);
    EXPECT_EQ(standin::dialogs.back().owner, owner);
}

TEST_F(StandinDialogTest, EditNotifiesWhenTheProgramSetsItsTextAndTheLabelDoesNot) {
    Show([](HWND dialog) {
        received.clear();
        SetWindowTextA(GetDlgItem(dialog, 1004), "abc");
        EXPECT_TRUE(received.empty());
        SetDlgItemTextA(dialog, 1002, "12");
        ASSERT_EQ(received.size(), 2u);
        EXPECT_EQ(received[0].wParam, MAKEWPARAM(1002, EN_UPDATE));
        EXPECT_EQ(received[1].wParam, MAKEWPARAM(1002, EN_CHANGE));
        EXPECT_EQ(standin::FindDialogControl(dialog, 1004)->text, "abc");

        char text[4];
        SetDlgItemTextA(dialog, 1002, "123456");
        EXPECT_EQ(GetDlgItemTextA(dialog, 1002, text, sizeof text), 3u);
        EXPECT_EQ(std::string(text), "123");
        EndDialog(dialog, 1);
    });
}

TEST_F(StandinDialogTest, ScrollPositionStaysInsideTheRange) {
    Show([](HWND dialog) {
        HWND bar = GetDlgItem(dialog, 1003);
        EXPECT_EQ(standin::FindDialogControl(dialog, 1003)->scrollPosition, 0);
        EXPECT_TRUE(SetScrollRange(bar, SB_CTL, 10, 200, TRUE));
        EXPECT_EQ(standin::FindDialogControl(dialog, 1003)->scrollPosition, 10);
        EXPECT_EQ(SetScrollPos(bar, SB_CTL, 500, TRUE), 10);
        EXPECT_EQ(SetScrollPos(bar, SB_CTL, -3, TRUE), 200);
        EXPECT_EQ(SetScrollPos(bar, SB_CTL, 77, TRUE), 10);
        EXPECT_EQ(standin::FindDialogControl(dialog, 1003)->scrollPosition, 77);
        EndDialog(dialog, 1);
    });
}

TEST_F(StandinDialogTest, ListKeepsInsertionOrderAndNarrowTextArrivesByteByByte) {
    Show([](HWND dialog) {
        HWND list = GetDlgItem(dialog, 1005);
        EXPECT_EQ(SendMessageW(list, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(L"ランダム")), 0);
        EXPECT_EQ(SendMessageW(list, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(L"いっしょ")), 0);
        EXPECT_EQ(SendMessageA(list, CB_INSERTSTRING, 2, reinterpret_cast<LPARAM>("\x82\xa2")), 2);
        EXPECT_EQ(SendMessageA(list, CB_INSERTSTRING, 5, reinterpret_cast<LPARAM>("x")), CB_ERR);
        std::vector<std::wstring> expected = {L"いっしょ", L"ランダム", L"\u0082\u00a2"};
        EXPECT_EQ(standin::FindDialogControl(dialog, 1005)->items, expected);

        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(SendMessageA(list, CB_SETCURSEL, 1, 0), 1);
        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(SendMessageA(list, CB_SETCURSEL, 3, 0), CB_ERR);
        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), CB_ERR);
        EndDialog(dialog, 1);
    });
}

TEST_F(StandinDialogTest, CloseBoxBecomesCancelWhenTheProcedureLeavesIt) {
    EXPECT_EQ(Show([](HWND dialog) {
                  SendMessageA(dialog, WM_CLOSE, 0, 0);
                  ASSERT_GE(received.size(), 2u);
                  EXPECT_EQ(received.back().message, static_cast<UINT>(WM_COMMAND));
                  EXPECT_EQ(received.back().wParam, static_cast<WPARAM>(IDCANCEL));
                  EndDialog(dialog, 2);
              }),
              2);
}

}  // namespace

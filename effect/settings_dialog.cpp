// The settings dialog: colour mode list, wait scroll bar with its label, komakasa field.
#include "effect/settings_dialog.h"

#include "effect/settings_file.h"
#include "resources/resource_ids.h"

namespace {

constexpr LONG WaitMinimum = 10;
constexpr LONG WaitMaximum = 200;
constexpr LONG WaitLineStep = 1;
constexpr LONG WaitPageStep = 10;
constexpr int SettingsTextSize = 256;
constexpr int WaitLabelSize = 8;

// Indexed by colmode. Wide, so that the list reads right whatever the system's
// ANSI code page is; code-page-932 bytes would arrive as mojibake elsewhere.
const wchar_t* const ColourModeNames[] = {
    L"\u3044\u3063\u3057\u3087",  // いっしょ: together
    L"\u3070\u3089\u3070\u3089",  // ばらばら: apart
    L"\u30E9\u30F3\u30C0\u30E0",  // ランダム: random
};
constexpr int ColourModeCount = sizeof ColourModeNames / sizeof ColourModeNames[0];

// komakasa's text for the field when the dialog opens; on OK the field's text and
// then each value's text for the file.
wchar_t SettingsText[SettingsTextSize];

// The template lists the colour list and its caption last and the wait label between
// its caption and the scroll bar. Tab order and the names accessibility tools give
// (the static text just before a control) both follow the child order, so put the
// children in screen order: each caption right before its control, the label after.
void ArrangeChildOrder(HWND dialog) {
    constexpr UINT KeepPlace = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    HWND list = GetDlgItem(dialog, IDC_COLMODE_LIST);
    HWND listCaption = GetWindow(list, GW_HWNDNEXT);
    SetWindowPos(list, HWND_TOP, 0, 0, 0, 0, KeepPlace);
    SetWindowPos(listCaption, HWND_TOP, 0, 0, 0, 0, KeepPlace);
    SetWindowPos(GetDlgItem(dialog, IDC_WAIT_LABEL), GetDlgItem(dialog, IDC_WAIT_SCROLLBAR), 0, 0, 0, 0, KeepPlace);
}

void OpenDialog(HWND dialog) {
    ArrangeChildOrder(dialog);
    LoadSettings();
    SetScrollRange(GetDlgItem(dialog, IDC_WAIT_SCROLLBAR), SB_CTL, WaitMinimum, WaitMaximum, TRUE);
    // The edit notifies the dialog of this change at once, and that notification runs
    // SyncWaitControls now that the range is in place.
    wsprintfW(SettingsText, L"%d", static_cast<int>(SaverSettings.komakasa));
    SetDlgItemTextW(dialog, IDC_KOMAKASA_EDIT, SettingsText);
    for (int index = 0; index < ColourModeCount; ++index)
        SendMessageW(GetDlgItem(dialog, IDC_COLMODE_LIST), CB_INSERTSTRING, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(ColourModeNames[index]));
    SendMessageA(GetDlgItem(dialog, IDC_COLMODE_LIST), CB_SETCURSEL, static_cast<WPARAM>(SaverSettings.colmode), 0);
}

void SaveAndClose(HWND dialog) {
    wchar_t path[SettingsPathBufferSize];
    SettingsFilePath(path);
    GetDlgItemTextW(dialog, IDC_KOMAKASA_EDIT, SettingsText, SettingsTextSize);
    SaverSettings.colmode = static_cast<LONG>(SendMessageA(GetDlgItem(dialog, IDC_COLMODE_LIST), CB_GETCURSEL, 0, 0));
    // Without the executable's path there is no folder the file belongs in; a bare
    // name would land in whatever folder the platform picks.
    if (path[0] != L'\0') {
        WritePrivateProfileStringW(SettingsSection, L"komakasa", SettingsText, path);
        wsprintfW(SettingsText, L"%d", static_cast<int>(SaverSettings.wait));
        WritePrivateProfileStringW(SettingsSection, L"wait", SettingsText, path);
        wsprintfW(SettingsText, L"%d", static_cast<int>(SaverSettings.colmode));
        WritePrivateProfileStringW(SettingsSection, L"colmode", SettingsText, path);
    }
    EndDialog(dialog, IDOK);
}

void ScrollWait(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case SB_LINELEFT:
        SaverSettings.wait -= WaitLineStep;
        break;
    case SB_LINERIGHT:
        SaverSettings.wait += WaitLineStep;
        break;
    case SB_PAGELEFT:
        SaverSettings.wait -= WaitPageStep;
        break;
    case SB_PAGERIGHT:
        SaverSettings.wait += WaitPageStep;
        break;
    case SB_THUMBTRACK:
        SaverSettings.wait = HIWORD(wParam);
        break;
    default:
        // SB_THUMBPOSITION follows the track that already moved the value; SB_LEFT and
        // SB_RIGHT deliberately do not jump to the ends.
        break;
    }
    SyncWaitControls(dialog);
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OpenDialog(dialog);
        return TRUE;  // focus to the first tab stop, now the colour list
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            SaveAndClose(dialog);
            return 0;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return 0;
        default:
            SyncWaitControls(dialog);
            return 0;
        }
    case WM_HSCROLL:
        ScrollWait(dialog, wParam);
        return 0;
    default:
        return 0;
    }
}

LRESULT SyncWaitControls(HWND dialog) {
    if (SaverSettings.wait < WaitMinimum)
        SaverSettings.wait = WaitMinimum;
    else if (SaverSettings.wait > WaitMaximum)
        SaverSettings.wait = WaitMaximum;
    SetScrollPos(GetDlgItem(dialog, IDC_WAIT_SCROLLBAR), SB_CTL, SaverSettings.wait, TRUE);
    UpdateWaitLabel(dialog);
    return 0;
}

LRESULT UpdateWaitLabel(HWND dialog) {
    // Room for three digits: wait is already within 10..200 here.
    char label[WaitLabelSize];
    wsprintfA(label, "%3d", static_cast<int>(SaverSettings.wait));
    SetWindowTextA(GetDlgItem(dialog, IDC_WAIT_LABEL), label);
    return 0;
}

// The template uses only the system's own control classes.
BOOL RegisterSettingsClasses(HINSTANCE) { return TRUE; }

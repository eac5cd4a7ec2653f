// The settings dialog: colour mode list, wait scroll bar with its label, komakasa field.
#include "effect/settings_dialog.h"

#include "effect/settings_file.h"
#include "host/entry.h"
#include "resources/resource_ids.h"

namespace {

constexpr LONG WaitMinimum = 10;
constexpr LONG WaitMaximum = 200;
constexpr LONG WaitLineStep = 1;
constexpr LONG WaitPageStep = 10;
constexpr int SettingsTextSize = 256;
constexpr int WaitLabelSize = 8;

// Indexed by colmode. Wide where the system has the wide calls, so that the list reads
// right whatever its ANSI code page is; the older family has only code page 932's
// bytes, which read right on a Japanese system.
const wchar_t* const ColourModeNamesWide[] = {
    L"\u3044\u3063\u3057\u3087",  // いっしょ: together
    L"\u3070\u3089\u3070\u3089",  // ばらばら: apart
    L"\u30E9\u30F3\u30C0\u30E0",  // ランダム: random
};
const char* const ColourModeNamesNarrow[] = {
    "\x82\xA2\x82\xC1\x82\xB5\x82\xE5",
    "\x82\xCE\x82\xE7\x82\xCE\x82\xE7",
    "\x83\x89\x83\x93\x83\x5F\x83\x80",
};
constexpr int ColourModeCount = sizeof ColourModeNamesWide / sizeof ColourModeNamesWide[0];
static_assert(ColourModeCount == sizeof ColourModeNamesNarrow / sizeof ColourModeNamesNarrow[0], "one name per mode");

// komakasa's text for the field when the dialog opens; on OK the field's text and
// then each value's text for the file.
FamilyText SettingsText;

// The dialog's text calls, in the running family's form, as the settings file's are.
void SetFieldText(HWND dialog, const FamilyText& text) {
    if (OlderFamily)
        SetDlgItemTextA(dialog, IDC_KOMAKASA_EDIT, text.narrow);
    else
        SetDlgItemTextW(dialog, IDC_KOMAKASA_EDIT, text.wide);
}

void GetFieldText(HWND dialog, FamilyText& text) {
    if (OlderFamily)
        GetDlgItemTextA(dialog, IDC_KOMAKASA_EDIT, text.narrow, SettingsTextSize);
    else
        GetDlgItemTextW(dialog, IDC_KOMAKASA_EDIT, text.wide, SettingsTextSize);
}

void InsertColourMode(HWND list, int index) {
    if (OlderFamily)
        SendMessageA(list, CB_INSERTSTRING, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(ColourModeNamesNarrow[index]));
    else
        SendMessageW(list, CB_INSERTSTRING, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(ColourModeNamesWide[index]));
}

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
    FormatSetting(SettingsText, SaverSettings.komakasa);
    SetFieldText(dialog, SettingsText);
    for (int index = 0; index < ColourModeCount; ++index) InsertColourMode(GetDlgItem(dialog, IDC_COLMODE_LIST), index);
    SendMessageA(GetDlgItem(dialog, IDC_COLMODE_LIST), CB_SETCURSEL, static_cast<WPARAM>(SaverSettings.colmode), 0);
}

void SaveAndClose(HWND dialog) {
    FamilyText path;
    SettingsFilePath(path);
    GetFieldText(dialog, SettingsText);
    SaverSettings.colmode = static_cast<LONG>(SendMessageA(GetDlgItem(dialog, IDC_COLMODE_LIST), CB_GETCURSEL, 0, 0));
    // Without the executable's path there is no folder the file belongs in; a bare
    // name would land in whatever folder the platform picks.
    if (!IsEmpty(path)) {
        WriteSetting(path, KomakasaKey, SettingsText);
        FormatSetting(SettingsText, SaverSettings.wait);
        WriteSetting(path, WaitKey, SettingsText);
        FormatSetting(SettingsText, SaverSettings.colmode);
        WriteSetting(path, ColmodeKey, SettingsText);
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

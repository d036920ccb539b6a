#include <windows.h>
#include <commctrl.h>

#include "app/window_controls_win32.h"

#include "app/controls_win32.h"
#include "app/dispatch.h"
#include "app/exclude_box_win32.h"
#include "app/shell_win32.h"
#include "app/window_layout.h"
#include "settings/settings_win32.h"
#include "startup/startup_win32.h"

// Older commctrl.h headers lack it.
#ifndef LM_GETIDEALSIZE
#define LM_GETIDEALSIZE (WM_USER + 0x301)
#endif

namespace {

HWND OptionCheckboxes[OPTION_BOX_COUNT];

// The notice's id is 0 like the swap box's, so it is kept by handle.
HWND NoticeLink;

// One option box, checked when `state` is nonzero; placed with the other
// controls once all exist.
HWND CreateOptionCheckbox(HWND parent, UINT id, const wchar_t* text, int32_t state, HFONT font)
{
    HWND box = CreateControl(parent, L"BUTTON", text, WS_TABSTOP | BS_AUTOCHECKBOX, 0, id, font);
    SendMessageW(box, BM_SETCHECK, state != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    return box;
}

void CreateNotice(HWND window, bool in_temp_folder, ShortcutState shortcut, HFONT font)
{
    wchar_t* text = NULL;
    NewGuideNotice(ChooseNotice(in_temp_folder, SettingsUnsaved, shortcut == ShortcutOtherCopy), &text);
    NoticeLink = CreateControl(window, WC_LINK, text != NULL ? text : L"", WS_TABSTOP, 0, 0, font);
    if (text != NULL) {
        HeapFree(GetProcessHeap(), 0, text);
    }
}

// From the temporary folder the startup box stays clear and disabled: a
// shortcut made there would point at a copy that goes with the folder. It
// is ticked only while the shortcut starts this copy.
void CreateOptionCheckboxes(HWND window, bool in_temp_folder, ShortcutState shortcut, HFONT font)
{
    const RemapSettings& settings = *active_settings;
    const bool startup = !in_temp_folder && shortcut == ShortcutThisCopy;
    TrackStartupShortcut(window, WM_STARTUP_SHORTCUT, startup);
    OptionCheckboxes[IDC_CAPSLOCK_TO_CTRL] = CreateOptionCheckbox(
        window, IDC_CAPSLOCK_TO_CTRL, L"CapsLockキーをCtrlキーに置き換える", settings.capslock_to_ctrl, font);
    OptionCheckboxes[IDC_SEND_LANG] = CreateOptionCheckbox(
        window, IDC_SEND_LANG, L"Altキーを単体で押してIMEを切り替え(左Alt\u2192IMEオフ\u3001右Alt\u2192IMEオン)",
        settings.send_lang, font);
    OptionCheckboxes[IDC_USE_DVORAK] =
        CreateOptionCheckbox(window, IDC_USE_DVORAK, L"Dvorak配列を利用", settings.use_dvorak, font);
    OptionCheckboxes[IDC_SWAP_ALT_CTRL] = CreateOptionCheckbox(
        window, IDC_SWAP_ALT_CTRL, L"AltキーとCtrlキーを入れ替える", settings.swap_alt_for_ctrl, font);
    OptionCheckboxes[IDC_STARTUP] =
        CreateOptionCheckbox(window, IDC_STARTUP, L"スタートアップに登録", startup, font);
    EnableWindow(OptionCheckboxes[IDC_STARTUP], !in_temp_folder);
}

BOOL CALLBACK SetFont(HWND child, LPARAM font)
{
    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}

}  // namespace

void CreateWindowControls(HWND window, HFONT font)
{
    const bool in_temp_folder = ExecutableInTempFolder();
    const ShortcutState shortcut = ReadStartupShortcut();
    // Creation order is the Tab order: boxes top to bottom, the applications
    // left alone and their Remove button, Exit, the link.
    CreateOptionCheckboxes(window, in_temp_folder, shortcut, font);
    CreateExcludeControls(window, font);
    CreateControl(window, L"BUTTON", L"終了", WS_TABSTOP, 0, IDC_EXIT, font);
    CreateNotice(window, in_temp_folder, shortcut, font);
}

void LayOutControls(HWND window, UINT dpi)
{
    RECT client;
    GetClientRect(window, &client);
    IdealSizes ideal;
    for (uint32_t row = 0; row < OPTION_BOX_COUNT; ++row) {
        const SIZE box = ButtonIdealSize(OptionCheckboxes[OPTION_ROWS[row]]);
        ideal.boxes[row] = {box.cx, box.cy};
    }
    HWND exit_button = GetDlgItem(window, IDC_EXIT);
    ideal.exit_height = ButtonIdealSize(exit_button).cy;
    // Given a maximum width of 0, some SysLink implementations wrap after
    // every character; a width near the client's yields the one-line size
    // everywhere.
    SIZE notice = {0, 0};
    SendMessageW(NoticeLink, LM_GETIDEALSIZE, static_cast<WPARAM>(NoticeMaxWidth(static_cast<int>(dpi), client.right)),
                 reinterpret_cast<LPARAM>(&notice));
    ideal.notice = {notice.cx, notice.cy};
    MeasureExcludeControls(ideal);

    const WindowLayout layout = LayOutWindow(static_cast<int>(dpi), {client.right, client.bottom}, ideal);
    if (layout.client.width != client.right || layout.client.height != client.bottom) {
        RECT outer;
        GetWindowRect(window, &outer);
        SetWindowPos(window, NULL, 0, 0, outer.right - outer.left + layout.client.width - client.right,
                     outer.bottom - outer.top + layout.client.height - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (uint32_t row = 0; row < OPTION_BOX_COUNT; ++row) {
        Place(OptionCheckboxes[OPTION_ROWS[row]], layout.boxes[row]);
    }
    Place(exit_button, layout.exit);
    Place(NoticeLink, layout.notice);
    PlaceExcludeControls(layout);
}

// Made at its size for 96 DPI, the window takes the size for its own DPI.
void ScaleToDpi(HWND window)
{
    const UINT dpi = GetDpiForWindow(window);
    RECT outer;
    GetWindowRect(window, &outer);
    SetWindowPos(window, NULL, 0, 0, MulDiv(outer.right - outer.left, static_cast<int>(dpi), 96),
                 MulDiv(outer.bottom - outer.top, static_cast<int>(dpi), 96),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutControls(window, dpi);
}



void SetControlsFont(HWND window, HFONT font)
{
    EnumChildWindows(window, SetFont, reinterpret_cast<LPARAM>(font));
}

HWND OptionBox(uint32_t id)
{
    return OptionCheckboxes[id];
}

HWND NoticeControl()
{
    return NoticeLink;
}

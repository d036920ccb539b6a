#include <windows.h>
#include <commctrl.h>
#include <imm.h>

#include "app/main_window_win32.h"
#include "app/window_layout.h"

#include "app/controls_win32.h"
#include "app/exclude_box_win32.h"
#include "app/instance_win32.h"
#include "app/shell_win32.h"
#include "app/tray_win32.h"
#include "remap/engine_life_win32.h"
#include "remap/remap_options.h"
#include "remap/remap_win32.h"
#include "settings/settings_win32.h"
#include "startup/startup_win32.h"

// Older commctrl.h headers lack it.
#ifndef LM_GETIDEALSIZE
#define LM_GETIDEALSIZE (WM_USER + 0x301)
#endif

namespace {

HFONT UiFont;
HWND OptionCheckboxes[OPTION_BOX_COUNT];

// Set at the session's end: the exit's work then fits Windows' budget.
bool SessionEnding;

// The notice's id is 0 like the swap box's, so it is kept by handle.
HWND NoticeLink;

// One option box, checked when `state` is nonzero; placed with the other
// controls once all exist.
HWND CreateOptionCheckbox(HWND parent, UINT id, const wchar_t* text, int32_t state)
{
    HWND box = CreateControl(parent, L"BUTTON", text, WS_TABSTOP | BS_AUTOCHECKBOX, 0, id, UiFont);
    SendMessageW(box, BM_SETCHECK, state != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    return box;
}

void CreateNotice(HWND window, bool in_temp_folder, ShortcutState shortcut)
{
    wchar_t* text = NULL;
    NewGuideNotice(ChooseNotice(in_temp_folder, SettingsUnsaved, shortcut == ShortcutOtherCopy), &text);
    NoticeLink = CreateControl(window, WC_LINK, text != NULL ? text : L"", WS_TABSTOP, 0, 0, UiFont);
    if (text != NULL) {
        HeapFree(GetProcessHeap(), 0, text);
    }
}

// From the temporary folder the startup box stays clear and disabled: a
// shortcut made there would point at a copy that goes with the folder. It
// is ticked only while the shortcut starts this copy.
void CreateOptionCheckboxes(HWND window, bool in_temp_folder, ShortcutState shortcut)
{
    const RemapSettings& settings = *active_settings;
    const bool startup = !in_temp_folder && shortcut == ShortcutThisCopy;
    TrackStartupShortcut(window, WM_STARTUP_SHORTCUT, startup);
    OptionCheckboxes[IDC_CAPSLOCK_TO_CTRL] = CreateOptionCheckbox(
        window, IDC_CAPSLOCK_TO_CTRL, L"CapsLockキーをCtrlキーに置き換える", settings.capslock_to_ctrl);
    OptionCheckboxes[IDC_SEND_LANG] = CreateOptionCheckbox(
        window, IDC_SEND_LANG, L"Altキーを単体で押してIMEを切り替え(左Alt\u2192IMEオフ\u3001右Alt\u2192IMEオン)",
        settings.send_lang);
    OptionCheckboxes[IDC_USE_DVORAK] =
        CreateOptionCheckbox(window, IDC_USE_DVORAK, L"Dvorak配列を利用", settings.use_dvorak);
    OptionCheckboxes[IDC_SWAP_ALT_CTRL] = CreateOptionCheckbox(
        window, IDC_SWAP_ALT_CTRL, L"AltキーとCtrlキーを入れ替える", settings.swap_alt_for_ctrl);
    OptionCheckboxes[IDC_STARTUP] =
        CreateOptionCheckbox(window, IDC_STARTUP, L"スタートアップに登録", startup);
    EnableWindow(OptionCheckboxes[IDC_STARTUP], !in_temp_folder);
}

// Measures every control in UiFont and places it for `dpi`; the window grows
// where the controls need more room than its client area has.
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

BOOL CALLBACK SetUiFont(HWND child, LPARAM)
{
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), TRUE);
    return TRUE;
}

void SetOption(HWND window, UINT id, int32_t value)
{
    *OptionSwitch(*active_settings, id) = value;
    RemapSettings& applied = ApplyOptionsInForce(*active_settings);
    if (SettingsFileKnown) {
        SaveSettingsInBackground(applied);
    }
    // The tooltip names the switches that are on.
    ShowTrayState(window);
}

void OnCreate(HWND window)
{
    UiFont = CreateCaptionFont(GetDpiForWindow(window));
    AddTray(window);
    OpenToLaunches(window);
    const bool in_temp_folder = ExecutableInTempFolder();
    const ShortcutState shortcut = ReadStartupShortcut();
    // Creation order is the Tab order: boxes top to bottom, the applications
    // left alone and their Remove button, Exit, the link.
    CreateOptionCheckboxes(window, in_temp_folder, shortcut);
    CreateExcludeControls(window, UiFont);
    CreateControl(window, L"BUTTON", L"終了", WS_TABSTOP, 0, IDC_EXIT, UiFont);
    CreateNotice(window, in_temp_folder, shortcut);
    ScaleToDpi(window);
    // No control takes text: the IME's text services stay off this thread,
    // which runs the hook.
    ImmAssociateContextEx(window, NULL, IACE_CHILDREN);
    PostMessageW(window, WM_START_ENGINE, 0, 0);
}

// A click on a box, a tray menu item, a button or a key of the list. A
// switch's menu item flips its box and goes the way of a click on it.
void OnCommand(HWND window, WPARAM wParam)
{
    const UINT id = LOWORD(wParam);
    const UINT box = id < OPTION_BOX_COUNT ? id : MenuItemBox(id);
    const LRESULT check = box < OPTION_BOX_COUNT ? SendMessageW(OptionCheckboxes[box], BM_GETCHECK, 0, 0) : 0;
    const CommandAction action = DecideCommand(id, check);
    switch (action) {
    case CommandOptionOn:
        SetOption(window, id, 1);
        break;
    case CommandOptionOff:
        SetOption(window, id, 0);
        break;
    case CommandCreateShortcut:
        WishStartupShortcut(true);
        break;
    case CommandDeleteShortcut:
        WishStartupShortcut(false);
        break;
    case CommandDestroy:
        DestroyWindow(window);
        break;
    case CommandShow:
        ShowSettingsWindow(window);
        break;
    case CommandToggleBox:
        SendMessageW(OptionCheckboxes[box], BM_SETCHECK, check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
        OnCommand(window, box);
        break;
    case CommandPause:
        PauseEngine(window, !EnginePaused());
        ShowTrayState(window);
        break;
    case CommandExclude:
    case CommandRemoveExcluded:
    case CommandListSelection:
        ChangeExcluded(window, action, LastApplicationName());
        break;
    case CommandRestartElevated:
        RestartElevated(window);
        break;
    case CommandNothing:
        break;
    }
}

void OnNotify(LPARAM lParam)
{
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (DecideNotification(header->code) == NotifyOpenLink) {
        const NMLINK* link = reinterpret_cast<const NMLINK*>(lParam);
        OpenLinkInBackground(link->item.szUrl);
    }
}

// Shown, brought forward or restored, the window takes the focus itself
// (DefWindowProcW at activation); the first box takes it over, so that the
// keyboard works at once.
void OnSetFocus()
{
    SetFocus(OptionCheckboxes[OPTION_ROWS[0]]);
}

// Moved to a monitor of another scale, or the scale changed: the caption font
// for the new DPI, the suggested rectangle, every control measured anew.
void OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam)
{
    const HFONT old_font = UiFont;
    UiFont = CreateCaptionFont(HIWORD(wParam));
    EnumChildWindows(window, SetUiFont, 0);
    DeleteObject(old_font);
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutControls(window, HIWORD(wParam));
}

// Closing only hides: the program lives on in the tray.
void OnClose(HWND window)
{
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    ShowTrayBalloon(window);
}

// Each part stops in its own order; the engine first, while the tray icon
// still shows that the program runs. The workers go last, each wait bounded:
// one still at work may hold a lock inside COM or the file system that
// ExitProcess would wait for, and the process then ends at once.
void OnDestroy(HWND window)
{
    MarkInstanceExiting(window);
    StopEngine(window);
    RemoveTray(window);
    DeleteObject(UiFont);
    const ExitWaits waits = ExitWaitsFor(SessionEnding);
    const bool startup_done = FinishStartupShortcut(waits.startup_ms);
    StopStartupReports();
    const bool settings_done = FinishSettingsSave(waits.settings_ms);
    if (!startup_done || !settings_done) {
        TerminateProcess(GetCurrentProcess(), 0);
    }
    PostQuitMessage(0);
}

// After a takeover the old hook goes first (no key is remapped twice), or this instance does.
void OnStartEngine(HWND window)
{
    if (AwaitInstance()) {
        StartEngine(window);
    } else {
        DestroyWindow(window);
    }
}

// Most users never press 終了: sign-out, restart and shutdown run the same
// exit, within the time Windows grants after this message.
void OnEndSession(HWND window, WPARAM ending)
{
    if (DecideEndSession(ending) == EndSessionExit) {
        SessionEnding = true;
        DestroyWindow(window);
    }
}

// The tooltip is updated before the new hook exists: the shell may keep
// this thread waiting, and a hook that answers late is dropped again.
void OnTimer(HWND window, WPARAM id)
{
    if (!TrayTimer(window, id) && EngineTimer(window, id)) {
        UpdateTrayTip(window);
        EngineRearm(window);
    }
}

// Unless another click is on its way, the startup box shows what is there.
void OnStartupShortcut(WPARAM exists, LPARAM wish)
{
    if (StartupReportIsLatest(wish)) {
        SendMessageW(OptionCheckboxes[IDC_STARTUP], BM_SETCHECK, exists ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

}  // namespace

void ShowSettingsWindow(HWND window)
{
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        break;
    case WM_COMMAND:
        OnCommand(window, wParam);
        break;
    case WM_NOTIFY:
        OnNotify(lParam);
        break;
    case WM_TRAYICON:
        TrayIconMessage(window, wParam, lParam);
        break;
    case WM_STARTUP_SHORTCUT:
        OnStartupShortcut(wParam, lParam);
        break;
    case WM_START_ENGINE:
        OnStartEngine(window);
        break;
    case WM_INPUT:
        EngineRawInput(window, wParam, lParam);
        break;
    case WM_WTSSESSION_CHANGE:
        EngineSessionChange(window, wParam);
        break;
    case WM_POWERBROADCAST:
        EnginePowerEvent(window, wParam);
        return TRUE;
    case WM_TIMER:
        OnTimer(window, wParam);
        break;
    case WM_FOREGROUND_CHANGED:
        ShowTrayState(window);
        break;
    case WM_SETFOCUS:
        OnSetFocus();
        break;
    case WM_DPICHANGED:
        OnDpiChanged(window, wParam, lParam);
        return 0;
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_ENDSESSION:
        OnEndSession(window, wParam);
        return 0;
    default:
        TrayTaskbarCreated(window, message);
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool IsSettingsDialogMessage(HWND window, MSG* message)
{
    if (message->hwnd != window && !IsChild(window, message->hwnd)) {
        return false;
    }
    if (message->message == WM_KEYDOWN) {
        switch (DecideDialogKey(message->wParam, GetFocus() == NoticeLink, IsExcludeList(GetFocus()))) {
        case DialogKeyHide:
            SendMessageW(window, WM_CLOSE, 0, 0);
            return true;
        case DialogKeyToLink:
            return false;
        case DialogKeyDrop:
            return true;
        case DialogKeyRemove:
            SendMessageW(window, WM_COMMAND, IDC_EXCLUDE_REMOVE, 0);
            return true;
        case DialogKeyToDialog:
            break;
        }
    }
    return IsDialogMessageW(window, message) != FALSE;
}

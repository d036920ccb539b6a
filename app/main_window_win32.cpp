#include <windows.h>
#include <commctrl.h>
#include <imm.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "app/main_window_win32.h"
#include "app/window_layout.h"

#include "app/shell_win32.h"

#include "remap/alt_tap.h"
#include "remap/remap_options.h"
#include "remap/remap_win32.h"
#include "res/resource.h"
#include "settings/settings_win32.h"
#include "startup/startup_win32.h"

// Older commctrl.h headers lack it.
#ifndef LM_GETIDEALSIZE
#define LM_GETIDEALSIZE (WM_USER + 0x301)
#endif

HFONT UiFont;
HMENU TrayMenu;
HWND OptionCheckboxes[OPTION_BOX_COUNT];
bool SettingsFileKnown;

namespace {

const DWORD CHILD_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP;

// Long enough for a shortcut or a `setting` file written to a slow drive,
// short enough that an exit never hangs on a dead one.
const DWORD STARTUP_EXIT_WAIT_MS = 10000;
const DWORD SETTINGS_EXIT_WAIT_MS = 5000;

HookWatch KeyboardHookWatch;

// Whether Windows took the request for raw keyboard input: without it the
// watchdog is blind, and the request is made again.
bool RawKeyboardWatched;

// Requests for the session's lock and unlock notices made so far.
uint32_t SessionWatchAttempts;

// The notice's id is 0 like the swap box's, so it is kept by handle.
HWND NoticeLink;

// Sent by Explorer to every top-level window when the taskbar is created
// anew; 0 until WM_CREATE registers it.
UINT TaskbarCreatedMessage;

// The tray shows its icons at the display's small-icon size; a large icon
// scaled down there would blur. Loaded once, as Explorer restarts add it again.
HICON SmallAppIcon()
{
    static HICON icon;
    if (icon == NULL) {
        LoadIconMetric(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_APP), LIM_SMALL, &icon);
    }
    return icon;
}

NOTIFYICONDATAW TrayIconData(HWND window)
{
    NOTIFYICONDATAW data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    return data;
}

// The program's name, and once the watchdog has had to install the hook
// anew, how often it did: a count that keeps growing tells the user (and
// the guide) that Windows keeps dropping the hook.
void SetTrayTip(NOTIFYICONDATAW& data)
{
    data.uFlags |= NIF_TIP;
    if (KeyboardHookWatch.rearms == 0) {
        lstrcpynW(data.szTip, PROGRAM_TITLE, ARRAYSIZE(data.szTip));
    } else {
        wnsprintfW(data.szTip, ARRAYSIZE(data.szTip), L"%s（フック再設定 %u 回）", PROGRAM_TITLE,
                   KeyboardHookWatch.rearms);
    }
}

// Failed additions of the tray icon since the last success.
uint32_t TrayIconFailures;

// Also called again after Explorer restarts, which drops every icon. While
// the shell refuses it (at logon, before it takes icons) it is tried again
// every TRAY_RETRY_MS for a while: a program started hidden has no other
// face.
void AddTrayIcon(HWND window)
{
    NOTIFYICONDATAW data = TrayIconData(window);
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = SmallAppIcon();
    SetTrayTip(data);
    if (Shell_NotifyIconW(NIM_ADD, &data)) {
        TrayIconFailures = 0;
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    } else if (KeepTryingTrayIcon(++TrayIconFailures)) {
        SetTimer(window, TRAY_RETRY_TIMER_ID, TRAY_RETRY_MS, NULL);
    } else {
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    }
}

// Asks for the session's lock and unlock notices; at logon the service may
// not be up yet, and a worker waits for it.
void WatchSessionChanges(HWND window)
{
    if (DecideSessionWatch(WatchSession(window), ++SessionWatchAttempts) == SessionWatchWaitForService) {
        WaitForSessionService(window, WM_SESSION_SERVICE_READY, SESSION_SERVICE_WAIT_MS);
    }
}

void WatchRawInput(HWND window)
{
    RawKeyboardWatched = WatchRawKeyboard(window);
    if (RawKeyboardWatched) {
        KillTimer(window, RAW_INPUT_RETRY_TIMER_ID);
    } else {
        SetTimer(window, RAW_INPUT_RETRY_TIMER_ID, RAW_INPUT_RETRY_MS, NULL);
    }
}

// After the window's first paint, which at a cold logon (theme, Japanese
// font fallback) can outlast the hook's time-out, so that a hook already
// installed would be dropped before its first key. The session service,
// also slow at logon, is asked before the hook exists.
void StartEngine(HWND window)
{
    RedrawWindow(window, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
    WatchSessionChanges(window);
    AltTapInit();
    // Options before the hook, so that no event is judged under other ones.
    ApplyOptions(*active_settings);
    InstallKeyboardHook();
    WatchForeground();
    WatchRawInput(window);
}

HFONT CreateCaptionFont(UINT dpi)
{
    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    return CreateFontIndirectW(&metrics.lfCaptionFont);
}

HMENU CreateTrayMenu()
{
    HMENU menu = CreatePopupMenu();
    MENUITEMINFOW item;
    ZeroMemory(&item, sizeof item);
    item.cbSize = sizeof item;
    item.fMask = MIIM_TYPE | MIIM_ID;
    item.fType = MFT_STRING;
    item.wID = IDM_SETTINGS;
    item.dwTypeData = const_cast<wchar_t*>(L"設定");
    InsertMenuItemW(menu, 0, TRUE, &item);
    item.wID = IDM_EXIT;
    item.dwTypeData = const_cast<wchar_t*>(L"終了");
    InsertMenuItemW(menu, 1, TRUE, &item);
    return menu;
}

HWND CreateChild(HWND parent, const wchar_t* control_class, const wchar_t* text, DWORD style, int x, int y, UINT id)
{
    HWND child = CreateWindowExW(0, control_class, text, style, x, y, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(NULL), NULL);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), TRUE);
    return child;
}

SIZE ButtonIdealSize(HWND button)
{
    SIZE ideal = {0, 0};
    SendMessageW(button, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal));
    return ideal;
}

void CreateNotice(HWND window, bool in_temp_folder)
{
    wchar_t* text = NULL;
    NewGuideNotice(in_temp_folder, &text);
    NoticeLink = CreateChild(window, WC_LINK, text != NULL ? text : L"", CHILD_STYLE, 0, 0, 0);
    if (text != NULL) {
        HeapFree(GetProcessHeap(), 0, text);
    }
}

// From the temporary folder the startup box stays clear and disabled: a
// shortcut made there would point at a copy that goes with the folder.
void CreateOptionCheckboxes(HWND window, bool in_temp_folder)
{
    const RemapSettings& settings = *active_settings;
    const bool startup = !in_temp_folder && WithStartupShortcut(PathFileExistsW) != 0;
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

void CreateExitButton(HWND window)
{
    CreateChild(window, L"BUTTON", L"終了", CHILD_STYLE, 0, 0, IDC_EXIT);
}

void Place(HWND control, const LayoutRect& place)
{
    SetWindowPos(control, NULL, place.x, place.y, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
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

void SetOption(UINT id, int32_t value)
{
    *OptionSwitch(*active_settings, id) = value;
    RemapSettings& applied = ApplyOptions(*active_settings);
    if (SettingsFileKnown) {
        SaveSettingsInBackground(applied);
    }
}

void OpenTrayMenu(HWND window)
{
    POINT point = {0, 0};
    GetCursorPos(&point);
    // Unless its owner is in the foreground, the menu stays open after a
    // click elsewhere; the posted null message lets it close on the next one.
    SetForegroundWindow(window);
    TrackPopupMenuEx(TrayMenu, 0, point.x, point.y, window, NULL);
    PostMessageW(window, WM_NULL, 0, 0);
}

void OnCreate(HWND window)
{
    UiFont = CreateCaptionFont(GetDpiForWindow(window));
    TrayMenu = CreateTrayMenu();
    TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    // Run as administrator, the program would not hear from a restarted
    // Explorer, which runs at a lower integrity level, and lose its icon.
    ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage, MSGFLT_ALLOW, NULL);
    AddTrayIcon(window);
    const bool in_temp_folder = ExecutableInTempFolder();
    // Creation order is the Tab order: boxes top to bottom, Exit, the link.
    CreateOptionCheckboxes(window, in_temp_folder);
    CreateExitButton(window);
    CreateNotice(window, in_temp_folder);
    ScaleToDpi(window);
    // No control takes text: the IME's text services stay off this thread,
    // which runs the hook.
    ImmAssociateContextEx(window, NULL, IACE_CHILDREN);
    PostMessageW(window, WM_START_ENGINE, 0, 0);
}

void OnCommand(HWND window, WPARAM wParam)
{
    const UINT id = LOWORD(wParam);
    const LRESULT check = id < OPTION_BOX_COUNT ? SendMessageW(OptionCheckboxes[id], BM_GETCHECK, 0, 0) : 0;
    switch (DecideCommand(id, check)) {
    case CommandOptionOn:
        SetOption(id, 1);
        break;
    case CommandOptionOff:
        SetOption(id, 0);
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

void OnTrayIcon(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (DecideTrayMessage(wParam, lParam)) {
    case TrayShow:
        ShowSettingsWindow(window);
        break;
    case TrayOpenMenu:
        OpenTrayMenu(window);
        break;
    case TrayNothing:
        break;
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
}

// Keys released after the hook is gone would never reach the engine: what
// it holds is let go before.
void OnDestroy(HWND window)
{
    StopWatchingRawKeyboard();
    KillTimer(window, RAW_INPUT_RETRY_TIMER_ID);
    KillTimer(window, HOOK_WATCH_TIMER_ID);
    StopWatchingForeground();
    ResetEngine();
    RemoveKeyboardHook();
    // The hook is gone: the thread may wait now.
    StopWatchingSession(window);
    KillTimer(window, TRAY_RETRY_TIMER_ID);
    // Without this the dead icon stays in the tray until the pointer passes.
    NOTIFYICONDATAW data = TrayIconData(window);
    Shell_NotifyIconW(NIM_DELETE, &data);
    DeleteObject(UiFont);
    FinishStartupShortcut(STARTUP_EXIT_WAIT_MS);
    StopStartupReports();
    FinishSettingsSave(SETTINGS_EXIT_WAIT_MS);
    PostQuitMessage(0);
}

void OnEngineEvent(HWND window, EngineAction action)
{
    if (!RawKeyboardWatched) {
        WatchRawInput(window);
    }
    if (action == EngineNothing) {
        return;
    }
    // The new hook first: with the old one dead, the releases the reset
    // injects would pass no hook, and raw input would count them against it.
    // This thread judges no key in between.
    if (action == EngineResetRearm) {
        InstallKeyboardHook();
    }
    ResetEngine();
}

// A raw key the hook has not been called for yet: the hook gets a moment to
// catch up before it counts as dropped. A timer that cannot be set would
// leave the watch armed, and blind, for good.
void OnRawInput(HWND window, WPARAM wParam, LPARAM lParam)
{
    const uint32_t time = static_cast<uint32_t>(GetMessageTime());
    if (IsRawKeyboardEvent(lParam, time) &&
        WatchRawKey(KeyboardHookWatch, time, GET_RAWINPUT_CODE_WPARAM(wParam), KeyboardHookTime, GetTickCount(),
                    ForegroundElevated()) == HookWatchArm &&
        SetTimer(window, HOOK_WATCH_TIMER_ID, HookWatchPeriod(KeyboardHookWatch, KeyboardHookTime), NULL) == 0) {
        KeyboardHookWatch.armed = false;
    }
}

void OnHookWatchTimer(HWND window)
{
    switch (WatchTimerFired(KeyboardHookWatch, KeyboardHookTime, ForegroundElevated())) {
    case HookWatchRearm: {
        KillTimer(window, HOOK_WATCH_TIMER_ID);
        OnEngineEvent(window, EngineResetRearm);
        WatchRearmed(KeyboardHookWatch, KeyboardHookTime);
        NOTIFYICONDATAW data = TrayIconData(window);
        SetTrayTip(data);
        Shell_NotifyIconW(NIM_MODIFY, &data);
        break;
    }
    case HookWatchNothing:
        KillTimer(window, HOOK_WATCH_TIMER_ID);
        break;
    case HookWatchArm:
        break;
    }
}

void OnTimer(HWND window, WPARAM id)
{
    if (id == TRAY_RETRY_TIMER_ID) {
        AddTrayIcon(window);
    } else if (id == HOOK_WATCH_TIMER_ID) {
        OnHookWatchTimer(window);
    } else if (id == RAW_INPUT_RETRY_TIMER_ID) {
        WatchRawInput(window);
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

HWND CreateOptionCheckbox(HWND parent, UINT id, const wchar_t* text, int32_t state)
{
    HWND box = CreateChild(parent, L"BUTTON", text, CHILD_STYLE | BS_AUTOCHECKBOX, 0, 0, id);
    SendMessageW(box, BM_SETCHECK, state != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    return box;
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
        OnTrayIcon(window, wParam, lParam);
        break;
    case WM_STARTUP_SHORTCUT:
        OnStartupShortcut(wParam, lParam);
        break;
    case WM_START_ENGINE:
        StartEngine(window);
        break;
    case WM_INPUT:
        OnRawInput(window, wParam, lParam);
        break;
    case WM_WTSSESSION_CHANGE:
        OnEngineEvent(window, DecideSessionChange(wParam));
        break;
    case WM_SESSION_SERVICE_READY:
        WatchSessionChanges(window);
        break;
    case WM_POWERBROADCAST:
        OnEngineEvent(window, DecidePowerEvent(wParam));
        return TRUE;
    case WM_TIMER:
        OnTimer(window, wParam);
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
    default:
        if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) {
            AddTrayIcon(window);
        }
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
        switch (DecideDialogKey(message->wParam, GetFocus() == NoticeLink)) {
        case DialogKeyHide:
            SendMessageW(window, WM_CLOSE, 0, 0);
            return true;
        case DialogKeyToLink:
            return false;
        case DialogKeyDrop:
            return true;
        case DialogKeyToDialog:
            break;
        }
    }
    return IsDialogMessageW(window, message) != FALSE;
}

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "app/main_window_win32.h"

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

const wchar_t NOTICE_TEXT[] =
    L"最新版と使い方: <a href=\"https://lumbrix.example.org/\">https://lumbrix.example.org/</a>";

// Long enough for a shortcut written to a slow drive, short enough that an
// exit never hangs on a dead one.
const DWORD STARTUP_EXIT_WAIT_MS = 10000;

// Sent by Explorer to every top-level window when the taskbar is created
// anew; 0 until WM_CREATE registers it.
UINT TaskbarCreatedMessage;

NOTIFYICONDATAW TrayIconData(HWND window)
{
    NOTIFYICONDATAW data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    return data;
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
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_APP));
    lstrcpynW(data.szTip, PROGRAM_TITLE, ARRAYSIZE(data.szTip));
    if (Shell_NotifyIconW(NIM_ADD, &data)) {
        TrayIconFailures = 0;
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    } else if (KeepTryingTrayIcon(++TrayIconFailures)) {
        SetTimer(window, TRAY_RETRY_TIMER_ID, TRAY_RETRY_MS, NULL);
    } else {
        KillTimer(window, TRAY_RETRY_TIMER_ID);
    }
}

bool CapsLockToggled()
{
    return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

// Last in the creation: the shell calls made before it (the Startup folder,
// the shortcut's existence) can be slow at logon, and must not hold up a
// live hook.
void StartEngine(HWND window)
{
    AltTapInit();
    // Options before the hook, so that no event is judged under other ones.
    ApplyOptions(*active_settings);
    ClearCapsLockToggle(CapsLockToggled());
    InstallKeyboardHook();
    WatchForeground();
    WatchSession(window);
}

HFONT CreateCaptionFont()
{
    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
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

// One line centred 20 pixels above the bottom edge.
void CreateNotice(HWND window)
{
    HWND notice = CreateChild(window, WC_LINK, NOTICE_TEXT, CHILD_STYLE, 0, 0, 0);
    RECT client;
    GetClientRect(window, &client);
    // Given a maximum width of 0, some SysLink implementations wrap after
    // every character; the client width yields the one-line size everywhere.
    SIZE ideal = {0, 0};
    SendMessageW(notice, LM_GETIDEALSIZE, static_cast<WPARAM>(client.right), reinterpret_cast<LPARAM>(&ideal));
    SetWindowPos(notice, NULL, (client.right - ideal.cx) / 2, client.bottom - 20, ideal.cx, ideal.cy, SWP_NOZORDER);
}

void CreateOptionCheckboxes(HWND window)
{
    const RemapSettings& settings = *active_settings;
    const bool startup = WithStartupShortcut(PathFileExistsW) != 0;
    TrackStartupShortcut(startup);
    OptionCheckboxes[IDC_CAPSLOCK_TO_CTRL] = CreateOptionCheckbox(
        window, IDC_CAPSLOCK_TO_CTRL, L"CapsLockキーをCtrlキーに置き換える", settings.capslock_to_ctrl, 10);
    OptionCheckboxes[IDC_SEND_LANG] = CreateOptionCheckbox(
        window, IDC_SEND_LANG, L"Altキーを単体で押してIMEを切り替え(左Alt\u2192IMEオフ\u3001右Alt\u2192IMEオン)",
        settings.send_lang, 35);
    OptionCheckboxes[IDC_USE_DVORAK] =
        CreateOptionCheckbox(window, IDC_USE_DVORAK, L"Dvorak配列を利用", settings.use_dvorak, 60);
    OptionCheckboxes[IDC_SWAP_ALT_CTRL] = CreateOptionCheckbox(
        window, IDC_SWAP_ALT_CTRL, L"AltキーとCtrlキーを入れ替える", settings.swap_alt_for_ctrl, 85);
    OptionCheckboxes[IDC_STARTUP] =
        CreateOptionCheckbox(window, IDC_STARTUP, L"スタートアップに登録", startup, 110);
}

// Right edge 10 pixels inside the client area.
void CreateExitButton(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    HWND button = CreateChild(window, L"BUTTON", L"終了", CHILD_STYLE, client.right - 110, 145, IDC_EXIT);
    SetWindowPos(button, NULL, 0, 0, 100, ButtonIdealSize(button).cy, SWP_NOMOVE | SWP_NOZORDER);
}

void ShowSettingsWindow(HWND window)
{
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
}

void SetOption(UINT id, int32_t value)
{
    *OptionSwitch(*active_settings, id) = value;
    RemapSettings& applied = ApplyOptions(*active_settings);
    ClearCapsLockToggle(CapsLockToggled());
    if (SettingsFileKnown) {
        SaveSettings(applied);
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
    UiFont = CreateCaptionFont();
    TrayMenu = CreateTrayMenu();
    TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    AddTrayIcon(window);
    CreateNotice(window);
    CreateOptionCheckboxes(window);
    CreateExitButton(window);
    StartEngine(window);
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
    StopWatchingSession(window);
    StopWatchingForeground();
    ResetEngine();
    RemoveKeyboardHook();
    KillTimer(window, TRAY_RETRY_TIMER_ID);
    // Without this the dead icon stays in the tray until the pointer passes.
    NOTIFYICONDATAW data = TrayIconData(window);
    Shell_NotifyIconW(NIM_DELETE, &data);
    DeleteObject(UiFont);
    // The hook is gone: the thread may wait now.
    FinishStartupShortcut(STARTUP_EXIT_WAIT_MS);
    PostQuitMessage(0);
}

void OnEngineEvent(EngineAction action)
{
    if (action == EngineNothing) {
        return;
    }
    ResetEngine();
    if (action == EngineResetRearm) {
        InstallKeyboardHook();
    }
}

void OnTimer(HWND window, WPARAM id)
{
    if (id == TRAY_RETRY_TIMER_ID) {
        AddTrayIcon(window);
    }
}

}  // namespace

HWND CreateOptionCheckbox(HWND parent, UINT id, const wchar_t* text, int32_t state, int y)
{
    HWND box = CreateChild(parent, L"BUTTON", text, CHILD_STYLE | BS_AUTOCHECKBOX, 10, y, id);
    const SIZE ideal = ButtonIdealSize(box);
    SetWindowPos(box, NULL, 0, 0, ideal.cx, ideal.cy, SWP_NOMOVE | SWP_NOZORDER);
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
    case WM_WTSSESSION_CHANGE:
        OnEngineEvent(DecideSessionChange(wParam));
        break;
    case WM_POWERBROADCAST:
        OnEngineEvent(DecidePowerEvent(wParam));
        return TRUE;
    case WM_TIMER:
        OnTimer(window, wParam);
        break;
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

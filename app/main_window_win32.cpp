#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "app/main_window_win32.h"

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

// Also called again after Explorer restarts, which drops every icon.
void AddTrayIcon(HWND window)
{
    NOTIFYICONDATAW data = TrayIconData(window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_APP));
    lstrcpynW(data.szTip, PROGRAM_TITLE, ARRAYSIZE(data.szTip));
    Shell_NotifyIconW(NIM_ADD, &data);
}

void StartEngine()
{
    AltTapInit();
    // Options before the hook, so that no event is judged under other ones.
    ApplyOptions(*active_settings);
    KeyboardHookHandle = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, GetModuleHandleW(NULL), 0);
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
        CreateOptionCheckbox(window, IDC_STARTUP, L"スタートアップに登録", WithStartupShortcut(PathFileExistsW), 110);
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
    StartEngine();
    UiFont = CreateCaptionFont();
    TrayMenu = CreateTrayMenu();
    TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    AddTrayIcon(window);
    CreateNotice(window);
    CreateOptionCheckboxes(window);
    CreateExitButton(window);
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
        CreateStartupShortcut();
        break;
    case CommandDeleteShortcut:
        WithStartupShortcut(DeleteFileW);
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
        ShellExecuteW(NULL, L"open", link->item.szUrl, NULL, NULL, SW_SHOWMAXIMIZED);
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

void OnDestroy(HWND window)
{
    // Without this the dead icon stays in the tray until the pointer passes.
    NOTIFYICONDATAW data = TrayIconData(window);
    Shell_NotifyIconW(NIM_DELETE, &data);
    DeleteObject(UiFont);
    UnhookWindowsHookEx(KeyboardHookHandle);
    PostQuitMessage(0);
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

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "app/tray_win32.h"

#include "app/dispatch.h"
#include "app/instance_win32.h"
#include "app/main_window_win32.h"
#include "remap/engine_life_win32.h"
#include "res/resource.h"

namespace {

HMENU TrayMenu;

// Sent by Explorer to every top-level window when the taskbar is created
// anew; 0 until AddTray registers it.
UINT TaskbarCreatedMessage;

// Failed additions of the tray icon since the last success.
uint32_t TrayIconFailures;

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
    const uint32_t rearms = EngineRearmCount();
    if (rearms == 0) {
        lstrcpynW(data.szTip, PROGRAM_TITLE, ARRAYSIZE(data.szTip));
    } else {
        wnsprintfW(data.szTip, ARRAYSIZE(data.szTip), L"%s（フック再設定 %u 回）", PROGRAM_TITLE, rearms);
    }
}

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

// "管理者として再起動(&A)" and a separator above 設定, at the top of the menu,
// where the restart as administrator is offered (CanRestartElevated).
void AddRestartElevatedItem(HMENU menu)
{
    if (!CanRestartElevated()) {
        return;
    }
    MENUITEMINFOW item;
    ZeroMemory(&item, sizeof item);
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    item.fType = MFT_STRING;
    item.wID = IDM_RESTART_ELEVATED;
    item.dwTypeData = const_cast<wchar_t*>(L"管理者として再起動(&A)");
    InsertMenuItemW(menu, 0, TRUE, &item);
    item.fMask = MIIM_FTYPE;
    item.fType = MFT_SEPARATOR;
    InsertMenuItemW(menu, 1, TRUE, &item);
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
    AddRestartElevatedItem(menu);
    return menu;
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

}  // namespace

void AddTray(HWND window)
{
    TrayMenu = CreateTrayMenu();
    TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    // Run as administrator, the program would not hear from a restarted
    // Explorer, which runs at a lower integrity level, and lose its icon.
    ChangeWindowMessageFilterEx(window, TaskbarCreatedMessage, MSGFLT_ALLOW, NULL);
    AddTrayIcon(window);
}

void TrayIconMessage(HWND window, WPARAM wParam, LPARAM lParam)
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

bool TrayTaskbarCreated(HWND window, UINT message)
{
    if (TaskbarCreatedMessage == 0 || message != TaskbarCreatedMessage) {
        return false;
    }
    AddTrayIcon(window);
    return true;
}

bool TrayTimer(HWND window, WPARAM id)
{
    if (id != TRAY_RETRY_TIMER_ID) {
        return false;
    }
    AddTrayIcon(window);
    return true;
}

void UpdateTrayTip(HWND window)
{
    // An icon still waiting for its retry is added now, with the tip.
    if (TrayIconFailures > 0) {
        AddTrayIcon(window);
        return;
    }
    NOTIFYICONDATAW data = TrayIconData(window);
    SetTrayTip(data);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void RemoveTray(HWND window)
{
    KillTimer(window, TRAY_RETRY_TIMER_ID);
    NOTIFYICONDATAW data = TrayIconData(window);
    Shell_NotifyIconW(NIM_DELETE, &data);
    DestroyMenu(TrayMenu);
    TrayMenu = NULL;
}

#include <windows.h>
#include <commctrl.h>

#include "app/exclude_box_win32.h"

#include "app/controls_win32.h"
#include "app/tray_win32.h"
#include "remap/remap_win32.h"
#include "settings/exclude_list.h"
#include "settings/settings_win32.h"

namespace {

HWND ExcludeLabel;
HWND NamesBox;
HWND RemoveButton;

// Room for the longest file name Windows allows, in UTF-8.
const int NAME_BYTES = MAX_PATH * 3;

void EnableRemove()
{
    EnableWindow(RemoveButton, SendMessageW(NamesBox, LB_GETCURSEL, 0, 0) != LB_ERR);
}

// The names anew, the selection kept on the same row or the last one.
void FillList()
{
    const LRESULT selected = SendMessageW(NamesBox, LB_GETCURSEL, 0, 0);
    SendMessageW(NamesBox, LB_RESETCONTENT, 0, 0);
    for (uint32_t index = 0; index < excluded_apps.count; ++index) {
        size_t length = 0;
        const char* name = ExcludedName(excluded_apps, index, &length);
        wchar_t wide[MAX_PATH];
        const int units = MultiByteToWideChar(CP_UTF8, 0, name, static_cast<int>(length), wide, MAX_PATH - 1);
        wide[units] = L'\0';
        SendMessageW(NamesBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
    }
    if (selected != LB_ERR && excluded_apps.count > 0) {
        const LRESULT last = static_cast<LRESULT>(excluded_apps.count) - 1;
        SendMessageW(NamesBox, LB_SETCURSEL, static_cast<WPARAM>(selected < last ? selected : last), 0);
    }
    EnableRemove();
}

int ToUtf8(const wchar_t* name, char* out)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, name, -1, out, NAME_BYTES, NULL, NULL);
    return bytes > 0 ? bytes - 1 : 0;
}

LayoutSize TextSize(HWND control)
{
    wchar_t text[64];
    const int units = GetWindowTextW(control, text, ARRAYSIZE(text));
    HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size = {0, 0};
    GetTextExtentPoint32W(dc, text, units, &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return {size.cx, size.cy};
}

}  // namespace

void CreateExcludeControls(HWND window, HFONT font)
{
    ExcludeLabel = CreateControl(window, L"STATIC", L"使わないアプリ:", SS_NOPREFIX, 0, 0xFFFF, font);
    NamesBox = CreateControl(window, L"LISTBOX", L"", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                             WS_EX_CLIENTEDGE, IDC_EXCLUDE_LIST, font);
    RemoveButton = CreateControl(window, L"BUTTON", L"削除(&R)", WS_TABSTOP, 0, IDC_EXCLUDE_REMOVE, font);
    FillList();
}

void MeasureExcludeControls(IdealSizes& ideal)
{
    ideal.exclude_label = TextSize(ExcludeLabel);
    ideal.remove_height = ButtonIdealSize(RemoveButton).cy;
}

void PlaceExcludeControls(const WindowLayout& layout)
{
    Place(ExcludeLabel, layout.exclude_label);
    Place(NamesBox, layout.exclude_list);
    Place(RemoveButton, layout.remove);
}

bool IsExcludeList(HWND control)
{
    return control == NamesBox;
}

bool ApplicationListed(const wchar_t* name)
{
    char bytes[NAME_BYTES];
    const int length = ToUtf8(name, bytes);
    return length > 0 && FindExcluded(excluded_apps, bytes, static_cast<size_t>(length)) >= 0;
}

void ChangeExcluded(HWND window, CommandAction action, const wchar_t* name)
{
    if (action == CommandListSelection) {
        // Tabbed into, the list shows its first name selected, for Delete.
        if (GetFocus() == NamesBox && SendMessageW(NamesBox, LB_GETCURSEL, 0, 0) == LB_ERR) {
            SendMessageW(NamesBox, LB_SETCURSEL, 0, 0);
        }
        EnableRemove();
        return;
    }
    if (action == CommandExclude) {
        char bytes[NAME_BYTES];
        const int length = ToUtf8(name, bytes);
        const int32_t index = FindExcluded(excluded_apps, bytes, static_cast<size_t>(length));
        if (index >= 0) {
            RemoveExcluded(excluded_apps, static_cast<uint32_t>(index));
        } else if (!AddExcluded(excluded_apps, bytes, static_cast<size_t>(length))) {
            return;
        }
    } else {
        const LRESULT selected = SendMessageW(NamesBox, LB_GETCURSEL, 0, 0);
        if (selected == LB_ERR) {
            return;
        }
        RemoveExcluded(excluded_apps, static_cast<uint32_t>(selected));
    }
    FillList();
    SaveExcludeListInBackground();
    DecideLeftAlone();
    ShowTrayState(window);
}

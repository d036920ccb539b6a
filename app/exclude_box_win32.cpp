#include <windows.h>
#include <commctrl.h>

#include "app/exclude_box_win32.h"

#include "app/controls_win32.h"
#include "settings/settings_win32.h"

namespace {

HWND ExcludeLabel;
HWND NamesBox;
HWND RemoveButton;

void EnableRemove()
{
    const bool enabled = SendMessageW(NamesBox, LB_GETCURSEL, 0, 0) != LB_ERR;
    if (DecideRemoveFocus(GetFocus() == RemoveButton, enabled) == FocusList) {
        SetFocus(NamesBox);
    }
    EnableWindow(RemoveButton, enabled);
}

// The names anew, the selection kept on the same row or the last one.
void FillList()
{
    const LRESULT selected = SendMessageW(NamesBox, LB_GETCURSEL, 0, 0);
    SendMessageW(NamesBox, LB_RESETCONTENT, 0, 0);
    const uint32_t count = ExcludedAppCount();
    for (uint32_t index = 0; index < count; ++index) {
        wchar_t name[MAX_PATH];
        ExcludedAppName(index, name, MAX_PATH);
        SendMessageW(NamesBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    if (selected != LB_ERR && count > 0) {
        const LRESULT last = static_cast<LRESULT>(count) - 1;
        SendMessageW(NamesBox, LB_SETCURSEL, static_cast<WPARAM>(selected < last ? selected : last), 0);
    }
    EnableRemove();
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

bool ChangeExcluded(CommandAction action, const wchar_t* name)
{
    if (action == CommandListSelection) {
        // Tabbed into, the list shows its first name selected, for Delete.
        if (GetFocus() == NamesBox && SendMessageW(NamesBox, LB_GETCURSEL, 0, 0) == LB_ERR) {
            SendMessageW(NamesBox, LB_SETCURSEL, 0, 0);
        }
        EnableRemove();
        return false;
    }
    const LRESULT selected = SendMessageW(NamesBox, LB_GETCURSEL, 0, 0);
    const bool changed = action == CommandExclude ? ToggleExcludedApp(name)
                         : selected != LB_ERR     ? RemoveExcludedApp(static_cast<uint32_t>(selected))
                                                  : false;
    if (changed) {
        FillList();
    }
    return changed;
}

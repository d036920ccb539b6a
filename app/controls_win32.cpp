#include <windows.h>
#include <commctrl.h>

#include "app/controls_win32.h"

HWND CreateControl(HWND window, const wchar_t* control_class, const wchar_t* text, DWORD style, DWORD ex_style,
                   UINT id, HFONT font)
{
    HWND control = CreateWindowExW(ex_style, control_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(NULL), NULL);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

HFONT CreateCaptionFont(UINT dpi)
{
    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    return CreateFontIndirectW(&metrics.lfCaptionFont);
}

SIZE ButtonIdealSize(HWND button)
{
    SIZE ideal = {0, 0};
    SendMessageW(button, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal));
    return ideal;
}

void Place(HWND control, const LayoutRect& place)
{
    SetWindowPos(control, NULL, place.x, place.y, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

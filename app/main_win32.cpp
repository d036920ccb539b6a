#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/dispatch.h"
#include "app/instance_win32.h"
#include "app/main_window_win32.h"
#include "app/tray_win32.h"
#include "res/resource.h"
#include "settings/settings_win32.h"

namespace {

// "/hide", and "/takeover", which starts hidden too.
void ReadCommandLine(bool* hidden, bool* takeover)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    *takeover = StartsTakingOver(arguments != NULL ? count : 0, arguments);
    *hidden = *takeover || StartsHidden(arguments != NULL ? count : 0, arguments);
    LocalFree(arguments);
}

void InitLinkControl()
{
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LINK_CLASS;
    InitCommonControlsEx(&controls);
}

void RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
    RegisterClassExW(&windowClass);
}

// Hidden at creation, at the screen's top-left corner; caption, system menu
// and minimise button only.
HWND CreateMainWindow(HINSTANCE instance)
{
    return CreateWindowExW(0, MAIN_WINDOW_CLASS, PROGRAM_TITLE, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 440,
                           325, NULL, NULL, instance, NULL);
}

void RunMessageLoop(HWND window)
{
    MSG message;
    // -1 is an error and ends the loop like WM_QUIT.
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        if (IsSettingsDialogMessage(window, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

// Runs the program on this one thread until the window is destroyed; the
// exit code is 0 on every path.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Unpacked into Downloads, the exe must not load a DLL dropped beside
    // it: whatever loads later (the shell, the common controls) looks in the
    // system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    bool hidden = false;
    bool takeover = false;
    ReadCommandLine(&hidden, &takeover);
    // A second launch hands over to the running instance and starts nothing;
    // one that waited in vain for it to start or end starts nothing either.
    HWND running = NULL;
    const InstanceAction claim = ClaimInstance(takeover, &running);
    // At logon the startup shortcut's /hide finds a copy started earlier:
    // its window stays as it is.
    if (claim == InstanceShowOther && !hidden) {
        ShowOtherInstance(running);
    }
    if (claim == InstanceShowOther || claim == InstanceWait) {
        return 0;
    }
    InitLinkControl();
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    RegisterMainWindowClass(instance);

    // Without a record (no path, no memory) the program still runs, every
    // switch off, and writes no file.
    RemapSettings stand_in{};
    ReadProcessToken();
    RemapSettings* settings = CreateRemapSettings(RunsElevated());
    SettingsFileKnown = settings != nullptr;
    active_settings = SettingsFileKnown ? settings : &stand_in;
    SettingsUnsaved = SettingsFileKnown && !LoadSettings();
    if (SettingsFileKnown) {
        LoadExcludeList();
    }
    StartedHidden = hidden;

    // Without a window nothing could ever post the quit message.
    HWND window = CreateMainWindow(instance);
    if (window != NULL) {
        // The old instance ends only once this one's window exists.
        if (claim == InstanceTakeOver) {
            EndOtherInstance(running);
        }
        if (!hidden) {
            ShowWindow(window, SW_SHOW);
        }
        UpdateWindow(window);
        RunMessageLoop(window);
    }

    if (settings != nullptr) {
        HeapFree(GetProcessHeap(), 0, settings);
    }
    CoUninitialize();
    ReleaseInstance();
    return 0;
}

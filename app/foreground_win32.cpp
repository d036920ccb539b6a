#include <windows.h>

#include "app/foreground_win32.h"

#include <cwchar>

#include "app/dispatch.h"
#include "remap/engine_life_win32.h"
#include "settings/settings_win32.h"

namespace {

HWND ReportWindow;
HWND LastFront;
// The file names of the application in front and of the last application window.
wchar_t ForegroundName[MAX_PATH];
wchar_t LastApplication[MAX_PATH];

// The file name of the executable of process `process_id` into `name`
// (MAX_PATH units); empty when the process cannot be opened.
void ImageFileName(DWORD process_id, wchar_t* name)
{
    name[0] = L'\0';
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == NULL) {
        return;
    }
    // Room for a long path; the name itself stays within MAX_PATH.
    wchar_t path[1024];
    DWORD units = ARRAYSIZE(path);
    if (QueryFullProcessImageNameW(process, 0, path, &units)) {
        const wchar_t* file = std::wcsrchr(path, L'\\');
        lstrcpynW(name, file != NULL ? file + 1 : path, MAX_PATH);
    }
    CloseHandle(process);
}

struct ChildSearch {
    DWORD frame_process;
    DWORD found;
};

BOOL CALLBACK FindOtherProcess(HWND child, LPARAM parameter)
{
    ChildSearch* search = reinterpret_cast<ChildSearch*>(parameter);
    DWORD process_id = 0;
    GetWindowThreadProcessId(child, &process_id);
    if (process_id != search->frame_process) {
        search->found = process_id;
        return FALSE;
    }
    return TRUE;
}

// The process whose application `window` shows: a Store app's frame
// (ApplicationFrameHost.exe, one for all of them) holds the app's window as
// a child of the app's own process; a frame without one (the app
// suspended) names none.
DWORD ApplicationProcess(HWND window, ApplicationNaming naming)
{
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (naming != NameByChildProcess) {
        return process_id;
    }
    ChildSearch search = {process_id, 0};
    EnumChildWindows(window, FindOtherProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

void WatchApplications(HWND window)
{
    ReportWindow = window;
}

void NoteForeground(HWND front)
{
    // Not before the engine has started.
    if (ReportWindow == NULL) {
        return;
    }
    wchar_t class_name[40] = L"";
    GetClassNameW(front, class_name, ARRAYSIZE(class_name));
    const ApplicationNaming naming = DecideNaming(class_name);
    const DWORD process_id = ApplicationProcess(front, naming);
    ForegroundName[0] = L'\0';
    if (process_id != 0 && process_id != GetCurrentProcessId()) {
        ImageFileName(process_id, ForegroundName);
        if (ForegroundName[0] != L'\0' && naming != NameNoApplication) {
            lstrcpynW(LastApplication, ForegroundName, MAX_PATH);
        }
    }
    if (naming != NameNoApplication) {
        LastFront = front;
    }
    DecideLeftAlone();
    PostMessageW(ReportWindow, WM_FOREGROUND_CHANGED, 0, 0);
}

void DecideLeftAlone()
{
    EngineLeaveAlone(ForegroundName[0] != L'\0' && FindExcludedApp(ForegroundName) >= 0);
}

const wchar_t* LastApplicationName()
{
    return LastApplication;
}

HWND LastFrontWindow()
{
    return LastFront;
}

const wchar_t* ForegroundApplicationName()
{
    return ForegroundName;
}

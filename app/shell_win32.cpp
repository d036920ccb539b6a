#include <windows.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include "app/shell_win32.h"

namespace {

// wtsapi32 is no known DLL: imported, it would be looked for beside the exe
// first, so it is loaded from the system folder only, while it is needed.
HMODULE SessionLibrary;

FARPROC SessionFunction(const char* name)
{
    return SessionLibrary != NULL ? GetProcAddress(SessionLibrary, name) : NULL;
}

DWORD WINAPI OpenLinkThread(void* parameter)
{
    wchar_t* url = static_cast<wchar_t*>(parameter);
    // The shell may hand the work to COM objects of its own.
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteW(NULL, L"open", url, NULL, NULL, SW_SHOWMAXIMIZED);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    HeapFree(GetProcessHeap(), 0, url);
    return 0;
}

}  // namespace

void OpenLinkInBackground(const wchar_t* url)
{
    const size_t units = lstrlenW(url) + 1;
    wchar_t* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
    if (copy == NULL) {
        return;
    }
    CopyMemory(copy, url, units * sizeof(wchar_t));
    HANDLE thread = CreateThread(NULL, 0, OpenLinkThread, copy, 0, NULL);
    if (thread == NULL) {
        HeapFree(GetProcessHeap(), 0, copy);
        return;
    }
    CloseHandle(thread);
}

void WatchSession(HWND window)
{
    typedef BOOL(WINAPI * RegisterFunction)(HWND, DWORD);
    SessionLibrary = LoadLibraryExW(L"wtsapi32.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    RegisterFunction watch = reinterpret_cast<RegisterFunction>(
        reinterpret_cast<void (*)()>(SessionFunction("WTSRegisterSessionNotification")));
    if (watch != NULL) {
        watch(window, NOTIFY_FOR_THIS_SESSION);
    }
}

void StopWatchingSession(HWND window)
{
    typedef BOOL(WINAPI * UnregisterFunction)(HWND);
    UnregisterFunction stop = reinterpret_cast<UnregisterFunction>(
        reinterpret_cast<void (*)()>(SessionFunction("WTSUnRegisterSessionNotification")));
    if (stop != NULL) {
        stop(window);
    }
    if (SessionLibrary != NULL) {
        FreeLibrary(SessionLibrary);
        SessionLibrary = NULL;
    }
}


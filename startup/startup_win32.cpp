#include <windows.h>

#include "startup/startup_win32.h"

#include <knownfolders.h>
#include <objidl.h>
#include <shlobj.h>

#include "settings/settings_win32.h"
#include "startup/shortcut_path.h"

BOOL GetStartupShortcutPath(const wchar_t* executable_path, wchar_t** out)
{
    PWSTR folder = NULL;
    BOOL stored = 0;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, 0, NULL, &folder))) {
        const size_t units = ShortcutPathUnits(folder, executable_path);
        wchar_t* path = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
        if (path != NULL) {
            FormatShortcutPath(path, folder, executable_path);
            *out = path;
            stored = 1;
        }
    }
    // Also after a failed lookup, which may still have handed out a string.
    CoTaskMemFree(folder);
    return stored;
}

BOOL WithStartupShortcut(ShortcutFileOp operation)
{
    HANDLE heap = GetProcessHeap();
    wchar_t* executable_path = NULL;
    wchar_t* shortcut_path = NULL;
    BOOL result = 0;
    if (!GetExecutablePath(&executable_path)) {
        return 0;
    }
    if (GetStartupShortcutPath(executable_path, &shortcut_path)) {
        result = operation(shortcut_path);
        HeapFree(heap, 0, shortcut_path);
    }
    HeapFree(heap, 0, executable_path);
    return result;
}

void CreateStartupShortcut()
{
    HANDLE heap = GetProcessHeap();
    wchar_t* executable_path = NULL;
    wchar_t* shortcut_path = NULL;
    if (!GetExecutablePath(&executable_path)) {
        return;
    }
    if (GetStartupShortcutPath(executable_path, &shortcut_path)) {
        IShellLinkW* link = NULL;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&link)))) {
            // Save is tried even when these fail: nothing is reported anyway.
            link->SetPath(executable_path);
            link->SetArguments(L"/hide");
            IPersistFile* file = NULL;
            if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
                file->Save(shortcut_path, TRUE);
                file->Release();
            }
            link->Release();
        }
        HeapFree(heap, 0, shortcut_path);
    }
    HeapFree(heap, 0, executable_path);
}

namespace {

// Held while a wish is carried out; the latest wish and what was done last.
HANDLE ShortcutWork;
volatile LONG StartupWanted;
LONG StartupDone;

DWORD WINAPI StartupWishThread(void*)
{
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    FinishStartupShortcut(INFINITE);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return 0;
}

}  // namespace

void FinishStartupShortcut(DWORD wait_ms)
{
    const DWORD waited = WaitForSingleObject(ShortcutWork, wait_ms);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return;
    }
    const LONG wanted = InterlockedCompareExchange(&StartupWanted, 0, 0);
    if (wanted != StartupDone) {
        if (wanted) {
            CreateStartupShortcut();
        } else {
            WithStartupShortcut(DeleteFileW);
        }
        StartupDone = wanted;
    }
    ReleaseMutex(ShortcutWork);
}

void TrackStartupShortcut(bool exists)
{
    ShortcutWork = CreateMutexW(NULL, FALSE, NULL);
    StartupWanted = exists;
    StartupDone = exists;
}

void WishStartupShortcut(bool wanted)
{
    InterlockedExchange(&StartupWanted, wanted);
    // Without a thread the wish waits for the exit.
    HANDLE thread = CreateThread(NULL, 0, StartupWishThread, NULL, 0, NULL);
    if (thread != NULL) {
        CloseHandle(thread);
    }
}

#include <windows.h>

#include "startup/startup_win32.h"

#include <knownfolders.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

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

namespace {

// Room for the longest path Windows knows.
const int SHORTCUT_TARGET_CAPACITY = 32768;

// The long form of an existing path (TEMP often names the user's folder by
// its short 8.3 name), newly allocated on the process heap; null when it
// cannot be made.
wchar_t* NewLongPath(const wchar_t* path)
{
    const DWORD units = GetLongPathNameW(path, NULL, 0);
    wchar_t* long_path =
        units != 0 ? static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t))) : NULL;
    if (long_path != NULL) {
        const DWORD length = GetLongPathNameW(path, long_path, units);
        if (length == 0 || length >= units) {
            HeapFree(GetProcessHeap(), 0, long_path);
            return NULL;
        }
    }
    return long_path;
}

}  // namespace

bool ExecutableInTempFolder()
{
    HANDLE heap = GetProcessHeap();
    wchar_t temp[MAX_PATH + 1];
    const DWORD temp_length = GetTempPathW(ARRAYSIZE(temp), temp);
    wchar_t* executable_path = NULL;
    if (temp_length == 0 || temp_length >= ARRAYSIZE(temp) || !GetExecutablePath(&executable_path)) {
        return false;
    }
    wchar_t* long_temp = NewLongPath(temp);
    wchar_t* long_executable = NewLongPath(executable_path);
    const bool inside = ExecutableInFolder(long_executable != NULL ? long_executable : executable_path,
                                           long_temp != NULL ? long_temp : temp);
    if (long_temp != NULL) {
        HeapFree(heap, 0, long_temp);
    }
    if (long_executable != NULL) {
        HeapFree(heap, 0, long_executable);
    }
    HeapFree(heap, 0, executable_path);
    return inside;
}

ShortcutState ReadStartupShortcut()
{
    HANDLE heap = GetProcessHeap();
    wchar_t* executable_path = NULL;
    wchar_t* shortcut_path = NULL;
    if (!GetExecutablePath(&executable_path)) {
        return ShortcutMissing;
    }
    ShortcutState state = ShortcutMissing;
    if (GetStartupShortcutPath(executable_path, &shortcut_path)) {
        if (PathFileExistsW(shortcut_path)) {
            state = ShortcutOtherCopy;
            wchar_t* target = static_cast<wchar_t*>(HeapAlloc(heap, 0, SHORTCUT_TARGET_CAPACITY * sizeof(wchar_t)));
            wchar_t arguments[INFOTIPSIZE];
            IShellLinkW* link = NULL;
            IPersistFile* file = NULL;
            if (target != NULL &&
                SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&link))) &&
                SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                SUCCEEDED(file->Load(shortcut_path, STGM_READ)) &&
                link->GetPath(target, SHORTCUT_TARGET_CAPACITY, NULL, 0) == S_OK &&
                SUCCEEDED(link->GetArguments(arguments, ARRAYSIZE(arguments))) &&
                StartsThisCopy(target, arguments, executable_path)) {
                state = ShortcutThisCopy;
            }
            if (file != NULL) {
                file->Release();
            }
            if (link != NULL) {
                link->Release();
            }
            if (target != NULL) {
                HeapFree(heap, 0, target);
            }
        }
        HeapFree(heap, 0, shortcut_path);
    }
    HeapFree(heap, 0, executable_path);
    return state;
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

// Held while a wish is carried out. The latest wish is one word, the count of
// wishes times two plus 1 when the shortcut is wanted, so that a report can
// tell whether a click came after the wish it carried out.
HANDLE ShortcutWork;
volatile LONG StartupWish;
// Whether the shortcut existed after the last wish carried out, and that
// wish: one whose outcome the box has shown is not tried again.
LONG StartupDone;
LONG StartupTried;
// Where reports go; null once the window is gone.
SRWLOCK ReportLock = SRWLOCK_INIT;
HWND ReportWindow;
UINT ReportMessage;

// Carries out the latest wish unless it was tried already (the box then
// shows its outcome, which a later attempt could silently undo) or is done,
// once the thread at work on one before is through, and reports.
void CarryOutLatestWish()
{
    const DWORD waited = WaitForSingleObject(ShortcutWork, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return;
    }
    const LONG wish = InterlockedCompareExchange(&StartupWish, 0, 0);
    const LONG wanted = wish & 1;
    if (wish != StartupTried && wanted != StartupDone) {
        if (wanted) {
            CreateStartupShortcut();
        } else {
            WithStartupShortcut(DeleteFileW);
        }
        // What is there, not what was wished: a redirected, offline or
        // blocked Startup folder takes no shortcut, and the next wish for one
        // must try again; so does one to another copy left in place.
        StartupDone = ReadStartupShortcut() == ShortcutThisCopy;
    }
    StartupTried = wish;
    const LONG exists = StartupDone;
    ReleaseMutex(ShortcutWork);
    AcquireSRWLockShared(&ReportLock);
    if (ReportWindow != NULL) {
        PostMessageW(ReportWindow, ReportMessage, static_cast<WPARAM>(exists), static_cast<LPARAM>(wish));
    }
    ReleaseSRWLockShared(&ReportLock);
}

DWORD WINAPI StartupWishThread(void*)
{
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    CarryOutLatestWish();
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return 0;
}

}  // namespace

bool FinishStartupShortcut(DWORD wait_ms)
{
    // On a thread of its own: COM and the file system may hang on a dead
    // drive. Without a thread the wish is lost.
    HANDLE last = CreateThread(NULL, 0, StartupWishThread, NULL, 0, NULL);
    if (last == NULL) {
        return true;
    }
    const bool done = WaitForSingleObject(last, wait_ms) == WAIT_OBJECT_0;
    CloseHandle(last);
    return done;
}

void TrackStartupShortcut(HWND window, UINT message, bool exists)
{
    ShortcutWork = CreateMutexW(NULL, FALSE, NULL);
    ReportWindow = window;
    ReportMessage = message;
    StartupWish = exists;
    StartupDone = exists;
    StartupTried = exists;
}

void StopStartupReports()
{
    AcquireSRWLockExclusive(&ReportLock);
    ReportWindow = NULL;
    ReleaseSRWLockExclusive(&ReportLock);
}

void WishStartupShortcut(bool wanted)
{
    // Only this thread writes the word; unsigned, the count wraps.
    const ULONG next = ((static_cast<ULONG>(StartupWish) + 2u) & ~1ul) | (wanted ? 1u : 0u);
    InterlockedExchange(&StartupWish, static_cast<LONG>(next));
    // Without a thread the wish waits for the exit.
    HANDLE thread = CreateThread(NULL, 0, StartupWishThread, NULL, 0, NULL);
    if (thread != NULL) {
        CloseHandle(thread);
    }
}

bool StartupReportIsLatest(LPARAM wish)
{
    return static_cast<LONG>(wish) == StartupWish;
}

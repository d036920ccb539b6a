#include <windows.h>
#include <shellapi.h>

#include "app/instance_win32.h"

#include "settings/settings_win32.h"

namespace {

// "Local\": the session's own namespace, so that each signed-in user of the
// machine has an instance.
const wchar_t INSTANCE_MUTEX[] = L"Local\\Lumbrix.Instance";
const wchar_t EXITING_PROPERTY[] = L"Lumbrix.Exiting";

// Owned by the window's thread, which claims it at the start and lets it go
// after the message loop.
HANDLE InstanceMutex;
bool InstanceOwned;
bool TakingOver;

// This process's token, read once at the start.
bool TokenElevated;
uint32_t TokenElevationKind;

// One claim, after waiting up to `wait_ms` for the mutex when another
// process holds it (or for its chance to open it, when it may not).
InstanceClaim Claim(DWORD wait_ms)
{
    if (InstanceMutex == NULL) {
        Sleep(wait_ms);
        InstanceMutex = CreateMutexW(NULL, TRUE, INSTANCE_MUTEX);
        if (InstanceMutex == NULL) {
            // Made by an elevated instance, the mutex is closed to this one.
            return GetLastError() == ERROR_ACCESS_DENIED ? ClaimDenied : ClaimFailed;
        }
        InstanceOwned = GetLastError() != ERROR_ALREADY_EXISTS;
    } else if (!InstanceOwned) {
        const DWORD waited = WaitForSingleObject(InstanceMutex, wait_ms);
        // Abandoned: the other process ended without letting it go.
        InstanceOwned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    return InstanceOwned ? ClaimOwned : ClaimTaken;
}

DWORD WINAPI RestartThread(void* parameter)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE folder = INVALID_HANDLE_VALUE;
    wchar_t* path = NULL;
    if (!HoldExecutable(&file, &folder, &path)) {
        return 0;
    }
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    // No message box of the shell's own: a cancelled prompt is the user's
    // answer, not an error.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = static_cast<HWND>(parameter);
    info.lpVerb = L"runas";
    info.lpFile = path;
    info.lpParameters = L"/takeover";
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info) && info.hProcess != NULL) {
        // The elevated copy holds its folder itself from its start; once its
        // window exists it ends this process, and these handles with it.
        WaitForSingleObject(info.hProcess, INSTANCE_WAIT_MS);
        CloseHandle(info.hProcess);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    CloseHandle(file);
    CloseHandle(folder);
    HeapFree(GetProcessHeap(), 0, path);
    return 0;
}

}  // namespace

InstanceAction ClaimInstance(bool takeover, HWND* other)
{
    const ULONGLONG until = GetTickCount64() + INSTANCE_WAIT_MS;
    DWORD wait_ms = 0;
    for (;;) {
        const InstanceClaim claim = Claim(wait_ms);
        *other = FindWindowW(MAIN_WINDOW_CLASS, NULL);
        const bool exiting = *other != NULL && GetPropW(*other, EXITING_PROPERTY) != NULL;
        const InstanceAction action = DecideInstance(claim, *other != NULL, exiting, takeover);
        if (action != InstanceWait || GetTickCount64() >= until) {
            TakingOver = action == InstanceTakeOver;
            return action;
        }
        wait_ms = INSTANCE_POLL_MS;
    }
}

void ShowOtherInstance(HWND other)
{
    DWORD process = 0;
    GetWindowThreadProcessId(other, &process);
    AllowSetForegroundWindow(process);
    PostMessageW(other, WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP);
}

void EndOtherInstance(HWND other)
{
    PostMessageW(other, WM_COMMAND, IDM_EXIT, 0);
}

bool InstanceHandedOver()
{
    if (TakingOver && Claim(0) != ClaimOwned) {
        return false;
    }
    TakingOver = false;
    return true;
}

void OpenToLaunches(HWND window)
{
    ChangeWindowMessageFilterEx(window, WM_TRAYICON, MSGFLT_ALLOW, NULL);
}

void MarkInstanceExiting(HWND window)
{
    SetPropW(window, EXITING_PROPERTY, reinterpret_cast<HANDLE>(1));
}

void ForgetInstanceWindow(HWND window)
{
    RemovePropW(window, EXITING_PROPERTY);
}

void ReleaseInstance()
{
    if (InstanceOwned) {
        ReleaseMutex(InstanceMutex);
    }
    if (InstanceMutex != NULL) {
        CloseHandle(InstanceMutex);
    }
}

void ReadProcessToken()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return;
    }
    TOKEN_ELEVATION elevation = {};
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
        GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) {
        TokenElevated = elevation.TokenIsElevated != 0;
        TokenElevationKind = static_cast<uint32_t>(type);
    }
    CloseHandle(token);
}

bool RunsElevated()
{
    return TokenElevated;
}

bool CanRestartElevated()
{
    return OffersElevatedRestart(TokenElevated, TokenElevationKind);
}

void RestartElevated(HWND window)
{
    HANDLE thread = CreateThread(NULL, 0, RestartThread, window, 0, NULL);
    if (thread != NULL) {
        CloseHandle(thread);
    }
}

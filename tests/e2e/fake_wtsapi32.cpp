#include <windows.h>

// Stands in for wtsapi32.dll in the end-to-end prefix, as the session service
// answers at logon: a request for session notices fails with
// RPC_S_INVALID_BINDING until the event "Global\TermSrvReadyEvent" is set.
// Each request's answer is appended to C:\session-requests.log as a line:
// "ok" or the error.

namespace {

void Note(const char* answer)
{
    HANDLE log = CreateFileW(L"C:\\session-requests.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(log, answer, lstrlenA(answer), &written, nullptr);
    CloseHandle(log);
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD)
{
    HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, L"Global\\TermSrvReadyEvent");
    const bool up = ready != nullptr && WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
    if (ready != nullptr) {
        CloseHandle(ready);
    }
    Note(up ? "ok\n" : "1702\n");
    SetLastError(up ? 0 : RPC_S_INVALID_BINDING);
    return up;
}

extern "C" __declspec(dllexport) BOOL WINAPI WTSUnRegisterSessionNotification(HWND)
{
    return TRUE;
}

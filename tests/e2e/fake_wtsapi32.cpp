#include <windows.h>

// Stands in for wtsapi32.dll in one end-to-end case, answering as the session
// service does at logon: the request for session notices fails with
// RPC_S_INVALID_BINDING until the event "Global\TermSrvReadyEvent" is set.
// Each answer is appended to C:\session-requests.log as a line.
extern "C" __declspec(dllexport) BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD)
{
    HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, L"Global\\TermSrvReadyEvent");
    const bool up = ready != nullptr && WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
    CloseHandle(ready);
    HANDLE log = CreateFileW(L"C:\\session-requests.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0,
                             nullptr);
    DWORD written = 0;
    WriteFile(log, up ? "ok\n" : "1702\n", up ? 3 : 5, &written, nullptr);
    CloseHandle(log);
    SetLastError(up ? 0 : RPC_S_INVALID_BINDING);
    return up;
}

// Slow to answer at the exit, as a busy service is: a launch then comes while
// the program exits.
extern "C" __declspec(dllexport) BOOL WINAPI WTSUnRegisterSessionNotification(HWND)
{
    Sleep(2000);
    return TRUE;
}

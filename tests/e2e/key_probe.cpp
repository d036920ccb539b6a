#include <windows.h>
#include <shlobj.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// The end-to-end suite's eyes inside Wine. A focused window records every key
// message it receives, as an application would see them, and a low-level
// keyboard hook installed after Lumbrix's (so that it runs first) records the
// whole chain: physical events, injected events with their flags and extra
// info, and what the rest of the chain answered. Every record carries a
// QueryPerformanceCounter stamp, so a latency measurement can pair each
// physical event's hook stamp with the stamps of the messages it turned into.
//
// Usage: key_probe.exe LOG CMDDIR [--after CLASS]
//   LOG     the log file (created; one record per line)
//   CMDDIR  a folder the probe polls for a file named "cmd"; it answers each
//           command in "reply" (see RunCommand)
//   --after waits until a top-level window of CLASS exists and its program
//           waits for input before hooking, so that the probe's hook lies in
//           front of that program's; for Lumbrix, until a key tagged as its
//           masking event shows its hook behind the probe's
//
// Log lines, fields separated by one space:
//   freq F                              counter ticks per second
//   window HWND, found PID, hooked N    start-up: the window made, that of
//                                       --after's program found, in front after
//                                       N tries
//   ready Q HWND XID                    hook installed, window focused; XID
//                                       is its X window under Wine, else 0
//   hook Q QOUT MSG VK SCAN FLAGS TIME EXTRA NEXT
//       one hook call: stamps on entry and after CallNextHookEx, the message
//       (hex), KBDLLHOOKSTRUCT fields (flags and extra in hex) and the chain's
//       answer (nonzero: a later hook swallowed the event)
//   mouse Q QOUT MSG X Y FLAGS TIME EXTRA NEXT
//       one mouse hook call (after the command "mouse"), as a hook line with
//       the MSLLHOOKSTRUCT fields
//   msg Q NAME WPARAM LPARAM EXTRA      a message reached the window; EXTRA is
//       GetMessageExtraInfo (hex), NAME one of keydown keyup syskeydown
//       syskeyup char syschar lbuttondown lbuttonup, and mousemove after the
//       command "mouse"; for the buttons WPARAM is what GetKeyState said of
//       the modifiers: 1 Alt, 2 Ctrl, 4 Shift
//   lost N                              records dropped for want of room

namespace {

const wchar_t PROBE_CLASS[] = L"LumbrixKeyProbe";

// dwExtraInfo of the events the probe injects itself, so the runner can tell
// them from everyone else's.
const ULONG_PTR PROBE_TAG = 0x50524F42;

const UINT_PTR POLL_TIMER = 1;
const UINT POLL_MS = 10;

struct Record {
    char kind; // 'h' hook call, 'o' mouse hook call, 'm' window message
    bool done;
    LONGLONG qpc;
    LONGLONG qpc_out;
    UINT message;
    KBDLLHOOKSTRUCT key;
    MSLLHOOKSTRUCT mouse;
    WPARAM wparam;
    LPARAM lparam;
    ULONG_PTR extra;
    LRESULT next;
};

// Hook calls can nest (an event injected by a later hook arrives while the
// probe still waits in CallNextHookEx), so a record's slot is taken on entry
// and the log is written only up to the first record still open.
const size_t MAX_RECORDS = 1 << 16;
Record records[MAX_RECORDS];
size_t record_count;
size_t written_count;
unsigned long lost_count;

HHOOK probe_hook;

// Null until the command "mouse", which also has the window record its
// mouse moves.
HHOOK mouse_hook;

// Physical key events that the probe's hook still drops without handing them
// on: the hooks behind it never hear of them, as if Windows had removed them.
unsigned long drop_count;

// Lumbrix drops every key tagged as its masking event: the chain's answer
// to such a key (F24) tells whether its hook lies behind the probe's.
const ULONG_PTR LUMBRIX_MASK_TAG = 52;
LRESULT mask_answer = -1;
HWND probe_window;
HANDLE held_file = INVALID_HANDLE_VALUE;
FILE* log_file;
wchar_t command_path[MAX_PATH];
wchar_t reply_path[MAX_PATH];
wchar_t reply_temp_path[MAX_PATH];

LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

Record* TakeRecord(char kind)
{
    if (record_count == MAX_RECORDS) {
        ++lost_count;
        return nullptr;
    }
    Record* record = &records[record_count++];
    memset(record, 0, sizeof *record);
    record->kind = kind;
    return record;
}

void WriteRecords()
{
    while (written_count < record_count && records[written_count].done) {
        const Record& r = records[written_count++];
        if (r.kind == 'h') {
            fprintf(log_file, "hook %lld %lld %x %lu %lu %lx %lu %llx %lld\n", r.qpc, r.qpc_out,
                    r.message, r.key.vkCode, r.key.scanCode, r.key.flags, r.key.time,
                    static_cast<unsigned long long>(r.key.dwExtraInfo), static_cast<long long>(r.next));
        } else if (r.kind == 'o') {
            fprintf(log_file, "mouse %lld %lld %x %ld %ld %lx %lu %llx %lld\n", r.qpc, r.qpc_out, r.message,
                    r.mouse.pt.x, r.mouse.pt.y, r.mouse.flags, r.mouse.time,
                    static_cast<unsigned long long>(r.mouse.dwExtraInfo), static_cast<long long>(r.next));
        } else {
            const char* name = "other";
            switch (r.message) {
            case WM_KEYDOWN: name = "keydown"; break;
            case WM_KEYUP: name = "keyup"; break;
            case WM_SYSKEYDOWN: name = "syskeydown"; break;
            case WM_SYSKEYUP: name = "syskeyup"; break;
            case WM_CHAR: name = "char"; break;
            case WM_SYSCHAR: name = "syschar"; break;
            case WM_LBUTTONDOWN: name = "lbuttondown"; break;
            case WM_LBUTTONUP: name = "lbuttonup"; break;
            case WM_MOUSEMOVE: name = "mousemove"; break;
            }
            fprintf(log_file, "msg %lld %s %llu %llx %llx\n", r.qpc, name,
                    static_cast<unsigned long long>(r.wparam),
                    static_cast<unsigned long long>(r.lparam),
                    static_cast<unsigned long long>(r.extra));
        }
    }
    if (written_count == record_count) {
        written_count = record_count = 0;
    }
    if (lost_count) {
        fprintf(log_file, "lost %lu\n", lost_count);
        lost_count = 0;
    }
    fflush(log_file);
}

// A hook call's record, taken on entry stamped `entry`. Its index, not its
// address, survives a nested call that takes the next slot; MAX_RECORDS
// when there is no room.
size_t OpenCall(char kind, LONGLONG entry, WPARAM message)
{
    Record* record = TakeRecord(kind);
    if (!record) {
        return MAX_RECORDS;
    }
    record->qpc = entry;
    record->message = static_cast<UINT>(message);
    return static_cast<size_t>(record - records);
}

void CloseCall(size_t index, LRESULT next)
{
    if (index < MAX_RECORDS) {
        records[index].qpc_out = Now();
        records[index].next = next;
        records[index].done = true;
    }
}

LRESULT CALLBACK MouseProbeProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code != HC_ACTION) {
        return CallNextHookEx(mouse_hook, code, wParam, lParam);
    }
    const size_t index = OpenCall('o', Now(), wParam);
    if (index < MAX_RECORDS) {
        records[index].mouse = *reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
    }
    const LRESULT next = CallNextHookEx(mouse_hook, code, wParam, lParam);
    CloseCall(index, next);
    return next;
}

// Installs the mouse hook in front of every other, then removes the one it
// replaces.
void HookMouseInFront()
{
    HHOOK fresh = SetWindowsHookExW(WH_MOUSE_LL, MouseProbeProc, GetModuleHandleW(nullptr), 0);
    if (fresh) {
        if (mouse_hook) {
            UnhookWindowsHookEx(mouse_hook);
        }
        mouse_hook = fresh;
    }
}

LRESULT CALLBACK ProbeHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code != HC_ACTION) {
        return CallNextHookEx(probe_hook, code, wParam, lParam);
    }
    const size_t index = OpenCall('h', Now(), wParam);
    if (index < MAX_RECORDS) {
        records[index].key = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    }
    const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    const bool drop = drop_count > 0 && !(key->flags & LLKHF_INJECTED);
    drop_count -= drop ? 1 : 0;
    const LRESULT next = drop ? 1 : CallNextHookEx(probe_hook, code, wParam, lParam);
    if (key->vkCode == VK_F24 && key->dwExtraInfo == LUMBRIX_MASK_TAG) {
        mask_answer = next;
    }
    CloseCall(index, next);
    // Lumbrix installs its mouse hook when an Alt press leaves a tap
    // pending, in front of the probe's: the probe's goes in front again
    // before the next mouse event.
    if (mouse_hook && !(key->flags & LLKHF_INJECTED) && (wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN)) {
        HookMouseInFront();
    }
    return next;
}

void RecordMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const LONGLONG stamp = Now();
    Record* record = TakeRecord('m');
    if (record) {
        record->qpc = stamp;
        record->message = message;
        record->wparam = wParam;
        record->lparam = lParam;
        record->extra = static_cast<ULONG_PTR>(GetMessageExtraInfo());
        record->done = true;
    }
}

// Injects F24 tagged as Lumbrix's masking event and waits for the chain's
// answer: nonzero when a hook behind the probe's dropped it.
bool LumbrixHookBehind()
{
    mask_answer = -1;
    INPUT keys[2] = {};
    for (int i = 0; i < 2; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = VK_F24;
        keys[i].ki.dwFlags = i == 0 ? 0 : KEYEVENTF_KEYUP;
        keys[i].ki.dwExtraInfo = LUMBRIX_MASK_TAG;
    }
    SendInput(2, keys, sizeof(INPUT));
    const ULONGLONG until = GetTickCount64() + 500;
    while (mask_answer == -1 && GetTickCount64() < until) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return mask_answer > 0;
}

// Lumbrix hooks last in its window's creation, and hooks anew after a
// resume or an unlock: the probe hooks (again) until it is in front.
int HookInFrontOfLumbrix()
{
    for (int attempt = 1; attempt <= 100; ++attempt) {
        UnhookWindowsHookEx(probe_hook);
        probe_hook = SetWindowsHookExW(WH_KEYBOARD_LL, ProbeHookProc, GetModuleHandleW(nullptr), 0);
        if (LumbrixHookBehind()) {
            return attempt;
        }
        Sleep(50);
    }
    return 0;
}

// ---- commands -------------------------------------------------------------

void AppendUtf8(FILE* out, const wchar_t* text)
{
    char buffer[2048];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    if (length > 0) {
        for (char* c = buffer; *c; ++c) {
            if (*c == '\n' || *c == '\r' || *c == '\t') {
                *c = ' ';
            }
        }
        fputs(buffer, out);
    }
}

// One line per window: handle, owner process, class, id, style, visibility,
// outer rectangle, client size, client origin on the screen, check state
// (buttons only, else -1), text.
void DescribeWindow(FILE* out, const char* kind, HWND window)
{
    wchar_t class_name[256] = L"";
    wchar_t text[512] = L"";
    GetClassNameW(window, class_name, 256);
    GetWindowTextW(window, text, 512);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT outer = {};
    RECT client = {};
    POINT origin = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    ClientToScreen(window, &origin);
    long check = -1;
    if (_wcsicmp(class_name, L"Button") == 0) {
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(window, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer)) {
            check = static_cast<long>(answer);
        }
    }
    fprintf(out, "%s %llx %lu ", kind, static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)), pid);
    AppendUtf8(out, class_name);
    fprintf(out, " %lld %lx %d %ld %ld %ld %ld %ld %ld %ld %ld %ld ",
            static_cast<long long>(GetWindowLongPtrW(window, GWLP_ID)),
            static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_STYLE)),
            IsWindowVisible(window) ? 1 : 0, outer.left, outer.top, outer.right, outer.bottom,
            client.right, client.bottom, origin.x, origin.y, check);
    AppendUtf8(out, text);
    fputc('\n', out);
}

BOOL CALLBACK DescribeChild(HWND window, LPARAM out)
{
    DescribeWindow(reinterpret_cast<FILE*>(out), "child", window);
    return TRUE;
}

BOOL CALLBACK DescribeTopLevel(HWND window, LPARAM out)
{
    wchar_t class_name[64] = L"";
    GetClassNameW(window, class_name, 64);
    // The program's windows, popup menus and the probe itself; Wine's own
    // hidden helper windows would only be noise.
    if (wcscmp(class_name, L"Lumbrix") == 0 || wcscmp(class_name, L"#32768") == 0 ||
        wcscmp(class_name, PROBE_CLASS) == 0) {
        DescribeWindow(reinterpret_cast<FILE*>(out), "top", window);
        EnumChildWindows(window, DescribeChild, out);
    }
    return TRUE;
}

unsigned long long NextNumber(char** save, int base)
{
    const char* word = strtok_r(nullptr, " \r\n", save);
    return word ? strtoull(word, nullptr, base) : 0;
}

// The smallest rectangle holding every screen point of `area` (every other
// pixel) where `window` answers WM_NCHITTEST with `code`: where to click a
// caption button.
void DescribeHitBox(FILE* out, HWND window, LRESULT code, RECT area)
{
    RECT box = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (LONG y = area.top; y < area.bottom; y += 2) {
        for (LONG x = area.left; x < area.right; x += 2) {
            DWORD_PTR answer = 0;
            if (SendMessageTimeoutW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &answer) &&
                static_cast<LRESULT>(answer) == code) {
                box.left = x < box.left ? x : box.left;
                box.top = y < box.top ? y : box.top;
                box.right = x > box.right ? x : box.right;
                box.bottom = y > box.bottom ? y : box.bottom;
            }
        }
    }
    if (box.left <= box.right) {
        fprintf(out, "box %ld %ld %ld %ld\n", box.left, box.top, box.right, box.bottom);
    }
}

void InjectTagged(WORD vk, bool down)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    input.ki.dwExtraInfo = PROBE_TAG;
    SendInput(1, &input, sizeof input);
}

// Commands, one per file, words separated by spaces:
//   windows                   describe the windows of interest
//   inject VK D [VK D ...]    SendInput each key (D 1 press, 0 release),
//                             tagged with PROBE_TAG
//   post HWND MSG WPARAM LPARAM   PostMessageW (numbers in hex)
//   focus                     bring the probe's window to the foreground
//   foreground                describe the foreground window
//   cursor                    where Windows has the pointer: "X Y"
//   focus-of HWND             describe the keyboard focus of that window's thread
//   hitbox HWND CODE L T R B  where in that screen rectangle the window's
//                             WM_NCHITTEST answers CODE
//   startup-folder            the current user's Startup folder
//   temp-folder               the current user's temporary folder
//   rehook                    hook anew in front of Lumbrix's hook
//   drop N                    drop the next N physical key events
//   hold PATH, release        open the file sharing all but its deletion (as
//                             a scanner would), and close it
//   signal NAME               create the named event, set
//   mouse                     hook the mouse too, in front of every mouse
//                             hook, again after each physical key press;
//                             the window records its mouse moves
//   quit                      close the probe (after answering)
// The answer starts with "ok" and ends with "end".
void RunCommand(char* command, FILE* out)
{
    fputs("ok\n", out);
    char* save = nullptr;
    const char* verb = strtok_r(command, " \r\n", &save);
    if (!verb) {
        // Nothing to do: the reply alone confirms that the probe is alive
        // and that everything before it has been written to the log.
    } else if (strcmp(verb, "windows") == 0) {
        EnumWindows(DescribeTopLevel, reinterpret_cast<LPARAM>(out));
    } else if (strcmp(verb, "inject") == 0) {
        for (;;) {
            const char* vk = strtok_r(nullptr, " \r\n", &save);
            const char* down = strtok_r(nullptr, " \r\n", &save);
            if (!vk || !down) {
                break;
            }
            InjectTagged(static_cast<WORD>(strtoul(vk, nullptr, 10)), strtoul(down, nullptr, 10) != 0);
        }
    } else if (strcmp(verb, "post") == 0) {
        unsigned long long values[4] = {};
        for (auto& value : values) {
            value = NextNumber(&save, 16);
        }
        PostMessageW(reinterpret_cast<HWND>(static_cast<UINT_PTR>(values[0])), static_cast<UINT>(values[1]),
                     static_cast<WPARAM>(values[2]), static_cast<LPARAM>(values[3]));
    } else if (strcmp(verb, "focus") == 0) {
        ShowWindow(probe_window, SW_SHOW);
        SetForegroundWindow(probe_window);
        SetFocus(probe_window);
        // What Windows tells every foreground watcher, and Wine 8 does not.
        NotifyWinEvent(EVENT_SYSTEM_FOREGROUND, probe_window, OBJID_WINDOW, CHILDID_SELF);
    } else if (strcmp(verb, "foreground") == 0) {
        HWND foreground = GetForegroundWindow();
        if (foreground) {
            DescribeWindow(out, "foreground", foreground);
        }
    } else if (strcmp(verb, "cursor") == 0) {
        POINT cursor = {0, 0};
        GetCursorPos(&cursor);
        fprintf(out, "%ld %ld\n", static_cast<long>(cursor.x), static_cast<long>(cursor.y));
    } else if (strcmp(verb, "focus-of") == 0) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        const DWORD thread = GetWindowThreadProcessId(reinterpret_cast<HWND>(NextNumber(&save, 16)), nullptr);
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) {
            DescribeWindow(out, "focus", info.hwndFocus);
        }
    } else if (strcmp(verb, "hitbox") == 0) {
        HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(NextNumber(&save, 16)));
        const LRESULT code = static_cast<LRESULT>(NextNumber(&save, 10));
        RECT area;
        area.left = static_cast<LONG>(NextNumber(&save, 10));
        area.top = static_cast<LONG>(NextNumber(&save, 10));
        area.right = static_cast<LONG>(NextNumber(&save, 10));
        area.bottom = static_cast<LONG>(NextNumber(&save, 10));
        DescribeHitBox(out, window, code, area);
    } else if (strcmp(verb, "startup-folder") == 0) {
        wchar_t* folder = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, 0, nullptr, &folder))) {
            fputs("folder ", out);
            AppendUtf8(out, folder);
            fputc('\n', out);
        }
        CoTaskMemFree(folder);
    } else if (strcmp(verb, "temp-folder") == 0) {
        wchar_t folder[MAX_PATH + 1];
        if (GetTempPathW(MAX_PATH + 1, folder) - 1u < MAX_PATH) {
            fputs("folder ", out);
            AppendUtf8(out, folder);
            fputc('\n', out);
        }
    } else if (strcmp(verb, "rehook") == 0) {
        fprintf(out, "%s\n", HookInFrontOfLumbrix() > 0 ? "in front" : "not in front");
    } else if (strcmp(verb, "drop") == 0) {
        drop_count = static_cast<unsigned long>(NextNumber(&save, 10));
    } else if (strcmp(verb, "hold") == 0 || strcmp(verb, "signal") == 0) {
        wchar_t name[MAX_PATH] = L"";
        MultiByteToWideChar(CP_UTF8, 0, strtok_r(nullptr, "\r\n", &save), -1, name, MAX_PATH);
        if (verb[0] == 'h') {
            held_file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, 0);
        } else {
            SetEvent(CreateEventW(nullptr, TRUE, FALSE, name));
        }
    } else if (strcmp(verb, "release") == 0) {
        CloseHandle(held_file);
    } else if (strcmp(verb, "mouse") == 0) {
        HookMouseInFront();
        fprintf(out, "%s\n", mouse_hook ? "hooked" : "not hooked");
    } else if (strcmp(verb, "quit") == 0) {
        PostMessageW(probe_window, WM_CLOSE, 0, 0);
    } else {
        fprintf(out, "unknown %s\n", verb);
    }
    fputs("end\n", out);
}

void PollCommand()
{
    FILE* in = _wfopen(command_path, L"rb");
    if (!in) {
        return;
    }
    char command[4096];
    const size_t length = fread(command, 1, sizeof command - 1, in);
    fclose(in);
    command[length] = '\0';
    DeleteFileW(command_path);
    FILE* out = _wfopen(reply_temp_path, L"wb");
    if (!out) {
        return;
    }
    RunCommand(command, out);
    fclose(out);
    // Everything recorded before the command was answered is in the log when
    // the reply appears.
    WriteRecords();
    MoveFileExW(reply_temp_path, reply_path, MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
        RecordMessage(message, wParam, lParam);
        return 0;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
        // Not handed on: the default handling would open the system menu on
        // Alt or close the probe on Alt+F4, and swallow the keys after them.
        RecordMessage(message, wParam, lParam);
        return 0;
    case WM_MOUSEMOVE:
        if (mouse_hook) {
            RecordMessage(message, wParam, lParam);
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        // As an application sees the click: the modifiers down with it.
        RecordMessage(message,
                      (GetKeyState(VK_MENU) < 0 ? 1u : 0u) | (GetKeyState(VK_CONTROL) < 0 ? 2u : 0u) |
                          (GetKeyState(VK_SHIFT) < 0 ? 4u : 0u),
                      lParam);
        return 0;
    case WM_TIMER:
        if (wParam == POLL_TIMER) {
            WriteRecords();
            PollCommand();
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void JoinPath(wchar_t* out, const wchar_t* folder, const wchar_t* name)
{
    _snwprintf(out, MAX_PATH, L"%ls\\%ls", folder, name);
    out[MAX_PATH - 1] = L'\0';
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Other windows' geometry in physical pixels, as XTEST clicks need it.
    SetProcessDPIAware();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) {
        return 2;
    }
    // Binary mode: the log holds exactly the bytes written, "\n" included.
    log_file = _wfopen(argv[1], L"wb");
    if (!log_file) {
        return 3;
    }
    JoinPath(command_path, argv[2], L"cmd");
    JoinPath(reply_path, argv[2], L"reply");
    JoinPath(reply_temp_path, argv[2], L"reply.tmp");
    const wchar_t* after = (argc >= 5 && wcscmp(argv[3], L"--after") == 0) ? argv[4] : nullptr;

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    fprintf(log_file, "freq %lld\n", frequency.QuadPart);
    fflush(log_file);

    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = ProbeWindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    window_class.lpszClassName = PROBE_CLASS;
    RegisterClassExW(&window_class);
    // Clear of the settings window at the screen's top-left corner.
    probe_window = CreateWindowExW(0, PROBE_CLASS, L"key probe", WS_OVERLAPPEDWINDOW, 480, 300, 480, 360,
                                   nullptr, nullptr, instance, nullptr);
    if (!probe_window) {
        return 4;
    }
    fprintf(log_file, "window %llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(probe_window)));
    fflush(log_file);

    // Low-level hooks run newest first: hooking only once the program under
    // test has its window, and with it its hook, puts the probe in front.
    // Its window may still be shown after creation, taking the focus: the
    // probe takes it only once the program waits for input.
    if (after) {
        HWND window;
        while (!(window = FindWindowW(after, nullptr))) {
            Sleep(20);
        }
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (process) {
            WaitForInputIdle(process, 10000);
            CloseHandle(process);
        }
        fprintf(log_file, "found %lu\n", pid);
        fflush(log_file);
    }
    if (after && wcscmp(after, L"Lumbrix") == 0) {
        fprintf(log_file, "hooked %d\n", HookInFrontOfLumbrix());
        fflush(log_file);
    } else {
        probe_hook = SetWindowsHookExW(WH_KEYBOARD_LL, ProbeHookProc, instance, 0);
    }
    if (!probe_hook) {
        return 5;
    }

    ShowWindow(probe_window, SW_SHOW);
    UpdateWindow(probe_window);
    SetForegroundWindow(probe_window);
    SetFocus(probe_window);
    SetTimer(probe_window, POLL_TIMER, POLL_MS, nullptr);
    // Wine's X11 driver keeps the window's X id in this property; without a
    // window manager the runner sets the X input focus on it.
    fprintf(log_file, "ready %lld %llx %llx\n", Now(),
            static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(probe_window)),
            static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetPropA(probe_window, "__wine_x11_whole_window"))));
    fflush(log_file);
    LocalFree(argv);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    UnhookWindowsHookEx(probe_hook);
    if (mouse_hook) {
        UnhookWindowsHookEx(mouse_hook);
    }
    WriteRecords();
    fclose(log_file);
    return 0;
}

#include <windows.h>

#include "settings/settings_win32.h"

#include <cwchar>

#include "settings/settings_save.h"
#include "settings/settings_text.h"

namespace {

// GetModuleFileNameW is tried at 256 units, doubling up to the longest path
// Windows knows.
const DWORD FIRST_PATH_CAPACITY = 256;
const DWORD LAST_PATH_CAPACITY = 32768;

const wchar_t TEMPORARY_SUFFIX[] = L".tmp";
const size_t TEMPORARY_SUFFIX_UNITS = sizeof TEMPORARY_SUFFIX / sizeof TEMPORARY_SUFFIX[0];

enum PathAttempt { PathDone, PathTooSmall, PathFailed };

PathAttempt TryGetExecutablePath(DWORD capacity, wchar_t** path)
{
    HANDLE heap = GetProcessHeap();
    wchar_t* buffer = static_cast<wchar_t*>(HeapAlloc(heap, 0, capacity * sizeof(wchar_t)));
    if (buffer == NULL) {
        return PathFailed;
    }
    const DWORD length = GetModuleFileNameW(NULL, buffer, capacity);
    PathAttempt outcome = PathFailed;
    // A full buffer means the path was cut short (it has no room left for
    // its terminator); 0 is a failure of its own, not an empty path.
    if (length >= capacity) {
        outcome = PathTooSmall;
    } else if (length > 0) {
        wchar_t* copy = static_cast<wchar_t*>(HeapAlloc(heap, 0, (length + 1) * sizeof(wchar_t)));
        if (copy != NULL) {
            std::wmemcpy(copy, buffer, length);
            copy[length] = L'\0';
            *path = copy;
            outcome = PathDone;
        }
    }
    HeapFree(heap, 0, buffer);
    return outcome;
}

// The text goes to "setting.tmp" beside the file, which one rename then puts
// in the file's place, so that a crash, power loss or full disk mid-write
// leaves the old settings whole. True when the file was replaced; else
// nothing changed.
bool ReplaceThroughTemporaryFile(const wchar_t* file_path, const char* text, DWORD length)
{
    HANDLE heap = GetProcessHeap();
    const size_t path_length = std::wcslen(file_path);
    wchar_t* temporary = static_cast<wchar_t*>(
        HeapAlloc(heap, 0, (path_length + TEMPORARY_SUFFIX_UNITS) * sizeof(wchar_t)));
    if (temporary == NULL) {
        return false;
    }
    std::wmemcpy(temporary, file_path, path_length);
    std::wmemcpy(temporary + path_length, TEMPORARY_SUFFIX, TEMPORARY_SUFFIX_UNITS);

    bool replaced = false;
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        bool whole = WriteFile(file, text, length, &written, NULL) && written == length;
        // On disk before the rename makes it the settings file.
        whole = whole && FlushFileBuffers(file);
        CloseHandle(file);
        replaced = whole && MoveFileExW(temporary, file_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!replaced) {
            DeleteFileW(temporary);
        }
    }
    HeapFree(heap, 0, temporary);
    return replaced;
}

// Where there is no file yet and the rename made none, the file is written
// directly: there is nothing to lose. One not written whole is removed.
bool WriteNewFile(const wchar_t* file_path, const char* text, DWORD length)
{
    HANDLE file = CreateFileW(file_path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool whole = WriteFile(file, text, length, &written, NULL) && written == length;
    CloseHandle(file);
    if (!whole) {
        DeleteFileW(file_path);
    }
    return whole;
}

// The whole save of a formatted text: true once the file holds it. An
// existing file is only ever replaced by the rename: written over in place,
// it would be cut short first, and a write that then fails (the file held by
// a scanner or a sync client, a full disk) would leave it torn. Never over a
// read-only file.
bool WriteSettingsText(const wchar_t* file_path, const char* text, DWORD length)
{
    // A read-only file is not ours to replace. Windows refuses the rename,
    // but a rename over it succeeds on other file systems (and Wine run as
    // root even truncates it).
    const DWORD attributes = GetFileAttributesW(file_path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    return ReplaceThroughTemporaryFile(file_path, text, length) ||
           (attributes == INVALID_FILE_ATTRIBUTES && WriteNewFile(file_path, text, length));
}

// The background saves: the queue under its lock, the file they go to (a
// copy of the record's path, fixed for the run, which a saver still at work
// when the exit stops waiting for it may use after the record is gone) and
// the newest saver thread.
SRWLOCK SaveLock = SRWLOCK_INIT;
SaveQueue Saves;
wchar_t* SavePath;
HANDLE SaverThread;

// Writes the pending switches until none are left or a write fails, which
// leaves them pending; the writing is outside the lock, so a click never
// waits for a disk.
void SaveQueued()
{
    char text[SETTINGS_TEXT_CAPACITY];
    for (;;) {
        AcquireSRWLockExclusive(&SaveLock);
        const int length = TakeSave(Saves, text);
        ReleaseSRWLockExclusive(&SaveLock);
        if (length == 0) {
            return;
        }
        if (!WriteSettingsText(SavePath, text, static_cast<DWORD>(length))) {
            AcquireSRWLockExclusive(&SaveLock);
            SaveFailed(Saves);
            ReleaseSRWLockExclusive(&SaveLock);
            return;
        }
    }
}

DWORD WINAPI SaverThreadProc(void*)
{
    SaveQueued();
    return 0;
}

SettingsLoad ReadSettingsFile(HANDLE file, RemapSettings& settings)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        return SettingsUnreadable;
    }
    // Far too big to be ours (its size + 1 could also wrap), or empty: what
    // a write cut short leaves.
    if (size.QuadPart > SETTINGS_FILE_LIMIT || size.QuadPart == 0) {
        return SettingsUnusable;
    }
    HANDLE heap = GetProcessHeap();
    char* text = static_cast<char*>(HeapAlloc(heap, 0, static_cast<SIZE_T>(size.QuadPart) + 1));
    if (text == NULL) {
        return SettingsUnreadable;
    }
    SettingsLoad load = SettingsUnreadable;
    DWORD count = 0;
    if (ReadFile(file, text, static_cast<DWORD>(size.QuadPart), &count, NULL)) {
        text[count] = '\0';
        load = ScanSettings(settings, text) ? SettingsRead : SettingsUnusable;
    }
    HeapFree(heap, 0, text);
    return load;
}

}  // namespace

bool GetExecutablePath(wchar_t** path)
{
    for (DWORD capacity = FIRST_PATH_CAPACITY; capacity <= LAST_PATH_CAPACITY; capacity *= 2) {
        const PathAttempt outcome = TryGetExecutablePath(capacity, path);
        if (outcome != PathTooSmall) {
            return outcome == PathDone;
        }
    }
    return false;
}

bool GetGuidePath(wchar_t** path)
{
    HANDLE heap = GetProcessHeap();
    wchar_t* executable_path = NULL;
    if (!GetExecutablePath(&executable_path)) {
        return false;
    }
    const size_t folder_length = CutToFolder(executable_path);
    const size_t units = GuidePathUnits(executable_path, folder_length);
    wchar_t* guide = static_cast<wchar_t*>(HeapAlloc(heap, 0, units * sizeof(wchar_t)));
    if (guide != NULL) {
        FormatGuidePath(guide, executable_path, folder_length);
    }
    HeapFree(heap, 0, executable_path);
    if (guide == NULL) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(guide);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        HeapFree(heap, 0, guide);
        return false;
    }
    *path = guide;
    return true;
}

RemapSettings* CreateRemapSettings()
{
    HANDLE heap = GetProcessHeap();
    wchar_t* executable_path = NULL;
    if (!GetExecutablePath(&executable_path)) {
        // No folder, no file: the switches stay off in memory and the empty
        // path tells LoadSettings and SaveSettings to leave the disk alone.
        return static_cast<RemapSettings*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(RemapSettings) + sizeof(wchar_t)));
    }
    const size_t folder_length = CutToFolder(executable_path);
    RemapSettings* settings = static_cast<RemapSettings*>(HeapAlloc(heap, 0, RemapSettingsSize(folder_length)));
    if (settings != NULL) {
        InitRemapSettings(*settings, executable_path, folder_length);
    }
    HeapFree(heap, 0, executable_path);
    return settings;
}

bool LoadSettings()
{
    RemapSettings* settings = active_settings;
    if (settings == NULL || settings->file_path[0] == L'\0') {
        return true;
    }
    SettingsLoad load = SettingsUnreadable;
    HANDLE file = CreateFileW(settings->file_path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        load = ReadSettingsFile(file, *settings);
        // Closed before SaveSettings opens the file for writing.
        CloseHandle(file);
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        load = SettingsMissing;
    }
    return !RewriteAfterLoad(load) || SaveSettings(*settings);
}

bool SaveSettings(RemapSettings& settings)
{
    if (settings.file_path[0] == L'\0') {
        return false;
    }
    char text[SETTINGS_TEXT_CAPACITY];
    return WriteSettingsText(settings.file_path, text, static_cast<DWORD>(FormatSettings(settings, text)));
}

void SaveSettingsInBackground(const RemapSettings& settings)
{
    if (settings.file_path[0] == L'\0') {
        return;
    }
    if (SavePath == NULL) {
        const size_t units = std::wcslen(settings.file_path) + 1;
        SavePath = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
        if (SavePath == NULL) {
            return;
        }
        std::wmemcpy(SavePath, settings.file_path, units);
    }
    AcquireSRWLockExclusive(&SaveLock);
    const bool start = QueueSave(Saves, settings);
    ReleaseSRWLockExclusive(&SaveLock);
    if (!start) {
        return;
    }
    // The saver before it has taken its last save: only its handle is left.
    if (SaverThread != NULL) {
        CloseHandle(SaverThread);
    }
    SaverThread = CreateThread(NULL, 0, SaverThreadProc, NULL, 0, NULL);
    if (SaverThread == NULL) {
        // The save stays pending for the next click or the exit.
        AcquireSRWLockExclusive(&SaveLock);
        Saves.saving = false;
        ReleaseSRWLockExclusive(&SaveLock);
    }
}

bool FinishSettingsSave(DWORD wait_ms)
{
    const ULONGLONG until = GetTickCount64() + wait_ms;
    if (SaverThread != NULL) {
        if (WaitForSingleObject(SaverThread, wait_ms) != WAIT_OBJECT_0) {
            return false;
        }
        CloseHandle(SaverThread);
        SaverThread = NULL;
    }
    AcquireSRWLockShared(&SaveLock);
    const bool pending = Saves.pending;
    ReleaseSRWLockShared(&SaveLock);
    if (!pending) {
        return true;
    }
    // The last attempt runs on a saver too: a drive that hangs must not hold
    // the exit. Without a thread the save is lost.
    HANDLE last = CreateThread(NULL, 0, SaverThreadProc, NULL, 0, NULL);
    if (last == NULL) {
        return true;
    }
    const ULONGLONG now = GetTickCount64();
    const bool done = WaitForSingleObject(last, now < until ? static_cast<DWORD>(until - now) : 0) == WAIT_OBJECT_0;
    CloseHandle(last);
    return done;
}

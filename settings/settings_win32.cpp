#include <windows.h>

#include "settings/settings_win32.h"

#include <cwchar>

#include "settings/exclude_list.h"
#include "settings/settings_save.h"
#include "settings/settings_text.h"

bool SettingsFileKnown;
bool SettingsUnsaved;

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

// A file saved in the background: the queue under its lock, the file it
// goes to (a copy of the path, fixed for the run, which a saver still at
// work when the exit stops waiting for it may use after the record is gone)
// and the newest saver thread.
struct BackgroundFile {
    SRWLOCK lock;
    SaveQueue queue;
    wchar_t* path;
    HANDLE thread;
};

BackgroundFile SettingFile = {SRWLOCK_INIT, {}, NULL, NULL};
BackgroundFile ExcludeFile = {SRWLOCK_INIT, {}, NULL, NULL};

// Writes the pending text until none is left or a write fails, which
// leaves it pending; the writing is outside the lock, so a click never
// waits for a disk.
void SaveQueued(BackgroundFile& file)
{
    char text[SAVE_TEXT_CAPACITY];
    for (;;) {
        AcquireSRWLockExclusive(&file.lock);
        const int length = TakeSave(file.queue, text);
        ReleaseSRWLockExclusive(&file.lock);
        if (length < 0) {
            return;
        }
        if (!WriteSettingsText(file.path, text, static_cast<DWORD>(length))) {
            AcquireSRWLockExclusive(&file.lock);
            SaveFailed(file.queue);
            ReleaseSRWLockExclusive(&file.lock);
            return;
        }
    }
}

DWORD WINAPI SaverThreadProc(void* file)
{
    SaveQueued(*static_cast<BackgroundFile*>(file));
    return 0;
}

// The path, once, for the savers; false when there is no room for it.
bool KeepPath(BackgroundFile& file, const wchar_t* path)
{
    if (file.path == NULL) {
        const size_t units = std::wcslen(path) + 1;
        file.path = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
        if (file.path == NULL) {
            return false;
        }
        std::wmemcpy(file.path, path, units);
    }
    return true;
}

// A saver for `file` when QueueSave asked for one.
void StartSaver(BackgroundFile& file, bool start)
{
    if (!start) {
        return;
    }
    // The saver before it has taken its last save: only its handle is left.
    if (file.thread != NULL) {
        CloseHandle(file.thread);
    }
    file.thread = CreateThread(NULL, 0, SaverThreadProc, &file, 0, NULL);
    if (file.thread == NULL) {
        // The save stays pending for the next click or the exit.
        AcquireSRWLockExclusive(&file.lock);
        file.queue.saving = false;
        ReleaseSRWLockExclusive(&file.lock);
    }
}

// Waits for the file's saver at work, then has what is still pending
// written once more on a saver of its own, all until `until` (a
// GetTickCount64 time). False when the time ran out with a saver at work.
bool FinishSave(BackgroundFile& file, ULONGLONG until)
{
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < until ? static_cast<DWORD>(until - now) : 0;
    if (file.thread != NULL) {
        if (WaitForSingleObject(file.thread, left) != WAIT_OBJECT_0) {
            return false;
        }
        CloseHandle(file.thread);
        file.thread = NULL;
    }
    AcquireSRWLockShared(&file.lock);
    const bool pending = file.queue.pending;
    ReleaseSRWLockShared(&file.lock);
    if (!pending || file.path == NULL) {
        return true;
    }
    // The last attempt runs on a saver too: a drive that hangs must not hold
    // the exit. Without a thread the save is lost.
    HANDLE last = CreateThread(NULL, 0, SaverThreadProc, &file, 0, NULL);
    if (last == NULL) {
        return true;
    }
    const ULONGLONG later = GetTickCount64();
    const bool done =
        WaitForSingleObject(last, later < until ? static_cast<DWORD>(until - later) : 0) == WAIT_OBJECT_0;
    CloseHandle(last);
    return done;
}

// The `exclude` file beside `setting`: the names have the same length.
void FormatExcludePath(wchar_t* out, const wchar_t* setting_path, size_t units)
{
    std::wmemcpy(out, setting_path, units);
    std::wmemcpy(out + units - 8, L"exclude", 8);
}

// The whole of a file of at most `limit` bytes, newly allocated on the
// process heap and terminated, into *text; its length in *length. False
// when it cannot be read now.
bool ReadWholeFile(HANDLE file, uint32_t limit, char** text, DWORD* length)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        return false;
    }
    const DWORD wanted = size.QuadPart > limit ? limit : static_cast<DWORD>(size.QuadPart);
    *text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, wanted + 1));
    if (*text == NULL) {
        return false;
    }
    if (!ReadFile(file, *text, wanted, length, NULL)) {
        HeapFree(GetProcessHeap(), 0, *text);
        return false;
    }
    (*text)[*length] = '\0';
    return true;
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
    char* text = NULL;
    DWORD count = 0;
    if (!ReadWholeFile(file, SETTINGS_FILE_LIMIT, &text, &count)) {
        return SettingsUnreadable;
    }
    const SettingsLoad load = ScanSettings(settings, text) ? SettingsRead : SettingsUnusable;
    HeapFree(GetProcessHeap(), 0, text);
    return load;
}

// The folder of an elevated run, open for the run's whole life.
HANDLE HeldFolder = INVALID_HANDLE_VALUE;

// Opened so: no program can rename, delete or replace the folder while the
// handle is open (no FILE_SHARE_DELETE); files inside it may still be
// written and renamed, as the saves do. Read access, so that the sharing
// counts.
HANDLE OpenFolderHeld(const wchar_t* folder)
{
    return CreateFileW(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

// The path of the object behind `handle`, as the file system resolved it,
// newly allocated on the process heap; false when it cannot be had.
bool GetHandlePath(HANDLE handle, wchar_t** path)
{
    const DWORD units = GetFinalPathNameByHandleW(handle, NULL, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (units == 0) {
        return false;
    }
    wchar_t* buffer = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
    if (buffer == NULL) {
        return false;
    }
    const DWORD written = GetFinalPathNameByHandleW(handle, buffer, units, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (written == 0 || written >= units) {
        HeapFree(GetProcessHeap(), 0, buffer);
        return false;
    }
    const wchar_t* plain = WithoutFinalPathPrefix(buffer);
    std::wmemmove(buffer, plain, std::wcslen(plain) + 1);
    *path = buffer;
    return true;
}

// The record for the folder `folder` of `folder_length` units.
RemapSettings* NewRecord(const wchar_t* folder, size_t folder_length)
{
    RemapSettings* settings =
        static_cast<RemapSettings*>(HeapAlloc(GetProcessHeap(), 0, RemapSettingsSize(folder_length)));
    if (settings != NULL) {
        InitRemapSettings(*settings, folder, folder_length);
    }
    return settings;
}

// The list's names are UTF-8; Windows hands them out in UTF-16.
int ToUtf8(const wchar_t* name, char* out)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, name, -1, out, static_cast<int>(MAX_NAME_BYTES), NULL, NULL);
    return bytes > 0 ? bytes - 1 : 0;
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

RemapSettings* CreateRemapSettings(bool hold_folder)
{
    HANDLE heap = GetProcessHeap();
    wchar_t* executable_path = NULL;
    if (!GetExecutablePath(&executable_path)) {
        // No folder, no file: the switches stay off in memory and the empty
        // path tells LoadSettings and SaveSettings to leave the disk alone.
        return static_cast<RemapSettings*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(RemapSettings) + sizeof(wchar_t)));
    }
    const size_t folder_length = CutToFolder(executable_path);
    RemapSettings* settings = NULL;
    wchar_t* held_path = NULL;
    if (!hold_folder) {
        settings = NewRecord(executable_path, folder_length);
    } else if ((HeldFolder = OpenFolderHeld(executable_path)) != INVALID_HANDLE_VALUE &&
               GetHandlePath(HeldFolder, &held_path)) {
        // The saves go to the folder held, by the path the file system gave
        // for it: a junction on the way could be pointed elsewhere later.
        settings = NewRecord(held_path, std::wcslen(held_path));
    } else {
        // A folder that cannot be held gets nothing written by this run.
        settings = static_cast<RemapSettings*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(RemapSettings) + sizeof(wchar_t)));
    }
    if (held_path != NULL) {
        HeapFree(heap, 0, held_path);
    }
    HeapFree(heap, 0, executable_path);
    return settings;
}

bool HoldExecutable(HANDLE* file, HANDLE* folder, wchar_t** path)
{
    wchar_t* executable_path = NULL;
    if (!GetExecutablePath(&executable_path)) {
        return false;
    }
    *file = CreateFileW(executable_path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CutToFolder(executable_path);
    *folder = OpenFolderHeld(executable_path);
    HeapFree(GetProcessHeap(), 0, executable_path);
    if (*file != INVALID_HANDLE_VALUE && *folder != INVALID_HANDLE_VALUE && GetHandlePath(*file, path)) {
        return true;
    }
    if (*file != INVALID_HANDLE_VALUE) {
        CloseHandle(*file);
    }
    if (*folder != INVALID_HANDLE_VALUE) {
        CloseHandle(*folder);
    }
    return false;
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
    if (settings.file_path[0] == L'\0' || !KeepPath(SettingFile, settings.file_path)) {
        return;
    }
    AcquireSRWLockExclusive(&SettingFile.lock);
    const bool start = QueueSave(SettingFile.queue, settings);
    ReleaseSRWLockExclusive(&SettingFile.lock);
    StartSaver(SettingFile, start);
}

bool FinishSettingsSave(DWORD wait_ms)
{
    const ULONGLONG until = GetTickCount64() + wait_ms;
    const bool settings_done = FinishSave(SettingFile, until);
    return FinishSave(ExcludeFile, until) && settings_done;
}

void LoadExcludeList()
{
    const RemapSettings* settings = active_settings;
    if (settings == NULL || settings->file_path[0] == L'\0') {
        return;
    }
    const size_t units = std::wcslen(settings->file_path) + 1;
    wchar_t* path = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t)));
    if (path == NULL) {
        return;
    }
    FormatExcludePath(path, settings->file_path, units);
    KeepPath(ExcludeFile, path);
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    HeapFree(GetProcessHeap(), 0, path);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    char* text = NULL;
    DWORD length = 0;
    if (ReadWholeFile(file, EXCLUDE_FILE_LIMIT, &text, &length)) {
        ReadExcludeList(excluded_apps, text, length);
        HeapFree(GetProcessHeap(), 0, text);
    }
    CloseHandle(file);
}

void SaveExcludeListInBackground()
{
    if (ExcludeFile.path == NULL) {
        return;
    }
    AcquireSRWLockExclusive(&ExcludeFile.lock);
    const bool start = QueueSaveText(ExcludeFile.queue, excluded_apps.names, excluded_apps.used);
    ReleaseSRWLockExclusive(&ExcludeFile.lock);
    StartSaver(ExcludeFile, start);
}

int32_t FindExcludedApp(const wchar_t* name)
{
    char bytes[MAX_NAME_BYTES];
    const int length = ToUtf8(name, bytes);
    return length > 0 ? FindExcluded(excluded_apps, bytes, static_cast<size_t>(length)) : -1;
}

bool ToggleExcludedApp(const wchar_t* name)
{
    char bytes[MAX_NAME_BYTES];
    const int length = ToUtf8(name, bytes);
    const int32_t index = length > 0 ? FindExcluded(excluded_apps, bytes, static_cast<size_t>(length)) : -1;
    if (index >= 0) {
        RemoveExcluded(excluded_apps, static_cast<uint32_t>(index));
    } else if (!AddExcluded(excluded_apps, bytes, static_cast<size_t>(length))) {
        return false;
    }
    SaveExcludeListInBackground();
    return true;
}

bool RemoveExcludedApp(uint32_t index)
{
    if (index >= excluded_apps.count) {
        return false;
    }
    RemoveExcluded(excluded_apps, index);
    SaveExcludeListInBackground();
    return true;
}

uint32_t ExcludedAppCount()
{
    return excluded_apps.count;
}

void ExcludedAppName(uint32_t index, wchar_t* out, int units)
{
    size_t length = 0;
    const char* name = ExcludedName(excluded_apps, index, &length);
    const int written =
        name != nullptr ? MultiByteToWideChar(CP_UTF8, 0, name, static_cast<int>(length), out, units - 1) : 0;
    out[written] = L'\0';
}

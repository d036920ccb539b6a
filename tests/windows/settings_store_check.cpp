// Checks of the settings store and the startup shortcut on a real file system
// and real COM, under Wine. settings_wine_check.sh copies this program into
// scratch folders (the `setting` file lives beside the executable) and runs
// one mode per call:
//   store            the `setting` file cases, in the program's folder
//   path             the paths and the file for an executable placed deep or
//                    in a drive root
//   (store also checks the hold on the executable and its folder that the
//   restart as administrator takes)
//   full-disk        a save whose temporary file cannot be written whole
//   shortcut-create  the startup shortcut is made and found
//   shortcut-delete  it is deleted and no longer found
//   hold FILE        (helper) holds FILE open without sharing until released
// Prints one line per check; exits 1 when any failed.
#include <windows.h>

#include <shlwapi.h>

#include <cstdio>
#include <string>

#include "settings/settings_text.h"
#include "settings/settings_win32.h"
#include "startup/shortcut_path.h"
#include "startup/startup_win32.h"

namespace {

int failures;

void Check(bool ok, const char* what, const std::string& detail = std::string())
{
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failures;
    }
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t unit : text) {
        narrow += unit < 128 ? static_cast<char>(unit) : '?';
    }
    return narrow;
}

// Bytes with line breaks and NULs made visible, for failure messages.
std::string Shown(const std::string& bytes)
{
    std::string shown;
    for (char byte : bytes) {
        shown += byte == '\n' ? std::string("\\n") : byte == '\r' ? std::string("\\r") : byte == '\0' ? std::string("\\0") : std::string(1, byte);
    }
    return '"' + shown + '"';
}

std::wstring ModulePath()
{
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(NULL, path, 32768);
    return std::wstring(path, length);
}

std::wstring Folder()
{
    std::wstring path = ModulePath();
    PathRemoveFileSpecW(&path[0]);
    return path.c_str();
}

const std::wstring& SettingPath()
{
    static const std::wstring path = Folder() + L"\\setting";
    return path;
}

const std::wstring& TemporaryPath()
{
    static const std::wstring path = SettingPath() + L".tmp";
    return path;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
}

// The file's bytes, or "<missing>" when it cannot be read.
std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string bytes;
    char chunk[4096];
    DWORD count = 0;
    while (ReadFile(file, chunk, sizeof chunk, &count, NULL) && count > 0) {
        bytes.append(chunk, count);
    }
    CloseHandle(file);
    return bytes;
}

// Removes `setting` and `setting.tmp`, whatever they are.
void Clear()
{
    for (const std::wstring* path : {&SettingPath(), &TemporaryPath()}) {
        SetFileAttributesW(path->c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path->c_str());
        RemoveDirectoryW(path->c_str());
    }
}

std::string Flags(const RemapSettings& settings)
{
    std::string flags;
    for (int32_t flag : {settings.capslock_to_ctrl, settings.swap_alt_for_ctrl, settings.send_lang, settings.use_dvorak}) {
        flags += std::to_string(flag);
    }
    return flags;
}

void SetFlags(RemapSettings& settings, const char* flags)
{
    settings.capslock_to_ctrl = flags[0] - '0';
    settings.swap_alt_for_ctrl = flags[1] - '0';
    settings.send_lang = flags[2] - '0';
    settings.use_dvorak = flags[3] - '0';
}

std::string Canonical(const char* flags)
{
    RemapSettings settings{};
    SetFlags(settings, flags);
    char text[SETTINGS_TEXT_CAPACITY];
    return std::string(text, FormatSettings(settings, text));
}

// What the last start-up's load said: false when it could not write the file.
bool LoadWrote;

// Start-up as the entry does it: the record, then the load.
RemapSettings* StartUp()
{
    RemapSettings* settings = CreateRemapSettings(false);
    active_settings = settings;
    LoadWrote = LoadSettings();
    return settings;
}

void ShutDown(RemapSettings* settings)
{
    active_settings = NULL;
    HeapFree(GetProcessHeap(), 0, settings);
}

const std::string UNCHANGED = "<unchanged>";

struct FileCase {
    const char* what;
    bool present;
    std::string before;
    const char* flags;   // after the load
    std::string after;   // the file after the load, or UNCHANGED
};

void RunFileCases()
{
    const FileCase cases[] = {
        {"missing file is created with the canonical text", false, "", "0000", Canonical("0000")},
        {"canonical file is read and not written", true, Canonical("1011"), "1011", UNCHANGED},
        {"CRLF file with a trailing break is read and not written", true,
         "capslock_to_ctrl=1\r\nswap_alt_for_ctrl=0\r\nsend_lang=1\r\nuse_dvorak=1\r\n", "1011", UNCHANGED},
        {"one line sets one switch and is not written", true, "use_dvorak=1", "0001", UNCHANGED},
        {"bad third line is repaired from the first two", true, "capslock_to_ctrl=1\nsend_lang=1\nuse_dvorak=x\n",
         "1010", Canonical("1010")},
        {"empty file is rewritten all off", true, "", "0000", Canonical("0000")},
        {"byte-order mark is repaired all off", true, "\xEF\xBB\xBFuse_dvorak=1", "0000", Canonical("0000")},
        {"a NUL ends the text", true, std::string("use_dvorak=1\0send_lang=x", 24), "0001", UNCHANGED},
        // long is 32 bits here: the conversion itself reports the overflow.
        {"smallest 32-bit value is read", true, "use_dvorak=-2147483648", "0001", UNCHANGED},
        {"one above the 32-bit range is repaired", true, "send_lang=1\nuse_dvorak=2147483648", "0010",
         Canonical("0010")},
    };
    for (const FileCase& c : cases) {
        Clear();
        if (c.present) {
            WriteBytes(SettingPath(), c.before);
        }
        RemapSettings* settings = StartUp();
        const std::string after = ReadBytes(SettingPath());
        const std::string expected = c.after == UNCHANGED ? c.before : c.after;
        Check(settings != NULL && Flags(*settings) == c.flags && after == expected && LoadWrote, c.what,
              (settings != NULL ? Flags(*settings) : std::string("no record")) + " " + Shown(after));
        Check(!Exists(TemporaryPath()), "  and leaves no temporary file");
        ShutDown(settings);
    }
}

void CheckPaths()
{
    wchar_t* path = NULL;
    Check(GetExecutablePath(&path) && path != NULL && ModulePath() == path, "executable path is the module's path",
          Narrow(ModulePath()));
    HeapFree(GetProcessHeap(), 0, path);

    RemapSettings* settings = CreateRemapSettings(false);
    Check(settings != NULL && Flags(*settings) == "0000" && SettingPath() == settings->file_path,
          "record is all off with the folder's setting path", settings != NULL ? Narrow(settings->file_path) : "");
    HeapFree(GetProcessHeap(), 0, settings);

    // The portable path rules against the shell's own functions.
    const wchar_t* paths[] = {
        L"C:\\tools\\lumbrix.exe", L"C:\\lumbrix.exe", L"C:lumbrix.exe", L"\\\\server\\share\\lumbrix.exe",
        L"\\\\?\\C:\\tools\\lumbrix.exe", L"\\\\?\\C:\\lumbrix.exe", L"\\lumbrix.exe", L"lumbrix.exe",
        L"C:\\tools\\", L"C:/tools/lumbrix.exe", L"C:\\a b\\c.d\\e", L"",
    };
    for (const wchar_t* sample : paths) {
        std::wstring ours = sample;
        std::wstring shells = sample;
        CutToFolder(&ours[0]);
        PathRemoveFileSpecW(&shells[0]);
        Check(std::wstring(ours.c_str()) == shells.c_str(), "folder cut matches PathRemoveFileSpecW", Narrow(sample));
        Check(std::wstring(FindFileName(sample)) == PathFindFileNameW(sample), "file name matches PathFindFileNameW",
              Narrow(sample));
    }
}

// The restart as administrator holds the executable and its folder: no
// program can rename or write the one, nor rename the other, while a save
// inside the folder still renames its temporary file over the file. Last
// of its mode: the elevated record keeps its folder held for the run.
void CheckHold()
{
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE folder = INVALID_HANDLE_VALUE;
    wchar_t* held = NULL;
    const bool holds = HoldExecutable(&file, &folder, &held);
    Check(holds && lstrcmpiW(held, ModulePath().c_str()) == 0, "held executable named by its resolved path",
          holds ? Narrow(held) : "");
    const std::wstring here = Folder();
    const std::wstring moved = here + L"-moved";
    const BOOL folder_moved = MoveFileW(here.c_str(), moved.c_str());
    const DWORD folder_error = GetLastError();
    Check(!folder_moved && folder_error == ERROR_SHARING_VIOLATION, "held folder cannot be renamed",
          std::to_string(folder_error));
    const BOOL file_moved = MoveFileW(ModulePath().c_str(), (ModulePath() + L".old").c_str());
    const DWORD file_error = GetLastError();
    Check(!file_moved && file_error == ERROR_SHARING_VIOLATION, "held executable cannot be renamed",
          std::to_string(file_error));
    HANDLE writer = CreateFileW(ModulePath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, 0, NULL);
    Check(writer == INVALID_HANDLE_VALUE, "held executable cannot be opened for writing");
    WriteBytes(TemporaryPath(), "x");
    WriteBytes(SettingPath(), "y");
    Check(MoveFileExW(TemporaryPath().c_str(), SettingPath().c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE,
          "a save's rename inside the held folder");
    if (holds) {
        CloseHandle(file);
        CloseHandle(folder);
        HeapFree(GetProcessHeap(), 0, held);
    }
    Clear();
    RemapSettings* settings = CreateRemapSettings(true);
    const BOOL still_moved = MoveFileW(here.c_str(), moved.c_str());
    const DWORD still_error = GetLastError();
    Check(settings != NULL && lstrcmpiW(settings->file_path, SettingPath().c_str()) == 0 && !still_moved &&
              still_error == ERROR_SHARING_VIOLATION,
          "an elevated run's record names the folder it holds for the run",
          settings != NULL ? Narrow(settings->file_path) + ", " + std::to_string(still_error) : "");
    HeapFree(GetProcessHeap(), 0, settings);
}

// Another process opens `path` without sharing and keeps it open until the
// returned release event is set.
HANDLE HoldInOtherProcess(const std::wstring& path, HANDLE* process)
{
    HANDLE held = CreateEventW(NULL, TRUE, FALSE, L"LumbrixSettingsCheckHeld");
    HANDLE release = CreateEventW(NULL, TRUE, FALSE, L"LumbrixSettingsCheckRelease");
    std::wstring command = L"\"" + ModulePath() + L"\" hold \"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
        CloseHandle(info.hThread);
        *process = info.hProcess;
        WaitForSingleObject(held, 30000);
    }
    CloseHandle(held);
    return release;
}

int Hold(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"LumbrixSettingsCheckHeld");
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, L"LumbrixSettingsCheckRelease");
    SetEvent(held);
    WaitForSingleObject(release, 30000);
    CloseHandle(file);
    return file == INVALID_HANDLE_VALUE ? 1 : 0;
}

// The file cannot be written (nor, held or a directory, read): the load and
// a later save leave the record in effect and nothing behind.
// `unwritten`: the load could read the file, and its repair failed.
void CheckBlockedFile(const char* what, const char* loaded_flags, bool unwritten)
{
    RemapSettings* settings = StartUp();
    Check(settings != NULL && Flags(*settings) == loaded_flags && LoadWrote != unwritten, what,
          std::string("load gives ") + (settings != NULL ? Flags(*settings) : "no record") + ", failed repair told: " + (LoadWrote ? "no" : "yes"));
    if (settings != NULL) {
        SetFlags(*settings, "1101");
        SaveSettings(*settings);
        Check(Flags(*settings) == "1101", what, "a save keeps the record in effect");
    }
    Check(!Exists(TemporaryPath()), what, "no temporary file is left");
    ShutDown(settings);
}

void RunBlockedCases()
{
    // Needs a repair, so the load tries to write too.
    const std::string bad = "use_dvorak=1\nsend_lang=x";

    Clear();
    WriteBytes(SettingPath(), bad);
    HANDLE holder = NULL;
    HANDLE release = HoldInOtherProcess(SettingPath(), &holder);
    Check(holder != NULL, "held file: helper process runs");
    CheckBlockedFile("file held open without sharing by another process", "0000", false);
    SetEvent(release);
    WaitForSingleObject(holder, 30000);
    DWORD code = 1;
    GetExitCodeProcess(holder, &code);
    Check(code == 0, "held file: helper held the file");
    CloseHandle(holder);
    CloseHandle(release);
    Check(ReadBytes(SettingPath()) == bad, "held file: the file is not changed", Shown(ReadBytes(SettingPath())));

    Clear();
    WriteBytes(SettingPath(), bad);
    SetFileAttributesW(SettingPath().c_str(), FILE_ATTRIBUTE_READONLY);
    CheckBlockedFile("read-only file", "0001", true);
    Check(ReadBytes(SettingPath()) == bad, "read-only file: the file is not changed", Shown(ReadBytes(SettingPath())));

    Clear();
    CreateDirectoryW(SettingPath().c_str(), NULL);
    CheckBlockedFile("directory named setting", "0000", false);
    Check((GetFileAttributesW(SettingPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0,
          "directory named setting: the directory stays");
    Clear();
}

// A file beyond SETTINGS_FILE_LIMIT is not read (its size + 1 could wrap
// the read buffer's size): it counts as unreadable and is rewritten.
void RunSizeCases()
{
    struct {
        const char* what;
        LONGLONG size;
        const char* flags;
        bool rewritten;
    } cases[] = {
        {"file of exactly the size limit is read", SETTINGS_FILE_LIMIT, "0001", false},
        {"file one byte over the size limit is rewritten", SETTINGS_FILE_LIMIT + 1LL, "0000", true},
        {"file of 4 GiB - 1 bytes is rewritten", 0xFFFFFFFFLL, "0000", true},
        {"file of 4 GiB + 10 bytes is rewritten", 0x10000000ALL, "0000", true},
    };
    for (const auto& c : cases) {
        Clear();
        // "use_dvorak=1" and then NULs up to the size, sparse where the file
        // system allows.
        HANDLE file = CreateFileW(SettingPath().c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        WriteFile(file, "use_dvorak=1", 12, &written, NULL);
        LARGE_INTEGER end;
        end.QuadPart = c.size;
        const bool sized = SetFilePointerEx(file, end, NULL, FILE_BEGIN) && SetEndOfFile(file);
        CloseHandle(file);
        Check(sized, c.what, "test file made");

        RemapSettings* settings = StartUp();
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(SettingPath().c_str(), GetFileExInfoStandard, &data);
        const LONGLONG size_after = (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        const bool as_expected = c.rewritten ? ReadBytes(SettingPath()) == Canonical(c.flags) : size_after == c.size;
        Check(settings != NULL && Flags(*settings) == c.flags && as_expected, c.what,
              (settings != NULL ? Flags(*settings) : std::string("no record")) + " size " + std::to_string(size_after));
        // A read past its buffer would have trampled the heap.
        Check(HeapValidate(GetProcessHeap(), 0, NULL) != 0, c.what, "the heap is intact");
        ShutDown(settings);
    }
    Clear();
}

void RunSaveCases()
{
    Clear();
    RemapSettings* settings = StartUp();
    if (settings == NULL) {
        Check(false, "save: record");
        return;
    }
    for (const char* flags : {"1000", "0110", "1111", "0000"}) {
        SetFlags(*settings, flags);
        SaveSettings(*settings);
        Check(ReadBytes(SettingPath()) == Canonical(flags) && !Exists(TemporaryPath()),
              "save replaces the file and leaves no temporary file", flags);
    }

    // Where no temporary file can be made, the file is left whole; only a
    // missing one is written directly.
    CreateDirectoryW(TemporaryPath().c_str(), NULL);
    SetFlags(*settings, "1001");
    Check(!SaveSettings(*settings) && ReadBytes(SettingPath()) == Canonical("0000"),
          "save without a temporary file leaves the file whole", Shown(ReadBytes(SettingPath())));
    DeleteFileW(SettingPath().c_str());
    Check(SaveSettings(*settings) && ReadBytes(SettingPath()) == Canonical("1001"),
          "save without a temporary file writes a missing file directly", Shown(ReadBytes(SettingPath())));
    RemoveDirectoryW(TemporaryPath().c_str());

    // A stale temporary file from an interrupted save is simply replaced.
    WriteBytes(TemporaryPath(), "garbage");
    SetFlags(*settings, "0101");
    SaveSettings(*settings);
    Check(ReadBytes(SettingPath()) == Canonical("0101") && !Exists(TemporaryPath()),
          "save over a stale temporary file");
    ShutDown(settings);

    // Without a path (the executable's own could not be found) nothing is
    // read or written.
    RemapSettings* pathless = static_cast<RemapSettings*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(RemapSettings) + sizeof(wchar_t)));
    Clear();
    SetCurrentDirectoryW(Folder().c_str());
    active_settings = pathless;
    LoadSettings();
    SetFlags(*pathless, "1111");
    SaveSettings(*pathless);
    Check(!Exists(SettingPath()) && !Exists(L"\\setting") && Flags(*pathless) == "1111",
          "a record without a path touches no file");
    ShutDown(pathless);
}

// The deep-folder and drive-root runs: the record names `setting` beside the
// executable and the load creates it there.
void CheckPlacedExecutable()
{
    CheckPaths();
    RemapSettings* settings = StartUp();
    Check(settings != NULL && ReadBytes(settings->file_path) == Canonical("0000"),
          "setting is created beside the executable", settings != NULL ? Narrow(settings->file_path) : "");
    std::printf("executable path: %zu units; settings path: %s\n", ModulePath().size(),
                settings != NULL ? Narrow(settings->file_path).c_str() : "none");
    ShutDown(settings);
}

// The temporary file is the Unix /dev/full (set up by the script): the write
// fails as on a full disk, and the old file must stay whole. (Wine cannot
// delete a device, so what becomes of the temporary file is not checked.)
void CheckFullDisk()
{
    const std::string before = ReadBytes(SettingPath());
    RemapSettings* settings = CreateRemapSettings(false);
    SetFlags(*settings, "0110");
    SaveSettings(*settings);
    Check(before == Canonical("1001") && ReadBytes(SettingPath()) == before,
          "a save that cannot be written whole keeps the old file", Shown(ReadBytes(SettingPath())));
    HeapFree(GetProcessHeap(), 0, settings);
}

void CheckShortcut(bool create)
{
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    wchar_t* executable = NULL;
    wchar_t* shortcut = NULL;
    const bool named = GetExecutablePath(&executable) && GetStartupShortcutPath(executable, &shortcut);
    Check(named, "shortcut path is built");
    if (named) {
        std::printf("shortcut: %s\n", Narrow(shortcut).c_str());
        const std::wstring name = FindFileName(shortcut);
        Check(name == std::wstring(FindFileName(executable)) + L".lnk", "shortcut is named after the executable",
              Narrow(name));
    }
    if (create) {
        Check(WithStartupShortcut(PathFileExistsW) == 0, "no shortcut before creation");
        CreateStartupShortcut();
        Check(WithStartupShortcut(PathFileExistsW) != 0, "shortcut exists after creation");
        // A second creation replaces the first.
        CreateStartupShortcut();
        Check(WithStartupShortcut(PathFileExistsW) != 0 && named && Exists(shortcut), "creating again keeps one shortcut");
    } else {
        Check(WithStartupShortcut(DeleteFileW) != 0, "shortcut is deleted");
        Check(WithStartupShortcut(PathFileExistsW) == 0, "no shortcut after deletion");
        Check(WithStartupShortcut(DeleteFileW) == 0, "deleting again finds nothing");
    }
    HeapFree(GetProcessHeap(), 0, shortcut);
    HeapFree(GetProcessHeap(), 0, executable);
    CoUninitialize();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"hold" && argc > 2) {
        return Hold(argv[2]);
    }
    if (mode == L"store") {
        CheckPaths();
        RunFileCases();
        RunBlockedCases();
        RunSizeCases();
        RunSaveCases();
        Clear();
        CheckHold();
    } else if (mode == L"path") {
        CheckPlacedExecutable();
    } else if (mode == L"full-disk") {
        CheckFullDisk();
    } else if (mode == L"shortcut-create" || mode == L"shortcut-delete") {
        CheckShortcut(mode == L"shortcut-create");
    } else {
        std::printf("unknown mode\n");
        return 2;
    }
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}

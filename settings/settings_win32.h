// The settings store's Windows side: the record's allocation, the `setting`
// file on disk and the executable's own path.
#pragma once

#include <windows.h>

#include <cstdint>

#include "settings/remap_settings.h"

// Set by the entry. False when the settings record behind active_settings
// is a stand-in with no file: switch clicks are then applied but never
// written.
extern bool SettingsFileKnown;

// True when the `setting` file had to be written at the start and could not
// be: the notice line says that nothing can be saved in this folder.
extern bool SettingsUnsaved;

// A new record, all switches off, file_path = the executable's folder +
// "\setting". Allocated on the process heap (HeapAlloc); the caller releases
// it with HeapFree(GetProcessHeap(), 0, record). When the executable's path
// cannot be found, file_path is empty: the switches work in memory and
// LoadSettings and SaveSettings leave the disk alone. Null only when the
// heap cannot spare the record's few bytes. `hold_folder` (an elevated
// run): the folder is opened so that no program can rename, delete or
// replace it for the rest of the run, and file_path is built from the path
// the file system gives for it, so that the run reads and writes only
// there; a folder that cannot be held gets an empty file_path.
RemapSettings* CreateRemapSettings(bool hold_folder);

// For the restart as administrator: opens the executable so that no
// program can rename, delete or write it, and its folder so that none can
// rename, delete or replace it (files inside may still be written and
// renamed), and gives the executable's path as the file system resolved it
// (no junction left to point elsewhere), newly allocated on the process
// heap. The caller closes both handles once the elevated copy has started.
// False, with nothing open, when one of them cannot be had.
bool HoldExecutable(HANDLE* file, HANDLE* folder, wchar_t** path);

// Reads the `setting` file into *active_settings once. A missing file, an
// empty one, one of more than SETTINGS_FILE_LIMIT bytes and one whose scan
// stops at an unusable line are rewritten from the record; one that is there but cannot
// be opened or read now is left alone (RewriteAfterLoad). False when the
// file had to be written so and could not be (a folder where nothing can be
// saved, such as Program Files); true otherwise, also while active_settings
// is null or its path empty, when nothing is done.
bool LoadSettings();

// Rewrites the `setting` file from the record in its canonical 63-byte form:
// written to "setting.tmp" and renamed over the file, so that the old file
// stays whole until the new one is complete. An existing file is never
// written over in place: when the rename fails (the file held by another
// program without delete sharing, read-only) or the temporary file cannot be
// made or written whole, the old file stays as it is and the result is
// false. Where there is no file yet, it is written directly should the
// rename fail. The record stays in effect either way.
bool SaveSettings(RemapSettings& settings);

// SaveSettings of the record's switches as they are now, on a worker thread:
// the caller runs the keyboard hook, and the file may sit on a synchronised,
// network or removable drive whose flush outlasts the hook's time-out. One
// saver at a time; a call while one is at work leaves it exactly one more
// save, of the newest switches. A save that fails stays pending, for the
// next call (which replaces it with newer switches) or the exit. The saver
// keeps its own copy of the path. Nothing while file_path is empty.
void SaveSettingsInBackground(const RemapSettings& settings);

// Reads the `exclude` file beside `setting` into excluded_apps, once, at
// start (up to EXCLUDE_FILE_LIMIT bytes). A missing or unreadable file is an
// empty list, and the file is left as it is: it is written only when the
// user changes the list. Nothing while the record has no file.
void LoadExcludeList();

// Writes excluded_apps to the `exclude` file as SaveSettingsInBackground
// writes `setting`: on a worker, through "exclude.tmp" and a rename, the
// newest list winning. Nothing when LoadExcludeList found no folder.
void SaveExcludeListInBackground();

// For the exit: waits for each file's saver at work, then has what is still
// pending (no saver could be started, or the last save failed) written once
// more on a saver of its own, all within `wait_ms`. True when no saver is
// left at work; false when the time ran out, and a saver still at work on a
// dead drive may hold a lock inside the file system: the caller then ends
// the process with TerminateProcess rather than ExitProcess. What was not
// written is lost: the file keeps the switches of the last save that
// succeeded, whole until a rename that never came.
bool FinishSettingsSave(DWORD wait_ms);

// The running executable's full path, newly allocated on the process heap
// into *path (preset to null by the caller, freed with HeapFree). False, with
// *path untouched, on failure.
bool GetExecutablePath(wchar_t** path);

// The path of guide-ja.html beside the running executable, newly allocated
// on the process heap into *path (preset to null by the caller, freed with
// HeapFree), when that file is there now. False, with *path untouched, when
// it is not or the path cannot be found. Asks the disk: call it where a wait
// holds up no keyboard hook.
bool GetGuidePath(wchar_t** path);

// The list of the applications left alone, by their executables' file
// names in UTF-16; every change is saved on a worker
// (SaveExcludeListInBackground). Its index, -1 when not listed, compared
// as FindExcluded compares.
int32_t FindExcludedApp(const wchar_t* name);

// Adds `name`, or removes it when listed; false when nothing changed (an
// empty name, a full list).
bool ToggleExcludedApp(const wchar_t* name);

// Removes the name at `index`; false when there is none.
bool RemoveExcludedApp(uint32_t index);

// How many names the list holds, and the one at `index` into `out` (room
// for `units`, terminator included; empty when there is none).
uint32_t ExcludedAppCount();
void ExcludedAppName(uint32_t index, wchar_t* out, int units);

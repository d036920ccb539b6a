// The settings store's Windows side: the record's allocation, the `setting`
// file on disk and the executable's own path.
#pragma once

#include <windows.h>

#include "settings/remap_settings.h"

// A new record, all switches off, file_path = the executable's folder +
// "\setting". Allocated on the process heap (HeapAlloc); the caller releases
// it with HeapFree(GetProcessHeap(), 0, record). Null when no path or memory.
RemapSettings* CreateRemapSettings();

// Reads the `setting` file into *active_settings once, repairing the file
// where it is missing, unreadable or holds an unusable line.
void LoadSettings();

// Rewrites the `setting` file from the record.
void SaveSettings(RemapSettings& settings);

// The running executable's full path, newly allocated on the process heap
// into *path (preset to null by the caller, freed with HeapFree). False, with
// *path untouched, on failure.
bool GetExecutablePath(wchar_t** path);

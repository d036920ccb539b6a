// The shortcut in the user's Startup folder that starts the program hidden.
#pragma once

#include <windows.h>

// A file operation on the shortcut path: PathFileExistsW or DeleteFileW.
typedef BOOL(WINAPI* ShortcutFileOp)(LPCWSTR path);

// Builds "<Startup folder>\<exe file name>.lnk" into *out (heap-allocated,
// freed with HeapFree). Returns 1 when a path was stored, 0 when none was.
BOOL GetStartupShortcutPath(const wchar_t* executable_path, wchar_t** out);

// Runs `operation` on the shortcut path; 0 when no path could be built.
BOOL WithStartupShortcut(ShortcutFileOp operation);

// Writes the shortcut: target the executable, arguments "/hide". Needs COM
// initialised on the calling thread (single-threaded apartment).
void CreateStartupShortcut();

// The startup shortcut's path rule as plain string work: the Startup
// folder, a backslash, the executable's file name with its extension, and
// ".lnk" (lumbrix.exe gets lumbrix.exe.lnk); and whether the executable runs
// from a folder that a shortcut must not point into.
#pragma once

#include <cstddef>

// The file-name part of a full path, as PathFindFileNameW returns it: the
// text after the last '\', '/' or ':' that has something after it.
const wchar_t* FindFileName(const wchar_t* path);

// Units of the shortcut path for this folder and executable, terminator
// included: folder + file name + 6.
size_t ShortcutPathUnits(const wchar_t* folder, const wchar_t* executable_path);

// Writes "<folder>\<file name>.lnk" and its terminator into `out`, which has
// room for exactly ShortcutPathUnits(folder, executable_path) units.
void FormatShortcutPath(wchar_t* out, const wchar_t* folder, const wchar_t* executable_path);

// Whether the executable lies in `folder` or below it, compared part by part:
// backslashes and slashes separate, empty parts and a leading "\\?\" count for
// nothing, and the letters A to Z and their full-width forms match either
// case, as the file system matches them. A folder of fewer than two parts (a drive
// root, a bare name, nothing) holds no executable: a TEMP variable set to
// "C:\" must not put the whole drive in the temporary folder.
bool ExecutableInFolder(const wchar_t* executable_path, const wchar_t* folder);

// What the startup shortcut starts: nothing (no file), this copy, or another
// (after an update unpacked into a new folder, the old one; or a file that
// is no shortcut).
enum ShortcutState { ShortcutMissing, ShortcutThisCopy, ShortcutOtherCopy };

// Whether a shortcut with target `target` and arguments `arguments` starts
// the executable at `executable_path` as the startup box makes it: the two
// paths equal as whole strings, the letters A to Z matching either case, and
// the arguments exactly "/hide".
bool StartsThisCopy(const wchar_t* target, const wchar_t* arguments, const wchar_t* executable_path);

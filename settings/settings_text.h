// The `setting` file's text and the settings path as plain logic on
// in-memory buffers; the Windows side only opens, sizes, reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/remap_settings.h"

// Largest `setting` file that is read. We write 63 bytes; a bigger file is
// not ours and counts as unreadable, like a missing one, and a size near
// 4 GiB can no longer wrap the size + 1 of the read buffer.
const uint32_t SETTINGS_FILE_LIMIT = 1024 * 1024;

// Room for the canonical text and its terminator.
const size_t SETTINGS_TEXT_CAPACITY = 128;

// How the start-up read of the `setting` file went.
enum SettingsLoad {
    SettingsRead,        // read whole, every line used
    SettingsMissing,     // no such file
    SettingsUnreadable,  // there, but could not be opened or read now
    SettingsUnusable,    // read, but holds a line that cannot be used, is empty or far too big to be ours
};

// Whether the load rewrites the file from the record. A file that is there
// but cannot be read now (held by a scanner or a sync client at logon, a
// cloud placeholder whose provider is not up yet) still holds the user's
// switches: it is left alone, and the program runs with every switch off.
bool RewriteAfterLoad(SettingsLoad load);

// Uses one line of the text. `line` is the line's first byte and `value` the
// byte after its last '='; both point into one NUL-terminated text and are
// not cut off at the line's end, so the number is sought across line breaks.
// Reads a base-10 number in the signed 32-bit range after optional white
// space and sign; the first key the line begins with (case-sensitive, over
// the key's length only) becomes 1 when the number is nonzero, else 0.
// False, with the record unchanged, when there is no digit, the number is
// out of range or no key matches.
bool ParseSettingLine(RemapSettings& settings, const char* line, const char* value);

// Applies the lines of a NUL-terminated text in order; CR, LF and CRLF end a
// line, lines without '=' are skipped. True when the scan completes; false
// at the first unusable line, with the lines before it already applied.
bool ScanSettings(RemapSettings& settings, const char* text);

// Writes the canonical text of the four flags (each 0 or 1, LF-separated,
// no final line break) and its terminator into `out`, which has room for
// SETTINGS_TEXT_CAPACITY bytes. Returns the text's length, always 63.
int FormatSettings(const RemapSettings& settings, char* out);

// Cuts an executable's full path in place to its folder the way
// PathRemoveFileSpecW does: the last backslash and what follows go, except a
// drive root's backslash ("C:\lumbrix.exe" gives "C:\"). Returns the folder's
// length in units.
size_t CutToFolder(wchar_t* path);

// The path GetFinalPathNameByHandleW gives (the file system's own, with no
// junction or link left in it) as programs and the shell take it: the
// "\\?\" before a drive letter goes, and "\\?\UNC\" becomes "\\". Works in
// place and returns where the path now starts; any other path is returned
// as it is.
wchar_t* WithoutFinalPathPrefix(wchar_t* path);

// Bytes of a record whose file_path is a folder of `folder_length` units,
// a backslash, "setting" and the terminator.
size_t RemapSettingsSize(size_t folder_length);

// Fills a record of RemapSettingsSize(folder_length) bytes: all switches
// off, file_path = folder + "\setting" (a drive root thus gets a doubled
// backslash, which the file system accepts).
void InitRemapSettings(RemapSettings& settings, const wchar_t* folder, size_t folder_length);

// Units, terminator included, of the path of the Japanese guide that ships
// beside the executable, for the executable's folder as CutToFolder leaves it.
size_t GuidePathUnits(const wchar_t* folder, size_t folder_length);

// Writes folder + "\guide-ja.html" and its terminator into `out`, which has
// room for exactly GuidePathUnits(folder, folder_length) units. Unlike the
// settings path, a drive root keeps its single backslash: the path is shown
// to the shell and may be shown to the user.
void FormatGuidePath(wchar_t* out, const wchar_t* folder, size_t folder_length);

// The applications left alone: executable file names, as the `exclude` file
// beside `setting` holds them, one a line in UTF-8. Plain logic on in-memory
// buffers; the Windows side reads and writes the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/settings_save.h"

// Largest `exclude` file that is read; a longer one is read up to here.
const uint32_t EXCLUDE_FILE_LIMIT = 64 * 1024;

// The names, each followed by its '\n': exactly the text the file is written
// with. Room for a couple of hundred names of any length Windows allows.
struct ExcludeList {
    char names[SAVE_TEXT_CAPACITY];
    uint32_t used;   // bytes of `names` in use
    uint32_t count;  // names in the list
};

// The list of this run: read at start, changed from the tray menu and the
// settings window, on the window's thread only.
extern ExcludeList excluded_apps;

// Room for the longest file name Windows allows, in UTF-8.
const size_t MAX_NAME_BYTES = 260 * 3;

// Replaces the list with the names of a file's text of `length` bytes:
// UTF-8 with or without a byte order mark, or UTF-16 of either byte order
// after its mark; CR, LF, CRLF and NUL end a line; blank lines, lines whose
// first character is '#' and a name already listed are skipped; spaces and
// tabs around a name go. Names that no longer fit are dropped.
void ReadExcludeList(ExcludeList& list, const char* text, size_t length);

// The index of `name` (`length` bytes of UTF-8) in the list, comparing
// A-Z without case and every other byte exactly; -1 when it is not listed.
int32_t FindExcluded(const ExcludeList& list, const char* name, size_t length);

// Adds `name` at the end. False, with the list unchanged, when it is empty,
// holds a line break or a NUL, is listed already or does not fit.
bool AddExcluded(ExcludeList& list, const char* name, size_t length);

// Removes the name at `index`; nothing when there is none.
void RemoveExcluded(ExcludeList& list, uint32_t index);

// The name at `index` (not terminated) and its length in *length; null when
// there is none.
const char* ExcludedName(const ExcludeList& list, uint32_t index, size_t* length);

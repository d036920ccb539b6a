// What the settings window asks of the shell, kept off the window's thread
// where it could wait: that thread runs the keyboard hook.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/dispatch.h"

// Opens `url` with the shell ("open", maximised) on a short-lived thread of
// its own, which initialises COM and owns a copy of the address:
// ShellExecuteW can take seconds while a browser starts. Run as
// administrator, through the desktop's shell window instead, so that the
// browser runs as the user, not elevated. Nothing is reported.
void OpenLinkInBackground(const wchar_t* url);

// The settings window's notice line of `kind` (ChooseNotice) in SysLink
// mark-up. For NoticeGuide a link to the guide beside the executable
// (GetGuidePath) while that file is there, else the same words as plain
// text that say where the guide comes from, never a link that leads nowhere;
// the others are plain text: run from the temporary folder, it asks to
// start the program again from the unpacked zip, and says why; in a folder
// where nothing could be saved, it asks to move the program; with a startup
// shortcut to another copy, it says that ticking the box replaces it. Newly
// allocated on the process heap into *text (preset to null), freed by the
// caller with HeapFree; false, with *text untouched, when memory fails.
// Asks the disk: for the window's creation, before the hook is installed.
bool NewGuideNotice(NoticeKind kind, wchar_t** text);

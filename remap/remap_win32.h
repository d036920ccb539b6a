// The Windows binding of the engine: the installed hook and its procedure.
#pragma once

#include <windows.h>

// Null until installed; handed to CallNextHookEx on every passed event.
extern HHOOK KeyboardHookHandle;

// WH_KEYBOARD_LL procedure: runs RemapKeyEvent, returns 1 to swallow.
LRESULT CALLBACK KeyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam);

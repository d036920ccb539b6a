// The engine's copy of the four switches, its reset, and what it knows of
// the foreground window.
#pragma once

#include <cstdint>

#include "remap/key_injection.h"
#include "settings/remap_settings.h"

// Same order as the first four fields of RemapSettings; a word is on when
// nonzero. Written only by ApplyOptions, read by the hook at every event.
struct RemapOptionWords {
    int32_t capslock_to_ctrl;
    int32_t swap_alt_for_ctrl;
    int32_t send_lang;
    int32_t use_dvorak;
};

extern RemapOptionWords RemapOptions;

// Copies the record's four switches into RemapOptions, picks the modifier
// key of each Alt-tap side (the same side's Ctrl when Alt and Ctrl are
// swapped, else the Alt itself), puts the rules in force and resets the
// engine: the keys held now were pressed under other switches.
// Returns the record it was given, for the caller to save.
RemapSettings& ApplyOptions(RemapSettings& settings);

// Returns the engine to rest, for when key events may have happened that it
// did not judge (exit, a switch change, a lock or unlock, a resume, a
// desktop switch, the focus back from a window the hook cannot see, a hook
// installed anew): both Alt-tap records to rest (no hold timer left to fire),
// every held key released, the press records forgotten but for the keys the
// user holds in the system, which keep passing until let go. With CapsLock
// as Ctrl the CapsLock key can no longer switch its lock off: a lock found
// on is switched off, and a CapsLock the system holds is let go first so
// that it can be.
void ResetEngine();

// Integrity levels as Windows numbers them; a process whose level cannot be
// read counts as UNKNOWN_INTEGRITY, above every other, and one that is gone
// before it could be asked is PROCESS_GONE, which changes nothing.
const uint32_t UNKNOWN_INTEGRITY = 0xFFFFFFFF;
const uint32_t PROCESS_GONE = 0xFFFFFFFE;

// Told the integrity level of each new foreground window's process (first of
// the one in front when the watch starts) and our own. Windows does not call
// the hook while a window of a higher level has the focus, so the releases
// typed there never reached the engine: true when the focus comes back from
// such a window to one the hook sees.
bool ForegroundReturnsToSight(uint32_t window_level, uint32_t own_level);

// Whether the last foreground window told to ForegroundReturnsToSight is one
// whose keys the hook does not see.
bool ForegroundBlind();

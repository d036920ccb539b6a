// The engine's copy of the four switches, the one form in which the engine
// puts a synthetic key event into the input stream, and the record of the
// keys it holds down there.
#pragma once

#include <cstdint>

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

// dwExtraInfo of the engine's masking events; its own hook swallows them.
const uint32_t SELF_MASK_TAG = 52;

// 1 for each key the engine has injected down and not yet up: the keys that
// only the engine can let go of. Masking events don't count.
extern uint8_t HeldKeys[256];

// Copies the record's four switches into RemapOptions and picks the modifier
// key of each Alt-tap side (the same side's Ctrl when Alt and Ctrl are
// swapped, else the Alt itself). The release of a key held now would be
// judged under the new switches, so every key the engine holds is released,
// and so is a key that the system holds down and whose release the engine
// would now swallow; with the Alt-tap switch off, both Alt-tap records are
// reset as well.
// Returns the record it was given, for the caller to save.
RemapSettings& ApplyOptions(RemapSettings& settings);

// The platform's side of an injection: sends one synthetic key event, `vk`
// pressed when `isDown` is nonzero, else released, with `tag` in its
// extra-info field. `scan` is the scan code, with 0xE0 in its high byte for
// an extended key; 0 asks for the scan code of `vk` on the current layout.
// Returns the count of events the system took (1 on success). SendInput on
// Windows, a recording sink in tests.
unsigned SendKeyInput(uint16_t vk, int isDown, uint32_t tag, uint32_t scan);

// The platform's view of the system's keyboard: whether the system holds
// `vk` down now. GetAsyncKeyState on Windows.
bool SystemKeyDown(uint16_t vk);

// The one form in which the engine injects a key of its own: SendKeyInput
// with the layout's scan code, keeping HeldKeys up to date. Inline, so that
// the hook's injecting paths pay one store for the bookkeeping.
inline unsigned InjectKey(uint16_t vk, int isDown, uint32_t tag)
{
    if (tag != SELF_MASK_TAG) {
        HeldKeys[static_cast<uint8_t>(vk)] = isDown != 0;
    }
    return SendKeyInput(vk, isDown, tag, 0);
}

// Injects a release (tag 0) of every key in HeldKeys and forgets them: for
// when the physical releases can no longer reach the engine as it is (exit,
// a switch changed, another desktop, a window the hook cannot see).
void ReleaseHeldKeys();

// Returns the engine to rest: both Alt-tap records reset (no hold timer
// left to fire) and every held key released.
void ResetEngine();

// With CapsLock as Ctrl the CapsLock key can no longer switch its toggle
// off: when `toggled`, one injected CapsLock press and release does.
void ClearCapsLockToggle(bool toggled);

// Integrity levels as Windows numbers them; a process whose level cannot be
// read counts as UNKNOWN_INTEGRITY, above every other.
const uint32_t UNKNOWN_INTEGRITY = 0xFFFFFFFF;

// Told the integrity level of each new foreground window's process and our
// own. Windows does not call the hook while a window of a higher level has
// the focus, so the releases typed there never reached the engine: true
// when the focus comes back from such a window to one the hook sees.
bool ForegroundReturnsToSight(uint32_t window_level, uint32_t own_level);

// Whether the last foreground window told to ForegroundReturnsToSight is one
// whose keys the hook does not see.
bool ForegroundBlind();

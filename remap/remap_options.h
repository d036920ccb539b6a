// The engine's copy of the four switches, and the one form in which the engine
// puts a synthetic key event into the input stream.
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

// Copies the record's four switches into RemapOptions and picks the modifier
// key of each Alt-tap side (the same side's Ctrl when Alt and Ctrl are
// swapped, else the Alt itself). Leaves an Alt-tap in progress alone.
// Returns the record it was given, for the caller to save.
RemapSettings& ApplyOptions(RemapSettings& settings);

// Sends one synthetic key event: `vk` pressed when `isDown` is nonzero, else
// released, with `tag` in its extra-info field. Returns the count of events
// the system took (1 on success). Provided by the platform layer (SendInput
// on Windows, a recording sink in tests).
unsigned InjectKey(uint16_t vk, int isDown, uint32_t tag);

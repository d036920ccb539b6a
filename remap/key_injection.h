// The engine's one seam to the system's input: the form in which it injects
// a key of its own, the keys it holds down there, and what it did with the
// last press of each physical key, so that the key's release goes the same
// way whatever happened in between.
#pragma once

#include <cstdint>

// dwExtraInfo of the engine's masking events; its own hook swallows them.
const uint32_t SELF_MASK_TAG = 52;

// 1 for each key the engine has injected down and the system has not yet
// taken a release of: the keys that only the engine can let go of. Masking
// events don't count.
extern uint8_t HeldKeys[256];

// What became of the last press of each physical key, by virtual-key code.
// PRESS_NONE: none was seen since the last release or reset, or it passed:
// the release passes. PRESS_KEPT: the system held the key, pressed where the
// engine did not judge it, at the last reset: its repeats and its release
// pass as they come. PRESS_ALT_TAP: it went to the Alt-tap switch, and so
// does its release. Any other value is the key injected in its place, whose
// release replaces the key's release.
const uint8_t PRESS_NONE = 0;
const uint8_t PRESS_KEPT = 1;
const uint8_t PRESS_ALT_TAP = 2;
extern uint8_t PressRecord[256];

// The platform's side of an injection: sends one synthetic key event, `vk`
// pressed when `isDown` is nonzero, else released, with `tag` in its
// extra-info field. `scan` is the scan code, with 0xE0 in its high byte for
// an extended key; 0 asks for the scan code of `vk` on the current layout.
// Returns the count of events the system took: 1, or 0 when it refused
// (the sign-in screen or another desktop has the keyboard). SendInput on
// Windows, a recording sink in tests.
unsigned SendKeyInput(uint16_t vk, int isDown, uint32_t tag, uint32_t scan);

// The platform's view of the system's keyboard: whether the system holds
// `vk` down now (GetAsyncKeyState), and whether its lock is on
// (GetKeyState's toggle bit).
bool SystemKeyDown(uint16_t vk);
bool SystemKeyToggled(uint16_t vk);

// The one form in which the engine injects a key of its own: SendKeyInput
// with the layout's scan code, keeping HeldKeys up to date. A press counts
// as held even when the system refused it (a release of a key that is up
// does nothing), a release as done only when the system took it, so that a
// refused one is sent again at the next reset. Inline, so that the hook's
// injecting paths pay one store for the record.
inline unsigned InjectKey(uint16_t vk, int isDown, uint32_t tag)
{
    if (tag == SELF_MASK_TAG) {
        return SendKeyInput(vk, isDown, tag, 0);
    }
    uint8_t& held = HeldKeys[static_cast<uint8_t>(vk)];
    if (isDown) {
        held = 1;
        return SendKeyInput(vk, isDown, tag, 0);
    }
    const unsigned taken = SendKeyInput(vk, isDown, tag, 0);
    if (taken != 0) {
        held = 0;
    }
    return taken;
}

// Injects a release (tag 0) of every key in HeldKeys; the ones the system
// refuses stay there.
void ReleaseHeldKeys();

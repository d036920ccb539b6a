// The engine's one seam to the system's input: the form in which it injects
// a key of its own, the keys it holds down there, what became of the last
// press of each physical key, and what of its own is still on its way.
// Windows counts a key as one bit however many keys stand for it, and an
// injection counts only once the hooks have seen it: so does the engine.
#pragma once

#include <cstdint>

// dwExtraInfo of the engine's masking events; its own hook swallows them.
const uint32_t SELF_MASK_TAG = 52;

// The engine's tables by key, in one block so that a hook call reaches all
// it reads or writes from one address. Each is used by its name below;
// `reselect` is the hook's own (keyboard_hook.cpp).
struct KeyBook {
    uint8_t held[256];
    uint8_t press_record[256];
    uint8_t output_holds[256];
    uint8_t in_flight[256];
    uint8_t in_flight_down[256];
    uint8_t reselect[256];
    uint8_t sent_again[256];
    uint32_t in_flight_time;
};
extern KeyBook PerKey;

// 1 for each key the engine has injected down and the system has not yet
// taken a release of: the keys that only the engine can let go of. Masking
// events don't count.
inline constexpr uint8_t (&HeldKeys)[256] = PerKey.held;

// What became of the last press of each physical key, by virtual-key code,
// until its release. PRESS_NONE: none was seen since the last release, or
// it passed untracked: the release passes. PRESS_KEPT: the key passes as
// itself until let go (the system held it where the engine did not judge
// it, a physical Ctrl or Alt that no rule takes, a late hook call): its
// repeats and its release pass. PRESS_ALT_TAP: it went to the Alt-tap
// switch, and so do its repeats and release. PRESS_STALE: it was replaced,
// and a reset let go of the replacement: a repeat is a new press, and the
// release, of a key the system never had, is swallowed. From
// FIRST_PRESSED_KEY up, the value is the key injected in its place, whose
// repeats and release follow it: the keys that replace others are checked
// against that range where their table is built.
enum PressCode : uint8_t { PRESS_NONE, PRESS_KEPT, PRESS_ALT_TAP, PRESS_STALE, FIRST_PRESSED_KEY };
inline constexpr uint8_t (&PressRecord)[256] = PerKey.press_record;

// Whether a press record is a key injected in the pressed key's place.
constexpr bool IsPressedKey(uint8_t record)
{
    return record >= FIRST_PRESSED_KEY;
}

// For each key, how many presses now hold it down in the system: a kept key
// holds itself, a replaced key its replacement, an Alt acting as its
// modifier that modifier. Windows keeps one bit per key, so a key goes up
// only with the last press that holds it.
inline constexpr uint8_t (&OutputHolds)[256] = PerKey.output_holds;

// The engine's events that the system has not yet shown to the hook, by key:
// its releases, and a user's key it sent again. An injection counts in the
// system only once the hooks have passed it, so until then the system's
// state of the key is stale; InFlightDown is the direction of the latest.
inline constexpr uint8_t (&InFlight)[256] = PerKey.in_flight;
inline constexpr uint8_t (&InFlightDown)[256] = PerKey.in_flight_down;

// 1 for another program's press that the hook sent again, until it comes
// back: that program's release, if it comes first, is sent again too.
inline constexpr uint8_t (&SentAgain)[256] = PerKey.sent_again;

// The tick count of the latest event counted in flight: one that has not
// come back IN_FLIGHT_MS later never will (the hook was gone, the event
// dropped), and the counts are cleared.
inline constexpr uint32_t& InFlightTime = PerKey.in_flight_time;
const uint32_t IN_FLIGHT_MS = 1000;

// The platform's side of an injection: sends one synthetic key event, `vk`
// pressed when `isDown` is nonzero, else released, with `tag` in its
// extra-info field (another program's own, for its key sent again). `scan` is the scan code, with 0xE0 in its high byte for
// an extended key; 0 asks for the scan code of `vk` on the current layout.
// Returns the count of events the system took: 1, or 0 when it refused
// (the sign-in screen or another desktop has the keyboard). SendInput on
// Windows, a recording sink in tests.
unsigned SendKeyInput(uint16_t vk, int isDown, uintptr_t tag, uint32_t scan);

// The platform's view of the system's keyboard: whether the system holds
// `vk` down now (GetAsyncKeyState), and whether its lock is on (GetKeyState's
// toggle bit, read on the engine's thread, which holds no keyboard input of
// its own while another window has the focus). Both lag behind what is in
// flight.
bool SystemKeyDown(uint16_t vk);
bool SystemKeyToggled(uint16_t vk);

// The system's tick count in milliseconds, the clock of the hook's event
// times (GetTickCount).
uint32_t TickCount();

// Counts an event of the engine's own as on its way, sent at tick count
// `now`.
inline void CountInFlight(uint16_t vk, int isDown, uint32_t now)
{
    const uint8_t key = static_cast<uint8_t>(vk);
    if (InFlight[key] < 255) {
        ++InFlight[key];
    }
    InFlightDown[key] = isDown != 0;
    InFlightTime = now;
}

// InjectKey's release of `vk` (tag 0) at tick count `now`: the hook knows
// the time of its call without asking the clock again.
inline unsigned InjectRelease(uint8_t vk, uint32_t now)
{
    const unsigned taken = SendKeyInput(vk, 0, 0, 0);
    if (taken != 0) {
        HeldKeys[vk] = 0;
        CountInFlight(vk, 0, now);
    }
    return taken;
}

// The one form in which the engine injects a key of its own: SendKeyInput
// with the layout's scan code, keeping HeldKeys up to date. A press counts
// as held even when the system refused it (a release of a key that is up
// does nothing), a release as done only when the system took it, so that a
// refused one is sent again at the next reset; a release taken is on its
// way until the hook sees it. Inline, so that the hook's injecting paths
// pay one store for the record. A release carries no tag but the mask's.
inline unsigned InjectKey(uint16_t vk, int isDown, uint32_t tag)
{
    if (tag == SELF_MASK_TAG) {
        return SendKeyInput(vk, isDown, tag, 0);
    }
    if (isDown) {
        HeldKeys[static_cast<uint32_t>(vk) & 0xFFu] = 1;
        return SendKeyInput(vk, isDown, tag, 0);
    }
    return InjectRelease(static_cast<uint8_t>(vk), TickCount());
}

// Whether the system holds `vk` down, or will once what is on its way has
// landed: the engine's own presses and what is in flight first, then what
// the system says.
inline bool SystemHolds(uint16_t vk)
{
    const uint8_t key = static_cast<uint8_t>(vk);
    if (InFlight[key] != 0) {
        return InFlightDown[key] != 0;
    }
    return HeldKeys[key] != 0 || SystemKeyDown(vk);
}

// A press begins to hold `vk` in the system.
inline void HoldKey(uint8_t vk)
{
    if (OutputHolds[vk] < 255) {
        ++OutputHolds[vk];
    }
}

// A press stops holding `vk`: true when no other press holds it, so that
// the key goes up.
inline bool LetGoOfKey(uint8_t vk)
{
    if (OutputHolds[vk] > 0) {
        --OutputHolds[vk];
    }
    return OutputHolds[vk] == 0;
}

// A press of the engine's stops holding `vk`; the last one lets go of it in
// the system, unless the engine no longer holds it there (a reset let go of
// it first). While the user's own key `vk` still holds it, letting go is
// that key's release's to do; but not once the system has let go of that
// key (its release passed where the hook was blind, and a reset is to judge
// it): then only the engine's press, maybe still on its way, holds it.
inline void LetGoOfHeldKey(uint8_t vk)
{
    if (!LetGoOfKey(vk)) {
        if (PressRecord[vk] != PRESS_KEPT) {
            return;
        }
        if (SystemKeyDown(vk)) {
            HeldKeys[vk] = 0;
            return;
        }
    }
    if (HeldKeys[vk]) {
        InjectKey(vk, 0, 0);
    }
}

// An injected event came back through the hook: it counts in the system now.
void InjectionLanded(uint32_t vk);

// Injects a release (tag 0) of every key in HeldKeys that no press holds
// any more, or of every one when `all`; the ones the system refuses stay
// there. True when none is left.
bool ReleaseHeldKeys(bool all);

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
// swapped, else the Alt itself) and puts the rules in force for the next
// presses. The hook saw every key held now: each goes on as it was
// pressed, a key the system holds that no rule took passes as itself until
// let go, and a tap pending when the Alt-tap switch goes off is no tap.
// With CapsLock as Ctrl, a lock found on is switched off (a CapsLock the
// system holds is let go first, so that it can be).
// Returns the record it was given, for the caller to save.
RemapSettings& ApplyOptions(RemapSettings& settings);

// Why the switches are out of force though set: the engine paused from the
// tray, or a window of an application left alone in front. Set by the
// window's thread, which then calls ApplyOptionsInForce.
struct OptionsHold {
    bool paused;
    bool left_alone;
};

extern OptionsHold RemapHold;

// ApplyOptions of `settings`, or of every switch off while RemapHold holds
// either way: keys held across the change go on as they were pressed, a
// pending tap settles, as at a switch change. Returns the record, unchanged,
// for the caller to save.
RemapSettings& ApplyOptionsInForce(RemapSettings& settings);

// Returns the engine to rest, for when key events may have happened that it
// did not judge (exit, a lock or unlock, a resume, a desktop switch, the
// focus back from a window the hook cannot see, a hook installed anew):
// every key the engine holds is released, again at later resets while the
// system refuses; a key the system holds for the user passes as itself until
// let go; the other presses keep their records, so that a key still held
// presses its key again at its next repeat, and an Alt pressed is no tap
// any more. With CapsLock as Ctrl the lock is switched off as in
// ApplyOptions, unless a CapsLock of the engine's own is still on its way.
// While a window above our integrity level is in front, the system neither
// answers truly nor takes anything: the reset is finished at the next event
// the hook sees.
void ResetEngine();

// A key reached the hook while a reset was left to finish: the hook sees
// the window in front, whatever its integrity level said (one we could not
// query counts as above ours), and takes what it injects there. The reset
// is finished now rather than tried again at every key.
void FinishReset();

// A CapsLock release of ours came back through the hook. Once the last of
// ours is back, the lock the system reports is the one they leave: a
// switch-off put off for them (CapsLock as Ctrl switched on, or a reset,
// while they were on their way) is made now.
void CapsLockReleaseLanded();

// A CapsLock press reached the system as itself (a late hook call): with
// CapsLock as Ctrl it is let go of at once and its lock switched back, for
// the user can no longer switch it; its next repeat is Ctrl.
void SwitchCapsLockBack();

// Integrity levels as Windows numbers them; a process whose level cannot be
// read counts as UNKNOWN_INTEGRITY, above every other, and one that is gone
// before it could be asked is PROCESS_GONE, which changes nothing.
// OWN_PROCESS stands for a window of our own process.
const uint32_t UNKNOWN_INTEGRITY = 0xFFFFFFFF;
const uint32_t PROCESS_GONE = 0xFFFFFFFE;
const uint32_t OWN_PROCESS = 0xFFFFFFFD;

// Told the integrity level of each new foreground window's process (first of
// the one in front when the watch starts) and our own. Windows does not call
// the hook while a window of a higher level has the focus, and perhaps not
// while our own window has it: the releases typed there never reached the
// engine. True when the focus comes back from such a window to one the
// hook sees.
bool ForegroundReturnsToSight(uint32_t window_level, uint32_t own_level);

// Whether the last foreground window told to ForegroundReturnsToSight is one
// above our integrity level: the hook sees none of its keys, and it takes
// none of our injections (UIPI). Our own window is not: raw input tells when
// it has the keys (RIM_INPUT).
bool ForegroundElevated();

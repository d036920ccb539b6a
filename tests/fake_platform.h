// Stand-ins for the platform seam of the engine: a sink that records every
// injected key event in call order and lets it land in the system only when
// the test pumps, after it has come back through the hook as Windows sends
// it back; and a simulated clock whose hold timers expire through
// HoldTimerExpired as a test advances time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InjectedKey {
    uint16_t vk;
    int down;
    uintptr_t tag;     // the extra-info tag; a mouse event's mouse data
    uint32_t scan;     // as given to SendKeyInput: 0 for the layout's own
    bool taken;        // false when the system refused it
    uintptr_t mouse;   // a mouse event's message (SendMouseInput), else 0
    uintptr_t extra;   // a mouse event's extra info
};

extern std::vector<InjectedKey> injected_keys;

// Whether the engine has a mouse hook installed (WatchMouse), and the mouse
// buttons the system holds down, by message of their press.
extern bool mouse_watched;
extern std::vector<uintptr_t> system_buttons_down;

// While true no mouse hook can be installed; and the window under the
// cursor is above our integrity level (a click sent there is dropped).
extern bool mouse_hook_refused;
extern bool cursor_over_elevated;

// A mouse event reaching the system: a button press or release, by message.
void SystemMouseEvent(uintptr_t message);

// The keys the system holds down: what landed of the injections and what a
// test says passed the hook. SystemKeyDown reads it: what is still on its
// way is not in it.
extern bool system_keys_down[256];

// The system's CapsLock lock, switched by every CapsLock press that reaches
// it from up; SystemKeyToggled reads it, as stale as system_keys_down.
extern bool caps_lock_on;

// While true the sink takes nothing, as SendInput does while the sign-in
// screen or another desktop has the keyboard: it returns 0 and the system's
// keys stay as they are.
extern bool injection_refused;

// While true the sink says it took each event and drops it, as SendInput
// does when UIPI blocks it (a window above our integrity level in front).
extern bool injection_dropped;

// Whether the system holds `vk` down once what is on its way has landed.
bool SystemHoldsOnceLanded(uint32_t vk);

// Lets up to `count` of the taken injections land, oldest first: each goes
// through RemapKeyEvent flagged as injected, and reaches the system if the
// hook passes it. Returns how many are still on their way.
size_t LandInjected(size_t count = static_cast<size_t>(-1));

// A key event reaching the system, from the hook or past it.
void SystemKeyEvent(uint32_t vk, bool down);

// Empties the sink, cancels every timer, forgets the engine's records of
// keys and sets the clock to 0.
void ResetFakePlatform();

// The next StartHoldTimer call fails (returns 0).
void FailNextHoldTimer();

// Moves the clock on by `ms`, firing due timers in order. Like Windows'
// timers they repeat every period until cancelled; on a busy thread
// (`fire` false) they fire only at a later call.
void AdvanceTime(unsigned ms, bool fire = true);

// The simulated clock, which TickCount reads.
uint32_t Now();

// Timers started and not yet cancelled.
size_t PendingHoldTimers();

// "162v" for a press, "162^" for a release; "#" marks the masking tag, "!" an
// event the system refused; a mouse event is "Lv" (left button), "Rv",
// "Mv", "Xv", "W120" (wheel), "H120" (tilt), "L^" and so on.
std::string FormatInjected(const InjectedKey& key);
std::string FormatMouse(uintptr_t message, uint32_t data);

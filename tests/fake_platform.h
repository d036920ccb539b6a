// Stand-ins for the platform seam of the engine: a sink that records every
// injected key event in call order, and a simulated clock whose hold timers
// expire through AltTapTimerProc as a test advances time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InjectedKey {
    uint16_t vk;
    int down;
    uint32_t tag;
};

extern std::vector<InjectedKey> injected_keys;

// Empties the sink, cancels every timer and sets the clock to 0.
void ResetFakePlatform();

// The next StartHoldTimer call fails (returns 0).
void FailNextHoldTimer();

// Moves the clock on by `ms`, firing due timers in order. Like Windows'
// timers they repeat every period until cancelled.
void AdvanceTime(unsigned ms);

// Timers started and not yet cancelled.
size_t PendingHoldTimers();

// "162v" for a press, "162^" for a release; "#" marks the masking tag.
std::string FormatInjected(const InjectedKey& key);

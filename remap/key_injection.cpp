#include "remap/key_injection.h"

// Static storage: nothing is held, recorded or on its way at process start.
KeyBook PerKey;

void InjectionLanded(uint32_t vk)
{
    // Another program's key of the same code may come first; either way the
    // count drops once per event, and the system's state is current again
    // when it reaches 0.
    if (vk < 256 && InFlight[vk] != 0) {
        --InFlight[vk];
    }
}

bool ReleaseHeldKeys(bool all)
{
    bool done = true;
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (HeldKeys[vk] && (all || OutputHolds[vk] == 0)) {
            done = InjectKey(static_cast<uint16_t>(vk), 0, 0) != 0 && done;
        }
    }
    return done;
}

#include "remap/key_injection.h"

// Static storage: nothing is held or recorded at process start.
uint8_t HeldKeys[256];
uint8_t PressRecord[256];

void ReleaseHeldKeys()
{
    for (unsigned vk = 0; vk < 256; ++vk) {
        if (HeldKeys[vk]) {
            InjectKey(static_cast<uint16_t>(vk), 0, 0);
        }
    }
}

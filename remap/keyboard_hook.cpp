#include "remap/keyboard_hook.h"

#include "remap/alt_tap.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"

namespace {

// Dvorak key for each physical US QWERTY key, by virtual-key code; 0 where
// the key stays (A, M, digits, controls...). A flat table keeps the lookup one
// load on the hook's hot path.
struct DvorakTable {
    uint8_t to[256];
};

constexpr DvorakTable MakeDvorakTable()
{
    const uint8_t pairs[][2] = {
        {'B', 'X'}, {'C', 'J'}, {'D', 'E'}, {'E', VK_OEM_PERIOD}, {'F', 'U'},
        {'G', 'I'}, {'H', 'D'}, {'I', 'C'}, {'J', 'H'}, {'K', 'T'},
        {'L', 'N'}, {'N', 'B'}, {'O', 'R'}, {'P', 'L'}, {'Q', VK_OEM_7},
        {'R', 'P'}, {'S', 'O'}, {'T', 'Y'}, {'U', 'G'}, {'V', 'K'},
        {'W', VK_OEM_COMMA}, {'X', 'Q'}, {'Y', 'F'}, {'Z', VK_OEM_1},
        {VK_OEM_1, 'S'}, {VK_OEM_PLUS, VK_OEM_6}, {VK_OEM_COMMA, 'W'},
        {VK_OEM_MINUS, VK_OEM_4}, {VK_OEM_PERIOD, 'V'}, {VK_OEM_2, 'Z'},
        {VK_OEM_4, VK_OEM_2}, {VK_OEM_6, VK_OEM_PLUS}, {VK_OEM_7, VK_OEM_MINUS},
    };
    DvorakTable table{};
    for (const auto& pair : pairs) {
        table.to[pair[0]] = pair[1];
    }
    return table;
}

constexpr DvorakTable DVORAK = MakeDvorakTable();

HookVerdict Replace(uint16_t vk, int down)
{
    InjectKey(vk, down, 0);
    return Swallow;
}

HookVerdict RouteAltTap(AltTapState& self, AltTapState& other, int down)
{
    AltTapInterrupt(other);
    if (down) {
        AltTapKeyDown(self);
    } else {
        AltTapKeyUp(self);
    }
    return Swallow;
}

}  // namespace

HookVerdict RemapKeyEvent(const HookKeyEvent& event)
{
    if (event.code < 0 || event.code == HC_NOREMOVE) {
        return Pass;
    }
    // Before the injected test: a masking event is dropped whoever sent it.
    if (event.dwExtraInfo == SELF_MASK_TAG) {
        return Swallow;
    }
    // Our own replacements come back here flagged injected and must not be
    // remapped again; other programs' synthetic keys are left alone too.
    if (event.flags & LLKHF_INJECTED) {
        return Pass;
    }

    const int down = event.message == WM_KEYDOWN || event.message == WM_SYSKEYDOWN;
    const uint32_t vk = event.vkCode;

    if (RemapOptions.send_lang) {
        if (vk == VK_LMENU) {
            return RouteAltTap(alt_tap_left, alt_tap_right, down);
        }
        if (vk == VK_RMENU) {
            return RouteAltTap(alt_tap_right, alt_tap_left, down);
        }
        // Any modifier press this injects goes out before the key's own
        // replacement below.
        AltTapInterrupt(alt_tap_left);
        AltTapInterrupt(alt_tap_right);
    }

    switch (vk) {
    case VK_CAPITAL:
        if (!RemapOptions.capslock_to_ctrl) {
            break;
        }
        if (down) {
            // Masking releases around the press: only hooks that run ahead
            // of this one see them; they are dropped when they come back.
            InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
            InjectKey(VK_LCONTROL, 1, 0);
            InjectKey(VK_LCONTROL, 0, SELF_MASK_TAG);
            return Swallow;
        }
        return Replace(VK_LCONTROL, 0);
    case VK_LCONTROL:
        if (RemapOptions.swap_alt_for_ctrl) {
            return Replace(VK_LMENU, down);
        }
        break;
    case VK_RCONTROL:
        if (RemapOptions.swap_alt_for_ctrl) {
            return Replace(VK_RMENU, down);
        }
        break;
    case VK_LMENU:
        if (RemapOptions.swap_alt_for_ctrl) {
            return Replace(VK_LCONTROL, down);
        }
        break;
    case VK_RMENU:
        if (RemapOptions.swap_alt_for_ctrl) {
            return Replace(VK_RCONTROL, down);
        }
        break;
    default:
        if (RemapOptions.use_dvorak && vk < 256 && DVORAK.to[vk] != 0) {
            return Replace(DVORAK.to[vk], down);
        }
        break;
    }
    return Pass;
}

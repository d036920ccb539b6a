#include <gtest/gtest.h>

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"
#include "tests/fake_platform.h"
#include "tests/remap_cases.h"

TEST(AllOff, EveryKeyPassesUntouched)
{
    RunCases({
        {"", "d:c u:c d:caps u:caps", "=67v =67^ =20v =20^", "no rule without its switch"},
        {"", "d:lalt u:lalt d:rctrl u:rctrl", "=164v =164^ =163v =163^", "modifiers pass"},
        {"", "sd:q su:q", "=81v =81^", "system keys pass"},
    });
}

TEST(CapsLockToCtrl, MaskedCtrlPressAndPlainRelease)
{
    RunCases({
        {"c", "d:caps u:caps", "162^# 162v 162^# 162^", "press is masked, release is one Ctrl up"},
        {"c", "d:caps d:caps d:caps u:caps", "162^# 162v 162^# 162^# 162v 162^# 162^# 162v 162^# 162^",
         "every auto-repeat sends the masked sequence again"},
        {"c", "d:caps d:c u:c u:caps", "162^# 162v 162^# =67v =67^ 162^", "Ctrl+C keeps C"},
        {"cd", "d:caps d:c u:c u:caps", "162^# 162v 162^# 74v 74^ 162^", "Ctrl+C under Dvorak is Ctrl+J"},
        {"cs", "d:caps u:caps", "162^# 162v 162^# 162^", "the Ctrl it makes is not swapped to Alt"},
        {"c", "d:caps o: u:caps", "162^# 162v 162^# 162^", "switched off while held: Ctrl stays until CapsLock is let go"},
        {"c", "o: d:caps o:c u:caps", "=20v 20^ 20v 20^ =20^",
         "switched on while held: CapsLock is let go at once and its lock switched off"},
        {"c", "d:caps d:caps x x", "162^# 162v 162^# 162^# 162v 162^# 162^", "an exit lets go of Ctrl once"},
    });
}

TEST(SwapAltCtrl, EachSideTradesPlaces)
{
    RunCases({
        {"s", "d:lctrl d:c u:lctrl", "164v =67v 164^", "left Ctrl is left Alt, C passes"},
        {"s", "d:lctrl o: u:lctrl", "164v 164^", "switched off while held: its Alt stays until let go"},
        {"", "d:lctrl o:s u:lctrl", "=162v =162^", "switched on while held: the Ctrl stays itself until let go"},
        {"s", "d:rctrl u:rctrl", "165v 165^", "right Ctrl is right Alt"},
        {"s", "d:lalt u:lalt", "162v 162^", "left Alt is left Ctrl"},
        {"s", "sd:ralt su:ralt", "163v 163^", "right Alt as system key is right Ctrl"},
        {"s", "d:ctrl d:alt u:ctrl u:alt", "=17v =18v =17^ =18^", "generic Ctrl and Alt codes match no rule"},
        {"sd", "d:lctrl d:q u:q u:lctrl", "164v 222v 222^ 164^", "swap and Dvorak both apply, one per key"},
    });
}

TEST(Dvorak, TranslatesByVirtualKeyOnly)
{
    RunCases({
        {"d", "d:j u:j d:k u:k", "72v 72^ 84v 84^", "J gives H, K gives T"},
        {"d", "d:q u:q", "222v 222^", "Q gives the apostrophe, not translated again"},
        {"d", "d:quote d:z d:semicolon", "189v 186v 83v", "punctuation follows the layout"},
        {"d", "sd:b su:b", "88v 88^", "WM_SYSKEYDOWN/UP are press and release"},
        {"d", "d:a d:m d:1 d:0 d:backtick d:backslash d:oem102 d:space",
         "=65v =77v =49v =48v =192v =220v =226v =32v", "keys in the same place pass"},
        {"d", "d:lshift d:d u:d u:lshift", "=160v 69v 69^ =160^", "Shift passes and the letter is translated"},
        {"d", "d:300 d:255", "=300v =255v", "codes outside the table pass"},
    });
}

TEST(AltTapRouting, SendLangTakesTheAltKeys)
{
    RunCases({
        {"l", "d:lalt t:200 u:lalt", "26v 26^", "left tap turns the IME off, no Alt reaches the system"},
        {"l", "d:ralt t:200 u:ralt", "22v 22^", "right tap turns the IME on"},
        {"ls", "d:lalt u:lalt d:ralt u:ralt", "26v 26^ 22v 22^", "swap keeps the IME keys"},
        {"ls", "d:lctrl u:lctrl", "164v 164^", "swapped Ctrl gives Alt, which never reaches the tap switch"},
        {"ls", "d:lalt t:500 u:lalt", "162v 162^", "with the swap a held Alt is its side's Ctrl"},
        {"ld", "d:lalt t:100 d:b d:lshift", "164v 88v 160v", "the modifier goes out before the key's own rewrite"},
        {"l", "d:lalt d:ctrl u:ctrl", "164v 17v 17^", "generic codes still interrupt"},
        {"l", "d:lalt d:lalt u:lalt", "26v 26^", "auto-repeat inside the hold time is still a tap"},
        {"l", "d:lalt o: u:lalt t:500 o:l d:lalt u:lalt", "26v 26^",
         "switched off mid-press: the press is no tap, its release sends nothing, the next tap is a tap"},
        {"l", "d:lalt o: t:500", "", "switched off, a pending hold timer is cancelled"},
        {"l", "d:lalt t:500 o: u:lalt", "164v 232v 232^ 164^", "switched off while held: the modifier stays until let go, masked"},
        {"l", "d:lalt t:100 x t:500 u:lalt", "", "a reset makes a pending tap no tap; nothing was pressed"},
        {"l", "d:lalt d:a x", "164v 65v 65^ 164^", "a key held back at an exit goes, pressed and let go of"},
        {"l", "d:lalt o: d:09 u:09 u:lalt", "164v 9v =9^ 164^", "a tap settled by a switch change keeps its Alt: Alt+Tab"},
        {"l", "d:lalt x d:09 u:09 d:lalt d:09 u:lalt", "=9v =9^ 164v =9v 164^", "after a reset only the Alt's repeat tells it is held"},
    });
}

// Windows hides keys from the hook (an elevated window, the sign-in screen)
// and refuses injections there; the reset when it ends mends what happened.
TEST(BlindPeriods, ReleasesFollowPressesAndResetsMend)
{
    RunCases({
        {"c", "d:caps blind x u:caps sight x", "162^# 162v 162^# 162^! ~20^ 162^",
         "a release the system refused is sent again at the next reset"},
        {"s", "blind d:lalt sight x u:lalt", "~164v =164^", "a release whose press the hook never saw passes"},
        {"d", "blind d:q sight x d:q u:q", "~81v =81v =81^", "and so does a repeat of that press"},
        {"l", "blind d:ralt sight x d:ralt u:ralt", "~165v =165v =165^", "an Alt the system holds is no tap"},
        {"l", "d:ralt x u:ralt d:ralt u:ralt", "22v 22^", "after a reset the next tap is a tap"},
        {"c", "blind d:caps u:caps sight x", "~20v ~20^ 20v 20^", "a lock switched on unseen is switched off"},
        {"c", "blind d:caps sight x u:caps", "~20v 20^ 20v 20^ =20^", "a CapsLock held at the reset is let go first"},
        {"sd", "d:q o:s u:q", "222v 222^", "a switch change leaves a replacement down until its key is let go"},
        {"cd", "d:caps d:s alone u:s u:caps d:s u:s mine d:s u:s", "162^# 162v 162^# 79v 79^ 162^ =83v =83^ 79v 79^",
         "an application left alone: keys held go on as pressed, later ones pass untouched, then remapped again"},
        {"l", "d:lalt alone d:09 u:09 u:lalt", "164v 9v =9^ 164^", "a tap settled by an application left alone keeps its Alt"},
        {"l", "d:lalt alone u:lalt t:500 d:lalt u:lalt mine d:lalt u:lalt", "=164v =164^ 26v 26^",
         "a pending tap settles as at a switch change, Alt then passes, and taps again once another application is in front"},
    });
}

// Windows keeps one bit per key, passes on a key whose hook call came too
// late, lands injections after the hooks, resets in bursts, and swallows
// some CapsLock releases in the layout before any hook.
TEST(AsWindowsCounts, SharedKeysLateCallsBurstsAndLostReleases)
{
    RunCases({
        {"c", "d:lctrl d:caps u:caps d:c u:lctrl", "=162v 162^# 162v 162^# =67v =162^", "CapsLock let go, Ctrl still held"},
        {"cs", "d:lalt d:caps u:caps d:c u:lalt", "162v 162^# 162v 162^# =67v 162^", "the swapped Alt holds Ctrl too"},
        {"c", "d:caps d:lctrl u:lctrl d:c u:caps", "162^# 162v 162^# =162v =67v 162^", "Ctrl let go, CapsLock still held"},
        {"d", "blind d:x sight x d:b u:b u:x", "~88v 88v =88^", "a kept X and B as X: X goes with the last"},
        {"l", "d:lalt t:300 d:lalt t:300 d:lalt x d:lalt t:100 u:lalt", "164v 164v 232v 232^ 164^ 164v 232v 232^ 164^",
         "a reset lets go of a held Alt, masked; its next repeat is the modifier again, not a tap"},
        {"l", "d:lalt t:300 d:lalt t:300 d:lalt o:l d:lalt t:100 u:lalt", "164v 164v 164v 232v 232^ 164^",
         "a switch click leaves a held Alt held"},
        {"l", "d:lalt t:600 x t:1200 d:lalt u:lalt", "164v 232v 232^ 164^ 26v 26^", "no repeat for a second: a new press"},
        {"d", "late d:b u:b", "~66v =66^", "a late press passes and so does its release"},
        {"d", "queued d:b u:b", "88v 88^", "a key that waited in line behind others is on time"},
        {"d", "d:b late d:b u:b", "88v ~66v 66^ 88^", "a late repeat keeps the replacement and lets go of the stray key"},
        {"l", "late d:lalt u:lalt", "~164v 232v 232^ 164^", "a late Alt is no tap, and no lone Alt either"},
        {"ls", "d:lalt t:600 d:lalt late d:lalt d:lalt d:c u:c u:lalt", "162v 162v ~164v 164^ 162v =67v =67^ 162^",
         "a late repeat of an Alt held as Ctrl: Ctrl+C stays Ctrl+C"},
        {"d", "blind d:q sight x iu:q d:q u:q", "~81v @81^ 222v 222^", "a kept key let go of by another program"},
        {"c", "d:caps d:lshift raw:0 u:lshift", "162^# 162v 162^# =160v 162^ =160^", "a release only raw input saw"},
        {"c", "d:caps u:caps t:10 d:caps raw:10 u:caps", "162^# 162v 162^# 162^ 162^# 162v 162^# 162^",
         "a raw release older than the press is not its"},
        {"c", "blind d:caps u:caps sight burst", "~20v ~20^ 20v 20^", "a burst of resets switches the lock once"},
        {"s", "d:lctrl blind u:lctrl sight burst d:lalt u:lalt", "164v ~162^ 164^ 162v 162^",
         "a release on its way is not the user's key"},
        {"c", "d:caps up x u:caps front", "162^# 162v 162^# ~20^ 162^", "nothing counts as let go behind an elevated window"},
        {"c", "d:caps blind x u:caps sight d:a", "162^# 162v 162^# 162^! ~20^ 162^ 65v", "refused, sent at the next key, which follows it"},
        {"d", "stall:700 d:b d:c", "~66v ~67v", "two presses handed on in one stall: neither is replaced"},
        {"d", "stall:500 d:b d:c", "~66v 74v", "the second one Windows still waited for is"},
        {"c", "late d:caps u:caps d:caps u:caps", "~20v 20^ 20v 20^ =20^ 162^# 162v 162^# 162^",
         "a late CapsLock is let go of and its lock switched back"},
        {"c", "d:caps id:caps iu:caps iraw:0 d:c", "162^# 162v 162^# @20v @20^ =67v", "raw input of injected keys lets go of nothing"},
        {"c", "blind d:caps u:caps sight d:caps x d:caps iraw:0 d:c",
         "~20v ~20^ 162^# 162v 162^# 162^ 20v 20^ 162^# 162v 162^# =67v", "not even the raw release of a reset's lock-off"},
        {"ls", "unk x d:lalt t:100 d:c u:c u:lalt", "162v 67v 67^ 162^", "a front window we cannot query: a key finishes the reset"},
    });
}

TEST(HookGate, CodesMasksAndInjectedEvents)
{
    StartEngine("csld");
    HookKeyEvent caps = PhysicalEvent(WM_KEYDOWN, VK_CAPITAL);
    caps.code = HC_NOREMOVE;
    EXPECT_EQ(RemapKeyEvent(caps), Pass) << "HC_NOREMOVE passes unread";
    caps.code = -1;
    EXPECT_EQ(RemapKeyEvent(caps), Pass) << "negative codes pass unread";

    HookKeyEvent masked = PhysicalEvent(WM_KEYDOWN, 'Q');
    masked.dwExtraInfo = SELF_MASK_TAG;
    EXPECT_EQ(RemapKeyEvent(masked), Swallow) << "a physical key that happens to carry the tag is judged as any";
    EXPECT_EQ(injected_keys.size(), 1u);
    injected_keys.clear();
    masked.vkCode = VK_LMENU;
    masked.flags = LLKHF_INJECTED;
    EXPECT_EQ(RemapKeyEvent(masked), Swallow) << "an injected key with the tag is dropped";
    if constexpr (sizeof(uintptr_t) == 8) {
        masked.dwExtraInfo = static_cast<uintptr_t>(0x100000000ull + SELF_MASK_TAG);
        EXPECT_EQ(RemapKeyEvent(masked), Pass) << "the tag is compared as the whole pointer-sized value";
    }

    for (uint32_t vk : {uint32_t{'Q'}, uint32_t{VK_CAPITAL}, uint32_t{VK_LMENU}, uint32_t{VK_RCONTROL}}) {
        for (uintptr_t message : {uintptr_t{WM_KEYDOWN}, uintptr_t{WM_KEYUP}}) {
            HookKeyEvent foreign = PhysicalEvent(message, vk);
            foreign.flags = LLKHF_INJECTED;
            foreign.dwExtraInfo = 7;
            EXPECT_EQ(RemapKeyEvent(foreign), Pass) << "another program's key " << vk;
        }
    }
    EXPECT_TRUE(injected_keys.empty());
    EXPECT_EQ(alt_tap_left.pressed + alt_tap_right.pressed, 0) << "no Alt-tap record was driven by injected keys";
    // LowLevelHooksTimeout unset, short, at Windows' cap and above it.
    for (auto [setting, ms] : {std::pair{0u, 300u}, {200u, 200u}, {1000u, 1000u}, {5000u, 1000u}}) {
        EXPECT_EQ(LateHookLimitMs(setting), ms) << setting;
    }
    EXPECT_EQ(PendingHoldTimers(), 0u);
}

TEST(ApplyOptions, CopiesSwitchesAndPicksModifiers)
{
    StartEngine("");
    RemapSettings settings{};
    settings.swap_alt_for_ctrl = 1;
    settings.send_lang = 1;
    settings.use_dvorak = 1;
    alt_tap_left.pressed = 1;
    alt_tap_left.timer_id = 9;
    EXPECT_EQ(&ApplyOptions(settings), &settings) << "returns the record it was given";
    EXPECT_EQ(RemapOptions.swap_alt_for_ctrl + RemapOptions.send_lang + RemapOptions.use_dvorak, 3);
    EXPECT_EQ(RemapOptions.capslock_to_ctrl, 0);
    EXPECT_EQ(alt_tap_left.modifier_key, VK_LCONTROL);
    EXPECT_EQ(alt_tap_right.modifier_key, VK_RCONTROL);
    EXPECT_EQ(alt_tap_left.timer_id, 9u) << "a switch change leaves a tap in progress alone";
    settings.swap_alt_for_ctrl = 0;
    settings.send_lang = 0;
    ApplyOptions(settings);
    EXPECT_EQ(alt_tap_left.timer_id, 0u) << "with the Alt-tap switch off, a pending tap is no tap";
    EXPECT_EQ(alt_tap_left.modifier_key, VK_LMENU);
    EXPECT_EQ(alt_tap_right.modifier_key, VK_RMENU);
    EXPECT_EQ(alt_tap_left.ime_key, VK_IME_OFF);
    EXPECT_EQ(alt_tap_right.ime_key, VK_IME_ON);
}

// Each injected event comes back through the hook: tagged ones are dropped,
// the rest pass untouched and never reach a rule or the Alt-tap switch.
TEST(Loopback, InjectedEventsComeBackHarmless)
{
    const char* scripts[] = {
        "d:caps d:c u:c u:caps", "d:lctrl u:lctrl d:ralt u:ralt", "d:lalt u:lalt d:ralt t:600 u:ralt",
        "d:lalt d:q u:q u:lalt", "d:caps d:caps u:caps d:e u:e",
    };
    for (const char* options : {"c", "s", "l", "d", "csld", "sl", "cd"}) {
        for (const char* script : scripts) {
            RunRemapScript(options, script);
            const std::vector<InjectedKey> sent = injected_keys;
            const AltTapState left = alt_tap_left;
            const AltTapState right = alt_tap_right;
            for (const InjectedKey& key : sent) {
                HookKeyEvent back = PhysicalEvent(key.down ? WM_KEYDOWN : WM_KEYUP, key.vk);
                back.flags = LLKHF_INJECTED;
                back.dwExtraInfo = key.tag;
                EXPECT_EQ(RemapKeyEvent(back), key.tag == SELF_MASK_TAG ? Swallow : Pass)
                    << FormatInjected(key) << " under \"" << options << "\": " << script;
            }
            EXPECT_EQ(injected_keys.size(), sent.size()) << "nothing injected on the way back";
            EXPECT_EQ(alt_tap_left.pressed, left.pressed);
            EXPECT_EQ(alt_tap_left.interrupted, left.interrupted);
            EXPECT_EQ(alt_tap_right.pressed, right.pressed);
            EXPECT_EQ(alt_tap_right.interrupted, right.interrupted);
        }
    }
}

TEST(Injection, ScanCodesTheToggleAndTheForeground)
{
    StartEngine("l");
    RemapKeyEvent(PhysicalEvent(WM_KEYDOWN, VK_LMENU));
    HookKeyEvent arrow = PhysicalEvent(WM_KEYDOWN, 0x27);
    arrow.scanCode = 0x4D;
    arrow.flags = LLKHF_EXTENDED;
    EXPECT_EQ(RemapKeyEvent(arrow), Swallow);
    arrow.message = WM_KEYUP;
    EXPECT_EQ(RemapKeyEvent(arrow), Swallow) << "held back, then a chord";
    ASSERT_EQ(injected_keys.size(), 3u);
    EXPECT_EQ(injected_keys[0].scan, 0u) << "the engine's own Alt takes the layout's scan code";
    EXPECT_EQ(injected_keys[1].scan, 0xE04Du) << "Right sent again stays the extended arrow, not numeric 6";

    for (const char* options : {"c", "sld"}) {
        for (bool toggled : {true, false}) {
            StartEngine(options);
            caps_lock_on = toggled;
            ResetEngine();
            std::string sent;
            for (const InjectedKey& key : injected_keys) {
                sent += FormatInjected(key) + " ";
            }
            EXPECT_EQ(sent, toggled && options[0] == 'c' ? "20v 20^ " : "") << options << " toggled " << toggled;
        }
    }

    // Levels as Windows numbers them: medium, high, low; ours is medium. A
    // process gone before it was asked changes nothing either way.
    // Our own window may hide keys from our hook too, but takes our
    // injections: blind, not elevated.
    const uint32_t focus[] = {0x2000,       0x3000, 0x3000,      0x2000,       0x2000, UNKNOWN_INTEGRITY,
                              0x1000,       0x2000, 0x3000,      PROCESS_GONE, 0x2000, PROCESS_GONE,
                              0x2000,       OWN_PROCESS, 0x2000, OWN_PROCESS,  0x3000, 0x2000};
    const bool releases[] = {false, false, false, true,  false, false, true,  false, false,
                             false, true,  false, false, false, true,  false, false, true};
    uint32_t in_front = 0x2000;
    for (size_t i = 0; i < std::size(focus); ++i) {
        EXPECT_EQ(ForegroundReturnsToSight(focus[i], 0x2000), releases[i]) << "foreground change " << i;
        in_front = focus[i] == PROCESS_GONE ? in_front : focus[i];
        EXPECT_EQ(ForegroundElevated(), in_front != OWN_PROCESS && in_front > 0x2000) << "foreground change " << i;
    }
}

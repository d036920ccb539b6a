#include <gtest/gtest.h>

#include "remap/alt_tap.h"
#include "remap/win_keys.h"
#include "tests/fake_platform.h"
#include "tests/remap_cases.h"

// One case per transition of a record; "a" stands for any other key.
TEST(AltTapTransitions, FromIdle)
{
    RunCases({
        {"l", "d:lalt", "", "key-down starts the hold timer and injects nothing"},
        {"l", "u:lalt", "=164^", "a key-up with no press heard passes as it is"},
        {"l", "d:a u:a", "=65v =65^", "other keys leave an idle record alone"},
    });
}

TEST(AltTapTransitions, FromTapPending)
{
    RunCases({
        {"l", "d:lalt t:300 d:lalt t:199 u:lalt", "26v 26^", "auto-repeat does not restart the hold time"},
        {"l", "d:lalt t:300 d:lalt t:200", "164v", "the hold counts from the first key-down"},
        {"l", "d:ralt t:499 u:ralt", "22v 22^", "a release inside the hold time is a tap"},
        {"l", "d:lalt d:a u:a u:lalt", "164v 65v =65^ 164^", "another key combines: modifier first, then the key again"},
        {"l", "d:a d:ralt u:a u:ralt", "=65v =65^ 22v 22^", "a key rolled into the tap: its release changes nothing"},
        {"l", "d:lalt id:65 iu:65 u:lalt", "164v 65v@7 @65^ 164^", "another program's key: Alt, then the key with its extra info"},
        {"l", "d:lalt late d:b u:lalt u:b", "~66v 164v 164^ =66^", "a key handed on late still counts as pressed"},
        {"l", "d:lalt t:500 u:lalt", "164v 164^", "expiry makes a hold"},
    });
}

TEST(AltTapTransitions, FromHeld)
{
    RunCases({
        {"l", "d:lalt t:500 d:lalt d:lalt u:lalt", "164v 164v 164v 164^", "each auto-repeat is one more modifier down"},
        {"l", "d:ralt t:700 u:ralt", "165v 165^", "release sends one modifier up"},
        {"l", "d:lalt t:600 d:a u:lalt", "164v =65v 164^", "another key adds nothing"},
    });
}

TEST(AltTapTransitions, FromCombined)
{
    RunCases({
        {"l", "d:lalt d:a d:lalt u:lalt", "164v 65v 164v 164^", "auto-repeat is one more modifier down"},
        {"l", "d:lalt d:a d:b u:b u:lalt", "164v 65v =66v =66^ 164^", "more keys add nothing"},
        {"l", "d:lalt d:a u:a u:lalt d:lalt u:lalt", "164v 65v =65^ 164^ 26v 26^",
         "the key-up clears both flags, so the next lone tap is a tap"},
        {"l", "d:lalt d:a t:1000 u:lalt", "164v 65v 164^", "no timer is left to fire after a combine"},
    });
}

// Alt+click, Ctrl+click (Alt as Ctrl), Alt+wheel and Alt+drag keep their
// modifier, and a Shift, Ctrl or Windows key already down makes the Alt a
// modifier from its press (Alt+Shift switches input languages).
TEST(AltTapCombinations, MouseAndOtherModifiers)
{
    RunCases({
        {"l", "d:lalt t:100 c:l cu:l u:lalt", "164v Lv ~L^ 164^", "a click: the Alt first, the click sent again behind it"},
        {"ls", "d:lalt c:l mv cu:l u:lalt", "162v Lv ~mv ~L^ 162^", "Ctrl+click with the swap; the mouse is let go then"},
        {"l", "d:ralt w:120 hw:-120 u:ralt", "165v W120 ~H-120 165^", "the wheel turns"},
        {"l", "d:lalt c:x2 cu:x2 c:m u:lalt", "164v X2v ~X2^ ~Mv 164^", "a side button, then no hook"},
        {"l", "d:lalt mv t:100 u:lalt mv", "=mv 26v 26^ ~mv", "a move alone leaves the tap a tap"},
        {"l", "d:lalt t:600 c:r cu:r u:lalt", "164v ~Rv ~R^ 164^", "a click after the hold: untouched"},
        {"s", "d:lalt c:l cu:l u:lalt", "162v ~Lv ~L^ 162^", "without the Alt-tap switch no mouse hook"},
        {"l", "d:lshift d:lalt u:lalt u:lshift", "=160v 164v 164^ =160^", "Shift held: Alt+Shift, no IME key"},
        {"l", "d:rctrl d:lalt u:lalt u:rctrl", "=163v 164v 164^ =163^", "Ctrl held: no IME key"},
        {"ls", "d:ralt t:600 d:lalt u:lalt u:ralt", "163v 162v 162^ 163^", "the other Alt held as Ctrl counts"},
        {"cl", "d:caps d:ralt u:ralt u:caps", "162^# 162v 162^# 165v 165^ 162^", "CapsLock as Ctrl held counts"},
        {"l", "d:91 d:lalt u:lalt u:91 d:lalt u:lalt", "=91v 164v 164^ =91^ 26v 26^", "a Windows key held, then alone"},
        {"ls", "c:l d:lalt t:300 cu:l u:lalt", "~Lv 162v ~L^ 162^", "a button held at the press: the drop gets Ctrl"},
        {"l", "nomouse d:lalt c:l cu:l u:lalt", "164v ~Lv ~L^ 164^", "no mouse hook: the Alt is its modifier at once"},
        {"l", "d:lalt above c:l cu:l u:lalt", "164v Lv! =Lv ~L^ 164^", "a click that cannot be sent again passes; still Alt"},
    });
}

// A pen or touch tap may come flagged injected; only Windows' pen signature
// tells it from another program's click, which passes.
TEST(AltTapCombinations, PenAndTouchCountAsClicks)
{
    for (uintptr_t extra : {uintptr_t{0xFF515780}, uintptr_t{0xFF515700}, uintptr_t{7}}) {
        RunRemapScript("l", "d:lalt");
        const HookVerdict verdict = AltTapMouseEvent({WM_LBUTTONDOWN, LLMHF_INJECTED, extra, 0, false});
        EXPECT_EQ(verdict, extra == 7 ? Pass : Swallow) << std::hex << extra;
        EXPECT_EQ(alt_tap_left.interrupted, extra == 7 ? 0 : 1) << std::hex << extra;
        EXPECT_EQ(injected_keys.empty() ? 7 : injected_keys.back().extra, extra) << "sent again with its pen mark";
    }
}

TEST(AltTapSequences, WorkedExamples)
{
    RunCases({
        {"l", "d:lalt t:200 u:lalt", "26v 26^", "a lone left tap"},
        {"l", "d:ralt t:100 d:f u:f u:ralt", "165v 70v =70^ 165^", "right Alt combined with F"},
        {"ls", "d:lalt t:200 d:lalt t:200 d:lalt t:100 d:lalt t:100 d:lalt u:lalt",
         "162v 162v 162v 162^", "held 1.2 s with the swap: Ctrl at 500 ms, then per repeat"},
        {"l", "d:lalt t:100 d:ralt t:100 u:ralt u:lalt", "164v 22v 22^ 164^",
         "the other Alt interrupts the first side and can still tap"},
    });
}

TEST(AltTapFailures, TimerThatCannotStart)
{
    RunCases({
        {"l", "fail d:lalt u:lalt", "26v 26^", "no timer: a quick tap is still a tap"},
        {"l", "fail d:lalt d:a u:a u:lalt", "164v 65v =65^ 164^", "no timer: a combined key still gets its Alt"},
        {"l", "fail d:lalt t:300 d:lalt t:300 d:lalt u:lalt", "164v 164^", "no timer: the repeat past the hold presses it"},
        {"l", "d:lalt busy:700 u:lalt", "164v 164^", "a busy thread's late timer: the event times tell a hold"},
    });
}

TEST(AltTapTimer, ExpiryOfNoPendingPressIsIgnored)
{
    StartEngine("l");
    AltTapTimerProc(nullptr, WM_TIMER, 12345, 0);
    EXPECT_TRUE(injected_keys.empty()) << "a stale timer must not press a modifier nobody releases";
    RunRemapScript("l", "d:ralt");
    AltTapTimerProc(nullptr, WM_TIMER, alt_tap_right.timer_id, 0);
    ASSERT_EQ(injected_keys.size(), 1u);
    EXPECT_EQ(FormatInjected(injected_keys[0]), "165v") << "the right side's own timer still works";
    EXPECT_EQ(PendingHoldTimers(), 0u);
}

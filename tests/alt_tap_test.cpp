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
        {"l", "d:lalt d:a u:a u:lalt", "164v 65v 65^ 164^", "a key let go of inside the tap: a chord, modifier first"},
        {"l", "d:a d:ralt u:a u:ralt", "=65v =65^ 22v 22^", "a key rolled into the tap: its release changes nothing"},
        {"l", "d:lalt id:65 iu:65 u:lalt", "164v 65v@7 @65^ 164^", "another program's key: Alt, then the key with its extra info"},
        {"l", "d:lalt late d:b u:lalt u:b", "~66v 164v 232v 232^ 164^ =66^", "a key handed on late still counts as pressed; the Alt after it is masked"},
        {"l", "d:lalt t:500 u:lalt", "164v 232v 232^ 164^", "expiry makes a hold; held alone it is masked"},
        {"l", "d:lalt t:100 d:ralt u:lalt t:50 u:ralt", "164v 232v 232^ 164^ 22v 22^", "overlapping Alts: no lone Alt"},
        {"l", "d:lalt ip:65 u:lalt", "164v 65v@7 65^@7 164^", "another program's press and release in one call"},
        {"l", "d:lalt ic:r t:100 c:l cu:l u:lalt", "164v Rv R^ ~Lv ~L^ 164^", "another program's click counts as its key"},
    });
}

// A key pressed while the tap is pending is held back; the first of these
// decides: its release (a chord), the Alt's release (a tap, then the key),
// the hold time, its repeat, 200 ms of it, another press, a reset.
TEST(AltTapTransitions, KeyHeldBack)
{
    RunCases({
        {"l", "d:ralt t:60 d:k t:30 u:ralt t:20 u:k", "22v 22^ 75v =75^", "rolled out: IME on, then k without Alt"},
        {"ls", "d:ralt t:60 d:s t:30 u:ralt t:20 u:s", "22v 22^ 83v =83^", "rolled out with the swap: no Ctrl+S"},
        {"ls", "d:lalt d:c u:c u:lalt", "162v 67v 67^ 162^", "nested with the swap: Ctrl+C"},
        {"l", "d:lalt t:400 d:k t:100 u:k u:lalt", "164v 75v =75^ 164^", "the hold time: the modifier, then the key"},
        {"l", "d:lalt t:50 d:09 t:200 u:lalt u:09", "164v 9v 164^ =9^", "held 200 ms: Alt+Tab's switcher shows"},
        {"l", "d:lalt d:k d:k u:k u:lalt", "164v 75v 75v =75^ 164^", "its own auto-repeat"},
        {"ld", "d:lalt d:k d:j u:k u:j u:lalt", "164v 84v 72v 84^ 72^ 164^", "another press, each key by its rule"},
        {"l", "d:lalt d:k c:l cu:l u:k u:lalt", "164v 75v Lv ~L^ =75^ 164^", "a click: the key goes before it"},
        {"l", "d:lalt d:k x u:k u:lalt", "164v 75v 75^ 164^ =75^", "a reset: never lost, never stuck"},
        {"l", "d:lalt d:k o:ld u:k u:lalt", "164v 75v =75^ 164^", "a switch change: the rules it was pressed under"},
        {"l", "d:lalt d:k late u:k u:lalt", "~75^ 164v 75v 75^ 164^", "a late release follows its press"},
        {"", "d:ralt o:sl d:lalt d:rctrl up u:rctrl u:lalt u:ralt front", "=165v ~163^ ~164^ ~165^ 162v 165v 165^ 162^",
         "a reset: the swapped Ctrl's Alt goes up though the right Alt it shared was let go of unseen"},
    });
}

TEST(AltTapTransitions, FromHeld)
{
    RunCases({
        {"l", "d:lalt t:500 d:lalt d:lalt u:lalt", "164v 164v 164v 232v 232^ 164^", "each auto-repeat is one more modifier down"},
        {"l", "d:ralt t:700 u:ralt", "165v 232v 232^ 165^", "release sends one modifier up, behind the mask"},
        {"l", "d:lalt t:600 d:a u:lalt", "164v =65v 164^", "another key adds nothing"},
    });
}

TEST(AltTapTransitions, FromCombined)
{
    RunCases({
        {"l", "d:lalt d:a u:a d:lalt u:lalt", "164v 65v 65^ 164v 232v 232^ 164^", "auto-repeat is one more modifier down"},
        {"l", "d:lalt d:a d:b u:b u:lalt", "164v 65v 66v =66^ 164^", "another press: the modifier, the key held back, then it"},
        {"l", "d:lalt d:a u:a u:lalt d:lalt u:lalt", "164v 65v 65^ 164^ 26v 26^",
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
        {"l", "d:lalt t:600 c:r cu:r u:lalt", "164v ~Rv ~R^ 232v 232^ 164^", "a click after the hold: untouched"},
        {"s", "d:lalt c:l cu:l u:lalt", "162v ~Lv ~L^ 162^", "without the Alt-tap switch no mouse hook"},
        {"l", "d:lshift d:lalt u:lalt u:lshift", "=160v 164v 164^ =160^", "Shift held: Alt+Shift, no IME key"},
        {"l", "d:lshift t:30 d:ralt t:20 u:lshift t:50 u:ralt", "=160v =160^ 22v 22^", "a Shift rolled into the tap"},
        {"l", "d:lalt d:lshift u:lshift u:lalt", "164v 160v 160^ 164^", "Alt+Shift nested stays a chord"},
        {"l", "d:lshift d:lalt t:600 u:lalt u:lshift", "=160v 164v 164^ =160^", "held with Shift: no mask"},
        {"l", "d:rctrl d:lalt u:lalt u:rctrl", "=163v 164v 164^ =163^", "Ctrl held: no IME key"},
        {"ls", "d:ralt t:600 d:lalt u:lalt u:ralt", "163v 162v 162^ 163^", "the other Alt held as Ctrl counts"},
        {"cl", "d:caps d:ralt u:ralt u:caps", "162^# 162v 162^# 165v 165^ 162^", "CapsLock as Ctrl held counts"},
        {"l", "d:91 d:lalt u:lalt u:91 d:lalt u:lalt", "=91v 164v 164^ =91^ 26v 26^", "a Windows key held, then alone"},
        {"ls", "c:l d:lalt t:300 cu:l u:lalt", "~Lv 162v ~L^ 162^", "a button held at the press: the drop gets Ctrl"},
        {"l", "nomouse d:lalt c:l cu:l u:lalt", "164v ~Lv ~L^ 232v 232^ 164^", "no mouse hook: the Alt is its modifier at once"},
        {"l", "d:lalt above c:l cu:l u:lalt", "164v Lv! =Lv ~L^ 164^", "a click that cannot be sent again passes; still Alt"},
    });
}

// A pen or touch tap may come flagged injected, with Windows' pen
// signature; another program's click counts like its key: all of them
// make the Alt a modifier, and are sent again behind it with their mark.
TEST(AltTapCombinations, PenTouchAndOtherProgramsClicksCount)
{
    for (uintptr_t extra : {uintptr_t{0xFF515780}, uintptr_t{0xFF515700}, uintptr_t{7}}) {
        RunRemapScript("l", "d:lalt");
        EXPECT_EQ(RemapMouseEvent({WM_LBUTTONDOWN, LLMHF_INJECTED, extra, 0, false}), Swallow) << std::hex << extra;
        EXPECT_EQ(alt_tap_left.interrupted, 1) << std::hex << extra;
        EXPECT_EQ(injected_keys.back().extra, extra) << "sent again with its mark";
    }
}

TEST(AltTapSequences, WorkedExamples)
{
    RunCases({
        {"l", "d:lalt t:200 u:lalt", "26v 26^", "a lone left tap"},
        {"l", "d:ralt t:100 d:f u:f u:ralt", "165v 70v 70^ 165^", "right Alt combined with F"},
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
        {"l", "fail d:lalt d:a u:a u:lalt", "164v 65v 65^ 164^", "no timer: a combined key still gets its Alt"},
        {"l", "fail d:lalt t:300 d:lalt t:300 d:lalt u:lalt", "164v 232v 232^ 164^", "no timer: the repeat past the hold presses it"},
        {"l", "d:lalt busy:700 u:lalt", "164v 232v 232^ 164^", "a busy thread's late timer: the event times tell a hold"},
    });
}

TEST(AltTapTimer, ExpiryOfNoPendingPressIsIgnored)
{
    StartEngine("l");
    HoldTimerExpired(12345);
    EXPECT_TRUE(injected_keys.empty()) << "a stale timer must not press a modifier nobody releases";
    RunRemapScript("l", "d:ralt");
    HoldTimerExpired(alt_tap_right.timer_id);
    ASSERT_EQ(injected_keys.size(), 1u);
    EXPECT_EQ(FormatInjected(injected_keys[0]), "165v") << "the right side's own timer still works";
    EXPECT_EQ(PendingHoldTimers(), 0u);
}

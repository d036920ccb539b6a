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
        {"l", "d:lshift d:lalt u:lshift u:lalt", "=160v 164v 160^ 164^", "another key's release combines too"},
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
        {"l", "fail d:lalt u:lalt", "164^", "no timer: a quick tap is a lone modifier up, no IME key"},
        {"l", "fail d:lalt d:lalt u:lalt", "164v 164^", "no timer: repeats press the modifier"},
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

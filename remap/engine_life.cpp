#include "remap/engine_life.h"

EngineAction DecideSessionChange(uintptr_t event)
{
    switch (event) {
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
    case WTS_SESSION_LOCK:
        return EngineReset;
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
    case WTS_SESSION_UNLOCK:
        return EngineResetRearm;
    default:
        return EngineNothing;
    }
}

EngineAction DecidePowerEvent(uintptr_t event)
{
    return event == PBT_APMRESUMEAUTOMATIC ? EngineResetRearm : EngineNothing;
}

namespace {

// Whether the hook's last event came no earlier than the raw one, give or
// take the slack.
bool SeenByHook(uint32_t hook_time, uint32_t raw_time)
{
    return static_cast<int32_t>(hook_time - raw_time) >= -static_cast<int32_t>(HOOK_WATCH_SLACK_MS);
}

}  // namespace

HookWatchAction WatchRawKey(HookWatch& watch, uint32_t raw_time, uintptr_t input_code, uint32_t hook_time,
                            uint32_t now, bool foreground_blind)
{
    if (static_cast<int32_t>(raw_time - now) > 0) {
        raw_time = now;
    }
    // With our own window in front, Windows may not call our own hook at all.
    if (input_code == RIM_INPUT || foreground_blind || SeenByHook(hook_time, raw_time)) {
        return HookWatchNothing;
    }
    watch.raw_time = raw_time;
    if (watch.armed) {
        return HookWatchNothing;
    }
    watch.armed = true;
    watch.armed_time = raw_time;
    return HookWatchArm;
}

HookWatchAction WatchTimerFired(HookWatch& watch, uint32_t hook_time, bool foreground_blind)
{
    if (!foreground_blind && !SeenByHook(hook_time, watch.armed_time)) {
        watch.armed = false;
        const bool silent_since = watch.rearms > 0 && hook_time == watch.rearm_stamp;
        watch.rearms_in_row = silent_since ? watch.rearms_in_row + 1 : 1;
        ++watch.rearms;
        return HookWatchRearm;
    }
    if (!foreground_blind && !SeenByHook(hook_time, watch.raw_time)) {
        watch.armed_time = watch.raw_time;
        return HookWatchArm;
    }
    watch.armed = false;
    return HookWatchNothing;
}

void WatchRearmed(HookWatch& watch, uint32_t hook_time)
{
    watch.rearm_stamp = hook_time;
}

uint32_t HookWatchPeriod(const HookWatch& watch, uint32_t hook_time)
{
    uint32_t period = HOOK_WATCH_MS;
    if (watch.rearms > 0 && hook_time == watch.rearm_stamp) {
        for (uint32_t n = HOOK_WATCH_BACK_OFF_AFTER; n <= watch.rearms_in_row && period < HOOK_WATCH_LONGEST_MS; ++n) {
            period *= 2;
        }
    }
    return period < HOOK_WATCH_LONGEST_MS ? period : HOOK_WATCH_LONGEST_MS;
}

SessionWatchAction DecideSessionWatch(uint32_t error, uint32_t attempt)
{
    return error == RPC_S_INVALID_BINDING && attempt < SESSION_WATCH_ATTEMPTS ? SessionWatchWaitForService
                                                                              : SessionWatchDone;
}


// Cost of the hook's decision per key event, and per mouse event while an
// Alt tap is pending, with a platform seam that only counts. Run under
// callgrind by bench/instructions.sh for instruction counts; `remap_calls`
// and `mouse_calls` let it divide the cost by the number of events judged.
#include <cstdio>

#include <benchmark/benchmark.h>

#include "remap/alt_tap.h"
#include "remap/keyboard_hook.h"
#include "remap/remap_options.h"
#include "remap/win_keys.h"

namespace {

unsigned long long injected_count;
unsigned long long remap_calls;
unsigned long long mouse_calls;

const uintptr_t WM_LBUTTONUP_MESSAGE = 0x0202;

void UseOptions(int caps, int swap, int lang, int dvorak)
{
    AltTapInit();
    RemapSettings settings{};
    settings.capslock_to_ctrl = caps;
    settings.swap_alt_for_ctrl = swap;
    settings.send_lang = lang;
    settings.use_dvorak = dvorak;
    ApplyOptions(settings);
}

HookVerdict Judge(uintptr_t message, uint32_t vk)
{
    ++remap_calls;
    return RemapKeyEvent(HookKeyEvent{HC_ACTION, message, vk, 0, 0, 0, 0, 0, 0});
}

void PassThrough(benchmark::State& state)
{
    UseOptions(0, 0, 0, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Judge(WM_KEYDOWN, 'J'));
    }
}

void Dvorak(benchmark::State& state)
{
    UseOptions(0, 0, 0, 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Judge(WM_KEYDOWN, 'J'));
    }
}

// The users' everyday setting with no Alt tap pending: a letter passes as
// it would with the Alt-tap switch off.
void LetterNoTapPending(benchmark::State& state)
{
    UseOptions(1, 1, 1, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Judge(WM_KEYDOWN, 'J'));
    }
}

void CapsLockPress(benchmark::State& state)
{
    UseOptions(1, 0, 0, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Judge(WM_KEYDOWN, VK_CAPITAL));
    }
}

// One lone tap of left Alt: press (starts the hold timer), release (IME off).
void AltTap(benchmark::State& state)
{
    UseOptions(0, 0, 1, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Judge(WM_SYSKEYDOWN, VK_LMENU));
        benchmark::DoNotOptimize(Judge(WM_KEYUP, VK_LMENU));
    }
}

// Mouse events that pass while a left Alt tap is pending, the only time the
// mouse hook is installed: a move, and a button release.
void PendingTapMouse(benchmark::State& state, uintptr_t message)
{
    UseOptions(0, 0, 1, 0);
    Judge(WM_SYSKEYDOWN, VK_LMENU);
    for (auto _ : state) {
        ++mouse_calls;
        benchmark::DoNotOptimize(RemapMouseEvent({message, 0, 0, 0, false}));
    }
}

void MouseMove(benchmark::State& state)
{
    PendingTapMouse(state, WM_MOUSEMOVE);
}

void ButtonRelease(benchmark::State& state)
{
    PendingTapMouse(state, WM_LBUTTONUP_MESSAGE);
}

// A long run of mixed typing with every switch on: the cost per event must
// not depend on how many events came before.
void Stream(benchmark::State& state)
{
    static const uint32_t keys[] = {'J', 'K', VK_CAPITAL, 'C', VK_LMENU, 'A', VK_OEM_1, '1', VK_LSHIFT, 'Q'};
    const long long events = state.range(0);
    for (auto _ : state) {
        UseOptions(1, 1, 1, 1);
        for (long long i = 0; i < events; i += 2) {
            const uint32_t vk = keys[(i / 2) % (sizeof keys / sizeof keys[0])];
            benchmark::DoNotOptimize(Judge(WM_KEYDOWN, vk));
            benchmark::DoNotOptimize(Judge(WM_KEYUP, vk));
        }
    }
    state.SetItemsProcessed(state.iterations() * events);
}

}  // namespace

unsigned SendKeyInput(uint16_t, int, uintptr_t, uint32_t)
{
    ++injected_count;
    return 1;
}

bool SystemKeyDown(uint16_t)
{
    return false;
}

bool SystemKeyToggled(uint16_t)
{
    return false;
}

uint32_t TickCount()
{
    return 0;
}

uintptr_t StartHoldTimer(unsigned)
{
    return 1;
}

void CancelHoldTimer(uintptr_t)
{
}

bool WatchMouse(bool)
{
    return true;
}

unsigned SendMouseInput(uintptr_t, uint32_t, uintptr_t)
{
    return 1;
}


BENCHMARK(PassThrough);
BENCHMARK(Dvorak);
BENCHMARK(LetterNoTapPending);
BENCHMARK(CapsLockPress);
BENCHMARK(AltTap);
BENCHMARK(MouseMove);
BENCHMARK(ButtonRelease);
BENCHMARK(Stream)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("RemapKeyEvent calls: %llu\nRemapMouseEvent calls: %llu\ninjected events: %llu\n", remap_calls,
                mouse_calls, injected_count);
    return 0;
}

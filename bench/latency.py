#!/usr/bin/python3
"""Latency that a remapper adds under Wine, side by side in one run.

Physical J keys go in through XTEST; the end-to-end suite's key probe, whose
hook runs first in the chain, stamps each physical press, and its focused
window stamps the key press it receives (J, or H where a remapper replaced
it). Three setups take turns: no remapper; the yardstick (a bare hook that
swallows J and injects H with one SendInput); lumbrix.exe with Dvorak on,
where J becomes H. Prints the median of each and the ratio Lumbrix/yardstick.

Usage: latency.py --lumbrix EXE --probe EXE --yardstick EXE [--keys N]
"""

import argparse
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from e2e_harness import Hook, Msg, is_injected  # noqa: E402
from run_e2e import Session, setting_text  # noqa: E402

J_KEYCODE = 44  # evdev
VK_H, VK_J = 0x48, 0x4A
ROUNDS = 2
GAP_S = 0.03


def type_j(session, count):
    """Presses and releases J `count` times; returns the probe's records."""
    mark = session.probe.mark()
    for _ in range(count):
        session.display.key(J_KEYCODE, True)
        time.sleep(GAP_S)
        session.display.key(J_KEYCODE, False)
        time.sleep(GAP_S)
    time.sleep(0.5)
    return session.probe.since(mark)


def latencies(records, frequency):
    """Milliseconds from each physical J press in the hook to the next key
    press that the window received."""
    result = []
    pending = None
    for record in records:
        if isinstance(record, Hook) and record.vk == VK_J and record.message == 0x100 and not is_injected(record):
            pending = record
        elif isinstance(record, Msg) and record.name == "keydown" and record.wparam in (VK_H, VK_J) and pending:
            result.append((record.qpc - pending.qpc) * 1000.0 / frequency)
            pending = None
    return result


def measure_none(session, count):
    session.start_probe()
    session.focus_probe()
    records = type_j(session, count)
    frequency = session.probe.frequency
    session.end_case()
    return latencies(records, frequency)


def measure_yardstick(session, yardstick, count):
    program = session.wine.start(session.wine.windows_path(yardstick))
    session.start_probe(after="LumbrixYardstick")
    session.focus_probe()
    records = type_j(session, count)
    frequency = session.probe.frequency
    session.end_case()
    session.wine.stop(program)
    return latencies(records, frequency)


def measure_lumbrix(session, count):
    program = session.launch(setting_text(dvorak=1), ["/hide"])
    records = type_j(session, count)
    frequency = session.probe.frequency
    session.end_case()
    session.wine.stop(program)
    return latencies(records, frequency)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lumbrix", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--yardstick", required=True)
    parser.add_argument("--keys", type=int, default=160, help="J presses per setup, over all rounds")
    options = parser.parse_args()
    yardstick = os.path.abspath(options.yardstick)

    out = "/tmp"
    # No window text is checked here: the version goes unused.
    session = Session(options.lumbrix, options.probe, None, out)
    results = {"none": [], "yardstick": [], "lumbrix": []}
    try:
        session.start()
        staged = session.wine.drive_c("yardstick_hook.exe")
        shutil.copy(yardstick, staged)
        per_round = (options.keys + ROUNDS - 1) // ROUNDS
        for _ in range(ROUNDS):
            results["none"] += measure_none(session, per_round)
            results["yardstick"] += measure_yardstick(session, staged, per_round)
            results["lumbrix"] += measure_lumbrix(session, per_round)
    finally:
        session.close()

    for name, values in results.items():
        if not values:
            print("%-10s no key arrived" % name)
            return 1
        print("%-10s %4d keys  median %.3f ms  (min %.3f, max %.3f)"
              % (name, len(values), statistics.median(values), min(values), max(values)))
    ratio = statistics.median(results["lumbrix"]) / statistics.median(results["yardstick"])
    print("lumbrix / yardstick: %.3f (goal at most 1.10)" % ratio)
    return 0


if __name__ == "__main__":
    sys.exit(main())

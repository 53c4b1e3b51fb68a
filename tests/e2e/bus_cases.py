#!/usr/bin/python3
"""End-to-end cases of the bus check: quennet-sim --can on Qt's virtual CAN bus, Orvale
--headless --can on the same bus and on the device's pseudo-terminal, the check read through
the control API's `bus` command and events. The rows must match while the vehicle moves, each
injected fault must show as the right state on the right row, a third sender must not disturb
the check, and the interface going away and coming back must be reported and recovered from.

    bus_cases.py --orvale build/dev/app/Orvale --sim build/dev/sim/quennet-sim \\
                 --reader build/dev/tests/bus/can_reader CASE

The virtual bus is one TCP port on localhost: these cases run one at a time (CTest's
virtualcan resource lock).
"""

import os
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "client"))
from e2e_harness import (  # noqa: E402 pylint: disable=wrong-import-position
    check, log, wait_until)
from api_cases import (  # noqa: E402 pylint: disable=wrong-import-position
    Headless, wait_engine_speed, wait_remote_control)
from can_cases import BUS, Reader, run_case  # noqa: E402 pylint: disable=wrong-import-position

# VI and FMS go out every 10 s: a row waits that long before its first frame can be judged.
SETTLE = 30.0
CLOCK = "yy/mm/dd/hr/min/sec"  # the date and time box


def rows_by_label(bus):
    return {row["label"]: row for row in bus["rows"]}


def all_match(bus):
    counts = bus["counts"]
    return (counts["mismatch"] == 0 and counts["missing"] == 0 and counts["match"] >= 80
            and counts["match"] + counts["not_modelled"] == len(bus["rows"]))


def disagreeing(bus):
    return [(row["label"], row["state"], row.get("difference")) for row in bus["rows"]
            if row["state"] in ("mismatch", "missing")]


def wait_all_match(orvale, what):
    wait_until(lambda: all_match(orvale.request("bus")), what, timeout=SETTLE,
               describe=lambda: (orvale.request("bus")["counts"],
                                 disagreeing(orvale.request("bus"))))


def wait_row(orvale, label, state, timeout=10.0):
    """Waits until the row of `label` is in `state`; returns it."""
    def row():
        found = rows_by_label(orvale.request("bus"))[label]
        return found if found["state"] == state else None
    return wait_until(row, f"{label!r} to be {state}", timeout=timeout,
                      describe=lambda: rows_by_label(orvale.request("bus"))[label])


def case_moving(args):
    """Every display the device sends matches the bus at rest and while the vehicle moves:
    no bus event reports a mismatch or a missing row as the position changes every 100 ms."""
    with Headless(args, sim_args=("--model", "15", "--can", BUS),
                  extra=["--can", BUS]) as run, run.connect() as orvale:
        wait_remote_control(orvale)
        bus = orvale.request("bus")
        check(bus["interface"] == BUS, f"interface {bus['interface']!r}")
        wait_all_match(orvale, "every display to match the bus")
        orvale.subscribe("bus")
        events = 0
        positions = list(range(0, 101, 4)) + list(range(100, -1, -7))
        for position in positions:
            orvale.request("set_position", position=position)
            deadline = time.monotonic() + 0.1
            while time.monotonic() < deadline:
                event = orvale.next_event(max(0.0, deadline - time.monotonic()))
                if event is None or event.get("event") != "bus":
                    continue
                events += 1
                check(event["counts"]["mismatch"] == 0 and event["counts"]["missing"] == 0,
                      f"at position {position} the check says {disagreeing(event)}")
        check(events >= 10, f"only {events} bus events while moving")
        log(f"moved through {len(positions)} positions: {events} bus events, no false alarm")
        for position in (0, 37, 100):
            orvale.request("set_position", position=position)
            wait_engine_speed(orvale, position)  # the window has taken it: nothing moves now
            def unlike_window():
                # The check takes the window's values at its next refresh (4 a second). The
                # clock moves on by itself, and has its own rule.
                shown = {d["label"]: d["value"] for d in orvale.request("parameters")}
                return [(row["label"], row["expected"], shown[row["label"]])
                        for row in orvale.request("bus")["rows"]
                        if row["label"] in shown and row["label"] != CLOCK
                        and row["expected"] != shown[row["label"]]]
            wait_until(lambda: not unlike_window(), "the check to expect what the window shows",
                       describe=unlike_window)
            wait_all_match(orvale, f"every display to match at position {position}")
            log(f"position {position}: every row matches, expected values as the window's")


def case_faults(args):
    """Each fault injected in the device shows as the right state on the right row, with how
    it differs, and goes away when the fault does."""
    with Headless(args, sim_args=("--model", "15", "--position", "60", "--can", BUS),
                  extra=["--can", BUS]) as run, run.connect() as orvale:
        device = run.device
        wait_remote_control(orvale)
        wait_all_match(orvale, "every display to match the bus")

        device.control("can-wrong Engine speed")
        row = wait_row(orvale, "Engine speed", "mismatch")
        check(row["difference"].endswith(" rpm"), f"the difference reads {row['difference']!r}")
        check(row["observed"] != row["expected"], f"observed {row['observed']!r}")
        check(orvale.request("bus")["counts"]["mismatch"] == 1,
              f"more than one mismatch: {disagreeing(orvale.request('bus'))}")
        device.control("can-wrong off")
        wait_row(orvale, "Engine speed", "match")

        # Fuel Level 1 and 2 go in DD1, once a second: missing after three periods.
        device.control("can-silence DD1")
        wait_row(orvale, "Fuel Level 1", "missing")
        wait_row(orvale, "Fuel Level 2", "missing")
        device.control("can-silence off")
        wait_row(orvale, "Fuel Level 1", "match")

        # The VIN's broadcast loses its second packet: counted as dropped, never read in part.
        dropped = orvale.request("bus")["bam_dropped"]
        device.control("can-drop-packet VI 2")
        wait_until(lambda: orvale.request("bus")["bam_dropped"] > dropped,
                   "a dropped broadcast", timeout=25.0,
                   describe=lambda: orvale.request("bus")["bam_dropped"])
        check(orvale.request("bus")["counts"]["mismatch"] == 0,
              f"a dropped broadcast made a mismatch: {disagreeing(orvale.request('bus'))}")
        device.control("can-drop-packet off")
        wait_all_match(orvale, "every display to match again")


def case_third_sender(args):
    """Frames of other senders on the same bus are counted apart and change nothing."""
    with Headless(args, sim_args=("--model", "15", "--position", "45", "--can", BUS,
                                  "--can-extra", "2000"),
                  extra=["--can", BUS]) as run, run.connect() as orvale:
        wait_remote_control(orvale)
        wait_all_match(orvale, "every display to match beside the third sender")
        first = orvale.request("bus")["other_senders"]
        wait_until(lambda: orvale.request("bus")["other_senders"] > first + 1000,
                   "frames of other senders to be counted",
                   describe=lambda: orvale.request("bus")["other_senders"])
        bus = orvale.request("bus")
        check(bus["frames_per_second"] > 1500, f"{bus['frames_per_second']} frames a second")
        check(all_match(bus), f"the third sender disturbed the check: {disagreeing(bus)}")
        log(f"{bus['frames_per_second']} frames/s, {bus['other_senders']} from other senders")


def case_interface_gone(args):
    """The interface goes away (the program that hosts Qt's virtual bus ends): Orvale says so
    once, on standard error and in the check's status, and once the bus is back (Orvale or the
    device hosts it now) every display matches again."""
    host = {}

    def reader_first(world):
        host["reader"] = Reader(world, args.reader)
        host["reader"].reset()  # it answers once it has opened the bus

    with Headless(args, sim_args=("--model", "15", "--position", "30", "--can", BUS),
                  extra=["--can", BUS], before=reader_first) as run, \
            run.connect() as orvale:
        wait_remote_control(orvale)
        wait_all_match(orvale, "every display to match the bus")
        host["reader"].process.terminate()
        host["reader"].process.wait(10)
        log("the program hosting the bus ended")

        def stderr():
            with open(run.world.path("orvale.log"), encoding="utf-8", errors="replace") as f:
                return f.read()
        wait_until(lambda: f"Orvale: CAN: {BUS} has gone" in stderr(),
                   "Orvale to say the interface has gone", describe=stderr)
        # Back within a second or two: Orvale or the device hosts the bus now.
        wait_until(lambda: f"Orvale: CAN: listening on {BUS}" in
                   stderr().split(f"{BUS} has gone", 1)[1], "Orvale to listen again",
                   describe=stderr)
        wait_all_match(orvale, "every display to match once the bus is back")
        check(stderr().count("has gone") == 1, f"the loss said more than once:\n{stderr()}")
        status = orvale.request("bus")["status"]
        check(status.startswith(f"listening on {BUS}"), f"the check's status: {status!r}")


CASES = {
    "moving": case_moving,
    "faults": case_faults,
    "third_sender": case_third_sender,
    "interface_gone": case_interface_gone,
}


def main():
    return run_case(CASES, "bus_", __doc__)


if __name__ == "__main__":
    sys.exit(main())

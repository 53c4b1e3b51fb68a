#!/usr/bin/python3
"""End-to-end cases of the simulated device on a CAN bus: quennet-sim --can on Qt's virtual CAN
bus (no kernel support needed), Orvale --headless reading the same device over its
pseudo-terminal, and can_reader, a reader of the bus that shares none of the sender's code.
What Orvale's control API says the window shows must be what the bus carries.

    can_cases.py --orvale build/dev/app/Orvale --sim build/dev/sim/quennet-sim \\
                 --reader build/dev/tests/bus/can_reader CASE

The virtual bus is one TCP port on localhost: these cases run one at a time (CTest's
virtualcan resource lock).
"""

import argparse
import json
import math
import os
import select
import signal
import subprocess
import sys
import time
import traceback

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "client"))
from orvale_client import OrvaleError  # noqa: E402 pylint: disable=wrong-import-position
from e2e_harness import (  # noqa: E402 pylint: disable=wrong-import-position
    DEADLINE, START, Failure, check, log, wait_until)
from api_cases import (  # noqa: E402 pylint: disable=wrong-import-position
    Headless, wait_engine_speed, wait_remote_control)

BUS = "virtualcan:can0"
# VI and FMS go out every 10 s: a full comparison may wait that long for them.
FULL_DEADLINE = 30.0
# The one display the device never puts on the bus (its bits carry "not available").
NOT_ON_BUS = {"PTO State"}
SIM_CAN_PREFIX = "quennet-sim: CAN: "


# --- the independent reader ----------------------------------------------------------------

class Reader:
    """can_reader --interactive on the bus: "reset" forgets what it read, "dump" tells it."""

    def __init__(self, world, reader, ignore=()):
        argv = [reader, BUS, "--interactive"]
        if ignore:
            argv += ["--ignore-source", ",".join(f"0x{a:02X}" for a in sorted(ignore))]
        self.process = world.spawn("reader" + ("-filtered" if ignore else ""), argv,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        log("reader: " + " ".join(argv[1:]))

    def _command(self, line):
        self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()
        ready, _, _ = select.select([self.process.stdout], [], [], DEADLINE)
        check(ready, f"can_reader did not answer {line!r}")
        answer = self.process.stdout.readline()
        check(answer, f"can_reader ended (status {self.process.poll()})")
        return json.loads(answer)

    def reset(self):
        check(self._command("reset") == {"reset": True}, "can_reader did not reset")

    def dump(self):
        return self._command("dump")

    def settle(self, group="EEC2", frames=20):
        """Forgets what came before a change of the device: reads until the transmitter has
        sent `frames` of `group` (it looks at the device many times meanwhile), then starts
        afresh."""
        self.reset()
        wait_until(lambda: self.dump()["groups"].get(group, 0) >= frames,
                   f"{frames} frames of {group} on the bus", describe=self.dump)
        self.reset()


# --- what the window shows against what the bus carries ------------------------------------

def code_of_text(text):
    """The leading bits of a status box: "01=Card present" -> "01"."""
    return text.split("=", 1)[0]


def compare(display, field):
    """Why `display` (one entry of the API's "parameters") does not match `field` (the
    reader's decoding of its bus field), or None when it does."""
    label, text, value = display["label"], display["text"], display["value"]
    kind = field.get("kind")
    if display["kind"] == "number":
        step = field["resolution"]
        # Half a step, or what a display computed in single precision may be off by.
        tolerance = max(step / 2, abs(value) * 2.5e-7) + 1e-9
        if abs(field["value"] - value) > tolerance:
            return f"{label}: shown {value}, on the bus {field['value']} (step {step})"
        return None
    if display["kind"] == "led":
        expected = "01" if value else "00"
        return None if field["code"] == expected else \
            f"{label}: LED {'on' if value else 'off'}, on the bus {field['code']}"
    if kind in ("text", "version"):
        return None if field.get("text") == text else \
            f"{label}: shown {text!r}, on the bus {field.get('text')!r}"
    if kind == "state":
        if text == "not supported":
            wanted = "00"
        elif text.startswith("0B"):
            wanted = text[2:]
        elif text.startswith("0x"):
            wanted = format(int(text[2:4], 16), "08b")
        else:
            wanted = code_of_text(text)
        return None if field["code"] == wanted else \
            f"{label}: shown {text!r}, on the bus {field['code']}"
    if kind == "number":  # the gears: the byte less 125, park and neutral by name
        if text in ("park", "neutral"):
            return None
        shown = int(text) if text.strip() else 0
        return None if round(field["value"]) == shown else \
            f"{label}: shown {text!r}, on the bus {field['value']}"
    return f"{label}: nothing to compare with on the bus ({field})"


def compare_date_time(text, parts):
    """The date and time box "yyyy/mm/dd/hh:mm:ss" against the six TD fields; the time of day
    may be a second or two apart (the box shows the clock broadcast, the bus the clock)."""
    if not text:
        return None  # no clock text yet: the box is empty
    date, clock = text.rsplit("/", 1)[0], text.rsplit("/", 1)[1]
    year, month, day = (int(x) for x in date.split("/"))
    needed = ("year", "month", "day", "hours", "minutes", "seconds")
    if any(p not in parts for p in needed):
        return f"date and time: parts {sorted(parts)} on the bus"
    bus_date = (round(parts["year"]["value"]), round(parts["month"]["value"]),
                int(parts["day"]["raw"]) // 4)
    if bus_date != (year, month, day):
        return f"date and time: shown {date}, on the bus {bus_date}"
    h, m, s = (int(x) for x in clock.split(":"))
    shown = h * 3600 + m * 60 + s
    bus = (round(parts["hours"]["value"]) * 3600 + round(parts["minutes"]["value"]) * 60
           + math.floor(parts["seconds"]["value"]))
    if min((shown - bus) % 86400, (bus - shown) % 86400) > 2:
        return f"date and time: shown {clock}, on the bus {bus} s after midnight"
    return None


def differences(displays, bus, require_all=True):
    """(missing, mismatched) between the API's displays and a reader's dump: the labels the bus
    has not carried (only when `require_all`) and the reasons of the ones it carried wrong."""
    missing, mismatched = [], []
    for display in displays:
        if display["label"] in NOT_ON_BUS:
            continue
        field = bus["displays"].get(str(display["id"]))
        if field is None:
            if require_all:
                missing.append(display["label"])
            continue
        if "parts" in field:
            why = compare_date_time(display["text"], field["parts"])
        else:
            why = compare(display, field)
        if why:
            mismatched.append(why)
    return missing, mismatched


def wait_bus_matches(orvale, reader, what, require_all=True, deadline=FULL_DEADLINE):
    """Waits until every display the API gives has come on the bus since the reader's last
    reset, each as the window shows it. Both are read afresh each time: the clock moves."""
    def state():
        return differences(orvale.request("parameters"), reader.dump(), require_all)
    wait_until(lambda: state() == ([], []), what, timeout=deadline, describe=state)


def sim_can_reports(device):
    with open(device.stderr_path, "rb") as f:
        return [line[len(SIM_CAN_PREFIX):] for line in f.read().decode(errors="replace")
                .splitlines() if line.startswith(SIM_CAN_PREFIX)]


# --- the cases -----------------------------------------------------------------------------

def case_parameters(args):
    """At several positions, every parameter the API gives (the values the window shows) is on
    the bus, decoded by the independent reader: numbers within half a step, texts exactly,
    states by their codes."""
    with Headless(args, ["--model", "15", "--position", "40", "--serial", "31416",
                         "--can", BUS]) as run:
        reader = Reader(run.world, args.reader)
        with run.connect() as orvale:
            wait_remote_control(orvale)
            for position in (40, 5, 88):
                if position != 40:
                    orvale.request("set_position", position=position)
                wait_engine_speed(orvale, position)
                reader.reset()
                wait_bus_matches(orvale, reader, f"the bus to carry what the window shows at "
                                 f"{position}")
                dump = reader.dump()
                log(f"position {position}: {len(dump['displays'])} bus displays match, "
                    f"{dump['frames_per_second']:.0f} frames/s, "
                    f"{dump['bam_completed']} broadcasts")
                check(dump["bam_dropped"] == 0, f"broadcasts dropped: {dump['bam_dropped']}")
            # The bus follows the device's CAN baud rate.
            orvale.request("change_setting", setting="can_baud_rate", value="500K bps")
            wait_until(lambda: sim_can_reports(run.device)[-1:] ==
                       ["listening on virtualcan:can0 at 500 kbit/s"],
                       "the device's bus to run at 500 kbit/s",
                       describe=lambda: sim_can_reports(run.device))
            reader.reset()
            wait_until(lambda: reader.dump()["groups"].get("EEC1", 0) >= 10,
                       "frames at the new rate")
        check(sim_can_reports(run.device) == ["listening on virtualcan:can0 at 250 kbit/s",
                                              "listening on virtualcan:can0 at 500 kbit/s"],
              f"the device reported {sim_can_reports(run.device)}")


def case_faults(args):
    """The device's bus faults as a bus check sees them: a silenced group's displays are
    absent, a lost broadcast packet drops the broadcast and its text, a wrong display is the
    one mismatch."""
    with Headless(args, ["--model", "15", "--position", "64", "--can", BUS]) as run:
        reader = Reader(run.world, args.reader)
        device = run.device
        with run.connect() as orvale:
            wait_remote_control(orvale)
            wait_engine_speed(orvale, 64)

            device.control("can-silence EEC1")
            reader.settle(frames=20)
            wait_until(lambda: reader.dump()["groups"].get("EEC2", 0) >= 20,
                       "a second of the bus without EEC1")
            dump = reader.dump()
            check(dump["groups"].get("EEC1", 0) == 0, f"EEC1 still sent: {dump['groups']}")
            for display in ("1022", "1081"):  # Engine speed, Actual Engine % Torque
                check(display not in dump["displays"], f"{display} on the bus without EEC1")
            device.control("can-silence off")
            reader.settle(frames=2)
            wait_until(lambda: "1022" in reader.dump()["displays"], "EEC1 to come back")

            device.control("can-drop-packet VI 2")
            reader.settle(frames=2)
            wait_until(lambda: reader.dump()["bam_dropped"] > 0, "a VI broadcast to be dropped",
                       timeout=FULL_DEADLINE, describe=reader.dump)
            dump = reader.dump()
            check("1024" not in dump["displays"], "the VIN came whole without packet 2")
            check("1065" in dump["displays"], "the driver IDs (DI) were lost too")
            device.control("can-drop-packet off")

            for label, group in (("Engine speed", "EEC2"), ("Driver 1 ID", "DI")):
                device.control(f"can-wrong {label}")
                reader.settle(frames=2)
                wanted_group = "TP.DT" if group == "DI" else "EEC1"
                wait_until(lambda g=wanted_group: reader.dump()["groups"].get(g, 0) >= 6,
                           f"{wanted_group} frames with the wrong {label}")

                def wrong_ones():
                    missing, mismatched = differences(orvale.request("parameters"),
                                                      reader.dump(), require_all=False)
                    return [m.split(":", 1)[0] for m in mismatched]
                found = wait_until(lambda: wrong_ones() or None, f"{label} to be wrong on the bus",
                                   describe=wrong_ones)
                check(found == [label], f"can-wrong {label}: wrong on the bus: {found}")
                log(f"can-wrong {label}: the one mismatch")
            device.control("can-wrong off")
            reader.settle(frames=2)
            wait_bus_matches(orvale, reader, "the bus to match again", require_all=False)


def missing_interface(args, target, reported):
    """`target` is reported once on the device's standard error, tried again every second
    without another word, and the serial side goes on answering."""
    with Headless(args, ["--model", "15", "--position", "10", "--can", target]) as run:
        reports = wait_until(lambda: sim_can_reports(run.device),
                             f"the device to report {target}")
        first = time.monotonic()
        check(reported in reports[0], f"{target}: reported {reports}")
        with run.connect() as orvale:
            wait_remote_control(orvale)
            for position in (20, 30):
                orvale.request("set_position", position=position)
                wait_engine_speed(orvale, position)
            # A few retries later: still the one report.
            wait_until(lambda: time.monotonic() - first > 3.5, "three retries")
            wait_engine_speed(orvale, 30)
        check(sim_can_reports(run.device) == reports,
              f"{target}: reported again: {sim_can_reports(run.device)}")
        log(f"{target}: reported once: {reports[0]}")


def case_missing_interface(args):
    """A CAN plugin that is not there is reported once, and the serial side goes on."""
    missing_interface(args, "nosuchplugin:can0", "cannot use nosuchplugin:can0")


def case_missing_socketcan_interface(args):
    """A SocketCAN interface that is not there (or a kernel without SocketCAN): the same."""
    missing_interface(args, "socketcan:orvalenone0", "socketcan:orvalenone0")


def case_extra_traffic(args):
    """Frames of other senders (can-extra) come from addresses the device never uses and carry
    other values; a reader that leaves those addresses alone still finds everything the window
    shows (with a fixed VIN, here)."""
    with Headless(args, ["--model", "15", "--position", "33", "--serial", "271828",
                         "--can", BUS]) as run:
        plain = Reader(run.world, args.reader)
        with run.connect() as orvale:
            wait_remote_control(orvale)
            wait_engine_speed(orvale, 33)
            # Two seconds of the device alone: every address it sends from but FMS's (10 s).
            plain.reset()
            wait_until(lambda: plain.dump()["groups"].get("EEC2", 0) >= 40,
                       "two seconds of the device's frames")
            own = set(plain.dump()["sources"])
            run.device.control("can-extra 500")
            plain.settle(frames=2)
            wait_until(lambda: plain.dump()["groups"].get("EEC2", 0) >= 20,
                       "a second of the bus with the extra frames")
            dump = plain.dump()
            check(dump["frames_per_second"] > 600, f"{dump['frames_per_second']} frames/s")
            # The others send at 500 frames a second in all; a device address seldom heard
            # is no other sender.
            extra = {a for a, n in dump["sources"].items() if a not in own and n >= 20}
            check("0x42" in extra, f"extra frames from {extra}, not from 0x42")
            wait_until(lambda: differences(orvale.request("parameters"), plain.dump(),
                                           require_all=False)[1],
                       "the other senders' values in a reader that takes every address")
            # With a fixed VIN, which carries the serial number.
            orvale.request("change_setting", setting="vin_style", value="Fixed")
            wait_until(lambda: orvale.request("status")["identity"]["vin_style"] == "Fixed",
                       "the device's VIN style to be Fixed")
            filtered = Reader(run.world, args.reader, ignore={int(a, 16) for a in extra})
            filtered.reset()
            wait_bus_matches(orvale, filtered, "the device's frames among the others")
            log(f"extra traffic from {sorted(extra)}: the device's frames still match")


CASES = {
    "parameters": case_parameters,
    "faults": case_faults,
    "missing_interface": case_missing_interface,
    "missing_socketcan_interface": case_missing_socketcan_interface,
    "extra_traffic": case_extra_traffic,
}


def run_case(cases, prefix, doc):
    """The command line of this file and of the bus check's cases: runs one of `cases`, named
    e2e.<prefix><case> in what it prints; returns the exit status."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--orvale", required=True, help="the Orvale executable")
    parser.add_argument("--sim", required=True, help="the quennet-sim executable")
    parser.add_argument("--reader", required=True, help="the can_reader executable")
    parser.add_argument("--keep", action="store_true", help="keep the case's directory")
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(f"stopped by SIGTERM in {args.case}"))
    try:
        cases[args.case](args)
    except (Failure, OrvaleError, TimeoutError):
        traceback.print_exc()
        print(f"FAIL e2e.{prefix}{args.case} after {time.monotonic() - START:.1f} s", flush=True)
        return 1
    print(f"PASS e2e.{prefix}{args.case} in {time.monotonic() - START:.1f} s", flush=True)
    return 0


def main():
    return run_case(CASES, "can_", __doc__)


if __name__ == "__main__":
    sys.exit(main())

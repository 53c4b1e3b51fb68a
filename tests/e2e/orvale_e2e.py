#!/usr/bin/python3
"""End-to-end tests of the real Orvale program against quennet-sim.

Each case runs in a world of its own: a private X server (Xvfb), a private D-Bus session with
the accessibility bus that it starts on demand, one simulated device on a pseudo-terminal and
one Orvale, copied into a fresh directory so that its port file starts clean. The window is
read and driven only through the accessibility bus, as a screen reader would; what the device
receives is read from the simulator's record file, byte for byte.

Run with Debian's /usr/bin/python3 (python3-pyatspi):
    orvale_e2e.py --orvale build/dev/app/Orvale --sim build/dev/sim/quennet-sim CASE
"""

import argparse
import importlib.util
import os
import re
import shutil
import signal
import sys
import time
import traceback

# The harness sits beside this file; no byte code beside the sources.
sys.dont_write_bytecode = True
from e2e_harness import (  # noqa: E402 pylint: disable=wrong-import-position
    FIRMWARE_MESSAGE, IDENTIFY, KEY_DOWN, KEY_DYNAMIC, KEY_QUIET, KEY_UP, LEFT, NOT_FOUND,
    RIGHT, SPACE, START, Failure, Run, check, descendants,
    engine_speed_text, expect_connected, expect_identity_only, expect_not_connected,
    find_message_box, log, position_command, received_after, strip_identify, wait_stable,
    wait_until)
import bus_window_cases  # noqa: E402 pylint: disable=wrong-import-position
import plot_cases  # noqa: E402 pylint: disable=wrong-import-position
import settings_cases  # noqa: E402 pylint: disable=wrong-import-position
import start_up_cases  # noqa: E402 pylint: disable=wrong-import-position


# --- the cases -----------------------------------------------------------------------------

def case_connect(args):
    """Without a click, the window connects on the port its port file names, shows the
    device's identity and follows its position and status broadcasts."""
    # COM7 from the port file: only the port file leads the window to the device.
    with Run(args, ["--model", "15", "--serial", "4711", "--firmware", "0.3C",
                    "--can-baud", "3", "--vin-style", "1", "--build", "e2e build 42"],
             port_args=["--port", "COM7={link}"], port_file=b"COM=7;\r\n") as run:
        w, device = run.window, run.device
        expect_connected(w, "Quennet Duo Plus")
        check(w.text("Serial Number") == "4711", f"Serial Number {w.text('Serial Number')!r}")
        check(w.text("Firmware Version") in (" 0.3C", "0.3C"),
              f"Firmware Version {w.text('Firmware Version')!r}")
        check(w.text("CAN Baud Rate") == "500K bps", f"CAN Baud Rate {w.text('CAN Baud Rate')!r}")
        check(w.text("VIN Style") == "Fixed", f"VIN Style {w.text('VIN Style')!r}")
        build = w.text("Firmware Build #")
        check(build.rstrip() == "E2E BUILD 42", f"Firmware Build # {build!r}")
        check(w.combo_box().name == "COM7", f"port list shows {w.combo_box().name!r}")
        with open(w.port_file, "rb") as f:
            port_file = f.read()
        check(re.search(rb"^COM=7;", port_file, re.M), f"port file now {port_file!r}")

        # Broadcasts move the slider and every display; the status bits set the boxes.
        for position in (80, 37):
            device.control(f"position {position}")
            w.wait_shown("Engine speed", engine_speed_text(position))
            wait_until(lambda p=position: w.value("Control position") == p,
                       f"the slider at {position}", describe=lambda: w.value("Control position"))
        check(w.checked("Cruise") is False and w.checked("Parking") is False,
              "Cruise or Parking lit at position 37")
        device.control("status 2")  # Dynamic on, Quiet on (bit 0 clear)
        w.wait_state("Dynamic", "checked")
        w.wait_state("Quiet", "checked")
        device.control("status 1")  # both off
        w.wait_state("Dynamic", "checked", present=False)
        w.wait_state("Quiet", "checked", present=False)

        # Nothing was clicked: the device heard identify commands only.
        check(strip_identify(device.received()) == b"",
              f"the device received more than identify: {device.received()!r}")


def case_commands(args):
    """Up, Down, Dynamic, Quiet and the slider reach the device byte for byte."""
    with Run(args, ["--model", "15"]) as run:
        w, device = run.window, run.device
        expect_connected(w, "Quennet Duo Plus")
        offset = len(device.received())
        strip_identify(device.received())

        w.press("Up")
        offset = received_after(device, offset, KEY_UP, "Up")
        w.wait_shown("Engine speed", engine_speed_text(1))
        w.press("Up")
        offset = received_after(device, offset, KEY_UP, "Up")
        w.wait_shown("Engine speed", engine_speed_text(2))
        w.press("Down")
        offset = received_after(device, offset, KEY_DOWN, "Down")
        w.wait_shown("Engine speed", engine_speed_text(1))

        # The check boxes as the keyboard works them (case_toggle_action has their accessible
        # action). Either way round a box sends the same key.
        w.type_to("Dynamic", SPACE, "Space")
        offset = received_after(device, offset, KEY_DYNAMIC, "Dynamic")
        w.wait_state("Dynamic", "checked")
        w.type_to("Quiet", SPACE, "Space")
        offset = received_after(device, offset, KEY_QUIET, "Quiet")
        w.wait_state("Quiet", "checked")
        w.type_to("Dynamic", SPACE, "Space")
        offset = received_after(device, offset, KEY_DYNAMIC, "Dynamic again")
        w.wait_state("Dynamic", "checked", present=False)
        w.type_to("Quiet", SPACE, "Space")
        offset = received_after(device, offset, KEY_QUIET, "Quiet again")
        w.wait_state("Quiet", "checked", present=False)

        for position in (50, 100, 0):
            w.set_value("Control position", position)
            offset = received_after(device, offset, position_command(position),
                                    f"slider at {position}")
            w.wait_shown("Engine speed", engine_speed_text(position))

        # The keyboard: the focused slider takes the arrow keys, one step each.
        w.set_value("Control position", 50)
        offset = received_after(device, offset, position_command(50), "slider at 50")
        w.wait_shown("Engine speed", engine_speed_text(50))
        w.type_to("Control position", RIGHT, "Right")
        offset = received_after(device, offset, position_command(51), "Right arrow")
        wait_until(lambda: w.value("Control position") == 51, "the slider at 51",
                   describe=lambda: w.value("Control position"))
        w.type_to("Control position", LEFT, "Left")
        offset = received_after(device, offset, position_command(50), "Left arrow")
        w.wait_shown("Engine speed", engine_speed_text(50))

        # The whole conversation, once more, in one piece.
        expected = (KEY_UP + KEY_UP + KEY_DOWN + KEY_DYNAMIC + KEY_QUIET + KEY_DYNAMIC
                    + KEY_QUIET + position_command(50) + position_command(100)
                    + position_command(0) + position_command(50) + position_command(51)
                    + position_command(50))
        check(strip_identify(device.received()) == expected,
              f"the device received {device.received()!r}")


def case_toggle_action(args):
    """The check boxes' accessible action is an operator's click: it sends the key command.

    Fault pinned here: Qt gives a check box the action "Toggle", which only flips the mark;
    the window listens for clicks, so the device hears nothing and the next status broadcast
    puts the mark back."""
    with Run(args, ["--model", "15"]) as run:
        w, device = run.window, run.device
        expect_connected(w, "Quennet Duo Plus")
        offset = len(device.received())
        for name, key in (("Dynamic", KEY_DYNAMIC), ("Quiet", KEY_QUIET)):
            w.press(name)
            offset = received_after(device, offset, key, f"{name} by its accessible action")
            w.wait_state(name, "checked")


def case_silent_device(args):
    """A device silent for a whole watchdog period is dropped and identified again once it
    speaks."""
    with Run(args, ["--model", "15", "--position", "80"]) as run:
        w, device = run.window, run.device
        expect_connected(w, "Quennet Duo Plus")
        w.wait_shown("Engine speed", engine_speed_text(80))
        check(w.checked("Brake"), "Brake not lit at 80")

        identifies = device.count(IDENTIFY)
        # Taken before the device falls silent, so that the time measured is never too short.
        silent_since = time.monotonic()
        device.control("silent on")
        w.wait_text("Product ID", NOT_FOUND)
        torn_down_after = time.monotonic() - silent_since
        log(f"torn down {torn_down_after:.2f} s after the device fell silent")
        # Connected, the watchdog waits for a whole 1000 ms period without a frame: at least
        # 900 ms after the last broadcast. Half a second tells it from the 100 ms period of
        # identification with room for a late broadcast.
        check(torn_down_after > 0.5, f"torn down after only {torn_down_after:.2f} s of silence")
        expect_not_connected(w)
        # Teardown: position 0 everywhere, the Parking LED forced off, texts blanked.
        check(w.shown("Engine speed") == engine_speed_text(0),
              f"Engine speed {w.shown('Engine speed')!r} after teardown")
        check(w.value("Control position") == 0, "slider not back at 0")
        check(not w.checked("Parking") and not w.checked("Brake"), "LEDs lit after teardown")
        check(w.text("PTO State") == " ", f"PTO State {w.text('PTO State')!r}")
        check(w.text("Fuel Type") == "", f"Fuel Type {w.text('Fuel Type')!r}")
        # And it asks again at once, every 100 ms while nobody answers.
        wait_until(lambda: device.count(IDENTIFY) >= identifies + 3,
                   "identify commands to the silent device",
                   describe=lambda: device.count(IDENTIFY) - identifies)

        device.control("silent off")
        expect_connected(w, "Quennet Duo Plus")
        w.wait_shown("Engine speed", engine_speed_text(80))
        wait_until(lambda: w.value("Control position") == 80, "the slider back at 80")
        record = device.received()
        check(record.replace(IDENTIFY, b"") == b"",
              f"the device received more than identify commands: {record!r}")


def case_wrong_product_id(args):
    """Product ID 20: the window disconnects and stops its watchdog, so it asks no more until
    Connect is clicked."""
    with Run(args, ["--model", "15", "--wrong-id", "20"]) as run:
        w, device = run.window, run.device
        wait_until(lambda: device.count(IDENTIFY) >= 1, "the first identify command")
        # Identifying would ask every 100 ms; Idle with the watchdog stopped asks no more.
        count = wait_stable(lambda: device.count(IDENTIFY), "the number of identify commands",
                            quiet_for=2.0)
        log(f"{count} identify command(s), then none for 2 s")
        check(count <= 3, f"{count} identify commands before the window stopped asking")
        expect_not_connected(w)
        check(device.received() == IDENTIFY * count, f"the device received {device.received()!r}")

        # Connect still works, and ends the same way.
        w.press("Connect")
        wait_until(lambda: device.count(IDENTIFY) > count, "an identify command after Connect")
        again = wait_stable(lambda: device.count(IDENTIFY), "the number of identify commands",
                            quiet_for=2.0)
        check(again - count <= 3, f"{again - count} identify commands after one Connect")
        expect_not_connected(w)


def case_identity_only(args):
    """A model without remote control stays connected with its identity shown, the remote
    group disabled, the watchdog stopped and the broadcasts ignored; Disconnect ends it."""
    with Run(args, ["--model", "10", "--serial", "777", "--firmware", "0.3B",
                    "--position", "80"]) as run:
        w, device = run.window, run.device
        expect_identity_only(w, "Quennet Truck")
        check(w.text("Serial Number") == "777", f"Serial Number {w.text('Serial Number')!r}")
        count = wait_stable(lambda: device.count(IDENTIFY), "the number of identify commands",
                            quiet_for=2.0)
        # Still connected after two seconds without a watchdog, and no broadcast applied.
        expect_identity_only(w, "Quennet Truck")
        check(w.shown("Engine speed") == engine_speed_text(0),
              f"a broadcast was applied: Engine speed {w.shown('Engine speed')!r}")
        check(w.value("Control position") == 0, "a broadcast moved the slider")
        check(find_message_box(w) is None, "a message box for a supported firmware")

        w.press("Disconnect")
        w.wait_text("Product ID", NOT_FOUND)
        w.wait_state("Disconnect", "enabled", present=False)
        expect_not_connected(w)
        after = wait_stable(lambda: device.count(IDENTIFY), "the number of identify commands",
                            quiet_for=1.5)
        check(after == count, f"{after - count} identify commands after Disconnect")


def case_old_firmware(args):
    """Firmware 0.3A: the identity is shown, remote control stays off and a warning asks for
    an update."""
    with Run(args, ["--model", "15", "--firmware", "0.3A"]) as run:
        w = run.window
        box = wait_until(lambda: find_message_box(w), "the firmware message box")
        texts = [a.name for a in descendants(box)]
        check(FIRMWARE_MESSAGE in texts,
              f"message box {box.name!r} does not say the firmware message: {texts}")
        check(box.name == "Orvale", f"message box captioned {box.name!r}")
        expect_identity_only(w, "Quennet Duo Plus")
        check(w.text("Firmware Version") in (" 0.3A", "0.3A"),
              f"Firmware Version {w.text('Firmware Version')!r}")

        ok = [a for a in descendants(box)
              if a.getRole() == w.pyatspi.ROLE_PUSH_BUTTON and a.name.replace("&", "") == "OK"]
        check(len(ok) == 1, f"message box buttons: {[a.name for a in descendants(box)]}")
        action = ok[0].queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        check("Press" in names, f"OK offers {names}")
        action.doAction(names.index("Press"))
        log("pressed OK")
        wait_until(lambda: find_message_box(w) is None, "the message box to close")
        expect_identity_only(w, "Quennet Duo Plus")


# The window's controls by kind, as the operator sees them. Displays: name, units, decimals
# (None: the widget's default).
PUSH_BUTTONS = ("Connect", "Disconnect", "Exit", "Down", "Up")
CHECK_BOXES = ("Dynamic", "Quiet")
READ_ONLY_EDITS = (
    "Product ID", "Serial Number", "Firmware Version", "CAN Baud Rate", "VIN Style",
    "Firmware Build #", "Vehicle Identification number", "Driver 1 working state",
    "Driver 2 working state", "Vehicle motion", "Driver 1 time related states", "Driver 1 Card",
    "Driver 2 time related states", "Driver 2 Card", "Driver 1 ID", "Driver 2 ID",
    "Retarder Torque Mode", "System event", "Direction indicator", "Vehicle Overspeed",
    "Tachograph performance", "Handling information", "Diagnostics supported",
    "Requests supported", "SW-version supported", "TellTale status x, ID=0",
    "TellTale status x, ID=1", "TellTale status x, ID=2", "TellTale status x, ID=3",
    "TellTale status x, ID=4", "Fuel Type", "Cruise Control States", "At least 1 PTO engaged",
    "PTO State", "Status 2 of doors", "Ramp/Wheel chairlift", "Position of doors",
    "yy/mm/dd/hr/min/sec", "Lock status door 1-10", "Open status door 1-10",
    "Enable status door 1-10", "Alternator status 1-4", "Selected Gear", "Current Gear",
)
NUMERIC_DISPLAYS = (
    ("Engine total fuel used", "L", None), ("Actual Engine % Torque", "%", 0),
    ("Fuel Level 1", "%", None), ("Fuel Level 2", "%", None), ("Engine speed", "rpm", 3),
    ("Engine total hours of Operation", "hr", 2), ("HR-total vehicle distance", "m", 0),
    ("Tachograph vehicle Speed", "km/hr", 3), ("Ambient Air Temperature", "°C", 5),
    ("Engine coolant temperature", "°C", 0), ("Fuel Rate", "L/hr", 2),
    ("Instantaneous Fuel Economy", "km/L", 2), ("Service brake air pressure #1", "kPa", 0),
    ("Service brake air pressure #2", "kPa", 0), ("Aftertreatment 1 DEF Tank 1 Level", "%", None),
    ("HR-engine total fuel used", "L", 3), ("Total Fuel Used (Gaseous)", "kg", None),
    ("Brake Pedal Position", "%", None), ("Accelerator pedal position 1", "%", None),
    ("Retarder Selection, non-engine", "%", None), ("Actual Retarder - % Torque", "%", 0),
    ("Wheel based Speed", "km/hr", 3), ("Engine % Load", "%", 0),
    ("Gross Combination V.W.", "kg", 0), ("Service distance", "km", 0),
    ("axle weight (location 00)", "kg", None), ("axle weight (location 01)", "kg", None),
    ("axle weight (location 10)", "kg", None), ("axle weight (location 11)", "kg", None),
    ("axle weight (location 12)", "kg", None), ("axle weight (location 13)", "kg", None),
    ("axle weight (location 20)", "kg", None), ("axle weight (location 21)", "kg", None),
    ("axle weight (location 22)", "kg", None), ("axle weight (location 23)", "kg", None),
    ("H.Battery Remain. Charge", "%", 4), ("Steering Wheel Angle", "rad", 3),
    ("Bellow P. Front Left", "kPa", None), ("Bellow P. Front Right", "kPa", None),
    ("Bellow P. Rear Left", "kPa", None), ("Bellow P. Rear Right", "kPa", None),
)
# Lit at position 50: Cruise from 40 up, Clutch at 10, 30, 50, 70; Parking and Brake dark.
LEDS_AT_50 = {"Cruise": True, "Parking": False, "Brake": False, "Clutch": True}


def case_accessibility(args):
    """Every control of the window is there under its name, with the role, states and
    values that a screen reader needs."""
    with Run(args, ["--model", "15", "--position", "50"]) as run:
        w = run.window
        pyatspi = w.pyatspi
        expect_connected(w, "Quennet Duo Plus")
        w.wait_shown("Engine speed", engine_speed_text(50))
        problems = []

        def expect(condition, message):
            if not condition:
                problems.append(message)

        expect(w.window.name == "Orvale Ver. 1.00A, Build: 01072019-01",
               f"window title {w.window.name!r}")

        def role_of(name, role):
            try:
                accessible = w.control(name)
            except Failure as error:
                problems.append(str(error))
                return None
            expect(accessible.getRole() == role,
                   f"{name!r} has role {accessible.getRoleName()!r}, expected {role}")
            return accessible

        for name in PUSH_BUTTONS:
            role_of(name, pyatspi.ROLE_PUSH_BUTTON)
        expect("is default" in w.states("Exit"), "Exit is not the default button")
        for name in CHECK_BOXES:
            role_of(name, pyatspi.ROLE_CHECK_BOX)

        for name in READ_ONLY_EDITS:
            accessible = role_of(name, pyatspi.ROLE_TEXT)
            if accessible is None:
                continue
            states = w.states(name)
            expect("read only" in states, f"{name!r} is not read-only: {sorted(states)}")
            try:
                accessible.queryText().getText(0, -1)
            except Exception as error:  # pylint: disable=broad-except
                problems.append(f"{name!r} has no text: {error}")
            expect(len(w.all_named(name)) == 2, f"{name!r} has no label frame of its name")

        for name, units, decimals in NUMERIC_DISPLAYS:
            if role_of(name, pyatspi.ROLE_LABEL) is None:
                continue
            number = r"-?\d+" + (r"(\.\d+)?" if decimals is None
                                 else (r"\.\d{%d}" % decimals if decimals else ""))
            shown = w.shown(name)
            expect(re.fullmatch(number + " " + re.escape(units), shown),
                   f"{name!r} shows {shown!r}, expected a number with "
                   f"{'some' if decimals is None else decimals} decimals and ' {units}'")
            expect(len(w.all_named(name)) == 2, f"{name!r} has no label frame of its name")
        expect(w.shown("Engine speed") == engine_speed_text(50), "Engine speed at 50")
        expect(w.shown("Fuel Level 1") == "50.0 %", f"Fuel Level 1 {w.shown('Fuel Level 1')!r}")
        expect(w.shown("Wheel based Speed") == "125.496 km/hr",
               f"Wheel based Speed {w.shown('Wheel based Speed')!r}")

        for name, lit in LEDS_AT_50.items():
            role_of(name, pyatspi.ROLE_CHECK_BOX)
            try:
                expect(w.checked(name) == lit, f"LED {name!r} {'dark' if lit else 'lit'} at 50")
                expect(w.control(name).description == ("on" if lit else "off"),
                       f"LED {name!r} reads {w.control(name).description!r}")
            except Failure as error:
                problems.append(str(error))

        slider = role_of("Control position", pyatspi.ROLE_SLIDER)
        if slider is not None:
            value = slider.queryValue()
            expect((value.minimumValue, value.maximumValue) == (0.0, 100.0),
                   f"slider range {value.minimumValue}..{value.maximumValue}")
            expect(value.currentValue == 50.0, f"slider at {value.currentValue}")

        # The port list: named after its selection (Qt's way on Linux), labelled by "Port:".
        combo = w.combo_box()
        expect(combo.name == "COM1", f"port list shows {combo.name!r}")
        labels = [target.name for relation in combo.getRelationSet()
                  if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
                  for target in (relation.getTarget(i) for i in range(relation.getNTargets()))]
        expect(labels == ["Port:"], f"port list labelled by {labels}")
        items = [a.name for a in descendants(combo) if a.getRole() == pyatspi.ROLE_LIST_ITEM]
        expect(items == [f"COM{n}" for n in range(1, 51)], f"port list holds {items}")

        expected = set(PUSH_BUTTONS) | set(CHECK_BOXES) | set(READ_ONLY_EDITS) \
            | {n for n, _, _ in NUMERIC_DISPLAYS} | set(LEDS_AT_50) | {"Control position"}
        check(len(expected) == 5 + 2 + 44 + 41 + 4 + 1, "the expected list itself is wrong")
        others = {name for name, objects in w.controls.items()
                  if any(a.getRole() not in (pyatspi.ROLE_PANEL, pyatspi.ROLE_LIST_ITEM,
                                             pyatspi.ROLE_LIST, pyatspi.ROLE_COMBO_BOX)
                         for a in objects)} - expected
        expect(others <= {"Port:", "note: axle location 0x00 is left front tire, 0x23 is the "
                                   "3rd axle, the 4th tire, etc."},
               f"unexpected named objects: {sorted(others)}")
        unnamed = [a.getRoleName() for a in w.all_named("") if a.getRole() != pyatspi.ROLE_LIST]
        expect(not unnamed, f"objects without a name: {unnamed}")

        if problems:
            raise Failure(f"{len(problems)} accessibility problem(s):\n  " + "\n  ".join(problems))
        log(f"checked {len(expected)} controls")


CASES = {
    "connect": case_connect,
    "commands": case_commands,
    "toggle_action": case_toggle_action,
    "silent_device": case_silent_device,
    "wrong_product_id": case_wrong_product_id,
    "identity_only": case_identity_only,
    "old_firmware": case_old_firmware,
    "accessibility": case_accessibility,
    **start_up_cases.CASES,
    **settings_cases.CASES,
    **plot_cases.CASES,
    **bus_window_cases.CASES,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvale", required=True, help="the Orvale executable")
    parser.add_argument("--sim", required=True, help="the quennet-sim executable")
    parser.add_argument("--keep", action="store_true", help="keep the case's directory")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()

    missing = [tool for tool in ("Xvfb", "dbus-daemon", "/usr/libexec/at-spi-bus-launcher")
               if shutil.which(tool) is None]
    # Only looked for: imported, it would settle on a display and bus before there are any.
    if importlib.util.find_spec("pyatspi") is None:
        missing.append("pyatspi for " + sys.executable)
    if missing:
        print("missing: " + ", ".join(missing) + "; run scripts/install-deps.sh xvfb dbus "
              "at-spi2-core python3-pyatspi", flush=True)
        return 1
    for program in (args.orvale, args.sim):
        if not (os.path.isfile(program) and os.access(program, os.X_OK)
                and os.path.getsize(program) > 0):
            print(f"not a built program: {program}", flush=True)
            return 1

    # A runner's SIGTERM unwinds through the cleanup like an error would.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(f"stopped by SIGTERM in {args.case}"))
    for builder_check, wire in ((0, b"AT %006C\r\n"), (50, b"AT %231C\r\n"),
                                (100, b"AT %46CB\r\n")):
        check(position_command(builder_check) == wire, "the test's position command builder")
    try:
        CASES[args.case](args)
    except Failure:
        traceback.print_exc()
        print(f"FAIL e2e.{args.case} after {time.monotonic() - START:.1f} s", flush=True)
        return 1
    print(f"PASS e2e.{args.case} in {time.monotonic() - START:.1f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

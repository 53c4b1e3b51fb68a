"""End-to-end cases of the device information dialog: changing the device's CAN baud rate and
VIN style, and the firmware gate in front of both. Run through orvale_e2e.py."""

from e2e_harness import (
    FIRMWARE_MESSAGE, IDENTIFY, Run, check, expect_connected, expect_identity_only, log,
    open_device_dialog, wait_message_box, wait_stable, wait_until)

CAN_GATE_MESSAGE = (
    "To change the CAN bus baud rate, An Halvane Quennet device (with Firmware 0.3B/0.3C) must "
    "be connected to the conputer. If connected, the simulator must have a correct firmware of "
    "0.3B/0.3C, please contact Halvane and upgrade the simulator device to the correct fimware "
    "edition.")
VIN_GATE_MESSAGE = (
    "To change the VIN Style, An Halvane Quennet device (with Firmware 0.3B/0.3C) must be "
    "connected to the conputer. If connected, the simulator must have a correct firmware of "
    "0.3B/0.3C, please contact Halvane and upgrade the simulator device to the correct fimware "
    "edition.")

# A settings command, then twice a 500 ms wait and a new identify command.
SETTLE_MIN = 0.45
# Generous: only a wait far longer than meant runs into it, never a busy machine.
SETTLE_MAX = 1.5

GROUPS = {
    # group: (Proceed button, Confirm button, index of its list among the dialog's lists)
    "CAN": ("Proceed to Change CAN Baud Rate", "Confirm Update CAN Baud Rate", 0),
    "VIN": ("Proceed to Change VIN Style", "Confirm Update VIN Style", 1),
}


def lists(dialog):
    """The CAN baud rate list and the VIN style list. Qt names a combo box after its current
    item, so they are told apart by their order in the dialog."""
    found = dialog.combo_boxes()
    check(len(found) == 2, f"the dialog has {len(found)} lists")
    return found


def expect_group_locked(dialog, group):
    _, confirm, index = GROUPS[group]
    check("enabled" not in dialog.states_of(lists(dialog)[index]),
          f"the {group} list is enabled before the firmware gate passed")
    check(not dialog.enabled(confirm), f"{confirm!r} is enabled before the firmware gate passed")


def expect_settings_conversation(device, offset, command):
    """From `offset` on the device receives exactly `command` and two identify commands, each
    identify command about 500 ms after the command before it."""
    expected = command + IDENTIFY + IDENTIFY
    wait_until(lambda: len(device.received()) >= offset + len(expected),
               f"the device to receive {expected!r}",
               describe=lambda: device.received()[offset:])
    got = device.received()[offset:]
    check(got == expected, f"the device received {got!r}, expected exactly {expected!r}")

    def timed_record():
        timed = device.received_timed()
        return timed if len(timed) >= offset + len(expected) else None
    timed = wait_until(timed_record, "the timed record to catch up")
    check(bytes(b for _, b in timed) == device.received()[:len(timed)],
          "the timed record and the record differ")
    starts = [offset, offset + len(command), offset + len(command) + len(IDENTIFY)]
    for previous, following in zip(starts, starts[1:]):
        # From the first byte of one command to the first byte of the next: the 500 ms wait
        # begins after the command has been written, so this is never shorter on the sender's
        # side, and a late read of one byte on a busy machine cannot make it look short.
        gap = timed[following][0] - timed[previous][0]
        log(f"{bytes(b for _, b in timed[previous:following])!r} then "
            f"{gap * 1000:.0f} ms to the next identify command")
        check(SETTLE_MIN <= gap <= SETTLE_MAX,
              f"{gap * 1000:.0f} ms between {bytes(b for _, b in timed[previous:following])!r} "
              f"and the identify command after it; expected about 500 ms")
    return offset + len(expected)


def change_setting(w, device, group, item, command, box, shown):
    """Opens the dialog, passes the gate of `group`, chooses `item` and confirms; the device
    receives `command` and the window shows `shown` in `box` once it is identified again."""
    proceed, confirm, index = GROUPS[group]
    offset = len(device.received())
    dialog = open_device_dialog(w)
    expect_group_locked(dialog, group)
    dialog.press(proceed)
    wait_until(lambda: "enabled" in dialog.states_of(lists(dialog)[index])
               and dialog.enabled(confirm), f"the {group} list and {confirm!r} to be enabled")
    other = "VIN" if group == "CAN" else "CAN"
    expect_group_locked(dialog, other)
    dialog.choose(lists(dialog)[index], item)
    check(device.received()[offset:] == b"",
          f"the device received {device.received()[offset:]!r} before {confirm!r}")
    dialog.press(confirm)
    wait_until(lambda: not dialog.is_open(), "the dialog to close on its confirm button")

    offset = expect_settings_conversation(device, offset, command)
    w.wait_text(box, shown)
    expect_connected(w, "Quennet Duo Plus")
    # Identified by the second identify command: the watchdog asked no more.
    check(len(device.received()) == offset,
          f"the device received more: {device.received()[offset:]!r}")


def case_settings_change(args):
    """Firmware 0.3B: the CAN baud rate and the VIN style are changed through the device
    dialog; the device hears the settings command and is identified afresh, twice."""
    with Run(args, ["--model", "15", "--serial", "4242", "--firmware", "0.3B",
                    "--can-baud", "0", "--vin-style", "0"]) as run:
        w, device = run.window, run.device
        expect_connected(w, "Quennet Duo Plus")
        check(w.text("CAN Baud Rate") == "250K bps", f"CAN Baud Rate {w.text('CAN Baud Rate')!r}")
        check(w.text("VIN Style") == "Variable", f"VIN Style {w.text('VIN Style')!r}")

        dialog = open_device_dialog(w)
        for name, expected in (("Product ID", "Quennet Duo Plus"), ("Firmware Version", " 0.3B"),
                               ("Product Serial Number", "4242")):
            check(dialog.text(name) == expected,
                  f"the dialog's {name!r} reads {dialog.text(name)!r}, expected {expected!r}")
        check([c.name for c in lists(dialog)] == ["250K bps", "Variable"],
              f"the dialog's lists show {[c.name for c in lists(dialog)]}")
        dialog.close("OK")

        change_setting(w, device, "CAN", "500K bps", b"AT CBRS=03\r\n", "CAN Baud Rate",
                       "500K bps")
        change_setting(w, device, "VIN", "Fixed", b"AT VIN=1\r\n", "VIN Style", "Fixed")
        check(w.text("CAN Baud Rate") == "500K bps",
              f"CAN Baud Rate {w.text('CAN Baud Rate')!r} after the VIN style changed")


def case_settings_gate(args):
    """Firmware 0.3A: both Proceed buttons explain that the device needs firmware 0.3B/0.3C;
    the lists stay locked and the device hears nothing."""
    with Run(args, ["--model", "15", "--firmware", "0.3A"]) as run:
        w, device = run.window, run.device
        box = wait_message_box(w)
        check(box.texts() == [FIRMWARE_MESSAGE], f"message box says {box.texts()}")
        box.close()
        expect_identity_only(w, "Quennet Duo Plus")
        offset = len(device.received())

        dialog = open_device_dialog(w)
        check(dialog.text("Firmware Version") == " 0.3A",
              f"the dialog's Firmware Version reads {dialog.text('Firmware Version')!r}")
        for group, message in (("CAN", CAN_GATE_MESSAGE), ("VIN", VIN_GATE_MESSAGE)):
            dialog.press(GROUPS[group][0])
            box = wait_message_box(w)
            check(box.root.name == "Orvale", f"message box captioned {box.root.name!r}")
            check(box.texts() == [message], f"{group} gate message box says {box.texts()}")
            box.close()
            check(dialog.is_open(), "the dialog closed with the gate's message box")
            expect_group_locked(dialog, "CAN")
            expect_group_locked(dialog, "VIN")
        check(device.received()[offset:] == b"",
              f"the device received {device.received()[offset:]!r}")

        dialog.close("OK")
        received = wait_stable(device.received, "the device's record", quiet_for=0.5)
        check(received[offset:] == b"", f"the device received {received[offset:]!r} after OK")
        expect_identity_only(w, "Quennet Duo Plus")


CASES = {
    "settings_change": case_settings_change,
    "settings_gate": case_settings_gate,
}

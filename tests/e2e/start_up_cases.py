"""End-to-end cases of Orvale's start-up: the port file beside the executable and the
recording named on the command line. Run through orvale_e2e.py."""

import os
import time

from e2e_harness import (
    POLL, Device, Failure, Run, World, check, expect_connected, run_to_exit, strip_identify,
    wait_message_box, wait_until)

DEFAULT_PORT_FILE = b"COM=1;\r\n"


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def case_port_file_fresh(args):
    """No port file beside the executable: start-up writes the default one, exactly 8 bytes,
    and the window opens COM1; identifying the device there leaves it so."""
    with Run(args, ["--model", "15"]) as run:
        w = run.window
        # The file is read while the window is made, before it is shown.
        check(os.path.isfile(w.port_file), "no port file beside the executable at start-up")
        expect_connected(w, "Quennet Duo Plus")
        check(w.combo_box().name == "COM1", f"port list shows {w.combo_box().name!r}")
        contents = read_file(w.port_file)
        check(contents == DEFAULT_PORT_FILE,
              f"port file holds {contents!r}, expected exactly {DEFAULT_PORT_FILE!r}")
        # Written whole, in place: nothing else beside the executable, and nothing in the
        # per-user place that is only for directories that cannot be written.
        beside = sorted(os.listdir(os.path.dirname(w.exe)))
        check(beside == ["Orvale", "quennet.ini"], f"beside the executable: {beside}")
        user_file = os.path.join(run.world.env["XDG_CONFIG_HOME"], "Orvale", "quennet.ini")
        check(not os.path.exists(user_file), f"a port file was written to {user_file}")


def case_port_file_remembers(args):
    """The device answers only on COM7: the operator picks COM7 after COM1 failed, the port
    file then names COM7 and keeps its comment, and the next start connects there at once."""
    bench_file = b"; my bench\r\nCOM=1;\r\n"
    with Run(args, ["--model", "15", "--serial", "707"],
             port_args=["--port", "COM1=/nonexistent/port", "--port", "COM7={link}"],
             port_file=bench_file) as run:
        w, device = run.window, run.device

        # COM1 cannot be opened: a stop box with the port's own error, shown once although
        # the watchdog keeps trying.
        box = wait_message_box(w)
        check(box.root.name == "Orvale", f"message box captioned {box.root.name!r}")
        texts = box.texts()
        check(len(texts) == 1 and texts[0].startswith("Cannot open COM1 (/nonexistent/port): "),
              f"message box says {texts}")
        box.close()
        check(w.enabled("Connect") and not w.enabled("Disconnect"),
              "Connect or Disconnect in the wrong state after the failed open")
        # Ten watchdog periods: each tries COM1 again and fails the same way.
        quiet_until = time.monotonic() + 1.0
        while time.monotonic() < quiet_until:
            check(top_alert_count(w) == 0, "the same error shown again in a new box")
            time.sleep(POLL)
        check(device.received() == b"", f"the device received {device.received()!r}")
        check(read_file(w.port_file) == bench_file,
              f"port file changed before any device answered: {read_file(w.port_file)!r}")

        w.choose(w.combo_box(), "COM7")
        # The watchdog's next tick may have taken COM7 already; Connect then is disabled.
        if w.enabled("Connect"):
            try:
                w.press("Connect")
            except Failure:
                # ...or it took it between the look and the press.
                check(not w.enabled("Connect"), "Connect refused its press while enabled")
        expect_connected(w, "Quennet Duo Plus")
        check(w.text("Serial Number") == "707", f"Serial Number {w.text('Serial Number')!r}")
        expected = b"; my bench\r\nCOM=7;\r\n"
        wait_until(lambda: read_file(w.port_file) == expected,
                   f"the port file to hold {expected!r}", describe=lambda: read_file(w.port_file))
        check(strip_identify(device.received()) == b"",
              f"the device received more than identify: {device.received()!r}")

        w.exit()
        check(read_file(w.port_file) == expected,
              f"port file after Exit: {read_file(w.port_file)!r}")

        offset = len(device.received())
        w = run.start_again()
        expect_connected(w, "Quennet Duo Plus")
        check(w.combo_box().name == "COM7", f"port list shows {w.combo_box().name!r}")
        check(top_alert_count(w) == 0, "a message box at the second start")
        check(strip_identify(device.received()[offset:]) == b"",
              f"the device received more than identify: {device.received()[offset:]!r}")
        check(read_file(w.port_file) == expected,
              f"port file after the second start: {read_file(w.port_file)!r}")


def top_alert_count(w):
    return sum(1 for t in w.top_levels() if t is not None
               and t.getRole() == w.pyatspi.ROLE_ALERT)


def case_log_unwritable(args):
    """A recording that cannot be made ends Orvale before its window, as a malformed command
    line does: the reason on standard error, naming the file, and exit status 2. The device's
    port is never opened, and no port file is written."""
    csv = "/nonexistent/dir/x.csv"
    world = World(keep=args.keep)
    try:
        world.start_display()
        world.start_session_bus()
        device = Device(world, args.sim, ["--model", "15"])
        code, errors, app_dir = run_to_exit(
            world, args.orvale, ["--port", f"COM1={device.link}", "--log", csv])
        check(code == 2, f"exit status {code}, expected 2")
        said = [line for line in errors.splitlines() if line.startswith("Orvale: ")]
        check(len(said) == 1 and csv in said[0],
              f"standard error does not name {csv} on one 'Orvale: ' line: {errors!r}")
        check(device.received() == b"", f"the device received {device.received()!r}")
        left = sorted(os.listdir(app_dir))
        check(left == ["Orvale"], f"beside the executable: {left}; a window was made")
    except BaseException:
        world.dump_logs()
        raise
    finally:
        world.close()


CASES = {
    "port_file_fresh": case_port_file_fresh,
    "port_file_remembers": case_port_file_remembers,
    "log_unwritable": case_log_unwritable,
}

"""End-to-end cases of the bus window: Orvale with its window reads the simulated device's CAN
bus (Qt's virtual bus) and checks it against what the window shows. Run through orvale_e2e.py;
each case holds CTest's virtualcan lock, the virtual bus being one TCP port."""

from e2e_harness import (
    Controls, Run, check, engine_speed_text, expect_connected, log, wait_until)

BUS = "virtualcan:can0"


class BusWindow(Controls):
    """The bus window through AT-SPI: its interface status and summary line."""

    def __init__(self, window, accessible):
        self.window = window
        self._attach(window.pyatspi, accessible)

    def _alive(self):
        self.window._alive()  # pylint: disable=protected-access

    def summary(self):
        return self._label("Summary")

    def status(self):
        return self._label("Interface")

    def _label(self, name):
        # Each label is named for what it is, its text given as the description.
        return self.control(name).description


def find_bus_window(w):
    title = f"Orvale - Bus {BUS}"

    def named():
        found = [t for t in w.top_levels() if t is not None and t.name == title]
        return found[0] if found else None
    found = wait_until(named, f"the window '{title}'",
                       describe=lambda: [(t.name, t.getRoleName()) for t in w.top_levels()
                                         if t is not None])
    return BusWindow(w, found)


def counts_of(summary):
    """"1 mismatch, 0 missing, 81 match, 1 not modelled · ..." -> {"mismatch": 1, ...}."""
    head = summary.split(" · ", 1)[0]
    counts = {}
    for part in head.split(", "):
        number, _, state = part.partition(" ")
        if number.isdigit():
            counts[state] = int(number)
    return counts  # empty until the window has a summary to show


def case_bus_window(args):
    """--bus-check opens the bus window: every display the device sends matches the bus; a
    parameter the device sends wrong shows as a mismatch within a second or so, and goes back
    when the device sends it right again. --bus-marks leaves the main window's texts as they
    are."""
    sim_args = ["--model", "15", "--position", "50", "--can", BUS]
    port_args = ["--port", "COM1={link}", "--can", BUS, "--bus-check", "--bus-marks"]
    with Run(args, sim_args, port_args=port_args) as run:
        w, device = run.window, run.device
        expect_connected(w, "Quennet Duo Plus")
        bus = find_bus_window(w)
        wait_until(lambda: bus.status().startswith(f"listening on {BUS}"),
                   "the bus window to say it listens", describe=bus.status)

        def counts():
            return counts_of(bus.summary())
        wait_until(lambda: counts().get("match", 0) >= 80 and counts().get("mismatch") == 0
                   and counts().get("missing") == 0, "every display on the bus to match",
                   describe=bus.summary)
        log(f"all match: {bus.summary()}")

        device.control("can-wrong Engine speed")
        wait_until(lambda: counts().get("mismatch") == 1, "Engine speed to show as a mismatch",
                   describe=bus.summary)
        # The marks draw around the display; what it shows and says stays the window's.
        check(w.shown("Engine speed") == engine_speed_text(50),
              f"Engine speed shows {w.shown('Engine speed')!r} with a mark on it")
        device.control("can-wrong off")
        wait_until(lambda: counts().get("mismatch") == 0, "the mismatch to go",
                   describe=bus.summary)


CASES = {
    "bus_window": case_bus_window,
}

"""End-to-end cases of the plot window: live against the simulated device, and a recording
opened with --view. Run through orvale_e2e.py."""

import os
import subprocess

from e2e_harness import (
    Controls, Run, World, check, engine_speed_text, expect_connected, log, wait_until)

PLOTTED = ("Engine speed", "Fuel Rate")


class PlotWindow(Controls):
    """The plot window through AT-SPI: its series check boxes carry the current value as their
    description."""

    def __init__(self, window, accessible):
        self.window = window
        self._attach(window.pyatspi, accessible)

    def _alive(self):
        self.window._alive()  # pylint: disable=protected-access

    def value(self, label):
        return self.control(label).description


def find_plot(w, title="Orvale - Plot"):
    def named():
        found = [t for t in w.top_levels() if t is not None and t.name == title]
        return found[0] if found else None
    found = wait_until(named, f"the window '{title}'",
                       describe=lambda: [(t.name, t.getRoleName()) for t in w.top_levels()
                                         if t is not None])
    return PlotWindow(w, found)


def case_plot_live(args):
    """--plot opens the plot window with two parameters; as the device moves, each series'
    current value is what the main window's display shows."""
    with Run(args, [], port_args=["--port", "COM1={link}", "--plot", ",".join(PLOTTED)]) as run:
        w, device = run.window, run.device
        expect_connected(w, "Quennet Duo Plus")
        plot = find_plot(w)
        for label in PLOTTED:
            check(plot.checked(label), f"'{label}' is not plotted")
        check(not plot.checked("Wheel based Speed"), "a parameter not asked for is plotted")
        for position in (20, 63, 91):
            device.control(f"position {position}")
            w.wait_shown("Engine speed", engine_speed_text(position))
            for label in PLOTTED:
                shown = w.shown(label)
                wait_until(lambda lab=label, s=shown: plot.value(lab) == s,
                           f"the plot's {label} at {shown!r}",
                           describe=lambda lab=label: plot.value(lab))
            log(f"position {position}: plot and window agree")


def case_plot_view(args):
    """A recording made with --log opens with --view, without a device: the identity from the
    file and its parameters listed."""
    world = World(keep=args.keep)
    try:
        world.start_display()
        world.start_session_bus()
        from e2e_harness import Device, Window  # pylint: disable=import-outside-toplevel
        device = Device(world, args.sim, [])
        recording = world.path("drive.csv")
        recorder = world.spawn(
            "recorder", [args.orvale, "--headless", "--port", f"COM1={device.link}", "--log",
                         recording],
            stderr=open(world.path("recorder.log"), "wb"))
        rows = lambda: (sum(1 for _ in open(recording, encoding="utf-8"))  # noqa: E731
                        if os.path.exists(recording) else 0)
        wait_until(lambda: rows() >= 2, "the identification's row")
        for position in (30, 60):
            count = rows()
            device.control(f"position {position}")
            wait_until(lambda c=count: rows() > c, f"a row for position {position}")
        recorder.terminate()
        check(recorder.wait(20) == 0, "the recording run did not end cleanly")
        log(f"recorded {rows() - 1} rows")

        w = Window(world, args.orvale, ["--view", recording], main_window=False)
        plot = find_plot(w, f"Orvale - {os.path.basename(recording)}")
        device_text = plot.control("Device").description
        check("Quennet Duo Plus" in device_text, f"the identity shown: {device_text!r}")
        check(plot.value("Engine speed") == engine_speed_text(60),
              f"Engine speed at the end of the file: {plot.value('Engine speed')!r}")
    finally:
        world.close()


CASES = {
    "plot_live": case_plot_live,
    "plot_view": case_plot_view,
}

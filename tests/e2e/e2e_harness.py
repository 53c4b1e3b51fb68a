"""Harness of Orvale's end-to-end tests: a private X server and D-Bus session, the simulated
device with its record and control pipe, and Orvale's window as the accessibility bus (AT-SPI)
shows it. Each test process builds one such world and tears it down whole, also on failure.
"""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Generous, so that only a fault and never a slow machine runs into it.
DEADLINE = 20.0
POLL = 0.05

NOT_FOUND = "Not Found Yet!"
FIRMWARE_MESSAGE = ("This release requires a Special build Quennet (firmware) version 0.3B/0.3C; "
                    "please update your Quennet accordingly.")

IDENTIFY = b"AT ID?\r\n"
KEY_DOWN = b"AT KI1065\r\n"
KEY_UP = b"AT KI2055\r\n"
KEY_DYNAMIC = b"AT KI2505\r\n"
KEY_QUIET = b"AT KI3405\r\n"

# X key symbols.
SPACE = 0x20
RETURN = 0xFF0D
LEFT = 0xFF51
UP = 0xFF52
RIGHT = 0xFF53
DOWN = 0xFF54
MENU = 0xFF67

REMOTE_GROUP = ("Control position", "Down", "Up", "Dynamic", "Quiet")
IDENTITY_BOXES = ("Product ID", "Serial Number", "Firmware Version", "CAN Baud Rate",
                  "VIN Style", "Firmware Build #")


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


START = time.monotonic()


def log(message):
    print(f"[{time.monotonic() - START:7.3f}] {message}", flush=True)


# --- the wire ------------------------------------------------------------------------------

def hex_pair(byte):
    """A byte as the device writes it: low nibble first."""
    digits = "0123456789ABCDEF"
    return digits[byte & 0xF] + digits[byte >> 4 & 0xF]


def position_command(position):
    body = "AT %" + hex_pair(position & 0xFF)
    checksum = -sum(body.encode()) & 0xFF
    return (body + hex_pair(checksum) + "\r\n").encode()


def engine_speed_text(position):
    """What "Engine speed" shows for a position of the device: word ramp x 0.125 rpm."""
    return f"{(12851 * position // 20) * 0.125:.3f} rpm"


# --- processes -----------------------------------------------------------------------------

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # A driver killed outright (a test runner's timeout) takes its children with it.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def _stop(process, name, grace=5.0):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        log(f"{name} (pid {process.pid}) ignored SIGTERM; killing it")
        process.kill()
        process.wait()


def _group_members(pgid):
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        # Fields after the command: state, ppid, pgrp, ...
        if int(fields[2]) == pgid and fields[0] != "Z":
            members.append(int(entry))
    return members


class World:
    """Xvfb, a D-Bus session and everything started in it; stopped whole by close()."""

    def __init__(self, keep=False):
        self.keep = keep
        self.dir = tempfile.mkdtemp(prefix="orvale-e2e-")
        self.runtime = os.path.join(self.dir, "run")
        os.mkdir(self.runtime, 0o700)
        self.processes = []  # (name, Popen), stopped in reverse order
        self.threads_started = False  # set once pyatspi runs threads in this process
        self.bus_group = None
        self.env = {key: value for key, value in os.environ.items()
                    if key not in ("WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "SESSION_MANAGER",
                                   "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM",
                                   "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON")}
        self.env.update(XDG_RUNTIME_DIR=self.runtime,
                        XDG_CONFIG_HOME=os.path.join(self.dir, "config"))

    def path(self, name):
        return os.path.join(self.dir, name)

    def log_file(self, name):
        return open(self.path(name + ".log"), "wb")

    def spawn(self, name, argv, **kwargs):
        kwargs.setdefault("env", self.env)
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        if "stderr" not in kwargs:
            kwargs["stderr"] = self.log_file(name)
        if self.threads_started:
            # Python code between fork and exec may deadlock once other threads hold locks;
            # setpriv asks for the same signal and then becomes the program (same pid).
            process = subprocess.Popen(["setpriv", "--pdeathsig", "TERM", "--", *argv], **kwargs)
        else:
            process = subprocess.Popen(argv, preexec_fn=_die_with_parent, **kwargs)
        self.processes.append((name, process))
        return process

    def start_display(self):
        read_end, write_end = os.pipe()
        self.spawn("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                            "1600x1000x24", "-nolisten", "tcp", "-noreset"],
                   pass_fds=(write_end,))
        os.close(write_end)
        # Xvfb picks a free display and writes its number once it accepts clients.
        number = b""
        deadline = time.monotonic() + DEADLINE
        while not number.endswith(b"\n"):
            check(time.monotonic() < deadline, "Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            check(chunk, "Xvfb ended before reporting its display")
            number += chunk
        os.close(read_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        log(f"Xvfb on display {self.env['DISPLAY']}")

    def start_session_bus(self):
        # Its own process group: the accessibility bus launcher, its bus and the registry
        # daemon that it activates land in it, and close() can find them all.
        bus = self.spawn("dbus", ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE, start_new_session=True)
        address = bus.stdout.readline().decode().strip()
        check(address, "dbus-daemon printed no address")
        self.bus_group = bus.pid
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        log(f"D-Bus session {address}")

    def close(self):
        for name, process in reversed(self.processes):
            _stop(process, name)
        if self.bus_group is not None:
            # The bus launcher notices its session bus gone and takes its own bus and the
            # registry with it; whatever is still there shortly after is stopped by its id.
            deadline = time.monotonic() + 5.0
            while _group_members(self.bus_group) and time.monotonic() < deadline:
                time.sleep(POLL)
            for pid in _group_members(self.bus_group):
                log(f"stopping leftover accessibility process {pid}")
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        if self.keep:
            log(f"kept {self.dir}")
        else:
            shutil.rmtree(self.dir, ignore_errors=True)

    def dump_logs(self):
        for entry in sorted(os.listdir(self.dir)):
            if entry.endswith(".log"):
                with open(self.path(entry), "rb") as f:
                    text = f.read().decode(errors="replace")
                tail = "\n".join(text.splitlines()[-25:])
                print(f"----- {entry} (last lines) -----\n{tail}", flush=True)


# --- the simulated device ------------------------------------------------------------------

class Device:
    """quennet-sim with a link, a record of what it receives and a control pipe."""

    def __init__(self, world, sim, args):
        self.world = world
        self.link = world.path("quennet-port")
        self.record_path = world.path("received.bin")
        self.times_path = world.path("received.times")
        self.control_path = world.path("control.fifo")
        self.stderr_path = world.path("sim.log")
        argv = [sim, "--link", self.link, "--record", self.record_path,
                "--record-times", self.times_path, "--control", self.control_path, *args]
        log("device: " + " ".join(argv[1:]))
        self.process = world.spawn("sim", argv, stdout=subprocess.PIPE,
                                   stderr=open(self.stderr_path, "wb"))
        slave = self.process.stdout.readline().decode().strip()
        check(slave, "quennet-sim printed no slave device")
        check(os.path.islink(self.link), "quennet-sim made no link")

    def received(self):
        with open(self.record_path, "rb") as f:
            return f.read()

    def count(self, command):
        return self.received().count(command)

    def received_timed(self):
        """What the device received, one (monotonic seconds, byte) per byte, from the timed
        record; the clock is this process's time.monotonic(). A line still being written is
        left out."""
        with open(self.times_path, "rb") as f:
            lines = f.read().split(b"\n")[:-1]
        timed = []
        for line in lines:
            micros, chunk = line.split(b" ")
            timed.extend((int(micros) / 1e6, byte) for byte in bytes.fromhex(chunk.decode()))
        return timed

    def control(self, line):
        """Sends a control line and returns once the device has applied it."""
        reports = self._reports()
        with open(self.control_path, "w") as pipe:
            pipe.write(line + "\n")
        wanted = f"quennet-sim: control: {line}"
        found = wait_until(lambda: [r for r in self._reports()[len(reports):]
                                    if r.startswith(wanted)],
                           f"the device to apply '{line}'")
        check(found[0] == wanted, f"the device refused '{line}': {found[0]}")
        log(f"device: {line}")

    def _reports(self):
        with open(self.stderr_path, "rb") as f:
            return [line for line in f.read().decode(errors="replace").splitlines()
                    if line.startswith("quennet-sim: control: ")]


# --- waiting -------------------------------------------------------------------------------

def wait_until(condition, what, timeout=DEADLINE, describe=None):
    """Polls `condition` until it returns something true and returns that. Errors of the
    accessibility bus count as "not yet": a window busy with its own work answers late."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
            last_error = None
        except Failure:
            raise
        except Exception as error:  # pylint: disable=broad-except
            last_error = error
        if time.monotonic() > deadline:
            detail = ""
            if describe is not None:
                try:
                    detail = f"; last seen: {describe()!r}"
                except Exception as error:  # pylint: disable=broad-except
                    detail = f"; could not look: {error}"
            if last_error is not None:
                detail += f"; last error: {last_error}"
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(POLL)


def wait_stable(read, what, quiet_for, timeout=DEADLINE):
    """Waits until `read()` has not changed for `quiet_for` seconds and returns it."""
    value = read()
    since = time.monotonic()
    deadline = since + timeout
    while time.monotonic() - since < quiet_for:
        check(time.monotonic() < deadline,
              f"{what} kept changing for {timeout:.0f} s (now {value!r})")
        time.sleep(POLL)
        now = read()
        if now != value:
            value, since = now, time.monotonic()
    return value


# --- the window, as the accessibility bus shows it -----------------------------------------

class Controls:
    """The named objects of one top-level window of Orvale's, as the accessibility bus shows
    them: looked up by accessible name, read and acted on."""

    def _attach(self, pyatspi, root):
        self.pyatspi = pyatspi
        self.root = root

        def index():
            self.controls = {}
            self.combos = []  # in creation order; their names change with their selection
            self._index(root)
            return True
        # A window still laying itself out may take an object away while it is being walked;
        # the bus then says "No such object path". Walking it again is all that is needed.
        wait_until(index, f"the objects of '{root.name}' to hold still long enough to list")

    def _alive(self):
        raise NotImplementedError

    def _index(self, accessible):
        for i in range(accessible.childCount):
            child = accessible.getChildAtIndex(i)
            if child is None:
                continue
            self.controls.setdefault(child.name, []).append(child)
            # A list's entries (the port list has 50) are looked at on their own. A table's
            # cells are not controls, and the table makes them anew whenever it re-sorts.
            role = child.getRole()
            if role == self.pyatspi.ROLE_COMBO_BOX:
                self.combos.append(child)
            elif role != self.pyatspi.ROLE_TABLE:
                self._index(child)

    # Lookup. Label frames carry their box's name too; they are panels, the boxes are not.
    def all_named(self, name):
        return self.controls.get(name, [])

    def control(self, name):
        found = [a for a in self.all_named(name) if a.getRole() != self.pyatspi.ROLE_PANEL]
        check(len(found) == 1, f"expected one control named {name!r}, found {len(found)}")
        return found[0]

    def combo_boxes(self):
        """The combo boxes in creation order. Qt names a combo box after its selection."""
        return list(self.combos)

    # Reading.
    def text(self, name):
        """The text of a read-only edit."""
        return self.control(name).queryText().getText(0, -1)

    def states_of(self, accessible):
        return {self.pyatspi.stateToString(s) for s in accessible.getState().getStates()}

    def states(self, name):
        return self.states_of(self.control(name))

    def enabled(self, name):
        return "enabled" in self.states(name)

    def checked(self, name):
        return "checked" in self.states(name)

    # Acting.
    def press(self, name):
        """The button's or check box's own action, as a screen reader's user would."""
        self._alive()
        act(self.control(name), ("Press", "Toggle", "click"), name,
            lambda: sorted(self.states(name)))

    def active(self):
        """Whether the window has the keyboard. Without a window manager nobody gives it back
        when a window over it has closed."""
        return "active" in self.states_of(self.root)

    def focus(self, name):
        check(self.active(), f"the keyboard focus for {name!r}: the window is not active")
        component = self.control(name).queryComponent()
        wait_until(lambda: component.grabFocus() and "focused" in self.states(name),
                   f"{name!r} to take the keyboard focus",
                   describe=lambda: sorted(self.states(name)))

    def right_click(self, name):
        """A click of the right mouse button in the middle of the control."""
        self._alive()
        x, y, width, height = self.control(name).queryComponent().getExtents(
            self.pyatspi.DESKTOP_COORDS)
        self.pyatspi.Registry.generateMouseEvent(x + width // 2, y + height // 2, "b3c")
        log(f"right click on {name}")

    def key(self, keysym):
        """A key press and release on the X server, to whatever has the focus."""
        self._alive()
        self.pyatspi.Registry.generateKeyboardEvent(keysym, None, self.pyatspi.KEY_SYM)

    def choose(self, combo, item):
        """Selects `item` in a closed combo box as the keyboard does: opens its list, moves
        the highlight there with the arrow keys and takes it with Return. The box's current
        item changes once, from the old item to `item`, and never passes the ones between."""
        self._alive()
        check("enabled" in self.states_of(combo), f"{combo.name!r}: the list is not enabled")
        entries = [a for a in descendants(combo) if a.getRole() == self.pyatspi.ROLE_LIST_ITEM]
        names = [a.name for a in entries]
        check(item in names, f"{combo.name!r} holds no {item!r}: {names}")
        popup = [a for a in descendants(combo) if a.getRole() == self.pyatspi.ROLE_LIST][0]

        def highlighted():
            return [a.name for a in entries if {"selected", "focused"} <= self.states_of(a)]

        def on(index):
            return {"selected", "focused"} <= self.states_of(entries[index])

        current = names.index(combo.name)
        act(combo, ("ShowMenu",), f"the list {combo.name!r}")
        wait_until(lambda: "showing" in self.states_of(popup) and on(current),
                   f"the list {combo.name!r} to open on its current item",
                   describe=lambda: (sorted(self.states_of(popup)), highlighted()))
        target = names.index(item)
        while current != target:
            step = 1 if target > current else -1
            self.key(DOWN if step > 0 else UP)
            wait_until(lambda n=current + step: on(n),
                       f"the highlight on {names[current + step]!r}", describe=highlighted)
            current += step
        check(highlighted() == [item], f"highlighted in the list: {highlighted()}")
        self.key(RETURN)
        wait_until(lambda: combo.name == item and "showing" not in self.states_of(popup),
                   f"the list to close on {item!r}", describe=lambda: combo.name)
        log(f"chose {item} in the list")

    # Waiting.
    def wait_text(self, name, expected, timeout=DEADLINE):
        return wait_until(lambda: self.text(name) == expected,
                          f"{name!r} to read {expected!r}", timeout,
                          describe=lambda: self.text(name))

    def wait_state(self, name, state, present=True, timeout=DEADLINE):
        return wait_until(lambda: (state in self.states(name)) == present,
                          f"{name!r} to be {'' if present else 'not '}{state}", timeout,
                          describe=lambda: sorted(self.states(name)))


def act(accessible, wanted, what, describe_states=lambda: "?"):
    """Runs the first of the `wanted` actions that `accessible` offers."""
    action = accessible.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    for name in wanted:
        if name in names:
            check(action.doAction(names.index(name)), f"{what}: {name} refused")
            log(f"pressed {what}" if name != "ShowMenu" else f"opened {what}")
            return
    raise Failure(f"{what} offers none of {list(wanted)} (actions: {names}, "
                  f"states: {describe_states()})")


class Window(Controls):
    """Orvale's main window through AT-SPI: controls found by accessible name.

    `fresh`: Orvale is copied into a new directory of its own, with `port_file` as its port
    file (None: no file); otherwise the executable copied there before starts again, with the
    port file that it left. `before_window(window)` runs once Orvale is on the accessibility
    bus and before its main window is looked for (a message box at start-up holds it back).
    `main_window` False: the run shows no main window (--view); only top_levels() serve."""

    def __init__(self, world, orvale, port_args, port_file=None, fresh=True, before_window=None,
                 main_window=True):
        self.world = world
        app_dir = world.path("app")
        self.exe = os.path.join(app_dir, "Orvale")
        self.port_file = os.path.join(app_dir, "quennet.ini")
        if fresh:
            os.mkdir(app_dir)
            shutil.copy2(orvale, self.exe)
            if port_file is not None:
                with open(self.port_file, "wb") as f:
                    f.write(port_file)
        env = dict(world.env, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.process = world.spawn("orvale", [self.exe, *port_args], env=env, cwd=app_dir)
        log(f"Orvale {' '.join(port_args)} (pid {self.process.pid})")

        # pyatspi finds the display and the session bus when first imported, so only now; and
        # after the first spawns, since it starts threads of its own.
        os.environ.update({k: world.env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                                     "XDG_RUNTIME_DIR")})
        import pyatspi  # pylint: disable=import-outside-toplevel
        from gi.repository import Atspi  # pylint: disable=import-outside-toplevel
        world.threads_started = True
        self.pyatspi = pyatspi

        self.app = wait_until(self._find_app, "Orvale on the accessibility bus")
        # Every read goes to the program: a cached state could be stale.
        self.app.set_cache_mask(Atspi.Cache.NONE)
        self.window = None
        if before_window is not None:
            before_window(self)
        if not main_window:  # a run that shows other windows only (--view)
            self.controls = {}
            return
        self.window = wait_until(self._find_main_window, "the main window")
        self._attach(pyatspi, self.window)
        log(f"window '{self.window.name}' with {len(self.controls)} named objects")

    def _alive(self):
        code = self.process.poll()
        check(code is None, f"Orvale ended with status {code}")

    def _find_app(self):
        self._alive()
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == self.process.pid:
                return app
        return None

    def top_levels(self):
        self._alive()
        return [self.app.getChildAtIndex(i) for i in range(self.app.childCount)]

    def _find_main_window(self):
        for window in self.top_levels():
            if window is not None and window.name.startswith("Orvale Ver."):
                return window
        return None

    def combo_box(self):
        found = self.combo_boxes()
        check(len(found) == 1, f"expected one combo box, found {len(found)}")
        return found[0]

    # Reading.
    def shown(self, name):
        """The text a numeric display shows (its accessible description)."""
        return self.control(name).description

    def value(self, name):
        return self.control(name).queryValue().currentValue

    # Acting.
    def set_value(self, name, value):
        self._alive()
        self.control(name).queryValue().currentValue = float(value)
        log(f"set {name} to {value}")

    def type_to(self, name, keysym, label):
        self.focus(name)
        self.key(keysym)
        log(f"{label} on {name}")

    def exit(self):
        """Exit, as the operator ends the program; returns once the process has ended."""
        self.press("Exit")
        wait_until(lambda: self.process.poll() is not None, "Orvale to end after Exit")
        check(self.process.returncode == 0, f"Orvale ended with status {self.process.returncode}")
        log("Orvale ended")

    # Waiting on the window.
    def wait_shown(self, name, expected, timeout=DEADLINE):
        return wait_until(lambda: self.shown(name) == expected,
                          f"{name!r} to show {expected!r}", timeout,
                          describe=lambda: self.shown(name))

    def snapshot(self):
        """What a failure report shows of the window."""
        lines = []
        for name in ("Connect", "Disconnect", *REMOTE_GROUP):
            try:
                lines.append(f"{name}: {sorted(self.states(name))}")
            except Exception as error:  # pylint: disable=broad-except
                lines.append(f"{name}: {error}")
        for name in IDENTITY_BOXES:
            try:
                lines.append(f"{name}: {self.text(name)!r}")
            except Exception as error:  # pylint: disable=broad-except
                lines.append(f"{name}: {error}")
        try:
            lines.append(f"Engine speed: {self.shown('Engine speed')!r}")
            lines.append(f"Control position: {self.value('Control position')!r}")
        except Exception as error:  # pylint: disable=broad-except
            lines.append(f"displays: {error}")
        return "\n".join(lines)


class Dialog(Controls):
    """A window of Orvale's other than the main window (the device dialog, a message box)."""

    def __init__(self, window, accessible):
        self.window = window
        self._attach(window.pyatspi, accessible)

    def _alive(self):
        self.window._alive()  # pylint: disable=protected-access

    def is_open(self):
        return any(t == self.root for t in self.window.top_levels() if t is not None)

    def texts(self):
        return [a.name for a in descendants(self.root) if a.getRole() == self.pyatspi.ROLE_LABEL]

    def close(self, button="OK"):
        # Some styles keep the mnemonic marker in a message box's "&OK".
        buttons = [a for a in descendants(self.root)
                   if a.getRole() == self.pyatspi.ROLE_PUSH_BUTTON]
        found = [a for a in buttons if a.name.replace("&", "") == button]
        check(len(found) == 1, f"{self.root.name!r} has the buttons {[a.name for a in buttons]}")
        act(found[0], ("Press",), f"{button} in {self.root.name!r}")
        wait_until(lambda: not self.is_open(), f"{self.root.name!r} to close")


def top_level(w, role, name=None, exclude=()):
    """The one top-level window of `role` (and `name`) other than those in `exclude`, or None."""
    found = [t for t in w.top_levels()
             if t is not None and t.getRole() == role and (name is None or t.name == name)
             and t not in exclude]
    check(len(found) <= 1, f"{len(found)} windows {name or role} at once")
    return found[0] if found else None


def wait_message_box(w, exclude=()):
    """Waits for a message box (an alert) and returns it."""
    box = wait_until(lambda: top_level(w, w.pyatspi.ROLE_ALERT, exclude=exclude),
                     "a message box")
    dialog = Dialog(w, box)
    log(f"message box {box.name!r}: {dialog.texts()}")
    return dialog


def open_device_dialog(w):
    """Opens the device information dialog from the main window's context menu: brought up
    by the Menu key while the window has the keyboard, else by a right click; the entry
    "About Orvale..." is taken by its accelerator A. Returns the dialog."""
    from gi.repository import Atspi, GLib  # pylint: disable=import-outside-toplevel
    menus = []

    def on_showing(event):
        if event.detail1 and event.source.getRole() == w.pyatspi.ROLE_POPUP_MENU:
            menus.append(event.source)

    # Qt leaves pop-up menus out of the application's children: a screen reader learns of one
    # from its events, and so does this.
    listener = Atspi.EventListener.new(on_showing)
    listener.register("object:state-changed:showing")
    try:
        if w.active():
            w.focus("Exit")
            w.key(MENU)
        else:
            # A push button leaves the event to the window under it.
            w.right_click("Exit")
        context = GLib.MainContext.default()

        def menu_shown():
            while context.iteration(False):
                pass
            return menus[-1] if menus else None
        menu = wait_until(menu_shown, "the window's context menu")
    finally:
        listener.deregister("object:state-changed:showing")
    entries = [a for a in descendants(menu) if a.getRole() == w.pyatspi.ROLE_MENU_ITEM]
    # The device dialog's entry first, the plot window's under it.
    check([a.name for a in entries] == ["About Orvale...", "Plot..."],
          f"the context menu offers {[a.name for a in entries]}")
    action = entries[0].queryAction()
    bindings = [action.getKeyBinding(i) for i in range(action.nActions)]
    check("Alt+A" in bindings, f"'About Orvale...' has the key bindings {bindings}, not Alt+A")
    w.key(ord("a"))
    dialog = wait_until(lambda: top_level(w, w.pyatspi.ROLE_DIALOG, "About Orvale V1.00A"),
                        "the dialog 'About Orvale V1.00A'")
    log("device dialog open")
    return Dialog(w, dialog)


# --- shared steps --------------------------------------------------------------------------

def run_to_exit(world, orvale, arguments, timeout=DEADLINE):
    """Runs a fresh copy of Orvale in the world's display and session, for a command line that
    it is to refuse before it makes its window. Returns its exit status, its standard error and
    the directory it ran in (where a window would have left its port file)."""
    app_dir = world.path("app")
    os.mkdir(app_dir)
    exe = os.path.join(app_dir, "Orvale")
    shutil.copy2(orvale, exe)
    env = dict(world.env, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    process = world.spawn("orvale", [exe, *arguments], env=env, cwd=app_dir)
    log(f"Orvale {' '.join(arguments)} (pid {process.pid}), to end by itself")
    try:
        code = process.wait(timeout)
    except subprocess.TimeoutExpired as expired:
        raise Failure(f"Orvale {' '.join(arguments)} still ran after {timeout:.0f} s") from expired
    with open(world.path("orvale.log"), "rb") as f:
        errors = f.read().decode(errors="replace")
    log(f"Orvale ended with status {code}; stderr {errors!r}")
    return code, errors, app_dir


class Run:
    """One case's world: the device, then Orvale on port COM1 (or as the case says)."""

    def __init__(self, args, sim_args, port_args=None, port_file=None, before_window=None):
        self.world = World(keep=args.keep)
        self.device = None
        self.window = None
        self.args = args
        self.sim_args = sim_args
        self.port_args = port_args
        self.port_file = port_file
        self.before_window = before_window

    def _port_args(self):
        port_args = self.port_args or ["--port", f"COM1={self.device.link}"]
        return [a.replace("{link}", self.device.link) for a in port_args]

    def start_again(self):
        """Starts the same executable once more, in its directory as the last run left it."""
        check(self.window.process.poll() is not None, "Orvale is still running")
        self.window = Window(self.world, self.args.orvale, self._port_args(), fresh=False)
        return self.window

    def __enter__(self):
        try:
            self.world.start_display()
            self.world.start_session_bus()
            self.device = Device(self.world, self.args.sim, self.sim_args)
            self.window = Window(self.world, self.args.orvale, self._port_args(),
                                 self.port_file, before_window=self.before_window)
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, kind, error, trace):
        if kind is not None:
            print(f"FAILED: {error}", flush=True)
            if self.window is not None:
                try:
                    print("----- window -----\n" + self.window.snapshot(), flush=True)
                except Exception:  # pylint: disable=broad-except
                    pass
            if self.device is not None:
                try:
                    print(f"----- device received -----\n{self.device.received()!r}", flush=True)
                except OSError:
                    pass
            self.world.dump_logs()
        self.world.close()
        return False


def expect_connected(w, product):
    w.wait_text("Product ID", product)
    w.wait_state("Connect", "enabled", present=False)
    for name in ("Disconnect", "Exit", *REMOTE_GROUP):
        check(w.enabled(name), f"{name} is not enabled while connected")


def expect_not_connected(w):
    """Idle or Identifying: Connect usable, Disconnect and the remote group not."""
    check(w.enabled("Connect"), "Connect is not enabled")
    for name in ("Disconnect", *REMOTE_GROUP):
        check(not w.enabled(name), f"{name} is enabled while not connected")
    for name in ("Product ID", "Firmware Version", "CAN Baud Rate", "VIN Style",
                 "Firmware Build #"):
        check(w.text(name) == NOT_FOUND, f"{name} reads {w.text(name)!r}, not {NOT_FOUND!r}")
    check(w.text("Serial Number") == "0", f"Serial Number reads {w.text('Serial Number')!r}")


def expect_identity_only(w, product):
    w.wait_text("Product ID", product)
    w.wait_state("Connect", "enabled", present=False)
    check(w.enabled("Disconnect"), "Disconnect is not enabled in identity only")
    for name in REMOTE_GROUP:
        check(not w.enabled(name), f"{name} is enabled in identity only")


def received_after(device, offset, expected, what):
    """Waits for `expected` to arrive after `offset` and checks that nothing else did."""
    wait_until(lambda: len(device.received()) >= offset + len(expected),
               f"the device to receive {what} {expected!r}",
               describe=lambda: device.received()[offset:])
    got = device.received()[offset:]
    check(got == expected, f"{what}: the device received {got!r}, expected exactly {expected!r}")
    return offset + len(expected)


def strip_identify(record):
    """The record without the identify commands it starts with (a slow first answer may
    have been asked for twice)."""
    count = 0
    while record.startswith(IDENTIFY):
        record = record[len(IDENTIFY):]
        count += 1
    check(count >= 1, f"the device's record does not start with the identify command: {record!r}")
    return record


def find_message_box(w):
    for window in w.top_levels():
        if window is not None and window.getRole() in (w.pyatspi.ROLE_ALERT,
                                                       w.pyatspi.ROLE_DIALOG) \
                and window != w.window and not window.name.startswith("Orvale Ver."):
            return window
    return None


def descendants(accessible):
    out = []
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is not None:
            out.append(child)
            out.extend(descendants(child))
    return out

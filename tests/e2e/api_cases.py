#!/usr/bin/python3
"""End-to-end tests of Orvale's control API: the real program against quennet-sim on a
pseudo-terminal, driven through client/orvale_client.py as a script would drive it.

Most cases run Orvale --headless, without any display; the cases that compare with the window
run it under Xvfb and read the window through the accessibility bus, as orvale_e2e.py does.

    api_cases.py --orvale build/dev/app/Orvale --sim build/dev/sim/quennet-sim CASE
"""

import argparse
import csv
import importlib.util
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time
import traceback

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "client"))
import orvale_client  # noqa: E402 pylint: disable=wrong-import-position
from orvale_client import (  # noqa: E402 pylint: disable=wrong-import-position
    OrvaleClosed, OrvaleError)
from e2e_harness import (  # noqa: E402 pylint: disable=wrong-import-position
    DEADLINE, IDENTIFY, KEY_DOWN, KEY_DYNAMIC, KEY_QUIET, KEY_UP, START, Device, Failure, Run,
    World, check, engine_speed_text, expect_connected, log, position_command, strip_identify,
    wait_stable, wait_until)

LISTENING = re.compile(r"the control API listens on (\S+) port (\d+)")
# 48 hexadecimal characters; Orvale takes 32 or more.
TOKEN = "00112233445566778899aabbccddeeff0123456789abcdef"
MAX_LINE = 1 << 20
MAX_CLIENTS = 32
RATE_LIMIT = 200

COMMAND_NAMES = ["hello", "status", "parameters", "set_position", "press", "connect",
                 "disconnect", "select_port", "change_setting", "subscribe", "unsubscribe",
                 "record", "profile", "bus"]


# --- running Orvale ------------------------------------------------------------------------

def headless_env(world):
    """The world's environment with no display server at all: Orvale must not look for one."""
    return {k: v for k, v in world.env.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}


def copy_orvale(world, orvale):
    """A copy of Orvale in a directory of its own, where it keeps its port file."""
    app_dir = world.path("app")
    os.makedirs(app_dir, exist_ok=True)
    exe = os.path.join(app_dir, "Orvale")
    if not os.path.exists(exe):
        shutil.copy2(orvale, exe)
    return exe


def api_address(world, process, name="orvale"):
    """The (host, port) Orvale says its API listens on, from its standard error."""
    def said():
        check(process.poll() is None, f"Orvale ended with status {process.returncode}")
        with open(world.path(name + ".log"), "rb") as f:
            found = LISTENING.search(f.read().decode(errors="replace"))
        return found and (found.group(1), int(found.group(2)))
    where, port = wait_until(said, "Orvale to say where its control API listens")
    return ("127.0.0.1" if where == "loopback" else where), port


class Headless:
    """One world with Orvale --headless on port COM1 to quennet-sim (`sim_args`), or to its
    built-in simulated device (`sim_args` None), and its API on a port of the system's
    choosing. `files` {name: (text, mode)} are written into the world first; "{name}" in
    `extra` becomes the file's path, "{dir}" the world's directory. Stopped whole on leaving,
    with the logs shown when a check failed."""

    def __init__(self, args, sim_args=("--model", "15"), extra=(), api="0", files=None,
                 before=None):
        self.args = args
        self.world = World(keep=args.keep)
        self.device = None
        try:
            if before is not None:
                before(self.world)  # e.g. a program that must be there before the device
            paths = {name: write_file(self.world, name, text, mode)
                     for name, (text, mode) in (files or {}).items()}
            paths["dir"] = self.world.dir
            for name, path in paths.items():
                extra = [a.replace("{" + name + "}", path) for a in extra]
            exe = copy_orvale(self.world, args.orvale)
            if sim_args is None:
                target = ["--simulate"]
            else:
                self.device = Device(self.world, args.sim, list(sim_args))
                target = ["--port", f"COM1={self.device.link}"]
            argv = [exe, "--headless", *target, "--api", api, *extra]
            self.process = self.world.spawn("orvale", argv, env=headless_env(self.world),
                                            cwd=os.path.dirname(exe))
            log("Orvale " + " ".join(argv[1:]))
            self.host, self.port = api_address(self.world, self.process)
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise

    def connect(self, token=None):
        return orvale_client.connect(self.host, self.port, token=token)

    def __enter__(self):
        return self

    def __exit__(self, kind, error, trace):
        if kind is not None:
            print(f"FAILED: {error}", flush=True)
            if self.device is not None:
                print(f"----- device received -----\n{self.device.received()!r}", flush=True)
            self.world.dump_logs()
        self.world.close()
        return False


def write_file(world, name, text, mode):
    path = world.path(name)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)
    return path


def run_refused(args, arguments):
    """Runs a headless Orvale that is to refuse `arguments` before it listens: returns its exit
    status and standard error."""
    world = World(keep=args.keep)
    try:
        exe = copy_orvale(world, args.orvale)
        process = world.spawn("orvale", [exe, "--headless", "--simulate", *arguments],
                              env=headless_env(world), cwd=os.path.dirname(exe))
        try:
            code = process.wait(DEADLINE)
        except subprocess.TimeoutExpired as expired:
            raise Failure(f"Orvale {' '.join(arguments)} still ran after {DEADLINE:.0f} s") \
                from expired
        with open(world.path("orvale.log"), "rb") as f:
            return code, f.read().decode(errors="replace")
    finally:
        world.close()


def wait_remote_control(orvale, remote=True):
    """Waits until the session says the device can (or cannot) be remote-controlled, with
    its identity known; returns the status."""
    def ready():
        status = orvale.request("status")
        return (status["identity"]["identified"] and status["remote_control"] == remote
                and status["state"] in ("connected", "identified")) and status
    return wait_until(ready, "the device to be identified" + (" and remote-controllable"
                                                              if remote else ""),
                      describe=lambda: orvale.request("status"))


def wait_engine_speed(orvale, position):
    expected = engine_speed_text(position)
    wait_until(lambda: orvale.request("parameters", labels=["Engine speed"])[0]["text"]
               == expected, f"the API's Engine speed to read {expected!r}",
               describe=lambda: orvale.request("parameters", labels=["Engine speed"]))


def expect_refused(call, code, what):
    """Runs `call` and checks that Orvale refused it with `code`; returns the message."""
    try:
        result = call()
    except OrvaleClosed:
        raise
    except OrvaleError as error:
        check(error.code == code, f"{what}: refused with {error.code} ({error.message}), "
                                  f"expected {code}")
        return error.message
    raise Failure(f"{what}: answered {result!r}, expected the error {code}")


def expect_closed(client, what):
    check(client.wait_closed(DEADLINE), f"{what}: the connection stayed open")


# --- the cases -----------------------------------------------------------------------------

# Each command, what its reply holds (a subset) and the bytes the device then receives: the same
# bytes the window's own controls send (orvale_e2e.py's case_commands, settings_cases.py).
COMMANDS = (
    ("set_position", {"position": 50}, {"position": 50}, re.escape(position_command(50))),
    ("set_position", {"position": 100}, {"position": 100}, re.escape(position_command(100))),
    ("set_position", {"position": 0}, {"position": 0}, re.escape(position_command(0))),
    ("press", {"key": "up"}, {"key": "up"}, re.escape(KEY_UP)),
    ("press", {"key": "down"}, {"key": "down"}, re.escape(KEY_DOWN)),
    ("press", {"key": "dynamic"}, {"key": "dynamic"}, re.escape(KEY_DYNAMIC)),
    ("press", {"key": "quiet"}, {"key": "quiet"}, re.escape(KEY_QUIET)),
    ("change_setting", {"setting": "can_baud_rate", "value": "500K bps"},
     {"identity": {"can_baud_rate": "500K bps"}}, re.escape(b"AT CBRS=03\r\n" + IDENTIFY * 2)),
    ("change_setting", {"setting": "vin_style", "value": "Fixed"},
     {"identity": {"vin_style": "Fixed"}}, re.escape(b"AT VIN=1\r\n" + IDENTIFY * 2)),
    ("select_port", {"port": "COM1"}, {"port": "COM1"}, b""),
    ("disconnect", {}, {"state": "closed", "remote_control": False}, b""),
    # Identified afresh: asked again every 100 ms until the device answers.
    ("connect", {}, {}, b"(?:" + re.escape(IDENTIFY) + b")+"),
)


def contains(whole, part):
    if isinstance(part, dict):
        return isinstance(whole, dict) and all(k in whole and contains(whole[k], v)
                                               for k, v in part.items())
    return whole == part


def case_commands(args):
    """Every command that reaches the device sends exactly the bytes the window's controls
    send, and its reply comes once the device has answered."""
    with Headless(args, ["--model", "15"]) as run, run.connect() as orvale:
        wait_remote_control(orvale)
        for cmd, arguments, answer, wire in COMMANDS:
            offset = len(run.device.received())
            result = orvale.request(cmd, **arguments)
            what = f"{cmd} {json.dumps(arguments)}"
            check(contains(result, answer), f"{what} answered {result!r}, expected {answer!r}")
            if cmd == "connect":
                wait_remote_control(orvale)
            # Nothing more may come: the record stays as it is for a broadcast period or two.
            got = wait_stable(lambda o=offset: run.device.received()[o:], "the device's record",
                              quiet_for=0.3)
            check(re.fullmatch(wire, got, re.S),
                  f"{what}: the device received {got!r}, expected {wire!r}")
            log(f"{what}: device received {got!r}")
            if cmd == "set_position":
                wait_engine_speed(orvale, arguments["position"])
        status = orvale.request("status")
        check((status["dynamic"], status["quiet"]) == (True, True),
              f"Dynamic and Quiet read {status['dynamic']}, {status['quiet']} after one press "
              f"of each")


# Each kind of malformed request: the line, the error code and the id its reply carries (None:
# the request's could not be read).
BAD_REQUESTS = (
    (b'{"id": 1, "cmd": "status"', "parse", None),
    (b'\xff\xfe{"id": 2}', "parse", None),
    (b'[{"id": 3, "cmd": "status"}]', "invalid_request", None),
    # Valid JSON, but no object.
    (b'"status"', "invalid_request", None),
    (b'42', "invalid_request", None),
    (b'{"id": 5}', "invalid_request", 5),
    (b'{"id": 6, "cmd": 7}', "invalid_request", 6),
    (b'{"id": 7, "cmd": "launch"}', "unknown_command", 7),
    (b'{"id": "eight", "cmd": "STATUS"}', "unknown_command", "eight"),
    (b'{"id": 9, "cmd": "set_position"}', "invalid_argument", 9),
    (b'{"id": 10, "cmd": "set_position", "position": "50"}', "invalid_argument", 10),
    (b'{"id": 11, "cmd": "set_position", "position": 50.5}', "invalid_argument", 11),
    (b'{"id": 12, "cmd": "set_position", "position": true}', "invalid_argument", 12),
    (b'{"id": 13, "cmd": "set_position", "position": 101}', "invalid_argument", 13),
    (b'{"id": 14, "cmd": "set_position", "position": -1}', "invalid_argument", 14),
    (b'{"id": 15, "cmd": "press", "key": "left"}', "invalid_argument", 15),
    (b'{"id": 16, "cmd": "press", "key": ["up"]}', "invalid_argument", 16),
    (b'{"id": 17, "cmd": "status", "verbose": true}', "invalid_argument", 17),
    # A good argument beside an unknown one: the whole request is refused, nothing moves.
    (b'{"id": 18, "cmd": "set_position", "position": 60, "speed": 2}', "invalid_argument", 18),
    (b'{"id": 19, "cmd": "parameters", "labels": "Engine speed"}', "invalid_argument", 19),
    (b'{"id": 20, "cmd": "parameters", "labels": ["Warp drive"]}', "invalid_argument", 20),
    (b'{"id": 21, "cmd": "parameters", "ids": [1022, "x"]}', "invalid_argument", 21),
    (b'{"id": 22, "cmd": "subscribe", "events": ["parameters"], "max_rate": 0}',
     "invalid_argument", 22),
    (b'{"id": 23, "cmd": "subscribe", "events": ["everything"]}', "invalid_argument", 23),
    (b'{"id": 24, "cmd": "change_setting", "setting": "can_baud_rate", "value": "9600 bps"}',
     "invalid_argument", 24),
    (b'{"id": 25, "cmd": "select_port", "port": "COM51"}', "invalid_argument", 25),
    (b'{"id": 26, "cmd": "record", "action": "start"}', "invalid_argument", 26),
)


def case_bad_requests(args):
    """Each kind of malformed request gets its error code and the request's id; none reaches
    the device, and the connection goes on working after every one."""
    with Headless(args, ["--model", "15"]) as run, run.connect() as orvale:
        wait_remote_control(orvale)
        offset = len(run.device.received())
        for line, code, request_id in BAD_REQUESTS:
            orvale.send_line(line)
            expect_refused(lambda i=request_id: orvale.reply(i), code, repr(line))
            status = orvale.request("status")
            check(status["position"] == 0, f"after {line!r} the position is {status['position']}")
        received = wait_stable(lambda: run.device.received()[offset:], "the device's record",
                               quiet_for=0.3)
        check(received == b"", f"malformed requests reached the device: {received!r}")
        log(f"{len(BAD_REQUESTS)} malformed requests refused, nothing sent to the device")


def case_rate_limit(args):
    """More than 200 requests in a second: the rest of that second's are refused with
    rate_limited, other clients are not held up, and the client is served again after it."""
    with Headless(args, None) as run, run.connect() as orvale, run.connect() as other:
        wait_remote_control(other)
        count = RATE_LIMIT + 50
        started = time.monotonic()
        ids = [orvale.send("status") for _ in range(count)]
        outcomes = []
        for request_id in ids:
            try:
                orvale.reply(request_id)
                outcomes.append("ok")
            except OrvaleError as error:
                outcomes.append(error.code)
        took = time.monotonic() - started
        log(f"{count} requests answered in {took * 1000:.0f} ms: "
            f"{outcomes.count('ok')} ok, {outcomes.count('rate_limited')} rate_limited")
        check(outcomes[:RATE_LIMIT] == ["ok"] * RATE_LIMIT,
              f"the first {RATE_LIMIT} requests were answered {outcomes[:RATE_LIMIT]}")
        check(set(outcomes) <= {"ok", "rate_limited"}, f"answers {sorted(set(outcomes))}")
        if took < 0.9:
            # All of them inside one second of the server's: exactly the budget went through.
            check(outcomes[RATE_LIMIT:] == ["rate_limited"] * (count - RATE_LIMIT),
                  f"requests over the budget answered {outcomes[RATE_LIMIT:]}")
        check(other.request("status")["remote_control"], "the other client was not served")
        wait_until(lambda: orvale.request("hello")["program"] == "Orvale" or None,
                   "the limited client to be served again")


def case_line_limit(args):
    """A request line of exactly 1 MiB is served; a longer line is refused with too_large and
    the connection closed, while other clients go on."""
    with Headless(args, None) as run, run.connect() as orvale, run.connect() as other:
        head, tail = b'{"cmd": "hello", "id": "', b'"}'
        padding = "x" * (MAX_LINE - len(head) - len(tail))
        line = head + padding.encode() + tail
        check(len(line) == MAX_LINE, "the test's line length")
        orvale.send_line(line)
        check(orvale.reply(padding)["program"] == "Orvale", "the 1 MiB request's reply")

        # No line end: Orvale must not wait for one before refusing.
        orvale.send_line(b"x" * (MAX_LINE + 1), end=b"")
        expect_refused(lambda: orvale.reply(None), "too_large", "a line of 1 MiB + 1 byte")
        expect_closed(orvale, "after too_large")
        check(other.request("status")["port"] == "COM1", "the other client after the long line")


# Commands the device's state forbids (a model without remote control, a closed port): not
# allowed, and nothing is sent.
NOT_ALLOWED = (
    ("set_position", {"position": 50}),
    ("press", {"key": "up"}),
    ("press", {"key": "down"}),
    ("press", {"key": "dynamic"}),
    ("press", {"key": "quiet"}),
)


def case_not_allowed(args):
    """A model 10 (Quennet Truck, no remote control): position and key commands are refused
    with not_allowed and the device hears nothing; so they are after Disconnect; the
    connection keeps working throughout."""
    with Headless(args, ["--model", "10", "--firmware", "0.3B"]) as run, \
            run.connect() as orvale:
        status = wait_remote_control(orvale, remote=False)
        check(status["identity"]["model"] == "Quennet Truck", f"identity {status['identity']}")
        for stage in ("identified", "closed"):
            if stage == "closed":
                check(orvale.request("disconnect")["state"] == "closed", "Disconnect")
            offset = len(run.device.received())
            for cmd, arguments in NOT_ALLOWED:
                message = expect_refused(lambda c=cmd, a=arguments: orvale.request(c, **a),
                                         "not_allowed", f"{cmd} {arguments} ({stage})")
                log(f"{cmd} {arguments} while {stage}: not_allowed: {message}")
                check(orvale.request("status")["state"] == stage, f"the state after {cmd}")
            received = wait_stable(lambda o=offset: run.device.received()[o:],
                                   "the device's record", quiet_for=0.3)
            check(received == b"", f"the device received {received!r} while {stage}")
        check(strip_identify(run.device.received()) == b"",
              f"the device received {run.device.received()!r}")


def case_timeout(args):
    """A device that stops answering: set_position is answered with timeout after its wait,
    never left hanging; the watchdog drops the device (state events), and once it speaks again
    it is identified afresh and commands are answered again."""
    with Headless(args, ["--model", "15"]) as run, run.connect() as orvale:
        wait_remote_control(orvale)
        orvale.subscribe("state")
        run.device.control("silent on")
        offset = len(run.device.received())
        asked = time.monotonic()
        expect_refused(lambda: orvale.request("set_position", position=40), "timeout",
                       "set_position to a silent device")
        waited = time.monotonic() - asked
        log(f"set_position to a silent device: timeout after {waited * 1000:.0f} ms")
        check(waited >= 0.9, f"timeout after {waited * 1000:.0f} ms, before the wait was over")
        check(run.device.received()[offset:].startswith(position_command(40)),
              f"the device received {run.device.received()[offset:]!r}")
        orvale.wait_event(lambda e: e["event"] == "state" and e["state"] == "identifying",
                          DEADLINE)
        run.device.control("silent off")
        orvale.wait_event(lambda e: e["event"] == "state" and e["state"] == "connected"
                          and e["remote_control"], DEADLINE)
        check(orvale.request("set_position", position=40) == {"position": 40},
              "set_position once the device speaks again")
        wait_engine_speed(orvale, 40)


def case_slow_client(args):
    """A client subscribed to the parameters at the line's full rate stops reading: the window
    and another client go on, and when it reads again it learns with a "dropped" event how many
    events it missed, and the events go on."""
    with Run(args, ["--model", "15", "--rate", "821", "--sweep"],
             port_args=["--port", "COM1={link}", "--api", "0"]) as run:
        w = run.window
        expect_connected(w, "Quennet Duo Plus")
        host, port = api_address(run.world, w.process)
        slow = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # A small receive buffer, set before connecting so that the window offered stays small:
        # Orvale's queue for this client fills in seconds, not minutes.
        slow.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
        slow.connect((host, port))
        with orvale_client.Client(slow) as orvale, orvale_client.connect(host, port) as other:
            orvale.subscribe("parameters")
            got, started = 0, time.monotonic()
            for event in orvale.events(timeout=5):
                got += len(json.dumps(event))
                if time.monotonic() - started > 2:
                    break
            rate = got / (time.monotonic() - started)
            log(f"parameter events: {rate / 1024:.0f} KiB/s")
            check(rate > 0, "no parameter events at the full rate")
            # Long enough for the kernel's buffers and then Orvale's 1 MiB queue to fill, with
            # room to spare: 6 MiB of events.
            pause = min(90.0, max(5.0, 6 * (1 << 20) / rate))
            log(f"not reading for {pause:.1f} s")
            speeds, latencies = set(), []
            until = time.monotonic() + pause
            while time.monotonic() < until:
                speeds.add(w.shown("Engine speed"))
                asked = time.monotonic()
                other.request("status")
                latencies.append(time.monotonic() - asked)
                time.sleep(0.2)
            log(f"meanwhile the window showed {len(speeds)} engine speeds; the other client's "
                f"status took at most {max(latencies) * 1000:.0f} ms")
            check(len(speeds) >= 3, f"the window stood still: {speeds}")
            dropped = orvale.wait_event(lambda e: e["event"] == "dropped", DEADLINE)
            log(f"dropped event: {dropped}")
            check(isinstance(dropped.get("count"), int) and dropped["count"] > 0,
                  f"the dropped event {dropped}")
            orvale.wait_event(lambda e: e["event"] == "parameters", DEADLINE)
            check(orvale.request("status")["remote_control"], "the slow client after reading")


# First lines that do not present the token: each ends its connection with unauthorized.
UNAUTHORIZED = (
    (b'{"id": 1, "cmd": "status"}', 1),
    (b'{"id": 2, "token": "' + b"f" * 48 + b'"}', 2),
    (b'{"id": 3, "token": "' + TOKEN.upper().encode() + b'"}', 3),
    (b'{"id": 4, "token": "' + TOKEN[:32].encode() + b'"}', 4),
    (b'{"id": 5, "token": "' + TOKEN.encode() + b'0"}', 5),
    (b'{"id": 6, "token": ""}', 6),
    (b"" + TOKEN.encode(), None),
)


def case_token(args):
    """--api on another address than loopback's own with --api-token-file: a first line
    without the token ends the connection with unauthorized; with it, requests work."""
    with Headless(args, None, extra=["--api-token-file", "{token}"], api="127.0.0.2:0",
                  files={"token": (TOKEN + "\n", 0o600)}) as run:
        check(run.host == "127.0.0.2", f"Orvale listens on {run.host}")
        for line, request_id in UNAUTHORIZED:
            with orvale_client.connect(run.host, run.port) as stranger:
                stranger.send_line(line)
                expect_refused(lambda i=request_id, s=stranger: s.reply(i), "unauthorized",
                               repr(line))
                expect_closed(stranger, f"after {line!r}")
        with run.connect(token=TOKEN) as orvale:
            wait_remote_control(orvale)
            orvale.request("set_position", position=20)
            wait_engine_speed(orvale, 20)


# Token files and addresses Orvale will not start with: exit status 2 and the reason.
REFUSED_TOKENS = (
    ("readable by others", TOKEN, 0o644, "may be read by others"),
    ("readable by the group", TOKEN, 0o640, "may be read by others"),
    ("too short", TOKEN[:31], 0o600, "at least 32"),
    ("not hexadecimal", TOKEN[:40] + "ghijklmn", 0o600, "hexadecimal characters only"),
    ("missing", None, 0, "cannot be read"),
)


def case_token_refused(args):
    """Orvale refuses to start on a token file that others may read or that holds no proper
    token, and on an address other than loopback without a token file."""
    world = World(keep=args.keep)
    try:
        for what, text, mode, reason in REFUSED_TOKENS:
            path = world.path("missing-token") if text is None \
                else write_file(world, what.replace(" ", "-"), text + "\n", mode)
            code, errors = run_refused(args, ["--api", "127.0.0.2:0", "--api-token-file", path])
            check(code == 2 and reason in errors,
                  f"token file {what}: status {code}, stderr {errors!r}")
            check("listens" not in errors, f"token file {what}: Orvale listened: {errors!r}")
            log(f"token file {what}: refused: {errors.strip()}")
        code, errors = run_refused(args, ["--api", "0.0.0.0:0"])
        check(code == 2 and "--api-token-file" in errors,
              f"--api 0.0.0.0:0 without a token: status {code}, stderr {errors!r}")
    finally:
        world.close()


# The drive: position 0 to 50 in 5 s, one whole position every 100 ms.
PROFILE = "time_s,position\n0,0\n5,50\n"
PROFILE_STEP = 0.1
PROFILE_TOLERANCE = 0.020


def position_commands(timed):
    """(time of the first byte, position) of each position command in a timed record."""
    data = bytes(b for _, b in timed)
    found = []
    for match in re.finditer(rb"AT %([0-9A-F]{2})[0-9A-F]{2}\r\n", data):
        pair = match.group(1).decode()
        found.append((timed[match.start()][0], int(pair[1] + pair[0], 16)))
    return found


def case_profile(args):
    """--profile plays a ramp: every whole position goes to the device once, in order, each
    within 20 ms (median) of its time in the profile, and no answer is missed."""
    with Headless(args, ["--model", "15"], extra=["--profile", "{ramp.csv}"],
                  files={"ramp.csv": (PROFILE, 0o644)}) as run, run.connect() as orvale:
        progress = wait_until(
            lambda: (lambda p: p["state"] == "finished" and p)(
                orvale.request("profile", action="status")),
            "the profile to finish", timeout=DEADLINE + 10,
            describe=lambda: orvale.request("profile", action="status"))
        log(f"profile: {progress}")
        check(progress["position_commands"] == 51 and progress["answers_missed"] == 0,
              f"the profile's counts: {progress}")
        commands = wait_until(lambda: (lambda c: len(c) >= 51 and c)(
            position_commands(run.device.received_timed())), "51 position commands on record")
        check([p for _, p in commands] == list(range(51)),
              f"the device received the positions {[p for _, p in commands]}")
        start = commands[0][0]
        errors = [abs(t - start - p * PROFILE_STEP) for t, p in commands]
        median, worst = statistics.median(errors), max(errors)
        log(f"position commands against the profile's times: median {median * 1000:.1f} ms, "
            f"max {worst * 1000:.1f} ms")
        check(median <= PROFILE_TOLERANCE,
              f"position commands {median * 1000:.1f} ms off the profile's times (median)")


def case_headless(args):
    """--headless with no display server at all (no DISPLAY, no -platform): starts, connects
    to its simulated device, answers the API, and ends with status 0 on SIGTERM and on SIGINT,
    closing its --log recording whole."""
    for sig in (signal.SIGTERM, signal.SIGINT):
        with Headless(args, None, extra=["--log", "{dir}/drive.csv"]) as run, \
                run.connect() as orvale:
            log_path = run.world.path("drive.csv")
            check("DISPLAY" not in headless_env(run.world), "the test's environment")
            hello = orvale.request("hello")
            check(hello["program"] == "Orvale" and hello["protocol"] == 1,
                  f"hello says {hello}")
            check([c["cmd"] for c in hello["commands"]] == COMMAND_NAMES,
                  f"hello lists {[c['cmd'] for c in hello['commands']]}")
            wait_remote_control(orvale)
            orvale.request("set_position", position=30)
            wait_engine_speed(orvale, 30)
            run.process.send_signal(sig)
            try:
                code = run.process.wait(DEADLINE)
            except subprocess.TimeoutExpired as expired:
                raise Failure(f"Orvale still ran {DEADLINE:.0f} s after {sig.name}") from expired
            check(code == 0, f"Orvale ended with status {code} on {sig.name}")
            with open(run.world.path("orvale.log"), "rb") as f:
                errors = f.read().decode(errors="replace")
            check("display" not in errors.lower(), f"Orvale's stderr: {errors!r}")
            with open(log_path, "rb") as f:
                recording = f.read()
            check(recording.endswith(b"\n"), f"the recording ends with {recording[-80:]!r}")
            rows = list(csv.reader(recording.decode("utf-8").splitlines()))
            check(len(rows) >= 2 and rows[0][:2] == ["time", "position"],
                  f"the recording's header {rows[0] if rows else None}")
            widths = {len(row) for row in rows}
            check(widths == {len(rows[0])}, f"rows of {sorted(widths)} columns")
            check(rows[-1][1] == "30", f"the last row is for position {rows[-1][1]}")
            log(f"{sig.name}: status 0, {len(rows) - 1} rows recorded whole")


def case_max_clients(args):
    """32 clients are served; the 33rd gets busy and is closed; once one leaves, a new one is
    served."""
    with Headless(args, None) as run:
        clients = [run.connect() for _ in range(MAX_CLIENTS)]
        try:
            for client in clients:
                check(client.request("hello")["program"] == "Orvale", "hello")
            with run.connect() as extra:
                expect_refused(lambda: extra.reply(None), "busy", "the 33rd client")
                expect_closed(extra, "the 33rd client")
            clients.pop().close()

            def served():
                with run.connect() as newcomer:
                    return newcomer.request("hello")["program"] == "Orvale"
            wait_until(served, "a new client once one left")
            for client in clients:
                check(client.request("status")["port"] == "COM1", "a client after the 33rd")
        finally:
            for client in clients:
                client.close()


def case_example(args):
    """client/ramp_example.py ramps the simulated vehicle and prints the engine speed the
    model gives at each step, and Orvale ends with status 0."""
    world = World(keep=args.keep)
    try:
        exe = copy_orvale(world, args.orvale)
        example = os.path.join(HERE, "..", "..", "client", "ramp_example.py")
        result = subprocess.run([sys.executable, example, "--orvale", exe, "--port", "0",
                                 "--step", "25"], env=headless_env(world), cwd=world.path("app"),
                                capture_output=True, timeout=120, check=False)
        output = result.stdout.decode()
        log(f"example printed:\n{output}")
        check(result.returncode == 0,
              f"the example ended with {result.returncode}: {result.stderr.decode()!r}")
        expected = [f"position {p:3d}: engine speed {engine_speed_text(p)}"
                    for p in range(0, 101, 25)]
        check(output.splitlines()[1:] == expected, f"the example printed {output!r}")
    finally:
        world.close()


def case_parameters_window(args):
    """parameters gives, for all 83 displays, the very text the window shows, at the device's
    position and after the API moved it; status gives the identity the window shows."""
    with Run(args, ["--model", "15", "--position", "50", "--serial", "2718",
                    "--build", "api e2e"], port_args=["--port", "COM1={link}", "--api", "0"]) \
            as run:
        w = run.window
        expect_connected(w, "Quennet Duo Plus")
        with orvale_client.connect(*api_address(run.world, w.process)) as orvale:
            for position in (50, 73):
                if position != 50:
                    orvale.request("set_position", position=position)
                w.wait_shown("Engine speed", engine_speed_text(position))
                displays = orvale.request("parameters")
                kinds = [d["kind"] for d in displays]
                check(len(displays) == 83 and (kinds.count("number"), kinds.count("led"),
                                               kinds.count("text")) == (41, 4, 38),
                      f"parameters lists {len(displays)} displays of the kinds {set(kinds)}")
                check(len({d["label"] for d in displays}) == 83, "labels repeat")

                def shown(display):
                    if display["kind"] == "number":
                        return w.shown(display["label"])
                    if display["kind"] == "led":
                        return w.control(display["label"]).description
                    # A single-line box draws a line end (Fuel Type has one) as nothing; the
                    # box's own text keeps it for Copy, every other view leaves it out.
                    return w.text(display["label"]).rstrip("\r\n")

                def differences():
                    # The device's clock moves a text once a second: both are read again.
                    fresh = orvale.request("parameters")
                    return [(d["label"], d["text"], shown(d)) for d in fresh
                            if d["text"] != shown(d)]
                wait_until(lambda: not differences(), f"the API and the window to agree at "
                           f"{position}", describe=differences)
                log(f"position {position}: all {len(displays)} displays agree")

            identity = orvale.request("status")["identity"]
            for box, key in (("Product ID", "model"), ("Serial Number", "serial"),
                             ("Firmware Version", "firmware"), ("CAN Baud Rate", "can_baud_rate"),
                             ("VIN Style", "vin_style"), ("Firmware Build #", "build")):
                check(w.text(box) == str(identity[key]),
                      f"{box}: the window shows {w.text(box)!r}, the API {identity[key]!r}")


CASES = {
    "commands": case_commands,
    "bad_requests": case_bad_requests,
    "rate_limit": case_rate_limit,
    "line_limit": case_line_limit,
    "not_allowed": case_not_allowed,
    "timeout": case_timeout,
    "slow_client": case_slow_client,
    "token": case_token,
    "token_refused": case_token_refused,
    "profile": case_profile,
    "headless": case_headless,
    "max_clients": case_max_clients,
    "example": case_example,
    "parameters_window": case_parameters_window,
}
# Cases that read the window through the accessibility bus.
WINDOW_CASES = {"slow_client", "parameters_window"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvale", required=True, help="the Orvale executable")
    parser.add_argument("--sim", required=True, help="the quennet-sim executable")
    parser.add_argument("--keep", action="store_true", help="keep the case's directory")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    if args.case in WINDOW_CASES:
        missing = [tool for tool in ("Xvfb", "dbus-daemon", "/usr/libexec/at-spi-bus-launcher")
                   if shutil.which(tool) is None]
        if importlib.util.find_spec("pyatspi") is None:
            missing.append("pyatspi for " + sys.executable)
        if missing:
            print("missing: " + ", ".join(missing), flush=True)
            return 1
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(f"stopped by SIGTERM in {args.case}"))
    try:
        CASES[args.case](args)
    except (Failure, OrvaleError, TimeoutError):
        traceback.print_exc()
        print(f"FAIL e2e.api_{args.case} after {time.monotonic() - START:.1f} s", flush=True)
        return 1
    print(f"PASS e2e.api_{args.case} in {time.monotonic() - START:.1f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

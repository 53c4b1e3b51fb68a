#!/usr/bin/python3
"""A real recording, read as its users read it: the real Orvale records quennet-sim sweeping
its position, and the file is read with Python's csv module and with pandas, with no options
and with the options people reach for (comment='#', parse_dates=['time']).

    recording_pandas.py --orvale build/dev/app/Orvale --sim build/dev/sim/quennet-sim

Needs pandas for Debian's own python3 (python3-pandas).
"""

import argparse
import csv
import datetime
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pandas as pd

# Generous, so that only a fault and never a slow machine runs into it.
DEADLINE = 60.0
ROWS = 20
# The file size past which Orvale's writes fail in the run with a full disk: the header and a
# few rows.
FULL_DISK = 8000

# The device's build text in Latin-1, as the device sends it: the window shows "°".
BUILD = b"SIM \xb0 BUILD #7"
BUILD_SHOWN = "SIM \u00b0 BUILD #7"

IDENTITY = ["model", "serial number", "firmware version", "firmware build", "CAN baud rate",
            "VIN style"]
LEDS = ["Cruise", "Parking", "Brake", "Clutch"]
# Boxes that show a code and its meaning, "01=Card present": a sample that must be among them.
STATUS_BOXES = ["Driver 1 Card", "Vehicle motion", "Direction indicator", "PTO State",
                "Alternator status 1-4", "Lock status door 1-10"]
STATUS_TEXT = re.compile(r"^[0-9]+=\S")


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def complete_rows(path):
    """Data rows whose line end is in the file (the header left out)."""
    try:
        with open(path, "rb") as f:
            return max(f.read().count(b"\n") - 1, 0)
    except FileNotFoundError:
        return 0


def wait_until(condition, what, timeout=DEADLINE):
    deadline = time.monotonic() + timeout
    while not condition():
        check(time.monotonic() < deadline, f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(0.05)


def stop(process):
    if process is not None and process.poll() is None:
        process.kill()
        process.wait()


def last_line(path):
    with open(path, "rb") as f:
        return f.read().rstrip(b"\r\n").rsplit(b"\n", 1)[-1].decode("utf-8", errors="replace")


def record(orvale, sim, directory, ready, what, file_limit=None):
    """Runs Orvale against the sweeping device until ready(path) holds (`what`), then ends it with
    SIGTERM; returns the path of the recording. With `file_limit` no file of Orvale's may grow
    past that many bytes: the disk is full, as far as Orvale can tell."""
    os.makedirs(directory)
    link = os.path.join(directory, "q")
    csv_path = os.path.join(directory, "drive.csv")

    def full_disk():
        # An ignored signal stays ignored in the program started: the write fails (EFBIG)
        # instead of the signal ending Orvale.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, hard))

    # A copy of its own, so that the port file goes beside it and not into the build tree.
    exe = os.path.join(directory, "Orvale")
    shutil.copy2(orvale, exe)
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
    env.update(QT_QPA_PLATFORM="offscreen", HOME=directory, XDG_RUNTIME_DIR=directory,
               XDG_CONFIG_HOME=os.path.join(directory, "config"))
    device = program = None
    try:
        device = subprocess.Popen([sim, "--sweep", "--link", link, b"--build", BUILD],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=open(os.path.join(directory, "sim.log"), "wb"))
        check(device.stdout.readline().strip(), "quennet-sim printed no device path")
        program = subprocess.Popen(
            [exe, "-platform", "offscreen", "--port", f"COM1={link}", "--log", csv_path],
            cwd=directory, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(directory, "orvale.log"), "wb"),
            preexec_fn=full_disk if file_limit else None)

        def enough():
            check(program.poll() is None, f"Orvale ended early ({program.returncode})")
            return ready(csv_path)
        wait_until(enough, what)

        program.send_signal(signal.SIGTERM)
        try:
            status = program.wait(DEADLINE)
        except subprocess.TimeoutExpired as expired:
            raise Failure("Orvale still ran after SIGTERM") from expired
        check(status == 0, f"Orvale ended with status {status} after SIGTERM")
        return csv_path
    finally:
        stop(program)
        stop(device)


def check_with_csv_module(path):
    with open(path, "rb") as f:
        raw = f.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        raise Failure(f"the recording is not UTF-8: {error}") from error
    check(text.endswith("\r\n"), "the recording ends inside a line: it was not closed whole")

    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    header, data = rows[0], rows[1:]
    check(header[:8] == ["time", "position", *IDENTITY], f"header begins {header[:8]}")
    check(not [name for name in header if "#" in name], "a column name holds '#'")
    check("Service brake air pressure 1 (kPa)" in header, "the first air pressure is missing")
    check(len(data) >= ROWS, f"{len(data)} rows")
    for number, row in enumerate(data, start=2):
        check(len(row) == len(header), f"row {number} has {len(row)} fields, not {len(header)}")
        stamp = datetime.datetime.fromisoformat(row[0])
        check(stamp.tzinfo is not None, f"row {number}: time {row[0]!r} has no offset")
        check(row[1].isdigit(), f"row {number}: position {row[1]!r}")
        # The identity boxes as the window shows them: the version with its leading blank,
        # the build text padded to its 22 characters.
        identity = dict(zip(IDENTITY, row[2:8]))
        check(identity == {"model": "Quennet Duo Plus", "serial number": "12345",
                           "firmware version": " 0.3B", "firmware build": BUILD_SHOWN.ljust(22),
                           "CAN baud rate": "250K bps", "VIN style": "Variable"},
              f"row {number}: identity {identity}")
    for number in range(1, len(data)):
        check(data[number][1:] != data[number - 1][1:],
              f"rows {number + 1} and {number + 2} differ in their time alone")
    return header, len(data)


def check_with_pandas(path, header, rows):
    plain = pd.read_csv(path)
    check(list(plain.columns) == header, "pandas reads other column names")
    check(plain.shape == (rows, len(header)), f"pandas reads {plain.shape}")

    for options in ({"parse_dates": ["time"]}, {"comment": "#", "parse_dates": ["time"]}):
        df = pd.read_csv(path, **options)
        check(df.shape == plain.shape, f"{options}: shape {df.shape}, not {plain.shape}")
        check(df.drop(columns="time").equals(plain.drop(columns="time")),
              f"{options}: other values than with no options")
        check(isinstance(df["time"].dtype, pd.DatetimeTZDtype),
              f"{options}: time is {df['time'].dtype}, not a timestamp with its offset")
        first = datetime.datetime.fromisoformat(plain["time"][0])
        check(df["time"][0].utcoffset() == first.utcoffset(),
              f"{options}: offset {df['time'][0].utcoffset()} for {plain['time'][0]}")

        numeric = ["position", "serial number", *LEDS,
                   *[name for name in header if name.endswith(")")]]
        for name in numeric:
            check(pd.api.types.is_numeric_dtype(df[name]),
                  f"{options}: {name!r} is {df[name].dtype}, not a number")
        check(pd.api.types.is_integer_dtype(df["position"]), "position is not an integer")
        check(df["firmware build"].eq(BUILD_SHOWN.ljust(22)).all(), "firmware build")

        status = [name for name in header
                  if df[name].astype(str).str.match(STATUS_TEXT.pattern).any()]
        check(set(STATUS_BOXES) <= set(status), f"status boxes found: {status}")
        for name in status:
            check(df[name].dtype == object, f"{options}: {name!r} is {df[name].dtype}")
            shown = df[name].dropna()
            shown = shown[shown.str.strip() != ""]  # blank in a row of an identification
            check(shown.str.match(STATUS_TEXT.pattern).all(),
                  f"{name!r} holds {shown[~shown.str.match(STATUS_TEXT.pattern)].tolist()}")
            parts = shown.str.split("=", n=1, expand=True)
            check(parts.shape[1] == 2 and parts[0].str.isdigit().all(),
                  f"{name!r} does not split into code and text")
    print(f"{rows} rows of {len(header)} columns read alike by the csv module and pandas",
          flush=True)


def check_failure_row(path, header):
    """A recording that ran out of disk: its rows, then one that says why it stopped, and the
    file still reads with the types it had."""
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    check(rows[0] == header and len(rows) >= 3, f"{len(rows)} lines in a full recording")
    last = rows[-1]
    check(last[1:] == ["", "recording stopped: File too large"] + [""] * (len(header) - 3),
          f"last row {last[:4]}...")

    df = pd.read_csv(path, comment="#", parse_dates=["time"])
    check(len(df) == len(rows) - 1, f"pandas reads {len(df)} rows of {len(rows) - 1}")
    check(isinstance(df["time"].dtype, pd.DatetimeTZDtype), f"time is {df['time'].dtype}")
    for name in ["position", *LEDS, "Engine speed (rpm)"]:
        check(pd.api.types.is_numeric_dtype(df[name]), f"{name!r} is {df[name].dtype}")
    print(f"a full disk: {len(rows) - 2} rows, then {last[2]!r}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--orvale", required=True)
    parser.add_argument("--sim", required=True)
    args = parser.parse_args()
    directory = tempfile.mkdtemp(prefix="orvale-recording-")
    try:
        path = record(args.orvale, args.sim, os.path.join(directory, "drive"),
                      lambda path: complete_rows(path) >= ROWS, f"{ROWS} rows in the recording")
        header, rows = check_with_csv_module(path)
        check_with_pandas(path, header, rows)

        def stopped(path):
            return complete_rows(path) > 0 and "recording stopped" in last_line(path)
        path = record(args.orvale, args.sim, os.path.join(directory, "full"), stopped,
                      "the row that says the recording stopped", file_limit=FULL_DISK)
        check_failure_row(path, header)
    except Failure as failure:
        for run in ("drive", "full"):
            for name in ("orvale.log", "sim.log"):
                log = os.path.join(directory, run, name)
                if os.path.exists(log):
                    with open(log, "rb") as f:
                        print(f"----- {run}/{name} -----\n{f.read().decode(errors='replace')}")
        print(f"FAILED: {failure}", flush=True)
        return 1
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

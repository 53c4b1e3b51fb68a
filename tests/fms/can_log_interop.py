#!/usr/bin/env python3
"""The FMS frames Orvale writes, read by other tools: python-can's candump and ASC readers and
can-utils' log2asc must see the identifiers and bytes fms_dump meant.

With --orvale, the files of Orvale --expected-can (candump and ASC) written while it runs against
its simulated device: read alike by the same tools, each group at its period, and the frames
those fms_dump gives for the same device.

Needs Debian's python3-can and can-utils (scripts/test.sh installs them)."""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import defaultdict
from pathlib import Path

import can

# Frames worked out by hand for position 80 on a Duo Plus: what the device must send, whatever
# reads it.
GOLDEN = {
    (0x18FEF100, bytes.fromhex("F3CCC81DFFFF1FFF")),
    (0x0CFE6CEE, bytes.fromhex("4350C000FFFFCCC8")),
    (0x18FEEA2F, bytes.fromhex("12484EFFFFFFFFFF")),
    (0x1CECFFEE, bytes.fromhex("20280006FF6BFE00")),
    (0x1CEBFFEE, bytes.fromhex("06363030302AFFFF")),
}

CANDUMP_LINE = re.compile(r"^\((\d+)\.(\d{6})\) (\S+) ([0-9A-F]{3}|[0-9A-F]{8})#((?:[0-9A-F]{2}){0,8})$")
ASC_FRAME = re.compile(r"^\s*(\d+\.\d+) (\d+)\s+([0-9A-F]+)(x?)\s+Rx\s+d (\d+)((?: [0-9A-F]{2})*)\s*$")


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def dump(fms_dump, *args):
    result = subprocess.run([fms_dump, "--position", "80", "--product", "15", "--clock", "12:34:56",
                             "--seconds", "2", *args], capture_output=True, text=True, check=False)
    # Later options win: a caller's --position or --seconds replaces the defaults.
    if result.returncode != 0:
        fail(f"fms_dump {' '.join(args)} exited {result.returncode}: {result.stderr}")
    return result.stdout


def frames_of_candump(text):
    """What each candump line says, read by the format's definition: (time us, id, ext, data)."""
    frames = []
    for line in text.splitlines():
        match = CANDUMP_LINE.match(line)
        if not match:
            fail(f"not a candump log line: {line!r}")
        seconds, micros, _, can_id, data = match.groups()
        frames.append((int(seconds) * 1000000 + int(micros), int(can_id, 16), len(can_id) == 8,
                       bytes.fromhex(data)))
    return frames


def frames_of_messages(messages, start_us=0):
    return [(round(m.timestamp * 1e6) + start_us, m.arbitration_id, m.is_extended_id,
             bytes(m.data)) for m in messages]


def same(what, got, expected):
    if len(got) != len(expected):
        fail(f"{what}: {len(got)} frames, expected {len(expected)}")
    for i, (g, e) in enumerate(zip(got, expected)):
        if g != e:
            fail(f"{what}: frame {i} is {g}, expected {e}")


def expected_can_files(orvale, directory):
    """Runs Orvale --headless --simulate twice, with --expected-can to a candump log and to an
    ASC file, each until its file holds a VIN broadcast and two seconds of traffic after it."""
    exe = directory / "Orvale"
    shutil.copy2(orvale, exe)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(HOME=str(directory), XDG_CONFIG_HOME=str(directory / "config"))
    files = []
    for name in ("expected.log", "expected.asc"):
        path = directory / name
        process = subprocess.Popen([str(exe), "--headless", "--simulate", "--expected-can",
                                    str(path)], cwd=directory, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 60
        # EEC1 goes out every 20 ms: 150 of them are three seconds.
        while time.monotonic() < deadline and process.poll() is None:
            text = path.read_text() if path.exists() else ""
            if text.count("F00400") >= 150:
                break
            time.sleep(0.1)
        process.send_signal(signal.SIGTERM)
        try:
            _, err = process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            fail(f"Orvale --expected-can {name} did not end on SIGTERM")
        if process.returncode != 0:
            fail(f"Orvale --expected-can {name} exited {process.returncode}: {err.decode()}")
        files.append(path)
    return files


def check_orvale(orvale, fms_dump):
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        log, asc = expected_can_files(orvale, tmp)
        written = frames_of_candump(log.read_text())
        if len(written) < 150:
            fail(f"{log.name} holds {len(written)} frames")

        # Each group at its period from the first frame: EEC1 20 ms, CCVS1 100 ms, DD1 1 s.
        times = defaultdict(list)
        for time_us, can_id, _, _ in written:
            times[(can_id >> 8) & 0x3FFFF].append(time_us)
        for pgn, period_ms in ((0xF004, 20), (0xFEF1, 100), (0xFEFC, 1000)):
            gaps = {b - a for a, b in zip(times[pgn], times[pgn][1:])}
            if gaps != {period_ms * 1000}:
                fail(f"PGN {pgn:04X}: gaps {sorted(gaps)} us, expected {period_ms} ms")

        # The simulated device at rest: position 0, a Duo Plus with serial number 12345. Its
        # frames are those of fms_dump for that device, but for TD, which carries its clock.
        reference = {(f[1], f[3]) for f in frames_of_candump(
            dump(fms_dump, "--position", "0", "--serial", "12345", "--seconds", "0"))}
        seen = {(f[1], f[3]) for f in written if (f[1] >> 8) & 0x3FFFF != 0xFEE6}
        reference = {f for f in reference if (f[0] >> 8) & 0x3FFFF != 0xFEE6}
        if seen != reference:
            fail(f"expected-can frames differ from fms_dump's: only Orvale {seen - reference}, "
                 f"only fms_dump {reference - seen}")

        with can.LogReader(str(log)) as reader:
            same("python-can LogReader of Orvale's log", frames_of_messages(list(reader)),
                 written)
        converted = tmp / "log2asc.asc"
        result = subprocess.run(["log2asc", "-I", str(log), "-O", str(converted), "can0"],
                                capture_output=True, text=True, check=False)
        if result.returncode != 0:
            fail(f"log2asc exited {result.returncode}: {result.stderr}")
        start_us = written[0][0]
        with can.ASCReader(str(converted)) as reader:
            same("python-can ASCReader of log2asc's ASC of Orvale's log",
                 frames_of_messages(list(reader), start_us), written)

        with can.ASCReader(str(asc)) as reader:
            from_asc = list(reader)
        if not asc.read_text().rstrip().endswith("End TriggerBlock"):
            fail(f"{asc.name} is not closed by End TriggerBlock")
        seen_asc = {(m.arbitration_id, bytes(m.data)) for m in from_asc
                    if (m.arbitration_id >> 8) & 0x3FFFF != 0xFEE6}
        if seen_asc != reference:
            fail(f"{asc.name} frames differ from fms_dump's: {seen_asc ^ reference}")
    print(f"ok: Orvale's expected frames ({len(written)}) read alike by python-can and log2asc")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fms-dump", required=True)
    parser.add_argument("--orvale")
    args = parser.parse_args()
    if args.orvale:
        check_orvale(args.orvale, args.fms_dump)
        return

    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        log = tmp / "fms.log"
        log.write_text(dump(args.fms_dump))
        expected = frames_of_candump(log.read_text())
        if not GOLDEN <= {(f[1], f[3]) for f in expected}:
            fail(f"frames missing from the log: {GOLDEN - {(f[1], f[3]) for f in expected}}")
        start_us = expected[0][0]

        # python-can's candump reader.
        with can.CanutilsLogReader(str(log)) as reader:
            messages = list(reader)
        if any(m.channel != "can0" or m.is_remote_frame or m.is_error_frame for m in messages):
            fail("python-can read a frame of another kind or channel")
        same("python-can CanutilsLogReader", frames_of_messages(messages), expected)
        with can.LogReader(str(log)) as reader:
            same("python-can LogReader", frames_of_messages(list(reader)), expected)

        # Orvale's own ASC file, read by python-can: times relative to the measurement start.
        asc = tmp / "fms.asc"
        asc.write_text(dump(args.fms_dump, "--format", "asc"))
        with can.ASCReader(str(asc)) as reader:
            same("python-can ASCReader of fms_dump's ASC", frames_of_messages(list(reader), start_us),
                 expected)

        # can-utils' log2asc converts the candump log without complaint.
        converted = tmp / "log2asc.asc"
        result = subprocess.run(["log2asc", "-I", str(log), "-O", str(converted), "can0"],
                                capture_output=True, text=True, check=False)
        if result.returncode != 0:
            fail(f"log2asc exited {result.returncode}: {result.stderr}")
        lines = [ASC_FRAME.match(line) for line in converted.read_text().splitlines()]
        got = [(round(float(m.group(1)) * 1e6) + start_us, int(m.group(3), 16), m.group(4) == "x",
                bytes.fromhex(m.group(6).replace(" ", ""))) for m in lines if m]
        same("log2asc", got, expected)
        with can.ASCReader(str(converted)) as reader:
            same("python-can ASCReader of log2asc's ASC",
                 frames_of_messages(list(reader), start_us), expected)

    print(f"ok: {len(expected)} frames read alike by python-can {can.__version__} and log2asc")


if __name__ == "__main__":
    main()

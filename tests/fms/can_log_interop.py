#!/usr/bin/env python3
"""The FMS frames Orvale writes, read by other tools: python-can's candump and ASC readers and
can-utils' log2asc must see the identifiers and bytes fms_dump meant.

Needs Debian's python3-can and can-utils (scripts/test.sh installs them)."""

import argparse
import re
import subprocess
import sys
import tempfile
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fms-dump", required=True)
    args = parser.parse_args()

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

#!/usr/bin/env python3
"""Ramps the simulated vehicle from position 0 to 100 through Orvale's control API and prints
the engine speed at each step.

Starts `Orvale --headless --simulate --api PORT`, waits until the simulated device is
connected, sends each position (set_position returns once the device has acknowledged it),
waits for the displays to follow the position the device then reports, prints "Engine speed"
and ends Orvale with SIGTERM.

    client/ramp_example.py [--orvale build/dev/app/Orvale] [--port 7170] [--step 10]

--port 0 lets the system choose a free port.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import orvale_client  # noqa: E402 pylint: disable=wrong-import-position

LISTENING = re.compile(r"the control API listens on .* port (\d+)")


def start_orvale(orvale, port):
    """Starts Orvale and returns (process, the API's port) once it listens. Orvale's other
    messages go on to this program's standard error."""
    process = subprocess.Popen([orvale, "--headless", "--simulate", "--api", str(port)],
                               stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    for raw in process.stderr:
        line = raw.decode(errors="replace")
        sys.stderr.write(line)
        found = LISTENING.search(line)
        if found:
            # Orvale's later messages must not fill the pipe and hold it up.
            threading.Thread(target=lambda: [sys.stderr.write(r.decode(errors="replace"))
                                             for r in process.stderr], daemon=True).start()
            return process, int(found.group(1))
    sys.exit(f"Orvale ended (status {process.wait()}) before its control API listened")


def wait_connected(orvale, timeout=20.0):
    """Waits until the device can be remote-controlled, from the "state" events."""
    orvale.subscribe("state")
    if orvale.request("status")["remote_control"]:
        return
    orvale.wait_event(lambda e: e["event"] == "state" and e["remote_control"], timeout)


def engine_speed(orvale):
    return orvale.request("parameters", labels=["Engine speed"])[0]["text"]


def settle(orvale, before, timeout=0.5):
    """The displays follow the position the device reports in its next broadcast, a moment
    after it acknowledged the command: waits for "Engine speed" to move from `before` (or for
    `timeout`, when the step does not move it)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        event = orvale.next_event(max(0.0, deadline - time.monotonic()))
        if event is None:
            break
        if event["event"] == "parameters" and any(
                c["label"] == "Engine speed" and c["text"] != before for c in event["changes"]):
            break
    return engine_speed(orvale)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvale", default="build/dev/app/Orvale", help="the Orvale executable")
    parser.add_argument("--port", type=int, default=7170, help="the API's port (0: any free)")
    parser.add_argument("--step", type=int, default=10, help="the ramp's step, 1 to 100")
    args = parser.parse_args()

    process, port = start_orvale(args.orvale, args.port)
    try:
        with orvale_client.connect("127.0.0.1", port) as orvale:
            wait_connected(orvale)
            print(f"connected to {orvale.request('status')['identity']['model']}")
            orvale.subscribe("parameters")
            speed = engine_speed(orvale)
            for position in range(0, 101, args.step):
                orvale.request("set_position", position=position)
                speed = settle(orvale, speed)
                print(f"position {position:3d}: engine speed {speed}", flush=True)
    finally:
        process.send_signal(signal.SIGTERM)
        status = process.wait(20)
    if status != 0:
        sys.exit(f"Orvale ended with status {status}")


if __name__ == "__main__":
    main()

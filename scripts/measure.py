#!/usr/bin/python3
"""Measures Orvale as a whole program against the simulated device, and prints the figures.

    scripts/measure.py load [--seconds 60] [--steady] [--rates 821 10] [--plot]
                                                  CPU and repaints at the line's full rate and at 10/s
                                                  (--plot: with the plot window showing 10 series)
    scripts/measure.py memory [--minutes 16]      resident size each minute, and its growth once
                                                  the plot's buffers are full (12 minutes)
    scripts/measure.py pacing [--seconds 10] [--sender]
                                                  gaps between the bytes of Orvale's commands
    scripts/measure.py identifying [--seconds 30] CPU while Orvale identifies a silent device
    scripts/measure.py vanish [--count 100]       the device's line closed and re-made, N times
    scripts/measure.py noisy [--minutes 10]       one byte in a thousand corrupted on the line
    scripts/measure.py port-file [--count 1000]   SIGKILL in the middle of port file stores
    scripts/measure.py api [--seconds 10] [--requests 1000] [--clients 8] [--rounds 4]
                           [--headless]           the control API at the line's full rate: the
                                                  parameters request's latency and Orvale's CPU
                                                  with and without clients subscribed to events,
                                                  in turns
    scripts/measure.py bus [--seconds 30] [--extra 0 4000] [--faults]
                                                  Orvale reading the simulated device on Qt's
                                                  virtual CAN bus with the bus window open: its
                                                  CPU, and the time a fault takes to show

Build first (scripts/run.sh or cmake --build --preset dev); the programs are taken from
build/dev unless --build names another build directory (--orvale names another Orvale, to
compare two builds against the same simulated device). Runs under a private Xvfb.
"""

import argparse
import csv
import json
import multiprocessing
import os
import random
import selectors
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LINE_LIMIT = 823  # position broadcasts a second that 115200 baud 8N1 carries
PLOT_FULL_MINUTES = 12  # the plot's rings of 36,000 points at 60 a second, and some margin


# In use the device is a box of its own. Here the simulated device (and the X server) would
# share Orvale's processor and caches and be counted as Orvale's cost, so on a machine with two
# processors or more Orvale gets the last one and everything else the others (--shared-cpu
# turns that off).
ORVALE_CPUS = None


def pin_processors(shared):
    global ORVALE_CPUS
    cpus = sorted(os.sched_getaffinity(0))
    if shared or len(cpus) < 2:
        return
    ORVALE_CPUS = {cpus[-1]}
    os.sched_setaffinity(0, set(cpus[:-1]))  # this script, Xvfb and the simulated device
    print(f"Orvale runs on processor {cpus[-1]}, the device and the X server on "
          f"{','.join(map(str, cpus[:-1]))}")


class Session:
    """A private X display, a work directory, and the processes started in it."""

    def __init__(self, build, orvale=None):
        self.build = build
        self.orvale = orvale or os.path.join(build, "app", "Orvale")
        self.work = tempfile.mkdtemp(prefix="orvale-measure-")
        self.procs = []
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                 "1600x1000x24", "-nolisten", "tcp"],
                                pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
        os.close(write_fd)
        self.procs.append(xvfb)
        display = b""
        while not display.endswith(b"\n"):
            chunk = os.read(read_fd, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            display += chunk
        os.close(read_fd)
        self.env = dict(os.environ, DISPLAY=":" + display.decode().strip(), QT_QPA_PLATFORM=os.environ.get("ORVALE_MEASURE_PLATFORM", "xcb"),
                        XDG_RUNTIME_DIR=self.work)
        self.env.pop("WAYLAND_DISPLAY", None)

    def path(self, name):
        return os.path.join(self.work, name)

    def start_sim(self, *options, prefix=()):
        link = self.path("quennet-port")
        sim = subprocess.Popen([*prefix, os.path.join(self.build, "sim", "quennet-sim"), "--link",
                                link, *options], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=self.env)
        sim.stdout.readline()  # the device path: the line exists
        self.procs.append(sim)
        return sim, link

    def start_orvale(self, *options, stats=True, stderr=subprocess.DEVNULL):
        # A copy per run: the port file beside it starts fresh.
        exe = self.path("Orvale")
        shutil.copy(self.orvale, exe)
        # The stats file is stored (and synced to disk) once a second: left out where the
        # figures do not need it, so that its cost is not counted as Orvale's.
        env = dict(self.env, ORVALE_STATS=self.path("stats")) if stats else self.env
        pin = (lambda: os.sched_setaffinity(0, ORVALE_CPUS)) if ORVALE_CPUS else None
        orvale = subprocess.Popen([exe, *options], stdout=subprocess.DEVNULL,
                                  stderr=stderr, env=env, preexec_fn=pin)
        self.procs.append(orvale)
        return orvale

    def stats(self):
        values = {}
        try:
            with open(self.path("stats")) as f:
                for line in f:
                    key, _, value = line.strip().partition("=")
                    values[key] = int(value)
        except (OSError, ValueError):
            pass
        return values

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
        shutil.rmtree(self.work, ignore_errors=True)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise RuntimeError(f"timed out waiting for {what}")


def connected(session, before=0):
    return session.stats().get("evaluations", 0) > before + 5


# Ten numeric displays for the plot window: what the plot's CPU figure is measured with.
PLOT_SERIES = ("Engine total fuel used,Actual Engine % Torque,Fuel Level 1,Engine speed,"
               "Tachograph vehicle Speed,Ambient Air Temperature,Engine coolant temperature,"
               "Fuel Rate,Instantaneous Fuel Economy,Service brake air pressure #1")


def load(args):
    for rate in args.rates:
        session = Session(args.build, args.orvale)
        try:
            session.start_sim("--rate", str(rate), *([] if args.steady else ["--sweep"]))
            plot = ["--plot", PLOT_SERIES] if args.plot else []
            orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}", *plot)
            wait_for(lambda: connected(session), 20, "Orvale to connect")
            time.sleep(2)  # settle
            cpu0, stats0, t0 = cpu_seconds(orvale.pid), session.stats(), time.monotonic()
            time.sleep(args.seconds)
            cpu1, t1 = cpu_seconds(orvale.pid), time.monotonic()
            time.sleep(1.1)  # the stats file is written once a second
            stats1 = session.stats()
            wall = t1 - t0
            evaluations = stats1["evaluations"] - stats0["evaluations"]
            paints = stats1["paints"] - stats0["paints"]
            frames = stats1["frames"] - stats0["frames"]
            print(f"rate {rate}/s for {wall:.0f} s: CPU {100 * (cpu1 - cpu0) / wall:.1f} % of one "
                  f"core; {evaluations / wall:.0f} evaluations/s; {frames / wall:.1f} repaint "
                  f"frames/s; {paints / wall:.0f} widget paints/s "
                  f"({paints / max(frames, 1):.1f} per frame, each widget at most once)")
        finally:
            session.close()


def memory(args):
    session = Session(args.build, args.orvale)
    try:
        session.start_sim("--rate", str(LINE_LIMIT - 2), "--sweep")
        orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}")
        wait_for(lambda: connected(session), 20, "Orvale to connect")
        time.sleep(60)
        sizes = {1: rss_kib(orvale.pid)}
        print(f"resident after 1 minute: {sizes[1]} KiB", flush=True)
        for minute in range(2, args.minutes + 1):
            time.sleep(60)
            sizes[minute] = rss_kib(orvale.pid)
            print(f"resident after {minute} minutes: {sizes[minute]} KiB", flush=True)
        # The plot's buffers (collected whether its window is open or not) fill in about ten
        # minutes at this rate, a point per display per screen refresh: after that nothing
        # may grow.
        full = PLOT_FULL_MINUTES
        last = sizes[args.minutes]
        print(f"growth from minute 1 to minute {args.minutes}: {last - sizes[1]} KiB")
        if args.minutes > full:
            growth = last - sizes[full]
            print(f"growth from minute {full}, the plot's buffers full, to minute {args.minutes}: "
                  f"{growth} KiB ({'within' if abs(growth) <= 1024 else 'OVER'} 1 MiB)")
    finally:
        session.close()


def summary(name, values):
    values.sort()
    if values:
        print(f"{name}: {len(values)} gaps, min {values[0]:.3f} ms, median "
              f"{statistics.median(values):.3f}, max {values[-1]:.3f}; "
              f"{sum(g < 2.0 for g in values)} below 2.0 ms, "
              f"{sum(g > 3.0 for g in values)} above 3.0 ms, "
              f"{sum(g > 3.1 for g in values)} above 3.1 ms")


def device_side_gaps(times):
    """Prints the gaps between the bytes of each command as the simulated device read them
    (its --record-times file)."""
    arrivals = []
    with open(times) as f:
        for line in f:
            stamp, _, pairs = line.strip().partition(" ")
            for i in range(0, len(pairs), 2):
                arrivals.append((int(stamp), int(pairs[i:i + 2], 16)))
    # Orvale re-opens the port before every identify command; the device's side of the
    # line reads the first byte after a re-open late, so the first gap of each command is
    # reported apart.
    gaps, first_gaps, merged, commands, index = [], [], 0, 0, 0
    for (t0, b0), (t1, _) in zip(arrivals, arrivals[1:]):
        if b0 == 0x0A:  # LF ends a command; the next starts a tick later
            commands += 1
            index = 0
            continue
        index += 1
        if t1 == t0:
            merged += 1  # two bytes in one read: the reader was late, not the sender early
            continue
        (first_gaps if index == 1 else gaps).append((t1 - t0) / 1000)
    print(f"{commands} identify commands; {merged} pairs of bytes read together")
    summary("the device's side, between bytes 2 to 8", gaps)
    summary("the device's side, between bytes 1 and 2", first_gaps)


def pacing(args):
    """The simulated device stays silent, so Orvale repeats the identify command at every
    watchdog tick. Two views of the gaps between the bytes of each command:
    - Orvale's side (--sender): the time of every one-byte write() to the line, taken by
      strace as the bytes leave the program (strace stops the program at every system call,
      the sleeps of the pauses among them, so this side shows the pauses longer than they are);
    - the device's side: the device times every read of the line (its own thread, poll() on
      the pseudo-terminal). A pseudo-terminal hands bytes over through a kernel worker, so on a
      busy or virtual machine some reads are late, and two bytes then arrive in one read."""
    session = Session(args.build, args.orvale)
    try:
        times = session.path("received-times")
        session.start_sim("--silent", "--record-times", times)
        orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}")
        trace = session.path("writes")
        tracer = None
        wait_for(lambda: os.path.exists(times) and os.path.getsize(times) > 0, 20,
                 "Orvale's first command")
        if args.sender:
            if not shutil.which("strace"):
                raise RuntimeError("--sender needs strace (apt-get install strace)")
            tracer = subprocess.Popen(["strace", "-q", "-f", "-ttt", "-e", "trace=write",
                                       "-o", trace, "-p", str(orvale.pid)],
                                      stderr=subprocess.DEVNULL)
        time.sleep(args.seconds)
        if tracer is not None:
            tracer.send_signal(signal.SIGINT)
            tracer.wait(10)

        if tracer is not None:
            # 'PID 1712345678.123456 write(12, "A", 1) = 1': the command bytes only.
            writes = []
            with open(trace) as f:
                for line in f:
                    fields = line.split(None, 2)
                    if len(fields) == 3 and fields[2].startswith("write(") and \
                            fields[2].rstrip().endswith(", 1) = 1"):
                        writes.append((float(fields[1]), fields[2]))
            sent = [(t1 - t0) * 1000 for (t0, w0), (t1, _) in zip(writes, writes[1:])
                    if '"\\n"' not in w0]
            summary("Orvale's side, between one-byte writes of a command", sent)

        device_side_gaps(times)
    finally:
        session.close()


def identifying(args):
    """Orvale's CPU while it identifies a device that never answers: it re-opens the port and
    re-sends the identify command at every watchdog tick, and the pauses between the bytes of
    each command are where its time could go. The device's side of the gaps is printed too, to
    show that a cheaper pause is still a long enough one."""
    session = Session(args.build, args.orvale)
    try:
        times = session.path("received-times")
        session.start_sim("--silent", "--record-times", times)
        orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}",
                                      stats=False)
        wait_for(lambda: os.path.exists(times) and os.path.getsize(times) > 0, 20,
                 "Orvale's first command")
        time.sleep(2)  # start-up work (fonts, the first paint) is not the identify loop's cost
        cpu0, t0 = cpu_seconds(orvale.pid), time.monotonic()
        time.sleep(args.seconds)
        cpu1, t1 = cpu_seconds(orvale.pid), time.monotonic()
        if orvale.poll() is not None:
            raise RuntimeError("Orvale ended")
        wall = t1 - t0
        share = 100 * (cpu1 - cpu0) / wall
        print(f"identifying a silent device for {wall:.0f} s: CPU {share:.2f} % of one core "
              f"({'within' if share <= 1.0 else 'OVER'} 1 %)")
        device_side_gaps(times)
    finally:
        session.close()


def identities(path):
    """Identifications recorded so far: the row an identification writes shows the boxes as the
    disconnection before it left them, the VIN box blank."""
    try:
        with open(path, newline="", encoding="utf-8") as f:
            reader = csv.reader(f)
            header = next(reader, None)
            if not header:
                return 0
            vin = header.index("Vehicle Identification number")
            return sum(1 for row in reader if len(row) == len(header) and row[vin] == " ")
    except (OSError, ValueError):
        return 0


def vanish(args):
    session = Session(args.build, args.orvale)
    try:
        sim, link = session.start_sim("--rate", "10")
        log = session.path("drive.csv")
        orvale = session.start_orvale("--port", f"COM1={link}", "--log", log)
        wait_for(lambda: identities(log) >= 1, 20, "the first identification")
        worst, boxes_before, gone_cpu = 0.0, session.stats().get("message_boxes", 0), []
        for i in range(args.count):
            seen = identities(log)
            sim.send_signal(signal.SIGUSR1)  # the adapter is pulled
            cpu0 = cpu_seconds(orvale.pid)
            time.sleep(1.5)
            gone_cpu.append(100 * (cpu_seconds(orvale.pid) - cpu0) / 1.5)
            sim.send_signal(signal.SIGUSR2)  # and plugged back in
            back = time.monotonic()
            wait_for(lambda: identities(log) > seen, 10, f"reconnection {i + 1}")
            worst = max(worst, time.monotonic() - back)
            if orvale.poll() is not None:
                raise RuntimeError(f"Orvale ended after {i + 1} disappearances")
        time.sleep(1.1)
        boxes = session.stats().get("message_boxes", 0) - boxes_before
        print(f"{args.count} disappearances: Orvale alive; connected again at most "
              f"{worst:.2f} s after the device came back; CPU while gone max "
              f"{max(gone_cpu):.1f} %, median {statistics.median(gone_cpu):.1f} %; "
              f"{boxes} error boxes in all")
    finally:
        session.close()


def noisy(args):
    session = Session(args.build, args.orvale)
    try:
        session.start_sim("--rate", str(LINE_LIMIT - 2), "--sweep", "--corrupt", "1000",
                          "--seed", str(random.randrange(1 << 30)))
        log = session.path("drive.csv")
        orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}",
                                      "--log", log)
        wait_for(lambda: connected(session), 20, "Orvale to connect")
        end = time.monotonic() + 60 * args.minutes
        while time.monotonic() < end:
            time.sleep(5)
            if orvale.poll() is not None:
                raise RuntimeError("Orvale ended")
        before = session.stats().get("evaluations", 0)
        time.sleep(2.2)
        if session.stats().get("evaluations", 0) <= before:
            raise RuntimeError("Orvale stopped following the device")
        orvale.terminate()
        orvale.wait(10)
        # Every row of the same position must show the same values (the date and time box
        # aside), and no position may lie outside what the device sends. The row of an
        # identification (the VIN box blank) shows the window a disconnection left, not a
        # broadcast: counted apart.
        shown, rows, odd, teardowns = {}, 0, [], 0
        with open(log, newline="", encoding="utf-8") as f:
            reader = csv.reader(f)
            header = next(reader)
            date = header.index("yy/mm/dd/hr/min/sec")
            vin = header.index("Vehicle Identification number")
            data = [row for row in reader if len(row) == len(header)]
            reset = {i for i, row in enumerate(data) if row[vin] == " "}
            teardowns = len(reset)
            for i, row in enumerate(data):
                if i in reset:
                    continue
                rows += 1
                position = int(row[1])
                values = tuple(v for j, v in enumerate(row[2:], 2) if j != date)
                if position > 100 or shown.setdefault(position, values) != values:
                    odd.append(row[:3])
        print(f"{args.minutes} minutes at one corrupt byte in 1000: {rows} rows from broadcasts "
              f"at {len(shown)} positions, {len(odd)} showing what no valid broadcast carried; "
              f"{teardowns} identification rows")
        for row in odd[:10]:
            print("  ", row)
    finally:
        session.close()


def port_file(args):
    work = tempfile.mkdtemp(prefix="orvale-portfile-")
    path = os.path.join(work, "quennet.ini")
    storer = os.path.join(args.build, "tests", "app", "port_file_storer")
    with open(path, "wb") as f:
        f.write(b"; bench 3\r\nCOM=3;\r\n")
    bad = []
    try:
        for i in range(args.count):
            proc = subprocess.Popen([storer, path])
            time.sleep(random.uniform(0.001, 0.02))
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            with open(path, "rb") as f:
                contents = f.read()
            if contents not in (b"; bench 3\r\nCOM=3;\r\n", b"; bench 3\r\nCOM=12;\r\n"):
                bad.append(contents)
        leftovers = [n for n in os.listdir(work) if n != "quennet.ini"]
        port = subprocess.run([storer, "--read", path], capture_output=True, text=True,
                              check=True).stdout.strip()
        remaining = [n for n in os.listdir(work) if n != "quennet.ini"]
        print(f"{args.count} stores killed: {args.count - len(bad)} read back as the old or the "
              f"new port, {len(bad)} otherwise; {len(leftovers)} temporary files left by the "
              f"killed stores, {len(remaining)} after the next read (which gave {port})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


class ApiClient:
    """One connection to Orvale's control API: JSON Lines over TCP."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""
        self.next_id = 0

    def line(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(1 << 16)
            if not chunk:
                raise RuntimeError("Orvale closed the API connection")
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line

    def request(self, cmd, **args):
        """Sends a request and returns its reply (events that come first are passed over) and
        the seconds from the send to the reply's last byte."""
        self.next_id += 1
        start = time.perf_counter()
        self.sock.sendall(json.dumps({"id": self.next_id, "cmd": cmd, **args}).encode() + b"\n")
        while True:
            line = self.line()
            received = time.perf_counter()  # the client's own parsing is not Orvale's time
            reply = json.loads(line)
            if reply.get("id") == self.next_id:
                return reply, received - start

    def close(self):
        self.sock.close()


def api_subscribers(port, count, ready, stop, results):
    """Runs in a process of its own: `count` clients subscribed to parameter events, reading
    everything Orvale sends until told to stop; then reports the events and bytes read and the
    events Orvale told them it dropped."""
    clients = [ApiClient(port) for _ in range(count)]
    for client in clients:
        reply, _ = client.request("subscribe", events=["parameters"])
        if not reply.get("ok"):
            raise RuntimeError(f"subscribe refused: {reply}")
    selector = selectors.DefaultSelector()
    for client in clients:
        client.sock.setblocking(False)
        selector.register(client.sock, selectors.EVENT_READ, client)
    events = dropped = received = 0
    ready.set()
    while not stop.is_set():
        for key, _ in selector.select(0.1):
            client = key.data
            try:
                chunk = client.sock.recv(1 << 20)
            except BlockingIOError:
                continue
            received += len(chunk)
            client.buffer += chunk
            *lines, client.buffer = client.buffer.split(b"\n")
            for line in lines:
                if line.startswith(b'{"changes"') or b'"event":"parameters"' in line:
                    events += 1
                elif b'"event":"dropped"' in line:
                    dropped += json.loads(line)["count"]
    for client in clients:
        client.close()
    results.put((events, dropped, received))


def floor_server(listener, size):
    """Runs in a process of its own on Orvale's processor: answers each line at once with
    `size` bytes. What its answers take is the floor that this machine's scheduler and loopback
    put under any reply, Orvale's or not (on a shared virtual machine it moves from minute to
    minute)."""
    if ORVALE_CPUS:
        os.sched_setaffinity(0, ORVALE_CPUS)
    reply = b"x" * (size - 1) + b"\n"
    while True:
        connection, _ = listener.accept()
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        buffer = b""
        while chunk := connection.recv(1 << 16):
            buffer += chunk
            while b"\n" in buffer:
                _, _, buffer = buffer.partition(b"\n")
                connection.sendall(reply)
        connection.close()


class FloorClient(ApiClient):
    """A client of the floor server: a line out, a line back."""

    def request(self, cmd, **args):
        start = time.perf_counter()
        self.sock.sendall(b"ping\n")
        self.line()
        return None, time.perf_counter() - start


def api_latencies(port, floor_port, count):
    """`count` parameters requests one after the other, within the API's 200 requests a second,
    each followed by a line to the floor server that answers as many bytes at once: the
    milliseconds from each send to the whole reply (83 displays, about 13 KB), Orvale's and the
    floor's, taken under the same conditions."""
    client, floor = ApiClient(port), FloorClient(floor_port)
    latencies, floors = [], []
    try:
        for _ in range(count):
            started = time.monotonic()
            reply, seconds = client.request("parameters")
            if not reply.get("ok") or len(reply["result"]) != 83:
                raise RuntimeError(f"parameters answered {str(reply)[:200]}")
            latencies.append(seconds * 1000)
            floors.append(floor.request("ping")[1] * 1000)
            time.sleep(max(0.0, 0.006 - (time.monotonic() - started)))
    finally:
        client.close()
        floor.close()
    return latencies, floors


def percentiles(values):
    values = sorted(values)
    return statistics.median(values), values[min(len(values) - 1, int(0.99 * len(values)))]


def latency_summary(name, values, floors):
    median, p99 = percentiles(values)
    floor_median, floor_p99 = percentiles(floors)
    print(f"{name}: {len(values)} parameters requests: median {median:.2f} ms "
          f"({'within' if median <= 1.0 else 'OVER'} 1 ms), 99th percentile {p99:.2f} ms "
          f"({'within' if p99 <= 5.0 else 'OVER'} 5 ms), max {max(values):.2f} ms; the floor "
          f"under them: median {floor_median:.2f} ms, 99th percentile {floor_p99:.2f} ms")


def api(args):
    """Orvale at the line's full rate (821 broadcasts a second, the position changing every
    broadcast) with its control API on. The figures of a shared virtual machine move by several
    points from one minute to the next, so the two conditions are measured in turns, in one
    run: `--rounds` times Orvale's CPU with no client and then with `--clients` clients
    subscribed to parameter events, and in each the latency of the parameters request from one
    more client, beside the floor the machine sets (a trivial server on Orvale's processor
    answering as many bytes). Orvale's CPU without the API at all comes from a run of its own
    before (not with --headless, which has no stats file to tell when the device is
    connected)."""
    rate = str(LINE_LIMIT - 2)
    mode = ["--headless"] if args.headless else []

    def cpu_share(orvale, seconds):
        cpu0, t0 = cpu_seconds(orvale.pid), time.monotonic()
        time.sleep(seconds)
        cpu1, t1 = cpu_seconds(orvale.pid), time.monotonic()
        if orvale.poll() is not None:
            raise RuntimeError("Orvale ended")
        return 100 * (cpu1 - cpu0) / (t1 - t0)

    without = None
    if not args.headless:
        session = Session(args.build, args.orvale)
        try:
            session.start_sim("--rate", rate, "--sweep")
            orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}")
            wait_for(lambda: connected(session), 20, "Orvale to connect")
            time.sleep(2)
            without = cpu_share(orvale, args.seconds)
            print(f"without the API: CPU {without:.1f} % of one core", flush=True)
        finally:
            session.close()

    session = Session(args.build, args.orvale)
    listener = socket.create_server(("127.0.0.1", 0))
    floor = multiprocessing.Process(target=floor_server, args=(listener, 13 * 1024), daemon=True)
    floor.start()
    stop = None
    try:
        session.start_sim("--rate", rate, "--sweep")
        log = open(session.path("stderr"), "w+")
        orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}",
                                      "--api", "0", *mode, stderr=log)
        port = None

        def listening():
            nonlocal port
            log.seek(0)
            for line in log:
                if "control API listens" in line:
                    port = int(line.split()[-1])
            return port is not None
        wait_for(listening, 20, "the control API")
        probe = ApiClient(port)
        wait_for(lambda: probe.request("status")[0]["result"]["state"] == "connected", 20,
                 "Orvale to connect")
        probe.close()
        time.sleep(2)
        floor_port = listener.getsockname()[1]
        idle_cpu, busy_cpu, differences = [], [], []
        idle_latency, idle_floor, busy_latency, busy_floor = [], [], [], []
        requests = max(1, args.requests // args.rounds)
        totals = [0, 0, 0, 0.0]  # events, dropped, bytes received, seconds subscribed
        def without_clients():
            cpu = cpu_share(orvale, args.seconds)
            latencies, floors = api_latencies(port, floor_port, requests)
            idle_latency.extend(latencies)
            idle_floor.extend(floors)
            return cpu

        def with_subscribers():
            nonlocal stop, totals
            ready, stop, results = (multiprocessing.Event(), multiprocessing.Event(),
                                    multiprocessing.Queue())
            subscribers = multiprocessing.Process(
                target=api_subscribers, args=(port, args.clients, ready, stop, results))
            subscribers.start()
            if not ready.wait(30):
                raise RuntimeError("the subscribers did not connect")
            time.sleep(1)
            t0 = time.monotonic()
            cpu = cpu_share(orvale, args.seconds)
            latencies, floors = api_latencies(port, floor_port, requests)
            busy_latency.extend(latencies)
            busy_floor.extend(floors)
            stop.set()
            events, dropped, received = results.get(timeout=30)
            totals = [totals[0] + events, totals[1] + dropped, totals[2] + received,
                      totals[3] + time.monotonic() - t0]
            subscribers.join(10)
            stop = None
            # The subscribers' sockets close: a moment for Orvale to let them go.
            time.sleep(1)
            return cpu

        for round_ in range(args.rounds):
            # Turn about which comes first, so that a drift of the machine does not favour one.
            if round_ % 2 == 0:
                idle = without_clients()
                busy = with_subscribers()
            else:
                busy = with_subscribers()
                idle = without_clients()
            idle_cpu.append(idle)
            busy_cpu.append(busy)
            differences.append(busy - idle)
            print(f"round {round_ + 1}: CPU {idle:.1f} % of one core with no client, "
                  f"{busy:.1f} % with {args.clients} subscribed ({busy - idle:+.1f} points)",
                  flush=True)
        print(f"with the API, no client: CPU {statistics.median(idle_cpu):.1f} % of one core "
              f"(median of {args.rounds} rounds)")
        latency_summary("no subscribers", idle_latency, idle_floor)
        latency_summary(f"{args.clients} subscribers", busy_latency, busy_floor)
        added = statistics.median(differences)
        events, dropped, received, wall = totals
        print(f"with {args.clients} clients subscribed to parameters: CPU "
              f"{statistics.median(busy_cpu):.1f} % of one core, {added:+.1f} points "
              f"({'within' if added <= 3.0 else 'OVER'} 3) above no client (median of the "
              f"rounds' differences)"
              + (f", {statistics.median(busy_cpu) - without:+.1f} above the run without the API"
                 if without is not None else "")
              + f"; {events / wall / args.clients:.0f} events/s and "
              f"{received / wall / args.clients / 1024:.0f} KiB/s per client, {dropped} dropped")
    finally:
        if stop is not None:
            stop.set()
        floor.kill()
        listener.close()
        session.close()


def bus(args):
    """Orvale with the bus window open, reading the simulated device on Qt's virtual CAN bus:
    its CPU against the same run without --can (the window at 10 broadcasts a second, the
    position held still), at the device's own traffic and with a third sender's frames added;
    then the time from a fault injected in the device (a parameter sent wrong, a group
    silenced) to the check showing it, read from the control API's bus events (the bus
    window is refreshed by the same call)."""
    for extra in args.extra:
        cpu = {}
        rates = {}
        for listening in (False, True):
            session = Session(args.build, args.orvale)
            try:
                sim_can = ["--can", "virtualcan:can0"] + (["--can-extra", str(extra)] if extra else [])
                session.start_sim("--position", "50", *sim_can)
                can = ["--can", "virtualcan:can0", "--bus-check"] if listening else []
                orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}",
                                              *can)
                wait_for(lambda: connected(session), 20, "Orvale to connect")
                time.sleep(3)  # settle: the check has seen every group
                cpu0, stats0, t0 = cpu_seconds(orvale.pid), session.stats(), time.monotonic()
                time.sleep(args.seconds)
                cpu1, t1 = cpu_seconds(orvale.pid), time.monotonic()
                time.sleep(1.1)
                stats1 = session.stats()
                cpu[listening] = 100 * (cpu1 - cpu0) / (t1 - t0)
                if listening:
                    rates[extra] = (stats1.get("bus_frames", 0) - stats0.get("bus_frames", 0)) / (t1 - t0)
                    states = {k: stats1.get(f"bus_{k}", 0) for k in ("match", "mismatch", "missing")}
            finally:
                session.close()
        print(f"{rates[extra]:.0f} frames/s on the bus (third sender: {extra}/s): Orvale's CPU "
              f"{cpu[True]:.2f} % of one core with the bus window open, {cpu[False]:.2f} % "
              f"without --can: the check and its window {cpu[True] - cpu[False]:.2f} points; "
              f"rows {states}")
    if args.faults:
        bus_fault_times(args)


def bus_fault_times(args):
    session = Session(args.build, args.orvale)
    try:
        control = session.path("control")
        session.start_sim("--position", "50", "--can", "virtualcan:can0", "--control", control)
        orvale = session.start_orvale("--port", f"COM1={session.path('quennet-port')}",
                                      "--can", "virtualcan:can0", "--bus-check", "--api", "0",
                                      stderr=subprocess.PIPE)
        port = None
        while port is None:
            line = orvale.stderr.readline().decode()
            if not line:
                raise RuntimeError("Orvale ended before its API listened")
            if "control API listens" in line:
                port = int(line.rsplit(" ", 1)[1])
        threading.Thread(target=lambda: [None for _ in iter(orvale.stderr.readline, b"")],
                         daemon=True).start()
        wait_for(lambda: connected(session), 20, "Orvale to connect")
        client = ApiClient(port)
        reply, _ = client.request("subscribe", events=["bus"])
        if not reply.get("ok"):
            raise RuntimeError(f"subscribe refused: {reply}")

        def state_of(event, display):
            for row in event.get("rows", []):
                if row["id"] == display:
                    return row["state"]
            return None

        def wait_state(display, wanted, deadline_s=15):
            deadline = time.monotonic() + deadline_s
            while time.monotonic() < deadline:
                event = json.loads(client.line())
                if event.get("event") == "bus" and state_of(event, display) == wanted:
                    return time.monotonic()
            raise RuntimeError(f"display {display} never became {wanted}")

        # Engine speed (EEC1, every 20 ms) sent wrong; fuel level (DD1, every second) silenced.
        for line, off, display, wanted, period in (
                ("can-wrong 1020", "can-wrong off", 1020, "mismatch", 1000),
                ("can-silence DD1", "can-silence off", 1020, "missing", 1000),
                ("can-wrong 1022", "can-wrong off", 1022, "mismatch", 20),
                ("can-silence EEC1", "can-silence off", 1022, "missing", 20)):
            times = []
            for _ in range(args.repeats):
                wait_state(display, "match")
                time.sleep(random.uniform(0.5, 1.5))
                with open(control, "w") as f:
                    f.write(line + "\n")
                injected = time.monotonic()
                times.append(wait_state(display, wanted) - injected)
                with open(control, "w") as f:
                    f.write(off + "\n")
            print(f"{line}: shown as {wanted} after {statistics.median(times):.2f} s (median of "
                  f"{len(times)}, max {max(times):.2f} s; limit 1 s + the group's period "
                  f"{period / 1000:g} s)")
        client.close()
    finally:
        session.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "dev"))
    parser.add_argument("--orvale", help="the Orvale program to measure (default: BUILD/app/Orvale)")
    parser.add_argument("--shared-cpu", action="store_true",
                        help="let Orvale share processors with the simulated device and Xvfb")
    sub = parser.add_subparsers(dest="what", required=True)
    load_parser = sub.add_parser("load")
    load_parser.add_argument("--seconds", type=int, default=60)
    load_parser.add_argument("--rates", type=int, nargs="+", default=[LINE_LIMIT - 2, 10],
                             help="broadcasts a second to measure at (default: 821 and 10)")
    load_parser.add_argument("--plot", action="store_true",
                             help="with the plot window open, showing 10 series")
    load_parser.add_argument("--steady", action="store_true",
                             help="keep the position still instead of changing it every broadcast")
    sub.add_parser("memory").add_argument("--minutes", type=int, default=16)
    pacing_parser = sub.add_parser("pacing")
    pacing_parser.add_argument("--seconds", type=int, default=10)
    pacing_parser.add_argument("--sender", action="store_true",
                               help="also time Orvale's writes with strace")
    sub.add_parser("identifying").add_argument("--seconds", type=int, default=30)
    sub.add_parser("vanish").add_argument("--count", type=int, default=100)
    sub.add_parser("noisy").add_argument("--minutes", type=int, default=10)
    sub.add_parser("port-file").add_argument("--count", type=int, default=1000)
    api_parser = sub.add_parser("api")
    api_parser.add_argument("--seconds", type=int, default=10,
                            help="how long CPU is measured in each turn")
    api_parser.add_argument("--requests", type=int, default=1000,
                            help="parameters requests whose latency is measured")
    api_parser.add_argument("--rounds", type=int, default=4,
                            help="turns of no client and subscribed clients (default 4)")
    api_parser.add_argument("--clients", type=int, default=8,
                            help="clients subscribed to parameter events")
    api_parser.add_argument("--headless", action="store_true", help="run Orvale without its window")
    bus_parser = sub.add_parser("bus")
    bus_parser.add_argument("--seconds", type=int, default=30)
    bus_parser.add_argument("--extra", type=int, nargs="+", default=[0, 4000],
                            help="frames a second from a third sender (default: 0 and 4000)")
    bus_parser.add_argument("--faults", action="store_true",
                            help="also time faults injected in the device until the check shows them")
    bus_parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    if args.what != "port-file":
        pin_processors(args.shared_cpu)
    {"load": load, "memory": memory, "pacing": pacing, "identifying": identifying,
     "vanish": vanish, "noisy": noisy, "port-file": port_file, "api": api,
     "bus": bus}[args.what](args)


if __name__ == "__main__":
    sys.exit(main())

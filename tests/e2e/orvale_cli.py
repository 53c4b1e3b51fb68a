#!/usr/bin/python3
"""Orvale's command line, on the real program: what it prints and how it exits before any
window is made, and what it says on standard error while its window runs (offscreen). No
display is needed; a command line that Orvale wrongly accepted would start the window and run
into the time limit.

    orvale_cli.py --orvale build/dev/app/Orvale [--sim build/dev/sim/quennet-sim]
                  [--qt-version 6.4.2] [--project-version 1.0.0] CASE
"""

import argparse
import contextlib
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

# Generous: Orvale answers these at once; only one that went on to run its window waits.
TIME_LIMIT = 20.0
POLL = 0.05

# The release as the window's title names it; --version adds the project's version before it
# and Qt's after it.
RELEASE_TEXT = "Ver. 1.00A, Build: 01072019-01"
VERSION_START = r"Orvale \d+\.\d+\.\d+ \(" + re.escape(RELEASE_TEXT) + r"\) Qt "

FIRMWARE_MESSAGE = ("This release requires a Special build Quennet (firmware) version 0.3B/0.3C; "
                    "please update your Quennet accordingly.")

# Refused command lines: the arguments and what the message on stderr must name.
REFUSED = (
    (["--frobnicate"], "--frobnicate"),
    (["--port", "COM99=/dev/x"], "COM99"),
    (["--port"], "--port"),
    (["--simulate=model=300"], "model"),
    (["--log"], "--log"),
    (["-frobnicate"], "-frobnicate"),
    (["-platform"], "-platform"),
    (["-platform=offscreen"], "-platform"),
    # A recording that cannot be made is refused like a malformed option, before any window.
    (["--log", "/nonexistent/dir/x.csv"], "/nonexistent/dir/x.csv"),
)

# Command lines with Qt's own options that Orvale accepts and answers before any window.
ACCEPTED_WITH_QT_OPTIONS = (
    (["-platform", "offscreen", "--version"], VERSION_START),
    (["-style", "Fusion", "-reverse", "-geometry", "800x600+0+0", "--version"], VERSION_START),
    (["--platform", "offscreen", "-stylesheet", "none.qss", "-nograb", "--help"],
     re.escape("Usage: Orvale")),
)

# A platform that does not exist: Qt itself gives up on it, which it can only do when the
# option reached QApplication.
MISSING_PLATFORM = "orvale-no-such-platform"


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


@contextlib.contextmanager
def sandbox(program):
    """A copy of `program` in a directory of its own, so that a run that got as far as
    Orvale's window leaves its port file there and not beside the build; yields the
    directory, the copy and the environment to run it in."""
    with tempfile.TemporaryDirectory(prefix="orvale-cli-") as directory:
        exe = os.path.join(directory, os.path.basename(program))
        shutil.copy2(program, exe)
        env = {key: value for key, value in os.environ.items()
               if key not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
        env.update(QT_QPA_PLATFORM="offscreen", HOME=directory,
                   XDG_CONFIG_HOME=os.path.join(directory, "config"),
                   XDG_RUNTIME_DIR=directory)
        yield directory, exe, env


def run(orvale, arguments):
    """Runs a copy of Orvale that is to answer and end by itself; checks that it left nothing
    behind."""
    with sandbox(orvale) as (directory, exe, env):
        try:
            # No core file: Qt aborts on a platform it cannot load.
            done = subprocess.run([exe, *arguments], cwd=directory, env=env,
                                  stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=TIME_LIMIT, check=False,
                                  preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE,
                                                                        (0, 0)))
        except subprocess.TimeoutExpired as expired:
            raise Failure(f"Orvale {' '.join(arguments)} still ran after {TIME_LIMIT:.0f} s: "
                          "it accepted the command line") from expired
        left = sorted(os.listdir(directory))
    out, err = done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")
    print(f"$ Orvale {' '.join(arguments)}  -> {done.returncode}\n"
          f"stdout: {out!r}\nstderr: {err!r}", flush=True)
    check(left == ["Orvale"], f"Orvale {' '.join(arguments)} left files: {left}")
    return done.returncode, out, err


def run_until(program, arguments, wanted, wanted_out=()):
    """Runs a copy of `program` until each pattern of `wanted` has matched a line of its
    standard error, in order, and each of `wanted_out` one of its standard output, then asks it
    to stop with SIGTERM as a logout would. Returns its exit status, standard output and
    standard error."""
    with sandbox(program) as (directory, exe, env):
        process = subprocess.Popen([exe, *arguments], cwd=directory, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        out, err = [], []
        readers = [threading.Thread(target=lambda s=stream, t=text: t.extend(iter(s.readline, b"")))
                   for stream, text in ((process.stdout, out), (process.stderr, err))]
        for reader in readers:
            reader.start()

        def matched(text, patterns):
            index = 0
            for line in b"".join(text).decode(errors="replace").splitlines():
                if index < len(patterns) and re.fullmatch(patterns[index], line):
                    index += 1
            return index == len(patterns)

        def found():
            return matched(err, wanted) and matched(out, wanted_out)

        deadline = time.monotonic() + TIME_LIMIT
        while not found() and process.poll() is None and time.monotonic() < deadline:
            time.sleep(POLL)
        seen = found()
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        try:
            code = process.wait(TIME_LIMIT)
        except subprocess.TimeoutExpired:
            process.kill()
            code = process.wait()
        for reader in readers:
            reader.join()
    name = os.path.basename(program)
    out = b"".join(out).decode(errors="replace")
    err = b"".join(err).decode(errors="replace")
    print(f"$ {name} {' '.join(arguments)}  -> {code}\nstdout: {out!r}\nstderr: {err!r}",
          flush=True)
    check(seen, f"{name} {' '.join(arguments)}: standard error and output never showed, in "
                f"order, {wanted} and {list(wanted_out)}")
    return code, out, err


def case_help(args):
    """--help: the usage on stdout, naming every option, and status 0."""
    code, out, err = run(args.orvale, ["--help"])
    check(code == 0, f"--help exited with {code}")
    check(err == "", f"--help wrote to stderr: {err!r}")
    for option in ("--port", "--simulate", "--log", "--help", "--version"):
        check(re.search(r"^\s+" + re.escape(option) + r"\b", out, re.M),
              f"--help does not list {option}")


def case_version(args):
    """--version: the project's version, the window's release text and the Qt version, status
    0."""
    code, out, err = run(args.orvale, ["--version"])
    check(code == 0, f"--version exited with {code}")
    check(err == "", f"--version wrote to stderr: {err!r}")
    version = re.escape(args.project_version) if args.project_version else r"\d+\.\d+\.\d+"
    qt = re.escape(args.qt_version) if args.qt_version else r"6\.\d+\.\d+"
    expected = "Orvale " + version + r" \(" + re.escape(RELEASE_TEXT) + r"\) Qt " + qt + r"\n"
    check(re.fullmatch(expected, out),
          f"--version printed {out!r}, expected Orvale {args.project_version or '<version>'} "
          f"({RELEASE_TEXT}) Qt {args.qt_version or '<version>'}")


def case_refused(args):
    """Malformed command lines: status 2, nothing on stdout, a message on stderr that names
    what is wrong."""
    problems = []
    for arguments, named in REFUSED:
        code, out, err = run(args.orvale, arguments)
        line = " ".join(arguments)
        if code != 2:
            problems.append(f"Orvale {line}: exit status {code}, expected 2")
        if out:
            problems.append(f"Orvale {line}: wrote {out!r} to stdout")
        if named not in err:
            problems.append(f"Orvale {line}: stderr {err!r} does not name {named!r}")
    check(not problems, "\n  ".join(["refused command lines:", *problems]))


def case_qt_options(args):
    """Qt's own options are no unknown options: --help and --version still answer beside
    them, and QApplication receives them."""
    problems = []
    for arguments, expected in ACCEPTED_WITH_QT_OPTIONS:
        code, out, err = run(args.orvale, arguments)
        line = " ".join(arguments)
        if code != 0:
            problems.append(f"Orvale {line}: exit status {code}, expected 0")
        if err:
            problems.append(f"Orvale {line}: wrote {err!r} to stderr")
        if not re.match(expected, out):
            problems.append(f"Orvale {line}: stdout {out!r} does not start with {expected!r}")

    code, _, err = run(args.orvale, ["-platform", MISSING_PLATFORM])
    if code in (0, 2) or MISSING_PLATFORM not in err:
        problems.append(f"Orvale -platform {MISSING_PLATFORM}: exit status {code}, stderr "
                        f"{err!r}; Qt did not get the option")
    check(not problems, "\n  ".join(["Qt's options:", *problems]))


def case_messages(args):
    """What the window shows in a box also goes to standard error, prefixed "Orvale: ": a port
    that cannot be opened, with the cause in words, and the firmware message of a device on
    other firmware. SIGTERM then ends the window, box and all, with status 0."""
    missing = "/nonexistent/ttyUSB0"
    runs = (
        (["--port", f"COM1={missing}"],
         # The system's reason in the middle, in the user's language.
         [re.escape(f"Orvale: Cannot open COM1 ({missing}): ") + ".+"
          + re.escape(": no such device; is the adapter plugged in?")]),
        (["--simulate=model=10,firmware=0.3A"],
         [re.escape("Orvale: the simulated Quennet Truck reports firmware 0.3A: Orvale shows its "
                    "identity only, with the message that it needs 0.3B or 0.3C"),
          re.escape("Orvale: " + FIRMWARE_MESSAGE)]),
    )
    for arguments, wanted in runs:
        code, _, err = run_until(args.orvale, arguments, wanted)
        check(code == 0, f"Orvale {' '.join(arguments)}: exit status {code} after SIGTERM")
        said = [line for line in err.splitlines() if line.startswith("Orvale: ")]
        check(len(said) == len(wanted), f"Orvale {' '.join(arguments)}: said {said}, expected "
                                        f"each of {wanted} once")


def case_unusual_device(args):
    """A simulated device that the window will not work with is accepted, by Orvale and by
    quennet-sim, with one line on standard error that says what the window will show."""
    check(args.sim, "--sim is needed")
    wrong_id = ("the simulated device reports product ID 20, which Orvale shows as "
                "\"Wrong ID\" and drops")
    code, _, err = run_until(args.orvale, ["--simulate=model=20"],
                             [re.escape("Orvale: " + wrong_id)])
    # The line comes before the window is made: SIGTERM may find Orvale before it has its
    # handler, and end it as the signal's default would.
    check(code in (0, -signal.SIGTERM), f"Orvale --simulate=model=20: exit status {code}")
    check(err.count("Orvale: ") == 1, f"Orvale said more than one thing: {err!r}")

    # The line comes before the device's path on stdout, and the device then runs and takes
    # SIGTERM as its end.
    note = ("the simulated Quennet Bus Plus reports firmware 0.3A: Orvale shows its identity "
            "only, with the message that it needs 0.3B or 0.3C")
    code, _, err = run_until(args.sim, ["--model", "13", "--firmware", "0.3a"],
                             [re.escape("quennet-sim: " + note)], [r"/dev/\S+"])
    check(code == 0, f"quennet-sim: exit status {code}")
    check(err.count("quennet-sim: ") == 1, f"quennet-sim said more than one thing: {err!r}")


def case_temporary_dir(args):
    """The simulated device's directory is made only when Orvale simulates, and goes with a
    clean end: a run against a port leaves the temporary directory as it found it."""
    for arguments, simulated in ((["--headless", "--port", "COM1=/nonexistent/ttyUSB0"], False),
                                 (["--headless", "--simulate"], True)):
        with sandbox(args.orvale) as (directory, exe, env):
            temporary = os.path.join(directory, "tmp")
            os.mkdir(temporary)
            env["TMPDIR"] = temporary
            process = subprocess.Popen([exe, *arguments], cwd=directory, env=env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE)
            try:
                # Simulating, the directory comes before the session starts; otherwise two
                # seconds of running (the watchdog trying the port) show that none comes.
                deadline = time.monotonic() + (TIME_LIMIT if simulated else 2.0)
                made = os.listdir(temporary)
                while not made and time.monotonic() < deadline:
                    time.sleep(POLL)
                    made = os.listdir(temporary)
                line = " ".join(arguments)
                check(bool(made) == simulated,
                      f"Orvale {line}: the temporary directory holds {made}")
                process.send_signal(signal.SIGTERM)
                code = process.wait(TIME_LIMIT)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
                process.stderr.close()
            check(code == 0, f"Orvale {line}: exit status {code} after SIGTERM")
            left = os.listdir(temporary)
            check(not left, f"Orvale {line}: left {left} in the temporary directory")


CASES = {"help": case_help, "version": case_version, "refused": case_refused,
         "qt_options": case_qt_options, "messages": case_messages,
         "unusual_device": case_unusual_device, "temporary_dir": case_temporary_dir}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvale", required=True, help="the Orvale executable")
    parser.add_argument("--sim", help="the quennet-sim executable")
    parser.add_argument("--qt-version", help="the Qt version that Orvale was built with")
    parser.add_argument("--project-version", help="the version Orvale was built as")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    try:
        CASES[args.case](args)
    except Failure as failure:
        print(f"FAIL cli.{args.case}: {failure}", flush=True)
        return 1
    print(f"PASS cli.{args.case}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
